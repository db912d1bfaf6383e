// A structural checker of database files for tests.  It parses the file
// image on its own (no engine code) and reports every way in which the file
// differs from what the engine must leave behind: keys strictly ascending
// across the whole tree, every node but the root holding 5 to 10 datums,
// all leaves at one depth, slots tiling the file from 2088 without gaps,
// every used subscript naming exactly one slot and every used slot
// reachable from the root, free slots in state 1, nodeSize equal to 72
// plus the datums' lengths, lastNDRec/lastIndex naming the last slot,
// rootOffset naming a used slot, and the control record's state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbwriter.h"

namespace testdb {

// What the checker found out about a file on the way.
struct TreeShape {
    uint64_t entries = 0;  // datums in the tree
    int height = 0;        // levels; 1 for a root that is a leaf
    size_t nodes = 0;      // nodes reached from the root
    size_t usedSlots = 0;
    size_t freeSlots = 0;
    uint32_t root = 0;       // rootOffset
    unsigned rootCount = 0;  // datums in the root
    // The keys of every node, level by level from the root, each level's
    // nodes in key order.
    std::vector<std::vector<std::vector<std::u16string>>> levels;
};

// The problems found in `image`, one text each; empty when the file is
// sound.  `expectedState` is the control record state the file must have.
std::vector<std::string> checkTree(const Bytes& image, uint32_t expectedState = kDbClosed, TreeShape* shape = nullptr);
std::vector<std::string> checkTreeFile(const std::string& path, uint32_t expectedState = kDbClosed,
                                       TreeShape* shape = nullptr);

// The problems joined into one text for a test's failure message.
std::string joinProblems(const std::vector<std::string>& problems);

}  // namespace testdb
