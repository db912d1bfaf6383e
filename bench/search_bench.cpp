// 10,000 random point look-ups by name: the engine's Search on a journal
// against sqlite3's prepared statement on its reference table.
//   search_bench JOURNAL.jbbdb REF.db [benchmark options]
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "jbbtreev.h"

namespace {

const char* journalPath = nullptr;
const char* refPath = nullptr;
std::vector<std::u16string> keys16;
std::vector<std::string> keys8;

std::string toUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80)
            out += (char)c;
        else if (c < 0x800)
            out += {(char)(0xC0 | (c >> 6)), (char)(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            out += {(char)(0xE0 | (c >> 12)), (char)(0x80 | ((c >> 6) & 0x3F)), (char)(0x80 | (c & 0x3F))};
        else
            out += {(char)(0xF0 | (c >> 18)), (char)(0x80 | ((c >> 12) & 0x3F)), (char)(0x80 | ((c >> 6) & 0x3F)),
                    (char)(0x80 | (c & 0x3F))};
    }
    return out;
}

// Every 97th key of the journal, shuffled: 10,000 of them when there are enough.
class Sampler : public bTree {
public:
    Sampler() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t*) override {
        if (seen++ % 97 == 0) keys16.emplace_back(key);
        return 0;
    }
    uint64_t seen = 0;
};

bool loadKeys() {
    Sampler s;
    s.setOpenExistingOnly(true);
    if (s.openBtDb(journalPath, 0) != 0 || s.WalkTree() != 0) return false;
    s.closeBtDb(nullptr, 1);
    std::mt19937_64 rng(7);
    std::shuffle(keys16.begin(), keys16.end(), rng);
    if (keys16.size() > 10000) keys16.resize(10000);
    for (auto& k : keys16) keys8.push_back(toUtf8(k));
    return !keys16.empty();
}

void EngineSearch(benchmark::State& state) {
    bTree db(32, 0);
    db.setOpenExistingOnly(true);
    if (db.openBtDb(journalPath, 0) != 0) {
        state.SkipWithError("cannot open the journal");
        return;
    }
    for (auto _ : state) {
        size_t found = 0;
        for (const auto& k : keys16) found += db.Search(k.c_str()) != nullptr;
        if (found != keys16.size()) state.SkipWithError("a key was not found");
    }
    state.counters["lookups"] = (double)keys16.size();
    db.closeBtDb(nullptr, 1);
}

void SqliteLookup(benchmark::State& state) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(refPath, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        state.SkipWithError("cannot open the reference");
        return;
    }
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT rec FROM j WHERE name = ?", -1, &q, nullptr);
    for (auto _ : state) {
        size_t found = 0;
        for (const auto& k : keys8) {
            sqlite3_bind_text(q, 1, k.data(), (int)k.size(), SQLITE_STATIC);
            if (sqlite3_step(q) == SQLITE_ROW) ++found;
            sqlite3_reset(q);
        }
        if (found != keys8.size()) state.SkipWithError("a key was not found");
    }
    state.counters["lookups"] = (double)keys8.size();
    sqlite3_finalize(q);
    sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: search_bench JOURNAL.jbbdb REF.db [benchmark options]\n");
        return 2;
    }
    journalPath = argv[1];
    refPath = argv[2];
    if (!loadKeys()) {
        std::fprintf(stderr, "search_bench: no keys from %s\n", journalPath);
        return 1;
    }
    argv[2] = argv[0];
    int rest = argc - 2;
    char** restv = argv + 2;
    benchmark::Initialize(&rest, restv);
    benchmark::RegisterBenchmark("EngineSearch", EngineSearch)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SqliteLookup", SqliteLookup)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
