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
#include "helpermode.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A batch of requests at random places, some running past the end of the
// file, some starting beyond it, each with a buffer of its own.
struct RandomBatch {
    RandomBatch(size_t n, size_t fileBytes, std::mt19937& rng) : reqs(n), bufs(n) {
        for (size_t i = 0; i < n; ++i) {
            size_t len = 1 + rng() % 5000;
            bufs[i].assign(len, 0xCC);
            reqs[i].pos = (int64_t)(rng() % (fileBytes + 3000));
            reqs[i].buf = bufs[i].data();
            reqs[i].len = len;
        }
    }
    // Every request got exactly the file's bytes it asked for.
    void check(const std::vector<uint8_t>& bytes) const {
        for (size_t i = 0; i < reqs.size(); ++i) {
            int64_t avail = std::max<int64_t>(0, (int64_t)bytes.size() - reqs[i].pos);
            int64_t expect = std::min<int64_t>(avail, (int64_t)reqs[i].len);
            ASSERT_EQ(expect, reqs[i].got) << "request " << i;
            EXPECT_TRUE(std::equal(bufs[i].begin(), bufs[i].begin() + expect, bytes.begin() + reqs[i].pos));
        }
    }
    std::vector<plat::ReadRequest> reqs;
    std::vector<std::vector<uint8_t>> bufs;
};

}  // namespace

// Read at once, or begun and ended later (two at a time, or one more that
// ends the oldest first), with a second thread, without, and after the
// file is told to read alone.
TEST(DbFile, BatchedReadsMatchTheFile) {
    fs::path path = fs::temp_directory_path() / ("jbb_dbfile_test_" + std::to_string(plat::processId()) + ".bin");
    std::vector<uint8_t> bytes(300000);
    std::mt19937 rng(5);
    for (auto& b : bytes) b = (uint8_t)rng();
    for (int helper : {1, 0}) {
        SCOPED_TRACE(helper);
        // (A file starts its helper at its first batch.)
        ReadHelperMode mode(helper);
        plat::DbFile* f = plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::Create);
        ASSERT_NE(nullptr, f);
        ASSERT_EQ((int64_t)bytes.size(), f->writeAt(0, bytes.data(), bytes.size()));
        EXPECT_EQ((int64_t)bytes.size(), f->size());

        for (size_t n : {1u, 2u, 11u, 121u, 300u}) {
            SCOPED_TRACE(n);
            RandomBatch b(n, bytes.size(), rng);
            f->readBatch(b.reqs.data(), n);
            b.check(bytes);
        }
        for (int round = 0; round < 20; ++round) {
            RandomBatch a(121, bytes.size(), rng), b(11, bytes.size(), rng), c(60, bytes.size(), rng);
            f->readBatchBegin(a.reqs.data(), a.reqs.size());
            f->readBatchBegin(b.reqs.data(), b.reqs.size());
            f->readBatchEnd();
            a.check(bytes);
            f->readBatchBegin(c.reqs.data(), c.reqs.size());
            f->readBatchEnd();
            b.check(bytes);
            f->readBatchEnd();
            c.check(bytes);
            f->readBatchEnd();  // none begun
            RandomBatch d(50, bytes.size(), rng), e(2, bytes.size(), rng), g(1, bytes.size(), rng);
            f->readBatchBegin(d.reqs.data(), d.reqs.size());
            f->readBatchBegin(e.reqs.data(), e.reqs.size());
            f->readBatchBegin(g.reqs.data(), g.reqs.size());  // ends d first
            d.check(bytes);
            f->readBatchEnd();
            f->readBatchEnd();
            e.check(bytes);
            g.check(bytes);
        }
        // Reading alone from now on ends what is begun, and reads the same.
        RandomBatch begun(121, bytes.size(), rng), alone(121, bytes.size(), rng);
        f->readBatchBegin(begun.reqs.data(), begun.reqs.size());
        f->readAlone();
        begun.check(bytes);
        f->readBatch(alone.reqs.data(), alone.reqs.size());
        alone.check(bytes);
        // Closing the file ends what is begun.
        RandomBatch last(121, bytes.size(), rng);
        f->readBatchBegin(last.reqs.data(), last.reqs.size());
        delete f;
        last.check(bytes);
    }
    plat::DbFile* f = plat::DbFile::open(path.string().c_str(), plat::DbFile::Mode::Existing);
    ASSERT_NE(nullptr, f);
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
    // The file's own batch reader alone: with no descriptor to spare, the
    // sanitizers' checks of a new thread cannot read what they need.
    ReadHelperMode mode(0);
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
