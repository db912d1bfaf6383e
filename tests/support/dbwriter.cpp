// Lays out journal database files byte for byte; see dbwriter.h.
#include "dbwriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace testdb {

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "dbwriter: %s\n", what);
    std::abort();
}

void ensure(Bytes& b, size_t end) {
    if (b.size() < end) b.resize(end, 0);
}

// Fills `n` slack bytes.  They begin like a node header, so that a reader
// that steps by nodeSize instead of slotLength meets something that looks
// like a slot and goes wrong visibly.
void fillSlack(Bytes& b, size_t from, size_t n, uint8_t fill) {
    static const uint8_t fakeHeader[4] = {0xCD, 0xAB, 0x00, 0x00};
    for (size_t i = 0; i < n; ++i) b[from + i] = i < 4 ? fakeHeader[i] : fill;
}

// Deterministic small random numbers (independent of the standard
// library's distributions, which differ between implementations).
class Rng {
public:
    explicit Rng(uint64_t seed) : gen_(seed) {}
    uint64_t next() { return gen_(); }
    // Uniform in [lo, hi]; lo <= hi.
    uint64_t range(uint64_t lo, uint64_t hi) { return lo + next() % (hi - lo + 1); }
    template <class T>
    void shuffle(std::vector<T>& v) {
        for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[range(0, i - 1)]);
    }

private:
    std::mt19937_64 gen_;
};

uint64_t minSubtree(int height) {  // non-root node: 5 datums, 6 children
    return height <= 1 ? 5 : 5 + 6 * minSubtree(height - 1);
}

uint64_t maxSubtree(int height) {  // 10 datums, 11 children
    return height <= 1 ? 10 : 10 + 11 * maxSubtree(height - 1);
}

constexpr int kMaxHeight = 12;

struct PlanNode {
    std::vector<size_t> entries;   // indexes into the entry list
    std::vector<size_t> children;  // plan node ids
    int level = 0;                 // 0 = root level
};

class Planner {
public:
    Planner(size_t count, int height, Rng& rng) : height_(height), rng_(rng) {
        levels_.resize(height);
        build(0, count, height, true);
    }
    std::vector<PlanNode> nodes;
    std::vector<std::vector<size_t>> levels_;

private:
    // Plans the subtree of `height` levels holding entries [first, first+n).
    size_t build(size_t first, uint64_t n, int height, bool isRoot) {
        size_t id = nodes.size();
        nodes.emplace_back();
        nodes[id].level = height_ - height;
        levels_[height_ - height].push_back(id);
        if (height == 1) {
            for (uint64_t i = 0; i < n; ++i) nodes[id].entries.push_back(first + i);
            return id;
        }
        const uint64_t lo = minSubtree(height - 1), hi = maxSubtree(height - 1);
        std::vector<uint64_t> choices;
        for (uint64_t c = isRoot ? 2 : 6; c <= kBranches; ++c) {
            if (n + 1 < c) break;
            uint64_t inChildren = n - (c - 1);
            if (inChildren >= c * lo && inChildren <= c * hi) choices.push_back(c);
        }
        if (choices.empty()) fail("no node shape holds the entries");
        const uint64_t c = choices[rng_.range(0, choices.size() - 1)];
        // Every child gets the least it may hold, then the rest is spread out
        // unevenly within the children's capacity.
        uint64_t rest = n - (c - 1) - c * lo;
        const uint64_t cap = hi - lo;
        std::vector<uint64_t> sizes(c, lo);
        for (uint64_t i = 0; i < c; ++i) {
            uint64_t left = c - i;
            uint64_t least = rest > (left - 1) * cap ? rest - (left - 1) * cap : 0;
            uint64_t most = std::min(cap, rest);
            uint64_t target = rest / left;
            uint64_t jitter = target / 3;
            uint64_t pick = rng_.range(target - jitter, target + jitter);
            pick = std::min(std::max(pick, least), most);
            sizes[i] += pick;
            rest -= pick;
        }
        size_t next = first;
        for (uint64_t i = 0; i < c; ++i) {
            size_t child = build(next, sizes[i], height - 1, false);
            nodes[id].children.push_back(child);
            next += sizes[i];
            if (i + 1 < c) nodes[id].entries.push_back(next++);
        }
        return id;
    }

    int height_;
    Rng& rng_;
};

}  // namespace

// ---- byte access ----

