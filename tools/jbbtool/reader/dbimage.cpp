#include "dbimage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "jbbtreev.h"
#include "platform.h"
#include "unitscan.h"

namespace jbbtool {

namespace {

uint16_t get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

constexpr int64_t kProgressEvery = 64ll << 20;

}  // namespace

DbImage::~DbImage() { delete file_; }

bool DbImage::open(const std::string& path, std::string* err) {
    path_ = path;
    if (plat::isDirectory(path.c_str())) {
        *err = path + ": is a directory";
        return false;
    }
    errno = 0;
    file_ = plat::DbFile::open(path.c_str(), plat::DbFile::Mode::ReadOnly);
    if (file_ == nullptr) {
        *err = path + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    size_ = file_->size();
    if (size_ < 0) {
        *err = path + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    // A small file needs no more window than its own size.
    windowCap_ = size_ < (int64_t)kWindowBytes ? std::max<size_t>((size_t)size_, 4096) : kWindowBytes;
    window_.reset(new uint8_t[windowCap_]);
    std::memset(&ctrl_, 0, sizeof ctrl_);
    size_t want = size_ < (int64_t)ctrlRecSize ? (size_t)size_ : ctrlRecSize;
    if (want > 0 && !readAt(0, &ctrl_, want)) {
        *err = path + ": " + ioError_;
        return false;
    }
    return true;
}

const uint8_t* DbImage::view(int64_t pos, size_t n, size_t* got) {
    *got = 0;
    if (pos < 0 || pos >= size_ || n > windowCap_) return window_.get();
    if (pos < winStart_ || pos + (int64_t)n > winStart_ + (int64_t)winLen_) {
        errno = 0;
        int64_t r = file_->readAt(pos, window_.get(), windowCap_);
        if (r < 0) {
            ioError_ = "read error at offset " + std::to_string(pos) + ": " + plat::errnoText(errno != 0 ? errno : EIO);
            winLen_ = 0;
            return nullptr;
        }
        winStart_ = pos;
        winLen_ = (size_t)r;
    }
    size_t avail = (size_t)(winStart_ + (int64_t)winLen_ - pos);
    *got = std::min(n, avail);
    return window_.get() + (pos - winStart_);
}

bool DbImage::readAt(int64_t pos, void* buf, size_t n) {
    errno = 0;
    int64_t r = file_->readAt(pos, buf, n);
    if (r < 0) {
        ioError_ = "read error at offset " + std::to_string(pos) + ": " + plat::errnoText(errno != 0 ? errno : EIO);
        return false;
    }
    return r == (int64_t)n;
}

bool openForCommand(const char* command, const std::string& path, DbImage* db) {
    std::string err;
    if (!db->open(path, &err)) {
        std::fprintf(stderr, "jbbtool %s: %s\n", command, err.c_str());
        return false;
    }
    if (db->hasCtrl() && db->ctrl().dbState == dbOpened)
        std::fprintf(stderr,
                     "jbbtool %s: %s is marked open (dbOpened): the journal service may hold it, and what is "
                     "read may be changing\n",
                     command, db->path().c_str());
    return true;
}

std::u16string NodeView::key(size_t k) const {
    std::u16string s(datums[k].keyUnits, u'\0');
    const uint8_t* p = image + datums[k].offset + datumKeyOffset;
    for (uint32_t i = 0; i < datums[k].keyUnits; ++i) s[i] = static_cast<char16_t>(get16(p + 2 * i));
    return s;
}

std::string parseDatum(const uint8_t* d, size_t n, uint16_t dataLen, DatumRef* out, uint32_t base) {
    if (n < 4) return "datum header runs past the node's end";
    uint32_t nkl = get16(d);
    uint32_t dataStart = 2u + get16(d + 2);
    if (nkl > n) return "datum length " + std::to_string(nkl) + " runs past the node's end";
    if (dataStart < datumKeyOffset + 2) return "data offset " + std::to_string(dataStart - 2) + " lies inside the datum header";
    if (dataStart + dataLen > nkl)
        return "data record at " + std::to_string(dataStart) + " (" + std::to_string(dataLen) +
               " bytes) runs past the datum length " + std::to_string(nkl);
    const size_t room = (dataStart - datumKeyOffset) / 2;
    bool surrogate;
    const size_t units = scanKey(d + datumKeyOffset, room, &surrogate);
    if (units == room) return "key has no terminator before its data";
    out->offset = base;
    out->keyUnits = (uint32_t)units;
    out->surrogate = surrogate;
    out->dataPos = base + dataStart;
    return std::string();
}

void parseNode(const uint8_t* image, uint32_t size, uint16_t dataLen, NodeView* out) {
    out->image = image;
    out->datums.clear();
    out->fault.clear();
    if (size < nodeHeaderSize) {
        std::memset(&out->header, 0, sizeof out->header);
        out->fault = "node size " + std::to_string(size) + " is below the 72-byte header";
        return;
    }
    std::memcpy(&out->header, image, sizeof out->header);
    unsigned count = out->header.count;
    if (count > (unsigned)maxDatumsPerNode) {
        out->fault = "datum count " + std::to_string(count) + " is above 10";
        count = maxDatumsPerNode;
    }
    uint32_t off = nodeHeaderSize;
    for (unsigned i = 0; i < count; ++i) {
        DatumRef r;
        std::string why = parseDatum(image + off, size - off, dataLen, &r, off);
        if (!why.empty()) {
            out->fault = "datum " + std::to_string(i) + ": " + why;
            return;
        }
        out->datums.push_back(r);
        off += get16(image + off);
    }
    if (out->fault.empty() && off != size)
        out->fault = "datums end at " + std::to_string(off) + ", node size is " + std::to_string(size);
}

bool plausibleInfo(const uint8_t* p, int64_t offset, int64_t fileSize, bool checkMagic) {
    nodeInfo in;
    std::memcpy(&in, p, sizeof in);
    if (checkMagic && in.nodeMagic != nodeMagicNumber) return false;
    if (in.slotLength < nodeInfoSize || in.slotLength > (uint64_t)(fileSize - offset)) return false;
    if (in.ixaSubscript == 0) return false;
    if (in.state == 0)
        return in.nodeSize >= nodeHeaderSize && in.nodeSize <= in.slotLength && in.nodeSize <= maxNodeSize;
    if (in.state == 1)
        return in.nodeSize == (uint32_t)in.slotLength || (in.nodeSize >= nodeHeaderSize && in.nodeSize <= in.slotLength);
    return false;
}

namespace {

// The offset of the next plausible info block at or after `from` and
// before `limit` (-1: the end of the file), or -1.
int64_t findNextInfo(DbImage& db, int64_t from, bool* ioFailed, int64_t limit = -1) {
    const int64_t size = db.size();
    const int64_t end = limit < 0 ? size : std::min(limit + (int64_t)nodeInfoSize, size);
    int64_t pos = from;
    while (pos + (int64_t)nodeInfoSize <= end) {
        size_t got;
        const uint8_t* p = db.view(pos, std::min<int64_t>(DbImage::kWindowBytes, end - pos), &got);
        if (p == nullptr) {
            *ioFailed = true;
            return -1;
        }
        if (got < nodeInfoSize) break;
        size_t i = 0;
        for (; i + nodeInfoSize <= got; ++i) {
            if (p[i] == 0xCD && p[i + 1] == 0xAB && p[i + 2] == 0 && p[i + 3] == 0 &&
                plausibleInfo(p + i, pos + (int64_t)i, size))
                return pos + (int64_t)i;
        }
        pos += (int64_t)i;
    }
    return -1;
}

}  // namespace

bool scanSlots(DbImage& db, const SlotScanHandler& h) {
    const int64_t size = db.size();
    int64_t where = std::max<int64_t>(h.from, ctrlRecSize);
    int64_t prevStart = -1, prevEnd = where;  // previous slot and the end of what it holds
    int64_t nextProgress = kProgressEvery;
    bool ioFailed = false;
    if (h.stoppedAt != nullptr) *h.stoppedAt = -1;
    while (where < size) {
        if (h.until >= 0 && where >= h.until) {
            if (h.stoppedAt != nullptr) *h.stoppedAt = where;
            break;
        }
        if (h.progress && where >= nextProgress) {
            h.progress(where);
            nextProgress = where + kProgressEvery;
        }
        size_t got;
        const uint8_t* p = db.view(where, nodeInfoSize, &got);
        if (p == nullptr) return false;
        if (got < nodeInfoSize) {
            if (h.event) h.event(TileEvent::ShortTail, where, size - where, 0);
            break;
        }
        SlotRef s;
        s.offset = where;
        std::memcpy(&s.info, p, sizeof s.info);
        bool magicOk = s.info.nodeMagic == nodeMagicNumber;
        bool accept = h.strict ? plausibleInfo(p, where, size) : magicOk && s.info.slotLength >= nodeInfoSize;
        if (accept) {
            const uint8_t* image = nullptr;
            int64_t left = size - where;
            if (!h.noImages && s.info.state != available && s.info.nodeSize >= nodeHeaderSize &&
                s.info.nodeSize <= maxNodeSize && (int64_t)s.info.nodeSize <= left) {
                image = db.view(where, s.info.nodeSize, &got);
                if (image == nullptr) return false;
            }
            if (h.slot) h.slot(s, image);
            prevStart = where;
            prevEnd = where + (s.info.state != available && s.info.nodeSize >= nodeInfoSize
                                   ? std::min<int64_t>(s.info.nodeSize, left)
                                   : (int64_t)nodeInfoSize);
            if (s.info.slotLength > (uint64_t)left) {
                if (h.event) h.event(TileEvent::PastEnd, where, (int64_t)(s.info.slotLength - (uint64_t)left), s.info.ixaSubscript);
                break;
            }
            if (h.strict) {
                // A slot length that is wrong but plausible would hide the
                // slots it covers: look for a header behind what the slot holds.
                const int64_t next = where + (int64_t)s.info.slotLength;
                int64_t inside = findNextInfo(db, prevEnd, &ioFailed, next - 1);
                if (ioFailed) return false;
                if (inside >= 0) {
                    if (h.event) h.event(TileEvent::Overlap, inside, next - inside, 0);
                    prevStart = -1;
                    prevEnd = inside;
                    where = inside;
                    continue;
                }
            }
            where += (int64_t)s.info.slotLength;
            continue;
        }
        if (!h.strict && !magicOk && plausibleInfo(p, where, size, false)) {
            if (h.event) h.event(TileEvent::BadMagic, where, (int64_t)s.info.slotLength, s.info.ixaSubscript);
            prevStart = where;
            prevEnd = where + nodeInfoSize;
            where += (int64_t)s.info.slotLength;
            continue;
        }
        // No slot begins here.  The next one may begin inside the previous
        // slot (its length reaches too far) or further on (a gap).
        int64_t from = prevStart >= 0 ? std::max<int64_t>(prevEnd, prevStart + 1) : (int64_t)ctrlRecSize;
        int64_t next = from < where ? findNextInfo(db, from, &ioFailed) : -1;
        if (ioFailed) return false;
        if (next >= 0 && next < where) {
            if (h.event) h.event(TileEvent::Overlap, next, where - next, 0);
        } else {
            next = findNextInfo(db, where + 1, &ioFailed);
            if (ioFailed) return false;
            if (h.event) h.event(TileEvent::Gap, where, (next < 0 ? size : next) - where, 0);
            if (next < 0) break;
        }
        prevStart = -1;
        prevEnd = next;
        where = next;
    }
    return true;
}

void SlotMap::add(uint32_t subscript, int64_t offset, uint32_t nodeSize, bool used) {
    entries_.push_back({subscript, nodeSize, offset, used, false, -1});
}

void SlotMap::finish() {
    // Slots were added in the order of their offsets; of two naming one
    // subscript, the first wins.  Subscripts of a sound file run from 1 to
    // about the number of slots: a direct table then costs little and
    // needs no sorting.  Other files are sorted (by both: a plain sort
    // needs no buffer, as a stable sort would).
    direct_.clear();
    uint32_t maxSub = 0;
    for (const Entry& e : entries_) maxSub = std::max(maxSub, e.subscript);
    if (!entries_.empty() && maxSub <= 4 * entries_.size() + 1024) {
        direct_.assign((size_t)maxSub + 1, 0);
        for (size_t i = 0; i < entries_.size(); ++i)
            if (direct_[entries_[i].subscript] == 0) direct_[entries_[i].subscript] = (uint32_t)i + 1;
        return;
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.subscript != b.subscript ? a.subscript < b.subscript : a.offset < b.offset;
    });
}

const SlotMap::Entry* SlotMap::find(uint32_t subscript) const {
    if (!direct_.empty())
        return subscript < direct_.size() && direct_[subscript] != 0 ? &entries_[direct_[subscript] - 1] : nullptr;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), subscript,
                               [](const Entry& e, uint32_t s) { return e.subscript < s; });
    return it != entries_.end() && it->subscript == subscript ? &*it : nullptr;
}

