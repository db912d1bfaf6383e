// Synthetic journal entries: Windows-style fully qualified object names
// (user profiles, project trees, network shares, archives; some in other
// scripts, a few with characters outside the basic plane) with plausible
// actions, object types and times.  Everything follows from the seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal.h"

namespace jbbgen {

// splitmix64: a small generator whose sequence is the same on every
// platform and standard library.
class Prng {
public:
    explicit Prng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number in [0, n), n > 0.  Rejects the top sliver of the range so
    // that every value is equally likely.
    uint64_t below(uint64_t n) {
        const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
        uint64_t x;
        do {
            x = next();
        } while (x >= limit);
        return x % n;
    }
    bool percent(unsigned p) { return below(100) < p; }

private:
    uint64_t state_;
};

// A set of 64-bit hashes of the keys handed out so far (open addressing),
// so that keys stay unique without keeping the keys themselves.  Two keys
// with one hash count as the same: the generator then merely draws again.
class HashSet {
public:
    HashSet() : slots_(1024, 0) {}
    // Adds h; false if it was there already.
    bool insert(uint64_t h);

private:
    std::vector<uint64_t> slots_;  // 0 = empty
    size_t used_ = 0;
};

class SyntheticEntries {
public:
    // `directoriesOnly`: every entry names a directory (for a journal of
    // directories that need an incremental backup).  Inserted times fall
    // in the 90 days from `baseTime`.
    SyntheticEntries(uint64_t seed, bool directoriesOnly, int64_t baseTime);

    // The next entry, its key unlike every key before.  False only if no
    // new key turned up in many draws (the name space is far larger than
    // any count the program accepts).
    bool next(std::u16string* key, journalRec* rec);

private:
    void makeName(std::u16string* key, bool directory);
    void appendRoot(std::u16string* s);
    void appendFolder(std::u16string* s);
    void appendFileName(std::u16string* s);
    void appendNumber(std::u16string* s, uint64_t n, int width = 0);

    Prng rng_;
    HashSet seen_;
    bool directoriesOnly_;
    int64_t baseTime_;
};

}  // namespace jbbgen
