// Positioned and batched reads of a database file against the bytes
// written: every request gets exactly its bytes, fewer at the end of the
// file, none past it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "dbfile.h"

namespace fs = std::filesystem;

TEST(DbFile, BatchedReadsMatchTheFile) {
    fs::path path = fs::temp_directory_path() / "jbb_dbfile_test.bin";
    std::vector<uint8_t> bytes(300000);
    std::mt19937 rng(5);
    for (auto& b : bytes) b = (uint8_t)rng();
    plat::DbFile* f = plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::Create);
    ASSERT_NE(nullptr, f);
    ASSERT_EQ((int64_t)bytes.size(), f->writeAt(0, bytes.data(), bytes.size()));
    EXPECT_EQ((int64_t)bytes.size(), f->size());

    for (size_t n : {1u, 2u, 11u, 121u, 300u}) {
        SCOPED_TRACE(n);
        std::vector<plat::ReadRequest> reqs(n);
        std::vector<std::vector<uint8_t>> bufs(n);
        for (size_t i = 0; i < n; ++i) {
            size_t len = 1 + rng() % 5000;
            // Some requests run past the end of the file, some start beyond it.
            int64_t pos = (int64_t)(rng() % (bytes.size() + 3000));
            bufs[i].assign(len, 0xCC);
            reqs[i].pos = pos;
            reqs[i].buf = bufs[i].data();
            reqs[i].len = len;
        }
        f->readBatch(reqs.data(), n);
        for (size_t i = 0; i < n; ++i) {
            int64_t avail = std::max<int64_t>(0, (int64_t)bytes.size() - reqs[i].pos);
            int64_t expect = std::min<int64_t>(avail, (int64_t)reqs[i].len);
            ASSERT_EQ(expect, reqs[i].got) << "request " << i;
            EXPECT_TRUE(std::equal(bufs[i].begin(), bufs[i].begin() + expect, bytes.begin() + reqs[i].pos));
        }
    }
    EXPECT_TRUE(f->truncate());
    EXPECT_EQ(0, f->size());
    uint8_t b;
    EXPECT_EQ(0, f->readAt(0, &b, 1));
    delete f;
    fs::remove(path);
    errno = 0;
    EXPECT_EQ(nullptr, plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::Existing));
    EXPECT_EQ(ENOENT, errno);
}
