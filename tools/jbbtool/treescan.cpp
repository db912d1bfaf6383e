#include "treescan.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>

#include "keyorder.h"
#include "largevector.h"
#include "prefetch.h"
#include "subscriptindex.h"
#include "textout.h"
#include "treeshape.h"
#include "keyunits.h"

namespace jbbtool {

const char* const kFindingCodes[] = {
    "ctrl-short",         "ctrl-magic",           "ctrl-version",
    "ctrl-state",         "ctrl-field",           "bad-magic",
    "slot-gap",           "slot-overlap",         "slot-past-end",
    "slot-state",         "bad-subscript",        "duplicate-subscript",
    "free-slot-header",   "datum-bounds",         "key-order",
    "key-order-across",   "bad-branch",           "node-unreachable",
    "node-reached-twice", "node-cycle",           "node-fill",
    "leaf-depth",         "just-created-entries", nullptr,
};

uint64_t CheckReport::total() const {
    uint64_t n = 0;
    for (const auto& c : counts) n += c.second;
    return n;
}

namespace {

// What check says of a control record that makes the file no journal
// database; stats, dump and diff refuse such a file in the same words.
std::string tooShort(const DbImage& db) {
    return "the file holds " + std::to_string(db.size()) + " bytes, fewer than a " + std::to_string(ctrlRecSize) +
           "-byte control record";
}

std::string magicMismatch(const ctrlRec& c) {
    return "control record magic number is " + magicText(c.dbMagic) + ", expected " + magicText(dbMagicNumber);
}

std::string versionMismatch(const ctrlRec& c) {
    return "format version " + std::to_string(c.dbVersMaj) + "." + std::to_string(c.dbVersMin) + ", expected " +
           std::to_string(dbVersionMajor) + "." + std::to_string(dbVersionMinor);
}

}  // namespace

std::string notAJournal(const DbImage& db) {
    if (!db.hasCtrl()) return tooShort(db);
    const ctrlRec& c = db.ctrl();
    if (c.dbMagic != dbMagicNumber) return magicMismatch(c);
    if (c.dbVersMaj != dbVersionMajor || c.dbVersMin != dbVersionMinor) return versionMismatch(c);
    return std::string();
}

namespace {

// A key inside a node image: its units at any address, and how many.
struct KeyRef {
    const uint8_t* p;
    uint32_t units;
};

// The keys of the inner nodes, kept from the pass for the order checks
// across nodes: a block per node in large chunks, each key after the
// first stored as the units it shares with the node's first key and the
// rest, so that any key can be compared where it lies.
class KeyStore {
public:
    // `chunkUnits`: the size of a chunk; a small file gets small ones.
    explicit KeyStore(size_t chunkUnits) : chunkUnits_(chunkUnits) {}
    uint64_t add(const std::vector<KeyRef>& keys) {
        size_t need = 1;
        for (const KeyRef& k : keys) need += 2 + k.units;
        if (chunks_.empty() || chunks_.back().size() + need > chunks_.back().capacity()) {
            chunks_.emplace_back();
            chunks_.back().reserve(std::max(chunkUnits_, need));
        }
        LargeVector<char16_t>& c = chunks_.back();
        uint64_t handle = ((uint64_t)(chunks_.size() - 1) << 32) | c.size();
        c.push_back((char16_t)keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            const KeyRef& k = keys[i];
            const size_t shared =
                i == 0 ? 0 : commonKeyUnits(keys[0].p, k.p, std::min<size_t>({keys[0].units, k.units, 0xFFFF}));
            c.push_back((char16_t)shared);
            c.push_back((char16_t)(k.units - shared));
            const size_t at = c.size();
            c.resize(at + k.units - shared);
            std::memcpy(&c[at], k.p + 2 * shared, 2 * (k.units - shared));
        }
        return handle;
    }
    // Compares key `index` of a block with the key at p of `units` units.
    int compare(uint64_t handle, size_t index, const uint8_t* p, size_t units) const {
        Parts k = parts(handle, index);
        const size_t head = std::min(k.shared, units);
        int c = compareKeyUnits(reinterpret_cast<const uint8_t*>(k.first), head, p, head);
        if (c != 0 || head < k.shared) return c != 0 ? c : 1;
        return compareKeyUnits(reinterpret_cast<const uint8_t*>(k.rest), k.restUnits, p + 2 * head, units - head);
    }
    // Asks the processor for the start of a block ahead of compare().
    void prefetch(uint64_t handle) const {
        prefetchLines(chunks_[handle >> 32].data() + (handle & 0xFFFFFFFFu), 3 * 64);
    }
    std::u16string get(uint64_t handle, size_t index) const {
        Parts k = parts(handle, index);
        return std::u16string(k.first, k.shared) + std::u16string(k.rest, k.restUnits);
    }

private:
    struct Parts {
        const char16_t* first;  // the block's first key
        size_t shared;          // its units that the key begins with
        const char16_t* rest;
        size_t restUnits;
    };
    Parts parts(uint64_t handle, size_t index) const {
        const LargeVector<char16_t>& c = chunks_[handle >> 32];
        size_t at = (size_t)(handle & 0xFFFFFFFFu) + 1;
        const char16_t* first = &c[at + 2];
        for (size_t i = 0; i < index; ++i) at += 2 + c[at + 1];
        return {first, c[at], c.data() + at + 2, c[at + 1]};
    }
    size_t chunkUnits_;
    std::vector<LargeVector<char16_t>> chunks_;
};

constexpr uint64_t kNoKeys = ~uint64_t{0};

// True when the `units` UTF-16 units at p (any alignment) hold a surrogate
// that is not half of a pair.
bool unpairedSurrogateAt(const uint8_t* p, uint32_t units) {
    for (uint32_t i = 0; i < units; ++i) {
        uint16_t u = (uint16_t)(p[2 * i] | p[2 * i + 1] << 8);
        if (u < 0xD800 || u > 0xDFFF) continue;
        if (u > 0xDBFF || i + 1 == units) return true;
        uint16_t next = (uint16_t)(p[2 * i + 2] | p[2 * i + 3] << 8);
        if (next < 0xDC00 || next > 0xDFFF) return true;
        ++i;
    }
    return false;
}

struct NodeRec {
    int64_t offset;
    uint64_t keys;  // handle in the KeyStore, or kNoKeys
    uint32_t subscript;
    uint32_t nodeSize;
    uint32_t branches;  // where its branches begin in the checker's branch list (inner nodes)
    uint16_t count;     // datums that parsed soundly
    bool leaf;
    bool sound;  // every field within bounds
    // The keys that bound the node's keys, from the walk: datum loKey of
    // node loNode (an index into the checker's nodes) lies below them, and
    // datum hiKey of node hiNode above them.  kNoBound at an edge.  The
    // KeyStore handles of those nodes are kept here too, so that the
    // second pass reads no other node's record.
    uint64_t loKeys, hiKeys;
    uint32_t loNode, hiNode;
    uint8_t loKey, hiKey;
    // A leaf's first and last key, where the first pass found them in its
    // image: the second pass compares them without decoding the node again.
    uint16_t firstUnits, lastUnits;
    uint32_t firstKey, lastKey;  // offsets within the image
};
static_assert(maxStoredDatumLength / 2 <= 0xFFFF, "a key's units fit in 16 bits");

constexpr uint32_t kNoBound = ~uint32_t{0};

class Checker {
public:
    Checker(DbImage& db, CheckReport* r)
        : db_(db), r_(r), keys_((size_t)std::min<int64_t>(std::max<int64_t>(db.size() / 4, 4096), 1 << 20)) {}
    void run(std::function<void(int64_t)> progress);

private:
    void find(const char* code, uint32_t sub, int64_t off, const std::string& msg) {
        uint64_t& n = r_->counts[code];
        if (n++ < kMaxListed) r_->findings.push_back({code, sub, off, msg});
    }
    void note(const char* code, uint32_t sub, int64_t off, const std::string& msg) {
        if (r_->noteCount++ < kMaxListed) r_->notes.push_back({code, sub, off, msg});
    }
    void checkCtrl();
    void onSlot(const SlotRef& s, const uint8_t* image);
    void onEvent(TileEvent e, int64_t off, int64_t len, uint32_t sub);
    void afterScan();
    void walkShape();
    // A second sequential pass: each leaf's first and last key against the
    // keys that bound them.
    void checkLeafBounds();
    void checkLeafBounds(const NodeRec& n, const uint8_t* image);
    NodeRec* node(uint32_t sub);
    bool bounded(size_t i) const;