namespace {

// One pass over the info blocks into `map`, from `from` up to `until`.
bool mapSlots(DbImage& db, SlotMap* map, int64_t from, int64_t until, int64_t* stoppedAt, bool* damaged,
              std::function<void(int64_t)> progress) {
    SlotScanHandler h;
    h.progress = std::move(progress);
    h.from = from;
    h.until = until;
    h.stoppedAt = stoppedAt;
    h.noImages = true;
    h.slot = [&](const SlotRef& s, const uint8_t*) {
        map->add(s.info.ixaSubscript, s.offset, s.info.nodeSize, s.info.state != available);
    };
    h.event = [&](TileEvent, int64_t, int64_t, uint32_t) { *damaged = true; };
    return scanSlots(db, h);
}

}  // namespace

void SlotMap::append(const SlotMap& more) { entries_.insert(entries_.end(), more.entries_.begin(), more.entries_.end()); }

bool buildSlotMap(DbImage& db, SlotMap* map, std::function<void(int64_t)> progress, int64_t halvesFrom) {
    const int64_t size = db.size();
    map->reserve((size_t)std::min<int64_t>(size / 1024, 1 << 24) + 16);
    bool damaged = false;
    int64_t stoppedAt = -1;
    if (size >= halvesFrom && size > (int64_t)ctrlRecSize) {
        SlotMap second;
        second.reserve((size_t)std::min<int64_t>(size / 2048, 1 << 23) + 16);
        int64_t secondStart = -1;
        bool secondSound = false;
        std::thread other;
        try {
            other = std::thread([&] {
                DbImage db2;
                std::string err;
                if (!db2.open(db.path(), &err) || db2.size() != size) return;
                bool ioFailed = false, damaged2 = false;
                secondStart = findNextInfo(db2, ctrlRecSize + (size - ctrlRecSize) / 2, &ioFailed);
                if (secondStart < 0 || ioFailed) return;
                int64_t unused;
                secondSound = mapSlots(db2, &second, secondStart, -1, &unused, &damaged2, nullptr) && !damaged2;
            });
        } catch (const std::system_error&) {
        }
        if (other.joinable()) {
            const int64_t mid = ctrlRecSize + (size - ctrlRecSize) / 2;
            const bool ok = mapSlots(db, map, ctrlRecSize, mid, &stoppedAt, &damaged, progress);
            other.join();
            if (!ok) return false;
            if (secondSound && stoppedAt == secondStart) {
                map->append(second);
                map->finish();
                return true;
            }
            *map = SlotMap();  // the halves do not join: once more, in one go
        }
    }
    bool ok = mapSlots(db, map, ctrlRecSize, -1, &stoppedAt, &damaged, std::move(progress));
    map->finish();
    return ok;
}

