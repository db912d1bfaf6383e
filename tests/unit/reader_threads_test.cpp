// jbbtool's passes that work on two processors must give what one gives:
// dump's pipe from the walking thread to the writing one, stats'
// directory counting and the reader's windows read ahead, each with a
// second thread and with none (as on a system that refuses one).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dbimage.h"
#include "dbwriter.h"
#include "entrypipe.h"
#include "nodebuffer.h"
#include "progress.h"
#include "secondthread.h"
#include "stats.h"
#include "viewrun.h"

namespace {

using jbbtool::SecondThread;

// Runs f with threads allowed, then refused, and returns both results.
template <class F>
std::pair<std::string, std::string> besideAndInline(F f) {
    std::string beside = f();
    SecondThread::refuseThreadsForTesting(true);
    std::string alone = f();
    SecondThread::refuseThreadsForTesting(false);
    return {beside, alone};
}

// Entries, whole leaves (pooled and larger buffers) and problems, enough
// for many batches, must arrive whole and in order.
std::string pipeRun(std::string* expected) {
    constexpr uint16_t kDataLen = 6;
    jbbtool::NodeBufferPool pool;
    std::string got;
    expected->clear();
    const int rc = jbbtool::pipeEntries(
        kDataLen,
        [&](jbbtool::EntrySink& out) {
            for (uint32_t i = 0; i < 30000; ++i) {
                if (i % 13 == 0) {
                    out.problem("problem " + std::to_string(i));
                    *expected += "P" + std::to_string(i) + ";";
                } else if (i % 7 == 0) {
                    const size_t n = i % 5 == 0 ? 9000 + i % 100 : 72 + i % 3000;  // some beyond the pooled size
                    jbbtool::NodeBuffer b = pool.get(n);
                    for (size_t k = 0; k < n; ++k) b.data()[k] = (uint8_t)(i + k);
                    jbbtool::WalkEntry e;
                    e.leaf = b.data();
                    e.leafSize = (uint32_t)n;
                    e.subscript = i;
                    e.offset = 10 * (int64_t)i;
                    out.putLeaf(e, std::move(b));
                    *expected += "L" + std::to_string(i) + "/" + std::to_string(n) + ";";
                } else {
                    const char16_t key[2] = {(char16_t)(i & 0xFFFF), (char16_t)(i >> 16)};
                    const uint8_t data[kDataLen] = {(uint8_t)i, 1, 2, 3, 4, (uint8_t)(i >> 3)};
                    jbbtool::WalkEntry e;
                    e.key = reinterpret_cast<const uint8_t*>(key);
                    e.units = 2;
                    e.data = data;
                    out.put(e);
                    *expected += "E" + std::to_string(i) + ";";
                }
            }
            return 7;
        },
        [&](const jbbtool::PipeItem& it) {
            if (it.problem != nullptr) {
                got += "P" + it.problem->substr(8) + ";";
                return;
            }
            if (it.entry.leaf != nullptr) {
                const uint32_t i = it.entry.subscript;
                bool intact = it.entry.offset == 10 * (int64_t)i;
                for (size_t k = 0; k < it.entry.leafSize && intact; ++k) intact = it.entry.leaf[k] == (uint8_t)(i + k);
                got += "L" + std::to_string(i) + "/" + std::to_string(it.entry.leafSize) + (intact ? ";" : "!;");
                return;
            }
            char16_t key[2] = {};
            std::memcpy(key, it.entry.key, sizeof key);
            const uint32_t i = (uint32_t)key[0] | (uint32_t)key[1] << 16;
            const bool intact =
                it.entry.units == 2 && it.entry.data[0] == (uint8_t)i && it.entry.data[5] == (uint8_t)(i >> 3);
            got += "E" + std::to_string(i) + (intact ? ";" : "!;");
        });
    return got + "rc" + std::to_string(rc);
}

TEST(ReaderThreads, ThePipeHandsOverEverythingInOrderWithOrWithoutASecondThread) {
    std::string expected;
    const auto r = besideAndInline([&] { return pipeRun(&expected); });
    EXPECT_EQ(r.first, expected + "rc7");
    EXPECT_EQ(r.second, expected + "rc7");
}

TEST(ReaderThreads, StatsCountsTheSameDirectoriesWithOrWithoutASecondThread) {
    using namespace testdb;
    TempDir dir;
    const std::string path = dir.file("s.jbbdb");
    ASSERT_TRUE(writeFile(path, buildTree(journalEntries(3000, 9), JournalInfo()).image()));
    auto run = [&] {
        jbbtool::DbImage db;
        std::string err;
        if (!db.open(path, &err)) return err;
        jbbtool::Stats st;
        jbbtool::ProgressLine progress("stats", db.size());
        jbbtool::collectStats(db, &st, progress);
        std::string s = std::to_string(st.entries) + " entries, " + std::to_string(st.dirs.size()) + " directories:";
        for (const auto& d : st.topDirs) s += " " + utf16ToUtf8(d.first) + "=" + std::to_string(d.second);
        return s;
    };
    const auto r = besideAndInline(run);
    EXPECT_EQ(r.first, r.second);
    EXPECT_NE(r.first.find("3000 entries"), std::string::npos) << r.first;
}

// Views of every size up to a whole window, in order, straddling window
// ends, jumping back and running into the end of the file, read with the
// next window read ahead: each must hold the file's own bytes.
TEST(ReaderThreads, ViewsReadAheadHoldTheFilesBytes) {
    using namespace testdb;
    TempDir dir;
    const std::string path = dir.file("w.bin");
    std::string bytes(5 * jbbtool::DbImage::kWindowBytes + 12345, '\0');
    uint32_t x = 12345;
    for (char& c : bytes) c = (char)((x = x * 1103515245u + 12345u) >> 23);
    ASSERT_TRUE(writeFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end())));
    auto run = [&] {
        jbbtool::DbImage db;
        std::string err;
        if (!db.open(path, &err)) return err;
        db.readAhead();
        std::string wrong;
        uint32_t r = 7;
        int64_t pos = 0;
        int views = 0;
        while (pos < (int64_t)bytes.size()) {
            r = r * 1103515245u + 12345u;
            size_t n = 1 + (r >> 8) % 3000;
            if (r % 61 == 0) n = jbbtool::DbImage::kAheadOverlap + (r >> 4) % 5000;  // beyond the overlap
            if (r % 211 == 0) n = jbbtool::DbImage::kWindowBytes;
            size_t got;
            const uint8_t* p = db.view(pos, n, &got);
            const size_t want = std::min<size_t>(n, bytes.size() - (size_t)pos);
            if (p == nullptr || got != want || std::memcmp(p, bytes.data() + pos, got) != 0)
                wrong += " at " + std::to_string(pos) + "+" + std::to_string(n);
            ++views;
            if (r % 97 == 0 && pos > 100000)
                pos -= 100000;  // back, as the slot pass does when it looks for a lost slot
            else
                pos += (int64_t)(1 + n / 2 + (r >> 3) % (n / 2 + 1));
        }
        return std::to_string(views) + " views, wrong:" + wrong;
    };
    const auto r = besideAndInline(run);
    EXPECT_EQ(r.first, r.second);
    EXPECT_NE(r.first.find("wrong:"), std::string::npos);
    EXPECT_EQ(r.first.substr(r.first.find("wrong:")), "wrong:");
}

}  // namespace