    DbImage& db_;
    CheckReport* r_;
    const ctrlRec* cr_ = nullptr;
    LargeVector<NodeRec> nodes_;
    SubscriptIndex index_;  // over nodes_
    TreeShape shape_;
    LargeVector<std::pair<uint32_t, int64_t>> slotSubs_;  // every slot's subscript and offset
    std::vector<std::pair<uint32_t, bool>> freeSubs_;     // free slots' subscripts
    KeyStore keys_;
    int64_t lastSlot_ = -1;
    uint32_t lastSub_ = 0;
    std::vector<KeyRef> scratch_;
    LargeVector<uint32_t> branches_;  // branchesPerNode for each inner node
    NodeView view_;                   // reused: its datum list keeps its room
};

void Checker::checkCtrl() {
    // The format's checks, each told with the values that break it.
    using btformat::Fault;
    const ctrlRec& c = *cr_;
    const btformat::CtrlFaults faults =
        btformat::checkCtrlRec(reinterpret_cast<const uint8_t*>(&c), sizeof c, db_.size());
    if (faults.has(Fault::ctrlMagic)) find("ctrl-magic", 0, ctrlOff::dbMagic, magicMismatch(c));
    if (faults.has(Fault::ctrlVersion)) find("ctrl-version", 0, ctrlOff::dbVersMaj, versionMismatch(c));
    if (faults.has(Fault::ctrlStateCorrupt))
        find("ctrl-state", 0, ctrlOff::dbState,
             "the file is marked damaged: state " + codeText("dbCorrupt", dbCorrupt));
    else if (faults.has(Fault::ctrlStateUnknown))
        find("ctrl-state", 0, ctrlOff::dbState, "unknown state " + std::to_string(c.dbState));
    if (faults.has(Fault::ctrlKeyLength))
        find("ctrl-field", 0, ctrlOff::dbKeyLen,
             "dbKeyLen is " + std::to_string(c.dbKeyLen) + ", expected 0 (variable-length keys)");
    if (faults.has(Fault::ctrlCounters))
        find("ctrl-field", 0, ctrlOff::currentIXCount,
             "currentIXCount " + std::to_string(c.currentIXCount) + " is above indexArraySize " +
                 std::to_string(c.indexArraySize));
    if (faults.has(Fault::ctrlIndexArraySize))
        find("ctrl-field", 0, ctrlOff::indexArraySize,
             "indexArraySize " + std::to_string(c.indexArraySize) + " is larger than a file of " +
                 std::to_string(db_.size()) + " bytes could use");
    if (faults.has(Fault::ctrlIndexArrayStep))
        find("ctrl-field", 0, ctrlOff::indexArraySize,
             "indexArraySize " + std::to_string(c.indexArraySize) + " is not a multiple of " +
                 std::to_string(indexArrayGrowth));
}

NodeRec* Checker::node(uint32_t sub) {
    const size_t at = index_.find(sub);
    return at == SubscriptIndex::kNone ? nullptr : &nodes_[at];
}

void Checker::onSlot(const SlotRef& s, const uint8_t* image) {
    const nodeInfo& in = s.info;
    const uint32_t sub = in.ixaSubscript;
    ++r_->slots;
    lastSlot_ = s.offset;
    lastSub_ = sub;
    slotSubs_.emplace_back(sub, s.offset);
    if (sub == 0 || sub >= cr_->currentIXCount)
        find("bad-subscript", sub, s.offset,
             "slot names subscript " + std::to_string(sub) + ", outside 1.." +
                 std::to_string(cr_->currentIXCount > 0 ? cr_->currentIXCount - 1 : 0) + " (currentIXCount " +
                 std::to_string(cr_->currentIXCount) + ")");
    if (in.state == slotFree) {
        ++r_->freeSlots;
        freeSubs_.emplace_back(sub, true);
        bool fresh = in.nodeSize == (uint32_t)in.slotLength;
        bool freed = in.nodeSize >= nodeHeaderSize && in.nodeSize <= in.slotLength;
        if (!fresh && !freed)
            find("free-slot-header", sub, s.offset,
                 "free slot of " + std::to_string(in.slotLength) + " bytes gives node size " +
                     std::to_string(in.nodeSize));
        return;
    }
    ++r_->usedSlots;
    if (in.state != slotHoldsNode)
        find("slot-state", sub, s.offset, "slot state " + std::to_string(in.state) + ", expected 0 (node) or 1 (free)");
    if (in.nodeSize > in.slotLength)
        find("slot-overlap", sub, s.offset,
             "node of " + std::to_string(in.nodeSize) + " bytes in a slot of " + std::to_string(in.slotLength));
    NodeRec n{};
    n.offset = s.offset;
    n.nodeSize = in.nodeSize;
    n.keys = kNoKeys;
    n.loNode = n.hiNode = kNoBound;
    n.subscript = sub;
    n.sound = false;
    n.leaf = true;  // a node that cannot be read has no branches to follow
    if (image == nullptr) {
        find("datum-bounds", sub, s.offset,
             "node size " + std::to_string(in.nodeSize) + " does not fit (72 to " + std::to_string(maxNodeSize) +
                 " bytes within the file)");
    } else {
        NodeView& v = view_;
        parseNode(image, in.nodeSize, cr_->dbDataLen, &v);
        n.leaf = v.isLeaf();
        if (!n.leaf) {
            // Only inner nodes keep their branches: most nodes are leaves.
            n.branches = (uint32_t)branches_.size();
            branches_.insert(branches_.end(), v.header.branch, v.header.branch + branchesPerNode);
        }
        n.count = (uint16_t)v.datums.size();
        n.sound = v.fault.empty();
        if (!n.sound) find("datum-bounds", sub, s.offset, v.fault);
        scratch_.clear();
        const uint8_t* prev = nullptr;
        uint32_t prevUnits = 0;
        for (size_t i = 0; i < v.datums.size(); ++i) {
            const DatumRef& d = v.datums[i];
            const uint8_t* k = image + d.offset + datumKeyOffset;
            if (d.surrogate && unpairedSurrogateAt(k, d.keyUnits))
                note(kNoteUnpairedSurrogate, sub, s.offset + d.offset,
                     "key " + jsonString(v.key(i)) + " holds an unpaired surrogate (a legal Windows file name)");
            if (prev != nullptr && compareKeyUnits(prev, prevUnits, k, d.keyUnits) >= 0)
                find("key-order", sub, s.offset + d.offset,
                     "datum " + std::to_string(i) + " key " + jsonString(v.key(i)) + " is not above datum " +
                         std::to_string(i - 1) + " key " + jsonString(v.key(i - 1)));
            // An inner node keeps its keys for the checks across nodes;
            // a leaf's first and last keys are read again for them.
            if (!n.leaf) scratch_.push_back({k, d.keyUnits});
            prev = k;
            prevUnits = d.keyUnits;
        }
        if (!scratch_.empty()) n.keys = keys_.add(scratch_);
        if (n.leaf && !v.datums.empty()) {
            const DatumRef& first = v.datums.front();
            const DatumRef& last = v.datums.back();
            n.firstKey = first.offset + datumKeyOffset;
            n.firstUnits = (uint16_t)first.keyUnits;
            n.lastKey = last.offset + datumKeyOffset;
            n.lastUnits = (uint16_t)last.keyUnits;
        }
    }
    nodes_.push_back(n);
}

void Checker::onEvent(TileEvent e, int64_t off, int64_t len, uint32_t sub) {
    switch (e) {
        case TileEvent::BadMagic:
            find("bad-magic", sub, off,
                 "slot info block has a bad magic number; skipped by its length " + std::to_string(len));
            break;
        case TileEvent::Gap:
            find("slot-gap", 0, off, std::to_string(len) + " bytes hold no slot");
            break;
        case TileEvent::Overlap:
            find("slot-overlap", 0, off,
                 "a slot begins " + std::to_string(len) + " bytes before the end of the slot before it");
            break;
        case TileEvent::PastEnd:
            find("slot-past-end", sub, off,
                 "the last slot reaches " + std::to_string(len) + " bytes past the end of the file");
            break;
        case TileEvent::ShortTail:
            find("slot-gap", 0, off, std::to_string(len) + " bytes after the last slot are too few for a slot");
            break;
    }
}

void Checker::afterScan() {
    // A subscript named by two slots.
    SubscriptIndex::forEachRepeat(
        slotSubs_.size(), [this](size_t i) { return slotSubs_[i].first; },
        [this](size_t i, size_t before) {
            find("duplicate-subscript", slotSubs_[i].first, slotSubs_[i].second,
                 "subscript also named by the slot at offset " + std::to_string(slotSubs_[before].second));
        });
    index_.build(nodes_.size(), [this](size_t i) { return nodes_[i].subscript; });
    if (r_->slots == 0) return;
    const ctrlRec& c = *cr_;
    if (c.currentIXCount == 0 && c.indexArraySize == 0)
        find("ctrl-field", 0, ctrlOff::indexArraySize,
             "indexArraySize and currentIXCount say the tree is empty, but the file holds slots");
    if (c.lastNDRec != lastSlot_)
        find("ctrl-field", 0, ctrlOff::lastNDRec,
             "lastNDRec " + std::to_string(c.lastNDRec) + " names another slot than the last, at offset " +
                 std::to_string(lastSlot_));
    if (c.lastIndex != lastSub_)
        find("ctrl-field", 0, ctrlOff::lastIndex,
             "lastIndex " + std::to_string(c.lastIndex) + " is not the subscript of the last slot, " +
                 std::to_string(lastSub_));
    if (node(c.rootOffset) == nullptr) {
        bool isFree = false;
        for (const auto& f : freeSubs_) isFree = isFree || f.first == c.rootOffset;
        find("ctrl-field", 0, ctrlOff::rootOffset,
             "rootOffset " + std::to_string(c.rootOffset) + (isFree ? " names a free slot" : " names no slot"));
    }
}

void Checker::walkShape() {
    NodeRec* root = node(cr_->rootOffset);
    std::map<int, uint64_t> leafDepths;
    struct Nodes {
        const Checker& c;
        size_t find(uint32_t sub) const { return c.index_.find(sub); }
        int branches(size_t i) const { return c.nodes_[i].leaf ? 0 : (int)c.nodes_[i].count + 1; }
        uint32_t branch(size_t i, int j) const { return c.branches_[c.nodes_[i].branches + (size_t)j]; }
        void prefetch(size_t i) const { prefetchLines(&c.nodes_[i], sizeof(NodeRec)); }
    };
    struct Visitor {
        Checker& c;
        std::map<int, uint64_t>& leafDepths;
        void done(size_t i) {
            const NodeRec& n = c.nodes_[i];
            ++c.r_->reachableNodes;
            c.r_->entries += n.count;
            if (n.leaf) ++leafDepths[c.shape_.depth(i)];
        }
        void fault(ShapeFault f, size_t i, int j, uint32_t sub, size_t child) {
            const NodeRec& n = c.nodes_[i];
            switch (f) {
                case ShapeFault::NoBranch:
                    c.find("bad-branch", n.subscript, n.offset, "inner node has no branch " + std::to_string(j));
                    break;
                case ShapeFault::NoNode:
                    c.find("bad-branch", n.subscript, n.offset,
                           "branch " + std::to_string(j) + " names subscript " + std::to_string(sub) +
                               ", which holds no node");
                    break;
                case ShapeFault::Cycle:
                    c.find("node-cycle", c.nodes_[child].subscript, c.nodes_[child].offset,
                           "node is reached from itself (through node " + std::to_string(n.subscript) + ")");
                    break;
                case ShapeFault::ReachedTwice:
                    c.find("node-reached-twice", c.nodes_[child].subscript, c.nodes_[child].offset,
                           "node is reached again from node " + std::to_string(n.subscript));
                    break;
            }
        }
        // The branch followed lies between datums j - 1 and j: the keys
        // that bound the child.
        void edge(size_t parent, int j, size_t childAt) {
            const NodeRec* n = &c.nodes_[parent];
            NodeRec* child = &c.nodes_[childAt];
            const uint32_t self = (uint32_t)parent;
            const bool keysKept = n->keys != kNoKeys;
            if (j > 0 && keysKept) {
                child->loNode = self, child->loKey = (uint8_t)(j - 1), child->loKeys = n->keys;
            } else {
                child->loNode = n->loNode, child->loKey = n->loKey, child->loKeys = n->loKeys;
            }
            if (j < (int)n->count && keysKept) {
                child->hiNode = self, child->hiKey = (uint8_t)j, child->hiKeys = n->keys;
            } else {
                child->hiNode = n->hiNode, child->hiKey = n->hiKey, child->hiKeys = n->hiKeys;
            }
        }
    };
    Visitor v{*this, leafDepths};
    shape_.walk(nodes_.size(), root != nullptr ? (size_t)(root - nodes_.data()) : SubscriptIndex::kNone, Nodes{*this},
                v);
    if (root == nullptr) return;
    // Leaves at other depths than most of them.
    int common = 0;
    uint64_t most = 0;
    for (const auto& d : leafDepths)
        if (d.second > most) most = d.second, common = d.first;
    r_->depth = common;
    for (size_t i = 0; i < nodes_.size(); ++i) {
        const NodeRec& n = nodes_[i];
        if (!shape_.reached(i)) {
            find("node-unreachable", n.subscript, n.offset, "node is not reached from the root");
            continue;
        }
        if (n.leaf && shape_.depth(i) != common)
            find("leaf-depth", n.subscript, n.offset,
                 "leaf at depth " + std::to_string(shape_.depth(i)) + ", most leaves are at depth " +
                     std::to_string(common));
        bool isRoot = &n == root;
        if ((!isRoot && (n.count < minDatumsPerNode || n.count > maxDatumsPerNode)) ||
            (isRoot && !n.leaf && n.count == 0))
            find("node-fill", n.subscript, n.offset,
                 std::string(isRoot ? "inner root" : "node") + " holds " + std::to_string(n.count) + " datums" +
                     (isRoot ? ""
                             : ", expected " + std::to_string(minDatumsPerNode) + " to " +
                                   std::to_string(maxDatumsPerNode)));
    }
}

// Compares each leaf's first and last key with the keys of the inner
// nodes that bound it, in a second sequential pass: keeping every leaf's
// keys from the first pass would cost more memory than the file's
// inner nodes do.
bool Checker::bounded(size_t i) const {
    const NodeRec& n = nodes_[i];
    return n.leaf && shape_.reached(i) && n.count > 0 && (n.loNode != kNoBound || n.hiNode != kNoBound);
}

void Checker::checkLeafBounds() {
    // The bounding keys lie at random in the key store: they are asked
    // for a few leaves ahead.
    constexpr size_t kAhead = 4;
    for (size_t i = 0; i < nodes_.size(); ++i) {  // in the order of their offsets: one sequential pass
        if (i + kAhead < nodes_.size() && bounded(i + kAhead)) {
            const NodeRec& a = nodes_[i + kAhead];
            if (a.loNode != kNoBound) keys_.prefetch(a.loKeys);
            if (a.hiNode != kNoBound) keys_.prefetch(a.hiKeys);
        }
        const NodeRec& n = nodes_[i];
        if (!bounded(i)) continue;
        size_t got;
        const uint8_t* image = db_.view(n.offset, n.nodeSize, &got);
        if (image == nullptr) {
            r_->ioFailed = true;
            r_->ioError = db_.ioError();
            return;
        }
        if (got == n.nodeSize) checkLeafBounds(n, image);
    }
}

void Checker::checkLeafBounds(const NodeRec& n, const uint8_t* image) {
    // The first pass found both keys within the node's nodeSize bytes, which
    // the caller has read whole; a file changed since then gives other
    // keys at the same places, never a read outside the image.
    const DatumRef first{n.firstKey - datumKeyOffset, n.firstUnits, 0, true};
    const DatumRef last{n.lastKey - datumKeyOffset, n.lastUnits, 0, true};
    auto keyText = [&](const DatumRef& d) {
        NodeView v;
        v.image = image;
        v.datums.push_back(d);
        return jsonString(v.key(0));
    };
    if (n.loNode != kNoBound &&
        keys_.compare(n.loKeys, n.loKey, image + first.offset + datumKeyOffset, first.keyUnits) >= 0)
        find("key-order-across", n.subscript, n.offset,
             "first key " + keyText(first) + " of the subtree right of datum " + std::to_string(n.loKey) + " of node " +
                 std::to_string(nodes_[n.loNode].subscript) + " is not above its key " +
                 jsonString(keys_.get(n.loKeys, n.loKey)));
    if (n.hiNode != kNoBound &&
        keys_.compare(n.hiKeys, n.hiKey, image + last.offset + datumKeyOffset, last.keyUnits) <= 0)
        find("key-order-across", n.subscript, n.offset,
             "last key " + keyText(last) + " of the subtree left of datum " + std::to_string(n.hiKey) + " of node " +
                 std::to_string(nodes_[n.hiNode].subscript) + " is not below its key " +
                 jsonString(keys_.get(n.hiKeys, n.hiKey)));
}

void Checker::run(std::function<void(int64_t)> progress) {
    if (!db_.hasCtrl()) {
        find("ctrl-short", 0, 0, tooShort(db_));
        return;
    }
    cr_ = &db_.ctrl();
    checkCtrl();
    // Room for the nodes of a file whose slots average 1 KiB or more, so
    // that the lists grow without copying; room never used costs no memory.
    const size_t expected = (size_t)std::min<int64_t>(db_.size() / 1024, 1 << 24) + 16;
    nodes_.reserve(expected);
    slotSubs_.reserve(expected);
    SlotScanHandler h;
    h.slot = [this](const SlotRef& s, const uint8_t* image) { onSlot(s, image); };
    h.event = [this](TileEvent e, int64_t off, int64_t len, uint32_t sub) { onEvent(e, off, len, sub); };
    h.progress = progress;
    if (!scanSlots(db_, h)) {
        r_->ioFailed = true;
        r_->ioError = db_.ioError();
        return;
    }
    if (r_->slots == 0 && (cr_->currentIXCount != 0 || cr_->indexArraySize != 0) && db_.size() > (int64_t)ctrlRecSize)
        find("ctrl-field", 0, ctrlOff::currentIXCount, "the file holds no slot");
    afterScan();
    walkShape();
    checkLeafBounds();
}

}  // namespace

void checkDatabase(DbImage& db, CheckReport* report, std::function<void(int64_t)> progress) {
    // Both passes go through the file in order, parsing on this thread
    // while the next window is read on the other.
    if (!getenv("NORA")) db.readAhead();
    Checker c(db, report);
    c.run(std::move(progress));
}

}  // namespace jbbtool
