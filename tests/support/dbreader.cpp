// Reads journal database images; see dbreader.h.
#include "dbreader.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

namespace testdb {

namespace {

constexpr int kMaxDepth = 64;

struct SlotInfo {
    uint64_t offset;
    uint32_t nodeSize;
    uint64_t slotLength;
    uint32_t state;
};

class Walker {
public:
    Walker(const Bytes& img, const std::map<uint32_t, SlotInfo>& slots, DbContents& out)
        : img_(img), slots_(slots), out_(out) {}

    // Visits the subtree under `sub` in key order.  Returns false with
    // out_.error set when something in it is malformed.
    bool walk(uint32_t sub, int depth) {
        if (depth > kMaxDepth) return failWith("tree deeper than " + std::to_string(kMaxDepth));
        if (!visited_.insert(sub).second) return failWith("subscript " + std::to_string(sub) + " reached twice");
        auto it = slots_.find(sub);
        if (it == slots_.end()) return failWith("subscript " + std::to_string(sub) + " names no slot");
        const SlotInfo& s = it->second;
        if (s.state != kSlotUsed) return failWith("subscript " + std::to_string(sub) + " is a free slot");
        if (s.nodeSize < kNodeHeaderSize || s.nodeSize > s.slotLength)
            return failWith("bad nodeSize in node " + std::to_string(sub));
        const uint8_t* n = img_.data() + s.offset;
        if (getU32(n + 20) != sub) return failWith("node " + std::to_string(sub) + " names another subscript");
        const unsigned count = getU16(n + 24);
        if (count > static_cast<unsigned>(kMaxDatums)) return failWith("count above 10 in node " + std::to_string(sub));
        uint32_t branch[kBranches];
        for (int i = 0; i < kBranches; ++i) branch[i] = getU32(n + 28 + 4 * i);
        const bool leaf = branch[0] == 0;
        if (leaf) {
            if (leafDepth_ < 0) leafDepth_ = depth;
            if (leafDepth_ != depth) return failWith("leaves at different depths");
        }

        size_t cursor = kNodeHeaderSize;
        const size_t dataLen = out_.ctrl.dataLen;
        for (unsigned i = 0; i <= count; ++i) {
            if (!leaf) {
                if (branch[i] == 0) return failWith("missing branch in node " + std::to_string(sub));
                if (!walk(branch[i], depth + 1)) return false;
            }
            if (i == count) break;
            if (cursor + 4 > s.nodeSize) return failWith("datum past nodeSize in node " + std::to_string(sub));
            const uint8_t* d = n + cursor;
            const size_t nkl = getU16(d);
            const size_t dataOff = getU16(d + 2);
            if (nkl < 6 || cursor + nkl > s.nodeSize) return failWith("bad nkl in node " + std::to_string(sub));
            std::u16string key;
            size_t pos = 4;
            for (;; pos += 2) {
                if (pos + 2 > nkl) return failWith("key without terminator in node " + std::to_string(sub));
                char16_t u = getU16(d + pos);
                if (u == 0) break;
                key.push_back(u);
            }
            if (2 + dataOff < pos + 2 || 2 + dataOff + dataLen > nkl)
                return failWith("bad dataOffset in node " + std::to_string(sub));
            if (!out_.entries.empty() && !(out_.entries.back().first < key))
                return failWith("keys out of order in node " + std::to_string(sub));
            out_.entries.emplace_back(key, Bytes(d + 2 + dataOff, d + 2 + dataOff + dataLen));
            cursor += nkl;
        }
        if (leafDepth_ >= 0) out_.height = leafDepth_ + 1;
        return true;
    }

private:
    bool failWith(const std::string& e) {
        out_.error = e;
        return false;
    }

    const Bytes& img_;
    const std::map<uint32_t, SlotInfo>& slots_;
    DbContents& out_;
    std::set<uint32_t> visited_;
    int leafDepth_ = -1;
};

}  // namespace

DbContents readDb(const Bytes& img) {
    DbContents out;
    out.fileSize = img.size();
    if (img.size() < kCtrlRecSize) {
        out.error = "shorter than a control record";
        return out;
    }
    out.ctrl = CtrlRec::fromBytes(img.data());
    if (img.size() == kCtrlRecSize) {  // a control record alone: an empty tree
        out.ok = true;
        return out;
    }

    std::map<uint32_t, SlotInfo> slots;
    uint64_t off = kCtrlRecSize;
    while (off < img.size()) {
        if (img.size() - off < kNodeInfoSize) {
            out.error = "bytes after the last slot";
            return out;
        }
        const uint8_t* p = img.data() + off;
        SlotInfo s{off, getU32(p + 4), getU64(p + 8), getU32(p + 16)};
        const uint32_t sub = getU32(p + 20);
        if (getU32(p) != kMagic) {
            out.error = "bad slot magic at offset " + std::to_string(off);
            return out;
        }
        // The last slot may reach past the end of the file; its node may not.
        if (s.slotLength < kNodeInfoSize || s.slotLength > UINT64_MAX - off ||
            (s.state == kSlotUsed && s.nodeSize > img.size() - off)) {
            out.error = "bad slotLength at offset " + std::to_string(off);
            return out;
        }
        if (sub == 0 || sub >= out.ctrl.currentIXCount || !slots.emplace(sub, s).second) {
            out.error = "bad or repeated subscript at offset " + std::to_string(off);
            return out;
        }
        (s.state == kSlotFree ? out.freeSlots : out.usedSlots)++;
        off += s.slotLength;
    }

    Walker w(img, slots, out);
    if (!w.walk(out.ctrl.rootOffset, 0)) return out;
    out.ok = true;
    return out;
}

DbContents readDbFile(const std::string& path) {
    Bytes img;
    if (!readFile(path, &img)) {
        DbContents out;
        out.error = "cannot read " + path;
        return out;
    }
    return readDb(img);
}

std::string firstDifference(const Bytes& expected, const Bytes& actual) {
    const size_t n = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < n; ++i)
        if (expected[i] != actual[i])
            return "byte " + std::to_string(i) + " is " + std::to_string(actual[i]) + ", expected " +
                   std::to_string(expected[i]);
    if (expected.size() != actual.size())
        return "size is " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size());
    return "";
}

std::string checkClosedAndUnchanged(const Bytes& before, const std::string& path) {
    const DbContents was = readDb(before);
    if (!was.ok) return "the image before the run is not valid: " + was.error;
    const DbContents now = readDbFile(path);
    if (!now.ok) return "after the run: " + now.error;
    if (now.ctrl.state != kDbClosed) return "state is " + std::to_string(now.ctrl.state);
    if (now.ctrl.journal().type != was.ctrl.journal().type)
        return "journal type is " + std::to_string(now.ctrl.journal().type) + ", was " +
               std::to_string(was.ctrl.journal().type);
    if (now.entries.size() != was.entries.size())
        return std::to_string(now.entries.size()) + " entries, was " + std::to_string(was.entries.size());
    for (size_t i = 0; i < now.entries.size(); ++i)
        if (now.entries[i] != was.entries[i]) return "entry " + std::to_string(i) + " differs";
    return "";
}

}  // namespace testdb
