// Structural checks of database images; see treecheck.h.
#include "treecheck.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>

namespace testdb {

namespace {

constexpr int kMaxDepth = 40;
constexpr size_t kMaxProblems = 40;
constexpr int kMinDatums = 5;

struct SlotInfo {
    uint64_t offset;
    uint32_t nodeSize;
    uint64_t slotLength;
    uint32_t state;
};

class Checker {
public:
    Checker(const Bytes& img, uint32_t expectedState) : img_(img), expectedState_(expectedState) {}

    std::vector<std::string> run(TreeShape* shape) {
        if (img_.size() < kCtrlRecSize) {
            problem("file of " + std::to_string(img_.size()) + " bytes holds no control record");
            return problems_;
        }
        checkControlRecord();
        walkSlots();
        checkTreeFromRoot();
        for (const auto& [sub, s] : slots_) {
            if (s.state == kSlotUsed && visited_.count(sub) == 0)
                problem("used slot of subscript " + std::to_string(sub) + " at " + std::to_string(s.offset) +
                        " is not reached from the root");
        }
        if (shape != nullptr) {
            shape->entries = entries_;
            shape->height = leafDepth_ + 1;
            shape->nodes = visited_.size();
            shape->usedSlots = used_;
            shape->freeSlots = free_;
            shape->root = root_;
            shape->rootCount = rootCount_;
            shape->levels = levels_;
        }
        return problems_;
    }

private:
    void problem(const std::string& text) {
        if (problems_.size() < kMaxProblems)
            problems_.push_back(text);
        else if (problems_.size() == kMaxProblems)
            problems_.push_back("... and more");
    }

    void checkControlRecord() {
        const uint8_t* c = img_.data();
        if (getU16(c) != kMagic) problem("control record magic is not 0xABCD");
        if (c[2] != 2 || c[3] != 2) problem("control record version is not 2.2");
        uint32_t state = getU32(c + 4);
        if (state != expectedState_)
            problem("control record state " + std::to_string(state) + ", expected " + std::to_string(expectedState_));
        root_ = getU32(c + 8);
        indexArraySize_ = getU32(c + 12);
        currentIXCount_ = getU32(c + 16);
        lastIndex_ = getU32(c + 20);
        lastNDRec_ = static_cast<int64_t>(getU64(c + 24));
        if (getU16(c + 32) != 0) problem("dbKeyLen is not 0");
        dataLen_ = getU16(c + 34);
        if (indexArraySize_ < currentIXCount_)
            problem("indexArraySize " + std::to_string(indexArraySize_) + " below currentIXCount " +
                    std::to_string(currentIXCount_));
        if (indexArraySize_ % 500 != 0)
            problem("indexArraySize " + std::to_string(indexArraySize_) + " is no multiple of 500");
        if (currentIXCount_ < 2)
            problem("currentIXCount " + std::to_string(currentIXCount_) + " leaves no subscript for a root");
    }

    // Walks the slots from 2088 to the end of the file.
    void walkSlots() {
        uint64_t off = kCtrlRecSize;
        uint64_t lastOff = 0;
        uint32_t lastSub = 0;
        while (off < img_.size()) {
            if (off + kNodeInfoSize > img_.size()) {
                problem("slot at " + std::to_string(off) + " is cut off by the end of the file");
                return;
            }
            const uint8_t* n = img_.data() + off;
            SlotInfo s{off, getU32(n + 4), getU64(n + 8), getU32(n + 16)};
            uint32_t sub = getU32(n + 20);
            auto where = [&] { return "slot at " + std::to_string(off); };
            if (getU32(n) != kMagic) problem(where() + " has a bad magic number");
            // Only the last slot may reach past the end of the file (a node that
            // shrank, or a freed one, leaves the rest of its slot unwritten); the
            // loop ends with it.  A node itself must lie inside the file.
            if (s.slotLength < kNodeInfoSize || s.slotLength > UINT64_MAX - off) {
                problem(where() + " has slotLength " + std::to_string(s.slotLength) + ", which does not fit the file");
                return;
            }
            if (s.state == kSlotUsed && s.nodeSize > img_.size() - off)
                problem(where() + " holds nodeSize " + std::to_string(s.nodeSize) + " past the end of the file");
            if (sub == 0 || sub >= currentIXCount_)
                problem(where() + " names subscript " + std::to_string(sub) + " outside 1.." +
                        std::to_string(currentIXCount_ == 0 ? 0 : currentIXCount_ - 1));
            if (s.state == kSlotUsed) {
                ++used_;
                if (s.nodeSize < kNodeHeaderSize || s.nodeSize > s.slotLength)
                    problem(where() + " holds nodeSize " + std::to_string(s.nodeSize) + " in a slot of " +
                            std::to_string(s.slotLength));
            } else if (s.state == kSlotFree) {
                ++free_;
            } else {
                problem(where() + " has state " + std::to_string(s.state) + " (neither used nor free)");
            }
            if (!slots_.emplace(sub, s).second) problem("subscript " + std::to_string(sub) + " names two slots");
            lastOff = off;
            lastSub = sub;
            off += s.slotLength;
        }
        if (lastOff == 0) {
            problem("the file holds no slot");
            return;
        }
        if (lastNDRec_ != static_cast<int64_t>(lastOff))
            problem("lastNDRec " + std::to_string(lastNDRec_) + " but the last slot is at " + std::to_string(lastOff));
        if (lastIndex_ != lastSub)
            problem("lastIndex " + std::to_string(lastIndex_) + " but the last slot belongs to " +
                    std::to_string(lastSub));
    }

    void checkTreeFromRoot() {
        auto it = slots_.find(root_);
        if (it == slots_.end() || it->second.state != kSlotUsed) {
            problem("rootOffset " + std::to_string(root_) + " names no used slot");
            return;
        }
        havePrev_ = false;
        walk(root_, 0);
    }