void putU8(Bytes& b, size_t off, uint8_t v) {
    ensure(b, off + 1);
    b[off] = v;
}
void putU16(Bytes& b, size_t off, uint16_t v) {
    ensure(b, off + 2);
    for (int i = 0; i < 2; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putU32(Bytes& b, size_t off, uint32_t v) {
    ensure(b, off + 4);
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putU64(Bytes& b, size_t off, uint64_t v) {
    ensure(b, off + 8);
    for (int i = 0; i < 8; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBytes(Bytes& b, size_t off, const Bytes& v) {
    ensure(b, off + v.size());
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
}
uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint64_t getU64(const uint8_t* p) {
    return static_cast<uint64_t>(getU32(p)) | static_cast<uint64_t>(getU32(p + 4)) << 32;
}

// ---- JournalRec ----

Bytes JournalRec::bytes() const {
    Bytes b(kJournalRecSize, 0);
    putU32(b, 0, action);
    putU32(b, 4, objectType);
    putU64(b, 8, static_cast<uint64_t>(inserted));
    putU64(b, 16, static_cast<uint64_t>(objectTime));
    std::copy(opaque.begin(), opaque.end(), b.begin() + 24);
    return b;
}

JournalRec JournalRec::fromBytes(const uint8_t* p, size_t n) {
    uint8_t full[kJournalRecSize] = {};
    std::copy(p, p + std::min(n, kJournalRecSize), full);
    JournalRec r;
    r.action = getU32(full);
    r.objectType = getU32(full + 4);
    r.inserted = static_cast<int64_t>(getU64(full + 8));
    r.objectTime = static_cast<int64_t>(getU64(full + 16));
    std::copy(full + 24, full + 32, r.opaque.begin());
    return r;
}

bool JournalRec::operator==(const JournalRec& o) const {
    return action == o.action && objectType == o.objectType && inserted == o.inserted && objectTime == o.objectTime &&
           opaque == o.opaque;
}

// ---- JournalInfo ----

void JournalInfo::setServerNode(const std::string& server, const std::string& node) {
    serverNode.fill(0);
    serverLen = static_cast<uint8_t>(std::min<size_t>(server.size(), 255));
    std::string both = server + node;
    std::copy_n(both.begin(), std::min(both.size(), serverNode.size()), serverNode.begin());
}

void JournalInfo::writeTo(uint8_t* area) const {
    Bytes b(kAppAreaSize, 0);
    putU32(b, 0, type);
    putU64(b, 8, static_cast<uint64_t>(activation));
    putU64(b, 16, static_cast<uint64_t>(validation));
    putU32(b, 24, state);
    putU64(b, 32, maxSize);
    putU8(b, 40, serverLen);
    std::copy(serverNode.begin(), serverNode.end(), b.begin() + 41);
    const size_t maxUnits = (kAppAreaSize - 170) / 2;
    size_t units = std::min(fileSystem.size(), maxUnits);
    for (size_t i = 0; i < units; ++i) putU16(b, 170 + 2 * i, fileSystem[i]);
    // The terminator, when it fits, is already there: the area starts zeroed.
    std::copy(b.begin(), b.end(), area);
}

JournalInfo JournalInfo::fromArea(const uint8_t* area) {
    JournalInfo j;
    j.type = getU32(area);
    j.activation = static_cast<int64_t>(getU64(area + 8));
    j.validation = static_cast<int64_t>(getU64(area + 16));
    j.state = getU32(area + 24);
    j.maxSize = getU64(area + 32);
    j.serverLen = area[40];
    std::copy(area + 41, area + 170, j.serverNode.begin());
    j.fileSystem.clear();
    for (size_t off = 170; off + 1 < kAppAreaSize; off += 2) {
        char16_t u = getU16(area + off);
        if (u == 0) break;
        j.fileSystem.push_back(u);
    }
    return j;
}

// ---- CtrlRec ----

CtrlRec::CtrlRec() { setJournal(JournalInfo()); }

void CtrlRec::setJournal(const JournalInfo& j) { j.writeTo(appArea.data()); }

JournalInfo CtrlRec::journal() const { return JournalInfo::fromArea(appArea.data()); }

Bytes CtrlRec::bytes() const {
    Bytes b(kCtrlRecSize, 0);
    putU16(b, 0, magic);
    putU8(b, 2, versMaj);
    putU8(b, 3, versMin);
    putU32(b, 4, state);
    putU32(b, 8, rootOffset);
    putU32(b, 12, indexArraySize);
    putU32(b, 16, currentIXCount);
    putU32(b, 20, lastIndex);
    putU64(b, 24, static_cast<uint64_t>(lastNDRec));
    putU16(b, 32, keyLen);
    putU16(b, 34, dataLen);
    std::copy(appArea.begin(), appArea.end(), b.begin() + kAppAreaOffset);
    std::copy(padding.begin(), padding.end(), b.begin() + kAppAreaOffset + kAppAreaSize);
    return b;
}

CtrlRec CtrlRec::fromBytes(const uint8_t* p) {
    CtrlRec c;
    c.magic = getU16(p);
    c.versMaj = p[2];
    c.versMin = p[3];
    c.state = getU32(p + 4);
    c.rootOffset = getU32(p + 8);
    c.indexArraySize = getU32(p + 12);
    c.currentIXCount = getU32(p + 16);
    c.lastIndex = getU32(p + 20);
    c.lastNDRec = static_cast<int64_t>(getU64(p + 24));
    c.keyLen = getU16(p + 32);
    c.dataLen = getU16(p + 34);
    std::copy(p + kAppAreaOffset, p + kAppAreaOffset + kAppAreaSize, c.appArea.begin());
    std::copy(p + 2084, p + 2088, c.padding.begin());
    return c;
}

// ---- Datum and Node ----

size_t Datum::size() const { return 4 + 2 * (key.size() + (terminateKey ? 1 : 0)) + gap.size() + data.size(); }

Bytes Datum::bytes() const {
    Bytes b;
    const size_t keyBytes = 2 * (key.size() + (terminateKey ? 1 : 0));
    putU16(b, 0, nkl ? *nkl : static_cast<uint16_t>(size()));
    putU16(b, 2, dataOffset ? *dataOffset : static_cast<uint16_t>(2 + keyBytes + gap.size()));
    for (size_t i = 0; i < key.size(); ++i) putU16(b, 4 + 2 * i, key[i]);
    if (terminateKey) putU16(b, 4 + 2 * key.size(), 0);
    putBytes(b, 4 + keyBytes, gap);
    putBytes(b, 4 + keyBytes + gap.size(), data);
    b.resize(size());
    return b;
}

size_t Node::imageSize() const {
    size_t n = kNodeHeaderSize;
    for (const Datum& d : datums) n += d.size();
    return n;
}

Bytes Node::image(uint64_t slotLen) const {
    Bytes b(kNodeHeaderSize, 0);
    putU32(b, 0, magic);
    putU32(b, 4, nodeSize ? *nodeSize : static_cast<uint32_t>(imageSize()));
    putU64(b, 8, slotLength ? *slotLength : slotLen);
    putU32(b, 16, state);
    putU32(b, 20, subscript);
    putU16(b, 24, count ? *count : static_cast<uint16_t>(datums.size()));
    putU16(b, 26, pad);
    for (int i = 0; i < kBranches; ++i) putU32(b, 28 + 4 * i, branch[i]);
    for (const Datum& d : datums) {
        Bytes db = d.bytes();
        b.insert(b.end(), db.begin(), db.end());
    }
    return b;
}

// ---- Slot ----

Slot Slot::used(const Node& n, uint64_t slack) {
    Slot s;
    s.kind = Kind::Used;
    s.node = n;
    s.length = slack ? n.imageSize() + slack : 0;
    return s;
}

Slot Slot::freedNode(const Node& n, uint64_t slack) {
    Slot s = used(n, slack);
    s.kind = Kind::FreedNode;
    s.node.state = kSlotFree;
    return s;
}

Slot Slot::freshFree(uint32_t subscript, uint64_t length) {
    if (length < kNodeInfoSize) fail("a free slot needs at least 24 bytes");
    Slot s;
    s.kind = Kind::FreshFree;
    s.subscript = subscript;
    s.length = length;
    return s;
}

Slot Slot::rawBytes(const Bytes& b) {
    Slot s;
    s.kind = Kind::Raw;
    s.raw = b;
    return s;
}

uint32_t Slot::slotSubscript() const {
    switch (kind) {
        case Kind::Used:
        case Kind::FreedNode:
            return node.subscript;
        case Kind::FreshFree:
            return subscript;
        case Kind::Raw:
            return raw.size() >= 24 ? getU32(raw.data() + 20) : 0;
    }
    return 0;
}

bool Slot::isFree() const { return kind == Kind::FreedNode || kind == Kind::FreshFree; }

uint64_t Slot::slotLen() const {
    switch (kind) {
        case Kind::Used:
        case Kind::FreedNode:
            return length ? length : node.imageSize();
        case Kind::FreshFree:
            return length;
        case Kind::Raw:
            return raw.size();
    }
    return 0;
}

Bytes Slot::bytes() const {
    const uint64_t len = slotLen();
    Bytes b;
    switch (kind) {
        case Kind::Used:
        case Kind::FreedNode:
            b = node.image(len);
            if (b.size() < len) {
                size_t from = b.size();
                b.resize(len);
                fillSlack(b, from, len - from, fill);
            }
            break;
        case Kind::FreshFree:
            b.assign(len, fill);
            putU32(b, 0, kMagic);
            putU32(b, 4, static_cast<uint32_t>(len));
            putU64(b, 8, len);
            putU32(b, 16, kSlotFree);
            putU32(b, 20, subscript);
            break;
        case Kind::Raw:
            b = raw;
            break;
    }
    return b;
}

// ---- DbFile ----

void DbFile::updateCounters() {
    uint32_t maxSub = ctrl.rootOffset;
    for (const Slot& s : slots) maxSub = std::max(maxSub, s.slotSubscript());
    ctrl.currentIXCount = std::max<uint32_t>(maxSub + 1, 2);
    ctrl.indexArraySize = (ctrl.currentIXCount + 499) / 500 * 500;
    if (slots.empty()) {
        ctrl.lastIndex = ctrl.rootOffset;
        ctrl.lastNDRec = static_cast<int64_t>(kCtrlRecSize);
    } else {
        ctrl.lastIndex = slots.back().slotSubscript();
        ctrl.lastNDRec = static_cast<int64_t>(slotOffset(slots.size() - 1));
    }
}

uint64_t DbFile::slotOffset(size_t index) const {
    uint64_t off = kCtrlRecSize;
    for (size_t i = 0; i < index && i < slots.size(); ++i) off += slots[i].slotLen();
    return off;
}

Slot* DbFile::findSlot(uint32_t subscript) {
    for (Slot& s : slots)
        if (s.slotSubscript() == subscript) return &s;
    return nullptr;
}

Bytes DbFile::image() const {
    Bytes b = ctrl.bytes();
    for (const Slot& s : slots) {
        Bytes sb = s.bytes();
        b.insert(b.end(), sb.begin(), sb.end());
    }
    for (const auto& p : patches) putBytes(b, p.first, p.second);
    return b;
}

// ---- tree building ----

bool keyLess(const std::u16string& a, const std::u16string& b) { return a < b; }

void sortEntries(std::vector<Entry>& entries) {
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return keyLess(x.key, y.key); });
}

uint64_t minEntries(int height) { return height <= 1 ? 0 : 1 + 2 * minSubtree(height - 1); }

uint64_t maxEntries(int height) { return maxSubtree(height); }

DbFile buildTree(const std::vector<Entry>& entries, const JournalInfo& journal, const TreeOptions& opts,
                 TreeInfo* info) {
    for (size_t i = 1; i < entries.size(); ++i)
        if (!keyLess(entries[i - 1].key, entries[i].key)) fail("entries not sorted and unique");

    int height = opts.height;
    if (height == 0) {
        height = 1;
        while (maxEntries(height) < entries.size()) ++height;
    }
    if (height > kMaxHeight || entries.size() < minEntries(height) || entries.size() > maxEntries(height))
        fail("the entries do not fit a tree of the requested height");

    Rng rng(opts.seed);
    Planner plan(entries.size(), height, rng);
    const size_t nodeCount = plan.nodes.size();

    // Subscripts 1..total, handed out to nodes, then free slots; the spare
    // ones name nothing.
    const size_t total = nodeCount + opts.freeSlots + opts.spareSubscripts;
    std::vector<uint32_t> subs(total);
    for (size_t i = 0; i < total; ++i) subs[i] = static_cast<uint32_t>(i + 1);
    if (opts.shuffleSubscripts) rng.shuffle(subs);

    DbFile db;
    db.ctrl.setJournal(journal);
    db.ctrl.dataLen = opts.dataLen;

    size_t datumNo = 0;
    std::vector<Slot> used;
    for (size_t id = 0; id < nodeCount; ++id) {
        const PlanNode& pn = plan.nodes[id];
        Node n;
        n.subscript = subs[id];
        for (size_t i = 0; i < pn.children.size(); ++i) n.branch[i] = subs[pn.children[i]];
        for (size_t e : pn.entries) {
            Datum d;
            d.key = entries[e].key;
            d.data = entries[e].rec.bytes();
            d.data.resize(opts.dataLen, 0);
            ++datumNo;
            if (opts.gapEvery && datumNo % opts.gapEvery == 0) d.gap.assign(1 + datumNo % 3, 0xEE);
            n.datums.push_back(d);
        }
        uint64_t slack = 0;
        if (opts.slackEvery && (id + 1) % opts.slackEvery == 0) slack = rng.range(1, 300);
        used.push_back(Slot::used(n, slack));
    }

    std::vector<Slot> freeSlots;
    for (size_t i = 0; i < opts.freeSlots; ++i) {
        uint32_t sub = subs[nodeCount + i];
        if (i % 2 == 0) {
            freeSlots.push_back(Slot::freshFree(sub, rng.range(24, 900)));
        } else {
            // A deleted node still holding keys that are not in the tree.
            Node gone;
            gone.subscript = sub;
            for (int k = 0; k < 5; ++k) {
                Datum d;
                d.key = u"C:\\deleted\\entry" + utf8ToUtf16(std::to_string(i * 10 + k));
                d.data = JournalRec().bytes();
                d.data.resize(opts.dataLen, 0);
                gone.datums.push_back(d);
            }
            freeSlots.push_back(Slot::freedNode(gone, i % 4 == 1 ? 40 : 0));
        }
    }

    if (opts.shuffleSlots) {
        db.slots = used;
        db.slots.insert(db.slots.end(), freeSlots.begin(), freeSlots.end());
        rng.shuffle(db.slots);
    } else {
        // Nodes in plan order with the free slots spread evenly between them.
        size_t f = 0;
        for (size_t i = 0; i < used.size(); ++i) {
            db.slots.push_back(used[i]);
            while (f < freeSlots.size() && (f + 1) * used.size() <= (i + 1) * freeSlots.size())
                db.slots.push_back(freeSlots[f++]);
        }
        while (f < freeSlots.size()) db.slots.push_back(freeSlots[f++]);
    }

    db.ctrl.rootOffset = subs[0];
    db.updateCounters();
    db.ctrl.currentIXCount = static_cast<uint32_t>(total + 1);
    db.ctrl.indexArraySize = (db.ctrl.currentIXCount + 499) / 500 * 500;

    if (info) {
        info->root = subs[0];
        info->height = height;
        info->levels.assign(plan.levels_.size(), {});
        for (size_t l = 0; l < plan.levels_.size(); ++l)
            for (size_t id : plan.levels_[l]) info->levels[l].push_back(subs[id]);
    }
    return db;
}

std::vector<Entry> journalEntries(size_t n, uint64_t seed) {
    static const char* const users[] = {"Administrator", "Zoë", "jdoe", "Public", "Søren"};
    static const char* const folders[] = {"Documents", "Pictures\\Été", "Downloads", "AppData\\Local\\Temp",
                                          "文档",      "Desktop"};
    static const char* const stems[] = {"report", "résumé", "photo📷", "budget", "notes", "Ωmega"};
    static const char* const exts[] = {".docx", ".jpg", ".txt", ".xlsx", ""};
    static const uint32_t actions[] = {1, 2, 3, 4, 5, 6, 11, 9};
    Rng rng(seed);
    std::vector<Entry> v;
    v.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        const size_t r = static_cast<size_t>(rng.next() % 1000003);
        std::string name = std::string("C:\\Users\\") + users[r % 5] + "\\" + folders[r / 5 % 6] + "\\" +
                           stems[r / 30 % 6] + "-" + std::to_string(i) + exts[r / 180 % 5];
        e.key = utf8ToUtf16(name);
        e.rec.action = actions[r % 8];
        e.rec.objectType = exts[r / 180 % 5][0] ? 1 : 2;
        e.rec.inserted = 1262304000 + static_cast<int64_t>(rng.next() % 300000000);
        e.rec.objectTime = e.rec.inserted - static_cast<int64_t>(rng.next() % 86400);
        for (uint8_t& b : e.rec.opaque) b = static_cast<uint8_t>(rng.next());
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

// ---- helpers ----

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            cp = c & 0x07;
            len = 4;
        }
        if (i + len > s.size()) fail("truncated UTF-8 text");
        for (size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | cp >> 6));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | cp >> 12));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | cp >> 18));
            out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool readFile(const std::string& path, Bytes* bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

}  // namespace testdb