void TreeWalker::make(Image& img, size_t n) {
    recycle(img);
    if (n <= kPooledBytes && !pool_.empty()) {
        img.bytes = std::move(pool_.back());
        pool_.pop_back();
    } else {
        img.bytes.reset(new uint8_t[std::max(n, kPooledBytes)]);
    }
    img.size = n;
}

void TreeWalker::recycle(Image& img) {
    if (img.bytes != nullptr && img.size <= kPooledBytes) pool_.push_back(std::move(img.bytes));
    img.bytes.reset();
    img.size = 0;
}

std::unique_ptr<uint8_t[]> TreeWalker::takeLeaf() {
    handedOut_.size = 0;
    return std::move(handedOut_.bytes);
}

void TreeWalker::giveBack(std::unique_ptr<uint8_t[]> buffer) {
    if (buffer != nullptr) pool_.push_back(std::move(buffer));
}

bool TreeWalker::push(uint32_t subscript) {
    if (stack_.size() > (size_t)maxTreeDepth) {
        if (problem) problem("the tree is deeper than " + std::to_string(maxTreeDepth) + " levels at node " + std::to_string(subscript));
        return false;
    }
    const SlotMap::Entry* e = map_.find(subscript);
    if (e == nullptr || !e->used) {
        if (problem) problem("branch to subscript " + std::to_string(subscript) + ", which names no node");
        return false;
    }
    if (e->visited) {
        if (problem) problem("node " + std::to_string(subscript) + " is reached a second time; skipped");
        return false;
    }
    e->visited = true;
    Level l;
    l.subscript = subscript;
    l.offset = e->offset;
    // The size comes from the slot's header: no buffer is made for one
    // that no node can have.
    const bool sizeOk = e->nodeSize >= nodeHeaderSize && e->nodeSize <= maxNodeSize;
    if (e->ahead >= 0) {
        Image& a = ahead_[(size_t)e->ahead];
        if (a.size == e->nodeSize) {
            aheadBytes_ -= a.size;
            std::swap(l.image, a);
        }
        dropAhead(e);
    }
    if (l.image.size != 0) {
    } else if (sizeOk) {
        make(l.image, e->nodeSize);
        if (!db_.readAt(e->offset, l.image.data(), e->nodeSize)) recycle(l.image);
    }
    if (l.image.size == 0) {
        if (!db_.ioError().empty()) ioFailed_ = true;
        if (problem) problem("node " + std::to_string(subscript) + " at offset " + std::to_string(e->offset) + " cannot be read");
        return false;
    }
    nodeHeader h;
    std::memcpy(&h, l.image.data(), sizeof h);
    if (wholeLeaves && h.branch[0] == 0) {
        l.whole = true;
        l.node.header = h;
        l.node.datums.clear();
        stack_.push_back(std::move(l));
        return true;
    }
    parseNode(l.image.data(), e->nodeSize, db_.ctrl().dbDataLen, &l.node);
    if (!l.node.fault.empty() && problem)
        problem("node " + std::to_string(subscript) + " at offset " + std::to_string(e->offset) + ": " + l.node.fault);
    stack_.push_back(std::move(l));
    // The view points into the moved vector's buffer, which moving keeps.
    stack_.back().node.image = stack_.back().image.data();
    return true;
}

