#include "salvage.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "command.h"
#include "journal.h"
#include "keyorder.h"
#include "nodeview.h"
#include "progress.h"
#include "slotscan.h"
#include "textout.h"

// Salvage reads the file twice.  The first pass takes every slot in file
// order and keeps per node only where it lies and its smallest key (plus
// its subscript, datum count and branches, to tell what was lost); the
// second reads the nodes again one by one in the order of those keys and
// merges their datums into key order.  Only the nodes whose key ranges
// overlap the point the merge has reached are held at once (in a sound
// tree about one per level), so memory grows with the number of nodes,
// not with the bytes of the entries.

namespace jbbtool {

namespace {

uint16_t get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Reports on standard error, the first kMaxLines lines in full.
class DropLog {
public:
    DropLog(const char* who, const std::string& path) : who_(who), path_(path) {}
    void say(const std::string& what) {
        if (lines_++ < kMaxLines) std::fprintf(stderr, "jbbtool %s: %s: %s\n", who_, path_.c_str(), what.c_str());
    }
    uint64_t lines() const { return lines_; }
    static constexpr uint64_t kMaxLines = 1000;

private:
    const char* who_;
    std::string path_;
    uint64_t lines_ = 0;
};

// Salvage as dump writes it.
class DumpSink : public SalvageSink {
public:
    explicit DumpSink(DumpWriter& w) : w_(w) {}
    void head(const uint8_t* area, uint16_t dataLen) override { w_.head(area, dataLen); }
    void entry(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t dataLen) override {
        w_.entry(key, units, data, dataLen);
    }

private:
    DumpWriter& w_;
};

// Keys kept for the whole run, in large chunks that never move.
class KeyChunks {
public:
    const char16_t* add(const uint8_t* key, uint32_t units) {
        if (chunks_.empty() || used_ + units > cap_) {
            cap_ = std::max<size_t>(kChunkUnits, units);
            chunks_.emplace_back(new char16_t[cap_ > 0 ? cap_ : 1]);
            used_ = 0;
        }
        char16_t* p = chunks_.back().get() + used_;
        if (units > 0) std::memcpy(p, key, 2 * (size_t)units);
        used_ += units;
        return p;
    }

private:
    static constexpr size_t kChunkUnits = 1u << 18;
    std::vector<std::unique_ptr<char16_t[]>> chunks_;
    size_t used_ = 0, cap_ = 0;
};

// A node with datums, as the first pass leaves it for the merge.
struct Run {
    int64_t offset;         // of its slot
    const char16_t* first;  // its smallest key
    uint32_t size;          // nodeSize
    uint32_t units;         // of the smallest key
};

// What a node says of the tree: its subscript, datums and branches.
struct Shape {
    uint32_t subscript;
    uint32_t branchAt;  // into the branch list; kLeaf for a leaf
    uint16_t count;
    static constexpr uint32_t kLeaf = 0xFFFFFFFFu;
};

int compareAt(const void* a, uint32_t au, const void* b, uint32_t bu) {
    return compareKeyUnits(static_cast<const uint8_t*>(a), au, static_cast<const uint8_t*>(b), bu);
}

// A node read again for the merge, its datums in key order.
struct Active {
    std::unique_ptr<uint8_t[]> bytes;
    NodeView v;
    uint8_t order[maxDatumsPerNode];
    size_t n = 0, pos = 0;
    int64_t offset = 0;  // of its slot
    const DatumRef& datum() const { return v.datums[order[pos]]; }
    const uint8_t* key() const { return v.image + datum().offset + datumKeyOffset; }
    uint32_t units() const { return datum().keyUnits; }
    int64_t where() const { return offset + datum().offset; }
};

// Orders a heap of nodes by their next datum: smallest key on top, then
// the one first in the file.
struct LaterFirst {
    bool operator()(const Active* a, const Active* b) const {
        const int c = compareAt(a->key(), a->units(), b->key(), b->units());
        return c != 0 ? c > 0 : a->where() > b->where();
    }
};

// A datum of one key, met by the merge.
struct Copy {
    const Active* node;
    const DatumRef* d;
    int64_t where;  // in the file
    uint32_t room;  // bytes from its data offset to its end
};

}  // namespace

int salvageEntries(DbImage& db, DumpWriter& w) {
    DumpSink sink(w);
    return salvageEntries(db, sink, "dump --salvage");
}

int salvageEntries(DbImage& db, SalvageSink& w, const char* who) {
    DropLog log(who, db.path());
    const ctrlRec& c = db.ctrl();
    const bool ctrlSound =
        db.hasCtrl() && c.dbMagic == dbMagicNumber && c.dbVersMaj == dbVersionMajor && c.dbVersMin == dbVersionMinor;

    // ---- first pass: every slot in file order ----
    KeyChunks keys;
    std::vector<Run> runs;
    std::vector<Shape> shapes;
    std::vector<uint32_t> branches, held;  // branches of inner nodes; subscripts that slots hold
    std::map<uint32_t, uint64_t> rooms;    // bytes from data offset to datum end -> datums
    uint64_t datums = 0, dropped = 0, nodes = 0, unreadable = 0, unreadableEntries = 0;

    SlotScanHandler h;
    h.strict = true;
    ProgressLine progress(who, db.size());
    h.progress = progress.callback();
    NodeView v;
    h.slot = [&](const SlotRef& s, const uint8_t* image) {
        if (s.info.state == slotFree) return;  // a free slot: what it holds was deleted
        ++nodes;
        held.push_back(s.info.ixaSubscript);
        if (image == nullptr) {
            ++unreadable;
            uint8_t head[nodeOff::count + 2];
            if (db.readAt(s.offset, head, sizeof head)) {
                const uint16_t count = get16(head + nodeOff::count);
                if (count <= maxDatumsPerNode) unreadableEntries += count;
            }
            log.say("node at offset " + std::to_string(s.offset) + " cannot be read whole; its datums are lost");
            return;
        }
        parseNode(image, s.info.nodeSize, 0, &v);
        Shape sh{s.info.ixaSubscript, Shape::kLeaf, (uint16_t)std::min<unsigned>(v.header.count, maxDatumsPerNode)};
        if (!v.isLeaf()) {
            sh.branchAt = (uint32_t)branches.size();
            branches.insert(branches.end(), v.header.branch, v.header.branch + sh.count + 1);
        }
        shapes.push_back(sh);
        const DatumRef* least = nullptr;
        for (const DatumRef& d : v.datums) {
            ++datums;
            ++rooms[d.offset + get16(image + d.offset) - d.dataPos];
            if (least == nullptr || compareAt(image + d.offset + datumKeyOffset, d.keyUnits,
                                              image + least->offset + datumKeyOffset, least->keyUnits) < 0)
                least = &d;
        }
        if (least != nullptr)
            runs.push_back({s.offset, keys.add(image + least->offset + datumKeyOffset, least->keyUnits),
                            s.info.nodeSize, least->keyUnits});
        if (!v.fault.empty()) {
            unsigned count = v.header.count;
            if (count > v.datums.size()) dropped += count - v.datums.size();
            log.say("node at offset " + std::to_string(s.offset) + ": " + v.fault + "; " +
                    std::to_string(count > v.datums.size() ? count - v.datums.size() : 0) + " datums after it dropped");
        }
    };
    h.event = [&](TileEvent e, int64_t off, int64_t len, uint32_t) {
        if (e == TileEvent::Gap || e == TileEvent::ShortTail)
            log.say(std::to_string(len) + " bytes at offset " + std::to_string(off) +
                    " hold no readable slot header; skipped to the next one");
        else if (e == TileEvent::Overlap)
            log.say("a slot header at offset " + std::to_string(off) + " lies inside the slot before it");
    };
    const bool scanned = scanSlots(db, h);
    progress.finish();
    if (!scanned) {
        std::fprintf(stderr, "jbbtool %s: %s: %s\n", who, db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }

    // ---- the records' length ----
    // The control record's, as the engine reads it, when the control
    // record is sound and most datums have room for such a record; else
    // the length most datums have room for exactly.
    uint16_t dataLen = sizeof(journalRec);
    uint64_t fit = 0;
    for (const auto& r : rooms)
        if (ctrlSound && r.first >= c.dbDataLen) fit += r.second;
    if (ctrlSound && 2 * fit >= datums) {
        dataLen = c.dbDataLen;
    } else {
        uint64_t best = 0;
        for (const auto& r : rooms)
            if (r.second > best) best = r.second, dataLen = (uint16_t)r.first;
        log.say((ctrlSound
                     ? "the control record's data length " + std::to_string(c.dbDataLen) + " is implausible: only " +
                           std::to_string(fit) + " of " + std::to_string(datums) + " datums have room for it"
                     : std::string("the control record is damaged")) +
                "; records taken as " + std::to_string(dataLen) + " bytes" +
                (datums > 0 ? ", the length most datums have" : ", the length of a journal's records"));
    }

    // ---- what was lost beyond the datums ----
    std::sort(held.begin(), held.end());
    uint64_t missing = 0;  // subscripts named by branches (or the root) that no slot holds
    {
        std::vector<uint32_t> named(branches);
        if (ctrlSound) named.push_back(c.rootOffset);
        std::sort(named.begin(), named.end());
        named.erase(std::unique(named.begin(), named.end()), named.end());
        for (uint32_t b : named) {
            if (b == 0 || std::binary_search(held.begin(), held.end(), b)) continue;
            if (missing++ < 20)
                log.say("subscript " + std::to_string(b) + " is named by a branch or the root, but no slot holds it");
        }
    }
    std::vector<uint32_t>().swap(held);
    // The walk from the control record's root over the nodes found: the
    // entries it reaches, and its branches to nodes that cannot be read.
    std::string walkText;
    if (ctrlSound) {
        std::stable_sort(shapes.begin(), shapes.end(),
                         [](const Shape& a, const Shape& b) { return a.subscript < b.subscript; });
        auto find = [&](uint32_t sub) -> int64_t {
            auto it = std::lower_bound(shapes.begin(), shapes.end(), sub,
                                       [](const Shape& s, uint32_t x) { return s.subscript < x; });
            return it != shapes.end() && it->subscript == sub ? it - shapes.begin() : -1;
        };
        const int64_t root = find(c.rootOffset);
        if (root < 0) {
            walkText =
                "the control record's root, subscript " + std::to_string(c.rootOffset) + ", names no readable node";
        } else {
            std::vector<bool> seen(shapes.size(), false);
            std::vector<int64_t> stack{root};
            seen[(size_t)root] = true;
            uint64_t reached = 0, cut = 0;
            while (!stack.empty()) {
                const Shape& s = shapes[(size_t)stack.back()];
                stack.pop_back();
                reached += s.count;
                if (s.branchAt == Shape::kLeaf) continue;
                for (uint32_t i = 0; i <= s.count; ++i) {
                    const int64_t child = find(branches[s.branchAt + i]);
                    if (child < 0) {
                        ++cut;
                    } else if (!seen[(size_t)child]) {
                        seen[(size_t)child] = true;
                        stack.push_back(child);
                    }
                }
            }
            walkText = "walked from the control record's root, the tree reaches " + std::to_string(reached) +
                       " entries" +
                       (cut > 0 ? "; " + std::to_string(cut) +
                                      " of its branches lead to no readable node, whose entries are not counted"
                                : std::string());
        }
    }
    std::vector<Shape>().swap(shapes);
    std::vector<uint32_t>().swap(branches);

    // ---- second pass: the nodes in the order of their smallest keys ----
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        const int c = compareAt(a.first, a.units, b.first, b.units);
        return c != 0 ? c < 0 : a.offset < b.offset;
    });
    // The journal control area is written only when it can be read as one:
    // a record of this format, and an area that is not all zero (what a
    // wiped record leaves).  A rebuild then says which fields it made up.
    const bool recordSound =
        db.hasCtrl() && c.dbMagic == dbMagicNumber && c.dbVersMaj == dbVersionMajor && c.dbVersMin == dbVersionMinor;
    const bool areaZero =
        recordSound && std::all_of(c.appArea, c.appArea + appAreaSize, [](uint8_t b) { return b == 0; });
    if (!recordSound) log.say("the control record is damaged; no journal control area written");
    if (areaZero) log.say("the journal control area is all zero; none written");
    w.head(recordSound && !areaZero ? c.appArea : nullptr, dataLen);

