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

// What sets synthetic journals apart from one another, beyond the seed.
// The defaults give jbbgen's usual journal; each setting that differs
// draws its own numbers, so that the defaults keep their entries.
struct EntryShape {
    // Entries per directory on average, from 1; 0: each name is drawn on
    // its own, and many entries share a few thousand directories.  A
    // directory gets the whole or the next whole number of entries, so
    // that the mean is what is asked.
    double perDirectory = 0;
    // Inserted times fall in the `insertedSpan` seconds from the base time.
    int64_t insertedSpan = 90 * 86400;
    // Object times lie up to `objectSpan` seconds before the inserted time;
    // -1: moments before it, or up to three years for a deleted object.
    int64_t objectSpan = -1;
    // The last 8 bytes of each record (carried, never shown) hold seeded
    // bytes, never all zero, instead of zeros.
    bool fillOpaque = false;
};

class SyntheticEntries {
public:
    // `directoriesOnly`: every entry names a directory (for a journal of
    // directories that need an incremental backup).  Inserted times fall
    // in the span of `shape` from `baseTime`.
    SyntheticEntries(uint64_t seed, bool directoriesOnly, int64_t baseTime, const EntryShape& shape = EntryShape());

    // The next entry, its key unlike every key before.  False only if no
    // new key turned up in many draws (the name space is far larger than
    // any count the program accepts).
    bool next(std::u16string* key, journalRec* rec);

private:
    void makeName(std::u16string* key, bool directory);
    // A name in the current directory of --per-directory, which is made
    // anew when its entries are used up.
    void makeNameInDirectory(std::u16string* key, bool directory);
    void nextDirectory();
    void appendRoot(std::u16string* s);
    void appendFolder(std::u16string* s);
    void appendFileName(std::u16string* s);
    void appendNumber(std::u16string* s, uint64_t n, int width = 0);

    Prng rng_;
    HashSet seen_;
    bool directoriesOnly_;
    int64_t baseTime_;
    EntryShape shape_;
    HashSet directoriesSeen_;
    std::u16string directory_;
    uint64_t directoryLeft_ = 0;  // entries still to come in directory_
    uint64_t directoriesMade_ = 0;
};

}  // namespace jbbgen
