// Tracing from several threads with the mutexes working (threadsDisabled
// = 0): writers go across segment switches while another thread resets
// tracing and opens it again.  A run that deadlocks (the two trace locks
// taken in opposite orders) or closes a stream under a writer does not
// finish or fails under ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "trace_fixture.h"
#include "tracefile.h"

namespace fs = std::filesystem;

namespace {

// Opens the ring `base` (3 segments of 1 MB) under traceFileMutex, so that
// no writer reads the settings while they change.
int openRing(const std::string& base) {
    TraceControl* tc = traceInstallControl();
    psMutexLock(&traceFileMutex, 1);
    tc->wrapEnabled = 1;
    tc->maxSizeMB = tc->segmentSizeMB = tc->lastSegmentSizeMB = 1;
    tc->segmentCount = 3;
    tc->currentSegment = 1;
    const int rc = traceOpen(base.c_str(), 1);
    psMutexUnlock(&traceFileMutex);
    return rc;
}

}  // namespace

TEST_F(TraceTest, ThreadsTraceAcrossSegmentSwitchesWhileAnotherResets) {
    threadsDisabled = 0;
    const std::string base = dir.file("ring");
    ASSERT_EQ(openRing(base), 0);
    std::atomic<bool> resetting{true};
    std::atomic<bool> stop{false};
    std::atomic<long> linesAfterResets{0};
    std::atomic<int> reopened{0};
    std::vector<std::thread> threads;
    const std::string filler(900, '.');
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            // Lines of about 930 bytes: some 1100 fill a segment.
            for (long n = 0; !stop; ++n) {
                tracePrintf("threads.cpp", 1, "thread %d line %08ld %s\n", t, n, filler.c_str());
                if (!resetting) ++linesAfterResets;
            }
        });
    }
    threads.emplace_back([&] {
        for (int cycle = 0; cycle < 12; ++cycle) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            traceReset(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (openRing(base) == 0) ++reopened;
        }
        resetting = false;
    });
    // After the last reopen: enough lines to go round the whole ring.
    while (resetting || linesAfterResets < 3600) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    for (std::thread& th : threads) th.join();
    traceClose(1);
    threadsDisabled = 1;
    EXPECT_EQ(reopened.load(), 12);

    // Every segment is a trace file of ours, and every line in it whole.
    for (int s = 1; s <= 3; ++s) {
        const std::string b = readFile(base + "." + std::to_string(s));
        ASSERT_GE(b.size(), traceWrapHeaderLength);
        EXPECT_EQ(b.compare(0, traceMagicLength, traceMagic), 0);
        EXPECT_LE(b.size(), 1048576u + 64);
        size_t at = traceWrapHeaderLength;
        while (at < b.size()) {
            size_t end = b.find('\n', at);
            if (end == std::string::npos) end = b.size();
            const std::string line = b.substr(at, end - at);
            if (line.compare(0, 7, "thread ") == 0 && line.size() > 30) {
                // A line cut short by a wrap is followed by a marker, never by
                // another thread's text inside it.
                EXPECT_TRUE(line.find("thread ", 1) == std::string::npos) << line.substr(0, 80);
            }
            at = end + 1;
        }
    }
    EXPECT_FALSE(fs::exists(base + ".4"));
}
