// Several reads of one file handed to the system at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Batches a file may have begun and not ended at a time
// (DbFile::readBatchBegin): one read ahead, and one read at once.
constexpr size_t maxBatchesBegun = 2;

struct ReadRequest {
    int64_t pos = 0;  // file position
    void* buf = nullptr;
    size_t len = 0;
    int64_t got = 0;  // bytes read (fewer than len at the end of the file), or -1
    int err = 0;      // errno when got is -1
};

}  // namespace plat