    // Visits the subtree under `sub` in key order.
    void walk(uint32_t sub, int depth) {
        const std::string node = "node " + std::to_string(sub);
        if (depth >= kMaxDepth) {
            problem(node + ": tree deeper than " + std::to_string(kMaxDepth));
            return;
        }
        if (!visited_.insert(sub).second) {
            problem(node + " is reached twice");
            return;
        }
        auto it = slots_.find(sub);
        if (it == slots_.end() || it->second.state != kSlotUsed) {
            problem(node + " names no used slot");
            return;
        }
        const SlotInfo& s = it->second;
        if (s.nodeSize < kNodeHeaderSize || s.nodeSize > s.slotLength) return;  // reported with the slots
        const uint8_t* n = img_.data() + s.offset;
        const unsigned count = getU16(n + 24);
        if (count > static_cast<unsigned>(kMaxDatums)) {
            problem(node + " holds " + std::to_string(count) + " datums");
            return;
        }
        if (depth == 0) rootCount_ = count;
        uint32_t branch[kBranches];
        for (int i = 0; i < kBranches; ++i) branch[i] = getU32(n + 28 + 4 * i);
        const bool leaf = branch[0] == 0;
        if (depth > 0 && count < static_cast<unsigned>(kMinDatums))
            problem(node + " at depth " + std::to_string(depth) + " holds only " + std::to_string(count) + " datums");
        if (depth == 0 && !leaf && count == 0) problem("the root has children but no datum");
        if (leaf) {
            if (leafDepth_ < 0) leafDepth_ = depth;
            if (leafDepth_ != depth)
                problem(node + " is a leaf at depth " + std::to_string(depth) + ", others at " +
                        std::to_string(leafDepth_));
            for (unsigned i = 1; i <= count; ++i)
                if (branch[i] != 0) problem(node + " is a leaf with branch " + std::to_string(i) + " set");
        }

        // The datums, with their lengths summed up against nodeSize.
        std::vector<std::u16string> keys;
        uint64_t cursor = kNodeHeaderSize;
        bool datumsOk = true;
        for (unsigned i = 0; i < count; ++i) {
            auto datum = [&] { return node + " datum " + std::to_string(i); };
            if (cursor + 4 > s.nodeSize) {
                problem(datum() + " lies past nodeSize");
                datumsOk = false;
                break;
            }
            const uint8_t* d = n + cursor;
            uint32_t nkl = getU16(d);
            uint32_t dataAt = 2u + getU16(d + 2);
            if (nkl < 6 || cursor + nkl > s.nodeSize) {
                problem(datum() + " has length " + std::to_string(nkl) + ", which does not fit the node");
                datumsOk = false;
                break;
            }
            if (dataAt < 6 || dataAt + dataLen_ > nkl)
                problem(datum() + ": its data at " + std::to_string(dataAt) + " does not fit its length " +
                        std::to_string(nkl));
            std::u16string key;
            bool terminated = false;
            for (uint32_t j = 4; j + 2 <= dataAt && j + 2 <= nkl; j += 2) {
                char16_t u = getU16(d + j);
                if (u == 0) {
                    terminated = true;
                    break;
                }
                key.push_back(u);
            }
            if (!terminated) problem(datum() + ": its key has no terminator before the data");
            keys.push_back(key);
            cursor += nkl;
        }
        if (levels_.size() <= static_cast<size_t>(depth)) levels_.resize(depth + 1);
        levels_[depth].push_back(keys);
        if (datumsOk && cursor != s.nodeSize)
            problem(node + " has nodeSize " + std::to_string(s.nodeSize) + " but its datums end at " +
                    std::to_string(cursor));

        for (unsigned i = 0; i <= count; ++i) {
            if (!leaf) {
                if (branch[i] == 0)
                    problem(node + " is missing branch " + std::to_string(i));
                else
                    walk(branch[i], depth + 1);
            }
            if (i == keys.size()) break;
            ++entries_;
            const std::u16string& key = keys[i];
            if (havePrev_ && !(prev_ < key))
                problem(node + " datum " + std::to_string(i) + ": key '" + utf16ToUtf8(key) + "' does not follow '" +
                        utf16ToUtf8(prev_) + "'");
            prev_ = key;
            havePrev_ = true;
        }
    }

    const Bytes& img_;
    uint32_t expectedState_;
    std::vector<std::string> problems_;
    uint32_t root_ = 0, indexArraySize_ = 0, currentIXCount_ = 0, lastIndex_ = 0;
    int64_t lastNDRec_ = 0;
    uint16_t dataLen_ = 0;
    std::map<uint32_t, SlotInfo> slots_;
    size_t used_ = 0, free_ = 0;
    std::set<uint32_t> visited_;
    int leafDepth_ = -1;
    uint64_t entries_ = 0;
    unsigned rootCount_ = 0;
    std::u16string prev_;
    bool havePrev_ = false;
    std::vector<std::vector<std::vector<std::u16string>>> levels_;
};

}  // namespace

std::vector<std::string> checkTree(const Bytes& image, uint32_t expectedState, TreeShape* shape) {
    return Checker(image, expectedState).run(shape);
}

std::vector<std::string> checkTreeFile(const std::string& path, uint32_t expectedState, TreeShape* shape) {
    // Read in large blocks: files of several megabytes are checked often.
    Bytes image;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return {"cannot open " + path};
    uint8_t block[1 << 16];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) image.insert(image.end(), block, block + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return {"cannot read " + path};
    return checkTree(image, expectedState, shape);
}

std::string joinProblems(const std::vector<std::string>& problems) {
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    return all;
}

}  // namespace testdb
