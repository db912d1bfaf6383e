// The measurements of `jbbtool stats`, taken in one sequential pass over
// the slots, for its text, JSON and HTML reports.
#pragma once

#include "journal.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dbimage.h"
#include "nodeview.h"
#include "slotscan.h"
#include "largevector.h"
#include "progress.h"
#include "safeoutput.h"

namespace jbbtool {

constexpr size_t kTopDirectories = 20;
// Columns of the file map: used, slack and free bytes along the file.
constexpr size_t kMapColumns = 400;
constexpr size_t kMaxChartDays = 50000;
// Levels of the tree that stats counts nodes of; a damaged file may chain
// nodes far deeper.
constexpr size_t kMaxLevels = 64;

// Key-length buckets in UTF-16 units: 16 wide up to 256, then doubling.
std::string bucketName(size_t b);
size_t bucketOf(size_t units);

struct NodeShape {
    int64_t offset;
    uint32_t nodeSize;
    uint32_t subscript;
    uint16_t count;
    bool leaf;
    uint32_t branch[branchesPerNode];
};

// Entries per directory, counted under a 64-bit hash of the directory's
// name in a flat table of 16 bytes an entry, so that memory stays small
// however many directories a journal names (a collision of two names is
// as likely as 1 in 10^10 at a million of them).  Each entry remembers
// one datum that holds the name, read back for the few that are shown.
class DirectoryCounter {
public:
    struct Slot {
        uint64_t hash;  // 0: empty
        uint32_t count;
        uint32_t where;  // node index << 4 | datum index
    };
    DirectoryCounter() : table_(1u << 12) {}
    // The hash of the directory of a key: its units up to the last
    // separator ('\\' or '/'), none when it has none.
    static uint64_t directoryHash(const uint8_t* key, uint32_t units) {
        // Looked for from the end, since the file name is the short part.
        uint32_t cut = units;
        while (cut > 0) {
            --cut;
            uint16_t u = (uint16_t)(key[2 * cut] | key[2 * cut + 1] << 8);
            if (u == '\\' || u == '/') break;
        }
        return hashBytes(key, 2 * (size_t)cut);
    }
    // Asks the processor for the table entry of hash h ahead of add(h):
    // the table is far larger than the caches, and a node's keys are
    // hashed first and added after, so their misses overlap.
    void prefetch(uint64_t h) const {
#if defined(__GNUC__)
        __builtin_prefetch(&table_[(size_t)h & (table_.size() - 1)]);
#else
        (void)h;
#endif
    }
    // Counts an entry under the directory hash h; `node` and `datum` say
    // where the name can be read back.
    void add(uint64_t h, uint32_t node, uint32_t datum) {
        if ((used_ + 1) * 8 > table_.size() * 7) grow();
        Slot& s = probe(h);
        if (s.hash == 0) {
            s = {h, 0, node << 4 | datum};
            ++used_;
        }
        ++s.count;
    }
    // The n entries with the most datums, most first.
    std::vector<Slot> top(size_t n) const {
        std::vector<Slot> v;
        auto more = [](const Slot& a, const Slot& b) {
            return a.count != b.count ? a.count > b.count : a.hash < b.hash;
        };
        for (const Slot& s : table_) {
            if (s.hash == 0) continue;
            v.push_back(s);
            std::push_heap(v.begin(), v.end(), more);
            if (v.size() > n) {
                std::pop_heap(v.begin(), v.end(), more);
                v.pop_back();
            }
        }
        std::sort(v.begin(), v.end(), more);
        return v;
    }
    size_t size() const { return used_; }

private:
    // A 64-bit hash of n bytes, eight at a time, never 0 (0 marks an empty
    // slot of the table).
    static uint64_t hashBytes(const uint8_t* p, size_t n) {
        const uint64_t k = 0x9E3779B97F4A7C15ull;
        uint64_t h = 0x243F6A8885A308D3ull ^ n;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, sizeof w);
            h = (h ^ w) * k;
            h ^= h >> 31;
        }
        uint64_t w = 0;
        std::memcpy(&w, p + i, n - i);
        h = (h ^ w) * k;
        // The finishing steps of MurmurHash3's 64-bit mix.
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 33;
        return h == 0 ? 1 : h;
    }
    Slot& probe(uint64_t h) {
        size_t mask = table_.size() - 1;
        for (size_t i = (size_t)h & mask;; i = (i + 1) & mask)
            if (table_[i].hash == 0 || table_[i].hash == h) return table_[i];
    }
    void grow() {
        LargeVector<Slot> old(table_.size() * 2);
        old.swap(table_);
        for (const Slot& s : old)
            if (s.hash != 0) probe(s.hash) = s;
    }
    LargeVector<Slot> table_;
    size_t used_ = 0;
};

struct Stats {
    uint64_t slots = 0, usedSlots = 0, freeSlots = 0, freeBytes = 0, usedSlotBytes = 0, nodeBytes = 0;
    uint64_t entries = 0;
    std::map<size_t, uint64_t> keyLengths;
    std::map<uint32_t, uint64_t> actions, types;
    int64_t oldestInserted = INT64_MAX, newestInserted = INT64_MIN, oldestObject = INT64_MAX, newestObject = INT64_MIN;
    DirectoryCounter dirs;
    std::vector<std::pair<std::u16string, uint64_t>> topDirs;
    LargeVector<NodeShape> nodes;
    // Per level from the root: nodes, and nodes by datum count (0..10).
    std::vector<std::vector<uint64_t>> levels;
    // The file map: bytes of node images, of slack and of free slots in
    // each of kMapColumns equal stretches of the file behind the control
    // record.
    std::vector<double> mapUsed, mapSlack, mapFree;
    // Entries per day of their inserted time, by action (index actionIndex).
    std::map<int64_t, std::vector<uint64_t>> perDay;
    uint64_t daysOmitted = 0;  // entries of days beyond kMaxChartDays
    uint64_t unparsed = 0;
    uint64_t damaged = 0;     // slots or nodes the pass could not use
    std::string treeProblem;  // why the tree cannot be read from its root; empty when it can
};

// The actions the time chart tells apart, and the index of an action code
// among them (the last index: any other code).
extern const uint32_t kChartActions[];
constexpr size_t kChartActionCount = 8;
size_t actionIndex(uint32_t action);

void collectStats(DbImage& db, Stats* st, ProgressLine& progress);

// The self-contained HTML page of `stats --html` (XHTML, inline SVG, no
// scripts).
std::string statsPage(const DbImage& db, const Stats& st);

// A page statsPage() made, recognised by its opening: what `stats --html`
// may replace.
extern const OutputKind kStatsPageKind;

}  // namespace jbbtool