void TreeWalker::dropAhead(const SlotMap::Entry* e) {
    Image& a = ahead_[(size_t)e->ahead];
    aheadBytes_ -= a.size;
    recycle(a);
    aheadFree_.push_back(e->ahead);
    e->ahead = -1;
}

void TreeWalker::readBatch(const uint32_t* subscripts, size_t n, size_t* budget) {
    requests_.clear();
    wanted_.clear();
    for (size_t i = 0; i < n; ++i) {
        const SlotMap::Entry* e = map_.find(subscripts[i]);
        if (e == nullptr || !e->used || e->visited || e->nodeSize < nodeHeaderSize || e->nodeSize > maxNodeSize ||
            e->nodeSize > *budget || e->ahead >= 0)
            continue;
        *budget -= e->nodeSize;
        if (aheadFree_.empty()) {
            e->ahead = (int32_t)ahead_.size();
            ahead_.emplace_back();
        } else {
            e->ahead = aheadFree_.back();
            aheadFree_.pop_back();
        }
        Image& img = ahead_[(size_t)e->ahead];
        make(img, e->nodeSize);
        aheadBytes_ += e->nodeSize;
        plat::ReadRequest r;
        r.pos = e->offset;
        r.buf = img.data();
        r.len = e->nodeSize;
        requests_.push_back(r);
        wanted_.push_back(e);
    }
    if (requests_.empty()) return;
    db_.readBatch(requests_.data(), requests_.size());
    // A short or failed read is dropped: the node is read alone when it
    // is reached, which reports it.
    for (size_t k = 0; k < requests_.size(); ++k) {
        if (requests_[k].got == (int64_t)requests_[k].len) continue;
        dropAhead(wanted_[k]);
    }
}

