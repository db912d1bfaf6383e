// What a walk of the tree reads ahead before it descends into an inner
// node, the same for the engine's prefetch (nodecache.cpp) and for
// jbbtool's tree walker: the children that the node's header names that
// are not at hand yet, in one batch of reads, then the children of those
// children that are inner nodes, in a second.  Each batch stays within
// bounds on its nodes and bytes, whatever branches and sizes a damaged
// file gives; what is left out is read when the walk reaches it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"

namespace readahead {

// One batch: the branches of eleven nodes, and a bound on their bytes.
constexpr size_t maxNodes = branchesPerNode * branchesPerNode;
constexpr uint64_t maxBytes = 4u << 20;

// Calls f(subscript) for each branch an inner node's header names, in
// order: branch 0 to branch `count` (at most the last branch), skipping
// the zeros; nothing for a leaf.
template <class F>
inline void forEachChild(const nodeHeader& h, F&& f) {
    if (h.branch[0] == 0) return;
    const int last = h.count < maxDatumsPerNode ? h.count : maxDatumsPerNode;
    for (int i = 0; i <= last; ++i)
        if (h.branch[i] != 0) f(h.branch[i]);
}

// A node size worth a read ahead: one that a node can have.
constexpr bool sizeReadable(uint64_t nodeSize) { return nodeSize >= nodeHeaderSize && nodeSize <= maxNodeSize; }

}  // namespace readahead
