// The tree-shape walk of jbbtool's reader: the tree followed depth first
// from its root over what a pass kept of each node (its branches and how
// many it follows), without reading the file again.  Each node is entered
// once; a branch to no node, to a node on the way down (a cycle) or to a
// node walked already is reported and not followed.  `check` judges the
// shape from it, `stats` counts the nodes of each level.
//
// Contract:
// - The walk borrows the caller's node list through `Nodes` for the call
//   only; it owns just its per-node state (reached, depth), which it keeps
//   for questions after the walk, until the next walk.
// - The walk uses an explicit stack: any depth a damaged file makes costs
//   memory, not the call stack.
// - One thread walks and asks; the Nodes and Visitor run on it.
//
// Nodes:   size_t find(uint32_t subscript) const  (SubscriptIndex::kNone: none)
//          int branches(size_t node) const        (branches to follow, 0 for a leaf)
//          uint32_t branch(size_t node, int j) const
//          void prefetch(size_t node) const       (a hint: the node is walked soon)
// Visitor: void edge(size_t parent, int j, size_t child)  (before the child is entered)
//          void fault(ShapeFault, size_t node, int j, uint32_t subscript, size_t child)
//          void done(size_t node)                       (its subtree walked)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "largevector.h"
#include "subscriptindex.h"

namespace jbbtool {

enum class ShapeFault {
    NoBranch,      // an inner node's branch j is 0
    NoNode,        // branch j names a subscript that holds no node
    Cycle,         // branch j leads to a node on the way down to it
    ReachedTwice,  // branch j leads to a node walked already
};

class TreeShape {
public:
    template <class Nodes, class Visitor>
    void walk(size_t count, size_t root, const Nodes& nodes, Visitor& v) {
        state_.assign(count, kUnreached);
        depth_.assign(count, 0);
        if (root >= count) return;
        struct Frame {
            size_t node;
            int next;  // the next branch to follow
        };
        std::vector<Frame> stack;
        state_[root] = kOnPath;
        depth_[root] = 1;
        stack.push_back({root, 0});
        while (!stack.empty()) {
            Frame& f = stack.back();
            const size_t n = f.node;
            if (f.next == 0) {
                // The children lie anywhere in the node list: ask for all of
                // them at once rather than wait for each in turn.
                for (int j = 0; j < nodes.branches(n); ++j) {
                    const uint32_t sub = nodes.branch(n, j);
                    const size_t child = sub != 0 ? nodes.find(sub) : SubscriptIndex::kNone;
                    if (child < count) nodes.prefetch(child);
                }
            }
            if (f.next >= nodes.branches(n)) {
                state_[n] = kDone;
                v.done(n);
                stack.pop_back();
                continue;
            }
            const int j = f.next++;
            const uint32_t sub = nodes.branch(n, j);
            if (sub == 0) {
                v.fault(ShapeFault::NoBranch, n, j, sub, SubscriptIndex::kNone);
                continue;
            }
            const size_t child = nodes.find(sub);
            if (child == SubscriptIndex::kNone || child >= count) {
                v.fault(ShapeFault::NoNode, n, j, sub, SubscriptIndex::kNone);
                continue;
            }
            if (state_[child] != kUnreached) {
                v.fault(state_[child] == kOnPath ? ShapeFault::Cycle : ShapeFault::ReachedTwice, n, j, sub, child);
                continue;
            }
            state_[child] = kOnPath;
            depth_[child] = depth_[n] + 1;
            v.edge(n, j, child);
            stack.push_back({child, 0});  // may move `f`
        }
    }

    // After a walk: the node was reached from the root, and at which depth
    // (1 for the root).
    bool reached(size_t node) const { return state_[node] == kDone; }
    int32_t depth(size_t node) const { return depth_[node]; }

private:
    enum : uint8_t { kUnreached, kOnPath, kDone };
    LargeVector<uint8_t> state_;
    LargeVector<int32_t> depth_;
};

}  // namespace jbbtool
