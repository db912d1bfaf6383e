// Positioned and batched reads of a database file against the bytes
// written: every request gets exactly its bytes, fewer at the end of the
// file, none past it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "dbfile.h"
#include "platform.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TEST(DbFile, BatchedReadsMatchTheFile) {
    fs::path path = fs::temp_directory_path() / ("jbb_dbfile_test_" + std::to_string(plat::processId()) + ".bin");
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

#if !defined(_WIN32)
// With no descriptor left for the system's batch reader, a batch is read
// the plain way, and giving up on the reader closes no descriptor of the
// process.
TEST(DbFile, BatchedReadsWithoutADescriptorToSpareReadTheSame) {
    fs::path path = fs::temp_directory_path() / ("jbb_dbfile_nofd_" + std::to_string(plat::processId()) + ".bin");
    std::vector<uint8_t> bytes(20000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)(i * 7);
    plat::DbFile* f = plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::Create);
    ASSERT_NE(nullptr, f);
    ASSERT_EQ((int64_t)bytes.size(), f->writeAt(0, bytes.data(), bytes.size()));

    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
    std::vector<int> fillers;
    for (int fd = dup(2); fd >= 0 && fillers.size() < 4096; fd = dup(2)) {
        fillers.push_back(fd);
        if (fillers.size() == 1) {
            rlimit lim = old;
            lim.rlim_cur = (rlim_t)fd + 1;
            ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &lim));
        }
    }
    std::vector<plat::ReadRequest> reqs(11);
    std::vector<std::vector<uint8_t>> bufs(reqs.size(), std::vector<uint8_t>(1000));
    for (size_t i = 0; i < reqs.size(); ++i) {
        reqs[i].pos = (int64_t)(i * 1500);
        reqs[i].buf = bufs[i].data();
        reqs[i].len = bufs[i].size();
    }
    f->readBatch(reqs.data(), reqs.size());
    int closeFailures = 0;
    for (int fd : fillers) closeFailures += close(fd) != 0;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &old));
    EXPECT_EQ(0, closeFailures) << "a descriptor of the process was closed";
    EXPECT_NE(-1, fcntl(0, F_GETFD)) << "standard input was closed";
    for (size_t i = 0; i < reqs.size(); ++i) {
        ASSERT_EQ(1000, reqs[i].got) << i;
        EXPECT_TRUE(std::equal(bufs[i].begin(), bufs[i].end(), bytes.begin() + reqs[i].pos)) << i;
    }
    delete f;
    fs::remove(path);
}
#endif