    std::priority_queue<Active*, std::vector<Active*>, LaterFirst> heap;
    auto activate = [&](const Run& r) {
        std::unique_ptr<Active> a(new Active);
        a->bytes.reset(new uint8_t[r.size]);
        a->offset = r.offset;
        if (!db.readAt(r.offset, a->bytes.get(), r.size)) {
            ++unreadable;
            log.say("node at offset " + std::to_string(r.offset) + " could not be read again; its datums are lost");
            return;
        }
        parseNode(a->bytes.get(), r.size, 0, &a->v);
        a->n = a->v.datums.size();
        for (size_t i = 0; i < a->n; ++i) a->order[i] = (uint8_t)i;
        const Active& n = *a;
        std::stable_sort(a->order, a->order + a->n, [&](uint8_t x, uint8_t y) {
            const DatumRef& dx = n.v.datums[x];
            const DatumRef& dy = n.v.datums[y];
            return compareAt(n.v.image + dx.offset + datumKeyOffset, dx.keyUnits,
                             n.v.image + dy.offset + datumKeyOffset, dy.keyUnits) < 0;
        });
        if (a->n > 0) heap.push(a.release());
    };
    size_t next = 0;
    uint64_t written = 0;
    std::vector<Copy> group;
    std::vector<Active*> taken;
    const size_t insertedAt = journalRecOff::insertedTime;
    while (true) {
        while (next < runs.size() && (heap.empty() || compareAt(runs[next].first, runs[next].units, heap.top()->key(),
                                                                heap.top()->units()) <= 0))
            activate(runs[next++]);
        if (heap.empty()) break;
        // Every copy of the smallest key: all nodes that can hold it are
        // at hand, since no node left to read begins below it.
        group.clear();
        taken.clear();
        const uint8_t* key = heap.top()->key();
        const uint32_t units = heap.top()->units();
        while (!heap.empty() && compareAt(heap.top()->key(), heap.top()->units(), key, units) == 0) {
            Active* a = heap.top();
            heap.pop();
            taken.push_back(a);
            do {
                const DatumRef& d = a->datum();
                group.push_back({a, &d, a->where(), d.offset + get16(a->v.image + d.offset) - d.dataPos});
                ++a->pos;
            } while (a->pos < a->n && compareAt(a->key(), a->units(), key, units) == 0);
        }
        std::sort(group.begin(), group.end(), [](const Copy& x, const Copy& y) { return x.where < y.where; });
        // A datum too short for the records is dropped; of the others the
        // copy with the newest inserted time stands for the journal's last
        // change of the object (an insert of a key that is there replaces
        // its record); on equal times the first one in the file, so that
        // the choice depends on nothing else.
        const Copy* keep = nullptr;
        int64_t keepTime = 0;
        for (const Copy& cp : group) {
            const std::u16string shown = cp.node->v.key(cp.d - cp.node->v.datums.data());
            if (cp.room < dataLen) {
                ++dropped;
                log.say("datum at offset " + std::to_string(cp.where) + " (key " + jsonString(shown) +
                        ") has room for a " + std::to_string(cp.room) + "-byte record, the file's records have " +
                        std::to_string(dataLen) + "; dropped");
                continue;
            }
            int64_t t = 0;
            if (dataLen >= insertedAt + sizeof t)
                std::memcpy(&t, cp.node->v.image + cp.d->dataPos + insertedAt, sizeof t);
            if (keep == nullptr || t > keepTime) keep = &cp, keepTime = t;
        }
        if (keep != nullptr) {
            for (const Copy& cp : group) {
                if (&cp == keep || cp.room < dataLen) continue;
                ++dropped;
                log.say("key " + jsonString(keep->node->v.key(keep->d - keep->node->v.datums.data())) +
                        " found twice: kept the copy at offset " + std::to_string(keep->where) +
                        " (newest inserted time), dropped the one at offset " + std::to_string(cp.where));
            }
            w.entry(keep->node->v.image + keep->d->offset + datumKeyOffset, keep->d->keyUnits,
                    keep->node->v.image + keep->d->dataPos, dataLen);
            ++written;
        }
        for (Active* a : taken) {
            if (a->pos < a->n)
                heap.push(a);
            else
                delete a;
        }
    }

    if (log.lines() > DropLog::kMaxLines)
        std::fprintf(stderr, "jbbtool %s: %s: %llu more reports not shown\n", who, db.path().c_str(),
                     (unsigned long long)(log.lines() - DropLog::kMaxLines));
    std::string lost;
    if (unreadable + missing > 0)
        lost = " (" + std::to_string(unreadable) + " slots held no readable node" +
               (unreadableEntries > 0 ? ", with at least " + std::to_string(unreadableEntries) + " entries" : "") +
               ", " + std::to_string(missing) + " subscripts named by branches are in no slot)";
    std::fprintf(stderr,
                 "jbbtool %s: %s: %llu entries written from %llu nodes; %llu datums dropped, %llu nodes "
                 "lost%s\n",
                 who, db.path().c_str(), (unsigned long long)written, (unsigned long long)nodes,
                 (unsigned long long)dropped, (unsigned long long)(unreadable + missing), lost.c_str());
    if (!walkText.empty()) std::fprintf(stderr, "jbbtool %s: %s: %s\n", who, db.path().c_str(), walkText.c_str());
    return log.lines() > 0 ? kExitFindings : kExitSound;
}

}  // namespace jbbtool
