#include "treewalker.h"

#include <algorithm>
#include <cstring>

#include "keyunits.h"
#include "readahead.h"

namespace jbbtool {

NodeBuffer TreeWalker::takeLeaf() { return std::move(handedOut_); }

bool TreeWalker::push(uint32_t subscript) {
    if (stack_.size() > (size_t)maxTreeDepth) {
        if (problem)
            problem("the tree is deeper than " + std::to_string(maxTreeDepth) + " levels at node " +
                    std::to_string(subscript));
        return false;
    }
    const SlotMap::Entry* e = map_.find(subscript);
    if (e == nullptr || !e->used) {
        if (problem) problem("branch to subscript " + std::to_string(subscript) + ", which names no node");
        return false;
    }
    const size_t at = map_.index(e);
    if (state_[at] == kWalked) {
        if (problem) problem("node " + std::to_string(subscript) + " is reached a second time; skipped");
        return false;
    }
    Level l;
    l.subscript = subscript;
    l.offset = e->offset;
    // The size comes from the slot's header: no buffer is made for one
    // that no node can have.
    const bool sizeOk = e->nodeSize >= nodeHeaderSize && e->nodeSize <= maxNodeSize;
    if (state_[at] >= 0) {
        NodeBuffer& a = ahead_[(size_t)state_[at]];
        if (a.size() == e->nodeSize) {
            aheadBytes_ -= a.size();
            std::swap(l.image, a);
        }
        dropAhead(at);
    }
    state_[at] = kWalked;
    if (l.image.empty() && sizeOk) {
        l.image = pool_.get(e->nodeSize);
        if (!db_.readAt(e->offset, l.image.data(), e->nodeSize)) l.image.release();
    }
    if (l.image.empty()) {
        if (!db_.ioError().empty()) ioFailed_ = true;
        if (problem)
            problem("node " + std::to_string(subscript) + " at offset " + std::to_string(e->offset) +
                    " cannot be read");
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

void TreeWalker::dropAhead(size_t entry) {
    NodeBuffer& a = ahead_[(size_t)state_[entry]];
    aheadBytes_ -= a.size();
    a.release();
    aheadFree_.push_back(state_[entry]);
    state_[entry] = kNotRead;
}

void TreeWalker::readBatch(const std::vector<uint32_t>& subscripts) {
    requests_.clear();
    wanted_.clear();
    uint64_t bytes = 0;
    for (uint32_t sub : subscripts) {
        if (requests_.size() >= readahead::maxNodes) break;
        const SlotMap::Entry* e = map_.find(sub);
        if (e == nullptr) continue;
        const size_t at = map_.index(e);
        if (!e->used || state_[at] != kNotRead || !readahead::sizeReadable(e->nodeSize) ||
            bytes + e->nodeSize > readahead::maxBytes)
            continue;
        bytes += e->nodeSize;
        if (aheadFree_.empty()) {
            state_[at] = (int32_t)ahead_.size();
            ahead_.emplace_back();
        } else {
            state_[at] = aheadFree_.back();
            aheadFree_.pop_back();
        }
        NodeBuffer& img = ahead_[(size_t)state_[at]];
        img = pool_.get(e->nodeSize);
        aheadBytes_ += e->nodeSize;
        plat::ReadRequest r;
        r.pos = e->offset;
        r.buf = img.data();
        r.len = e->nodeSize;
        requests_.push_back(r);
        wanted_.push_back(at);
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
    // What the walk reads ahead, as the engine's prefetch does
    // (readahead.h), with at most 32 MiB held in all, whatever a damaged
    // file gives.  The children are those the walk will descend to: the
    // branches around the datums that parsed soundly.
    if (aheadBytes_ > (32u << 20)) return;
    nodeHeader h = l.node.header;
    h.count = (uint16_t)l.node.datums.size();
    batch_.clear();
    readahead::forEachChild(h, [this](uint32_t sub) { batch_.push_back(sub); });
    readBatch(batch_);
    grandchildren_.clear();
    for (uint32_t sub : batch_) {
        const SlotMap::Entry* e = map_.find(sub);
        const int32_t place = e != nullptr ? state_[map_.index(e)] : kNotRead;
        if (place < 0) continue;
        nodeHeader child;
        std::memcpy(&child, ahead_[(size_t)place].data(), sizeof child);  // at least a header long
        readahead::forEachChild(child, [this](uint32_t g) { grandchildren_.push_back(g); });
    }
    readBatch(grandchildren_);
}

bool TreeWalker::start() {
    started_ = true;
    state_.assign(map_.size(), kNotRead);
    if (!db_.hasCtrl() || db_.size() == (int64_t)ctrlRecSize) return false;
    return push(db_.ctrl().rootOffset);
}

void TreeWalker::seek(const std::u16string& key) {
    if (started_ || !start()) return;
    const uint8_t* target = reinterpret_cast<const uint8_t*>(key.data());
    while (!stack_.back().whole) {
        Level& top = stack_.back();
        // The first datum not below the key: the walk hands it out next,
        // after the subtree on its left unless it holds the key itself.
        bool equal = false;
        const size_t k = lowerBound(top.node, target, key.size(), &equal);
        top.pos = k;
        if (top.node.isLeaf()) return;
        top.descended = true;
        if (equal) return;
        const uint32_t child = top.node.header.branch[k];
        if (child == 0) {
            if (problem) problem("node " + std::to_string(top.subscript) + " has no branch " + std::to_string(k));
            return;
        }
        if (!push(child)) return;  // may move `top`
    }
}

bool TreeWalker::next(WalkEntry* out) {
    if (!started_ && !start()) return false;
    while (!stack_.empty()) {
        Level& top = stack_.back();
        if (top.whole) {
            handedOut_ = std::move(top.image);
            *out = WalkEntry();
            out->leaf = handedOut_.data();
            out->leafSize = (uint32_t)handedOut_.size();
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
        stack_.pop_back();
    }
    return false;
}

bool TreeWalker::next(std::u16string* key, const uint8_t** data) {
    WalkEntry e;
    if (!next(&e)) return false;
    key->resize(e.units);
    for (uint32_t i = 0; i < e.units; ++i) key->at(i) = static_cast<char16_t>(keyunits::load1(e.key + 2 * i));
    *data = e.data;
    return true;
}

}  // namespace jbbtool
