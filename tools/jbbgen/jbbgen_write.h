// Writing a journal through the engine, for jbbgen and for jbbtool's
// rebuild: the control area made from the options, the order in which
// entries are inserted, and the file itself, created, filled and closed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jbbgen_names.h"
#include "jbbgen_options.h"
#include "journal.h"

class bTree;

namespace jbbgen {

// The journal control area that the options describe.
journalInfo makeJournalArea(const Options& o);

// Text of an engine error number: the engine's own codes by name, the
// rest as the run-time's errno texts.
std::string engineErrorText(int code);

// Insertion order of `n` entries held in memory: `less(a, b)` orders two
// entries by key.  Random order is a Fisher-Yates shuffle with the seed.
template <typename Less>
std::vector<uint32_t> insertionOrder(size_t n, Order order, uint64_t seed, Less less) {
    std::vector<uint32_t> idx(n);
    for (size_t i = 0; i < n; ++i) idx[i] = static_cast<uint32_t>(i);
    if (order == Order::Sorted) {
        std::sort(idx.begin(), idx.end(), less);
    } else if (order == Order::Random && n > 1) {
        Prng rng(seed);
        for (size_t i = n - 1; i > 0; --i) std::swap(idx[i], idx[rng.below(i + 1)]);
    }
    return idx;
}

// A journal file being written through the engine: created with its
// control area, filled by insert(), then closed, or abandoned, which
// removes the half-made file.  Every failure gives a one-line text.
class JournalFile {
public:
    explicit JournalFile(uint16_t dataLen);
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Creates the database `file`, the new file that SafeOutput names beside
    // the target (a file there is replaced), and writes
    // `area` into its control record; messages call it `name` (the target
    // that a new file beside it is written for).  False with `err` set; no
    // file is left behind then.
    bool create(const std::string& file, const std::string& name, const journalInfo& area, std::string* err);
    // Inserts a key (NUL-terminated) with its record of dataLen bytes: 0
    // done, 1 the key was there already, -1 failed (`err` set to the
    // engine's error text).
    int insert(const char16_t* key, const uint8_t* rec, std::string* err);
    // Closes the file, writing out what the engine holds.  False with `err`
    // set, and the file removed.
    bool close(std::string* err);
    // Closes without writing out and removes the file.
    void abandon();

private:
    bTree* db_;
    std::string tempFile_, name_;
    bool open_ = false;
};

}  // namespace jbbgen
