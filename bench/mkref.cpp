// Builds the sqlite3 reference of a journal for the benchmarks: the same
// entries in a WITHOUT ROWID table keyed by the name, inserted in a
// shuffled order (as a journal receives its entries).
//   mkref JOURNAL.jbbdb REF.db [SEED]
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "jbbtreev.h"

namespace {

std::string toUtf8(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s) {
        uint32_t c = *s;
        if (c >= 0xD800 && c < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Row {
    std::string name;
    uint8_t rec[32];
};

class Collect : public bTree {
public:
    Collect() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override {
        Row r;
        r.name = toUtf8(key);
        std::memcpy(r.rec, data, 32);
        rows.push_back(std::move(r));
        return 0;
    }
    std::vector<Row> rows;
};

bool exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "mkref: %s: %s\n", sql, err ? err : "?");
        sqlite3_free(err);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: mkref JOURNAL.jbbdb REF.db [SEED]\n");
        return 2;
    }
    Collect journal;
    journal.setOpenExistingOnly(true);
    if (int rc = journal.openBtDb(argv[1], 0)) {
        std::fprintf(stderr, "mkref: cannot open %s: %d\n", argv[1], rc);
        return 1;
    }
    int rc = journal.WalkTree();
    journal.closeBtDb(nullptr, 1);
    if (rc != 0) {
        std::fprintf(stderr, "mkref: walk failed: %d\n", rc);
        return 1;
    }
    std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
    std::shuffle(journal.rows.begin(), journal.rows.end(), rng);

    std::remove(argv[2]);
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[2], &db) != SQLITE_OK) return 1;
    if (!exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;") ||
        !exec(db, "CREATE TABLE j(name TEXT PRIMARY KEY, rec BLOB) WITHOUT ROWID") || !exec(db, "BEGIN"))
        return 1;
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO j VALUES(?, ?)", -1, &ins, nullptr);
    for (const Row& r : journal.rows) {
        sqlite3_bind_text(ins, 1, r.name.data(), (int)r.name.size(), SQLITE_STATIC);
        sqlite3_bind_blob(ins, 2, r.rec, 32, SQLITE_STATIC);
        if (sqlite3_step(ins) != SQLITE_DONE) {
            std::fprintf(stderr, "mkref: insert failed: %s\n", sqlite3_errmsg(db));
            return 1;
        }
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    if (!exec(db, "COMMIT")) return 1;
    sqlite3_close(db);
    std::printf("mkref: %zu rows in %s\n", journal.rows.size(), argv[2]);
    return 0;
}
