// An independent reader of journal database files for tests: parses a file
// image and returns its control record and all its entries in key order,
// found by walking the tree from the root.  It checks everything it reads
// and stops with an error text on anything a valid file cannot hold (it is
// meant for checking files after a run, not for repairing them).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dbwriter.h"

namespace testdb {

struct DbContents {
    bool ok = false;
    std::string error;  // why the file is not a valid tree (ok false)
    CtrlRec ctrl;
    uint64_t fileSize = 0;
    std::vector<std::pair<std::u16string, Bytes>> entries;  // key order
    int height = 0;                                         // levels of the tree; 0 for a file without slots
    size_t usedSlots = 0;
    size_t freeSlots = 0;
};

DbContents readDb(const Bytes& image);
DbContents readDbFile(const std::string& path);

// "" when the two images are equal, else where they first differ.
std::string firstDifference(const Bytes& expected, const Bytes& actual);

// Checks the database file at `path` after a run against its image before
// the run: "" when it reads as a valid tree in state dbClosed with the same
// journal type and the same entries; else what is wrong.
std::string checkClosedAndUnchanged(const Bytes& before, const std::string& path);

}  // namespace testdb
