// The structural verification behind `jbbtool check`: one sequential pass
// over the slots keeps a compact summary of every node (its place, its
// branches, and of its keys only those that order checks across nodes
// need), and the tree's shape is then checked from that summary.  Every
// finding has a stable code (see schema.h).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dbimage.h"
#include "nodeview.h"
#include "slotscan.h"

namespace jbbtool {

struct Finding {
    const char* code;
    uint32_t subscript;  // 0: none
    int64_t offset;      // -1: none
    std::string message;
};

// The finding classes in the order reports list them.
extern const char* const kFindingCodes[];
// Notes: noteworthy but sound.
constexpr const char* kNoteUnpairedSurrogate = "key-unpaired-surrogate";

struct CheckReport {
    std::vector<Finding> findings;           // the first kMaxListed of each class
    std::map<std::string, uint64_t> counts;  // per class, all of them
    std::vector<Finding> notes;
    uint64_t noteCount = 0;
    // What the pass met.
    uint64_t slots = 0, usedSlots = 0, freeSlots = 0;
    uint64_t reachableNodes = 0, entries = 0;
    int depth = 0;  // levels from the root to the leaves (the most common leaf depth)
    bool ioFailed = false;
    std::string ioError;
    uint64_t total() const;
};

constexpr size_t kMaxListed = 1000;

// Why the file is no journal database, in the words of check's ctrl-short,
// ctrl-magic and ctrl-version findings; empty when its control record has
// this format's magic number and version.
std::string notAJournal(const DbImage& db);

// Checks the file; `progress` (may be empty) is called with the offset the
// pass has reached.
void checkDatabase(DbImage& db, CheckReport* report, std::function<void(int64_t)> progress);

}  // namespace jbbtool