void TreeWalker::readAhead(const Level& l) {
    // Up to 8 MiB a node, and 32 MiB held in all, whatever sizes and
    // branches a damaged file gives: what is left out is read when it is
    // reached.
    if (aheadBytes_ > (32u << 20)) return;
    size_t budget = 8u << 20;
    const uint32_t* children = l.node.header.branch;
    const size_t n = l.node.datums.size() + 1;
    readBatch(children, n, &budget);
    std::vector<uint32_t> grandchildren;
    for (size_t i = 0; i < n; ++i) {
        const SlotMap::Entry* e = map_.find(children[i]);
        if (e == nullptr || e->ahead < 0) continue;
        nodeHeader h;
        std::memcpy(&h, ahead_[(size_t)e->ahead].data(), sizeof h);  // an image is at least a header long
        if (h.branch[0] == 0 || h.count > maxDatumsPerNode) continue;
        grandchildren.insert(grandchildren.end(), h.branch, h.branch + h.count + 1);
    }
    readBatch(grandchildren.data(), grandchildren.size(), &budget);
}

bool TreeWalker::next(WalkEntry* out) {
    if (!started_) {
        started_ = true;
        if (!db_.hasCtrl() || db_.size() == (int64_t)ctrlRecSize) return false;
        if (!push(db_.ctrl().rootOffset)) return false;
    }
    while (!stack_.empty()) {
        Level& top = stack_.back();
        if (top.whole) {
            recycle(handedOut_);
            std::swap(handedOut_, top.image);
            *out = WalkEntry();
            out->leaf = handedOut_.data();
            out->leafSize = (uint32_t)handedOut_.size;
            out->subscript = top.subscript;
            out->offset = top.offset;
            stack_.pop_back();
            return true;
        }
        size_t n = top.node.datums.size();
        if (!top.node.isLeaf() && !top.descended && top.pos <= n) {
            top.descended = true;
            uint32_t child = top.node.header.branch[top.pos];
            if (child != 0) {
                if (!top.aheadRead) {
                    top.aheadRead = true;
                    readAhead(top);
                }
                push(child);  // may move `top`
            } else if (problem) {
                problem("node " + std::to_string(top.subscript) + " has no branch " + std::to_string(top.pos));
            }
            continue;
        }
        if (top.pos < n) {
            const DatumRef& d = top.node.datums[top.pos];
            out->key = top.node.image + d.offset + datumKeyOffset;
            out->units = d.keyUnits;
            out->data = top.node.image + d.dataPos;
            out->leaf = nullptr;
            ++top.pos;
            top.descended = false;
            return true;
        }
        recycle(stack_.back().image);
        stack_.pop_back();
    }
    return false;
}

bool TreeWalker::next(std::u16string* key, const uint8_t** data) {
    WalkEntry e;
    if (!next(&e)) return false;
    key->resize(e.units);
    for (uint32_t i = 0; i < e.units; ++i) key->at(i) = static_cast<char16_t>(get16(e.key + 2 * i));
    *data = e.data;
    return true;
}

}  // namespace jbbtool
