// The second reading thread: however batches are begun, read at once and
// finished, every request is read exactly once, by one thread or the
// other, before its batch is finished, and batches finish oldest first.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "helpermode.h"

namespace {

// What a test request records: how often it was read.
struct Target {
    std::atomic<int> reads{0};
};

// Reads a batch at once: begun, then every batch begun finished.
void readAll(plat::ReadHelper* h, plat::ReadRequest* reqs, size_t n) {
    h->begin(reqs, n);
    while (h->begun() > 0) h->finishOldest();
}

// Reads by counting; every seventh request takes a little longer, so that
// the two threads interleave differently from batch to batch.
void countReads(plat::ReadRequest* reqs, size_t n, bool) {
    for (size_t i = 0; i < n; ++i) {
        auto* t = static_cast<Target*>(reqs[i].buf);
        t->reads.fetch_add(1);
        if (reqs[i].pos % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
        reqs[i].got = (int64_t)reqs[i].len;
    }
}

struct Batch {
    explicit Batch(size_t n, int64_t first = 0) : targets(n), reqs(n) {
        for (size_t i = 0; i < n; ++i) {
            reqs[i].pos = first + (int64_t)i;
            reqs[i].buf = &targets[i];
            reqs[i].len = 1;
            reqs[i].got = -1;
        }
    }
    // Every request read exactly once.
    bool readOnce() const {
        for (size_t i = 0; i < reqs.size(); ++i)
            if (targets[i].reads.load() != 1 || reqs[i].got != 1) return false;
        return true;
    }
    std::vector<Target> targets;
    std::vector<plat::ReadRequest> reqs;
};

}  // namespace

TEST(ReadHelper, EveryRequestIsReadOnceBeforeItsBatchIsFinished) {
    plat::ReadHelper* h = nullptr;
    {
        ReadHelperMode mode(1);
        h = plat::ReadHelper::start(countReads);
    }
    ASSERT_NE(nullptr, h);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        for (size_t n : {1u, 2u, 5u, 121u, 1000u}) {
            Batch b(n, round);
            readAll(h, b.reqs.data(), n);
            ASSERT_TRUE(b.readOnce()) << n;
        }
        // Two begun, finished in turn: the older first.
        Batch a(40, round), b(90, round + 1);
        h->begin(a.reqs.data(), a.reqs.size());
        h->begin(b.reqs.data(), b.reqs.size());
        EXPECT_EQ(2u, h->begun());
        h->finishOldest();
        ASSERT_TRUE(a.readOnce());
        h->finishOldest();
        ASSERT_TRUE(b.readOnce());
        EXPECT_EQ(0u, h->begun());
        h->finishOldest();  // none begun: nothing to do
        // One more than may be begun finishes the oldest first; a batch
        // read at once finishes those begun before it.
        Batch c(33, round), d(17, round + 2), e(8, round + 3), f(121, round);
        h->begin(c.reqs.data(), c.reqs.size());
        h->begin(d.reqs.data(), d.reqs.size());
        h->begin(e.reqs.data(), e.reqs.size());
        ASSERT_TRUE(c.readOnce());
        readAll(h, f.reqs.data(), f.reqs.size());
        ASSERT_TRUE(d.readOnce() && e.readOnce() && f.readOnce());
        EXPECT_EQ(0u, h->begun());
    }
    // A batch begun is read by the helper while the owner does something
    // else.
    const uint64_t before = h->helperRequests();
    Batch g(200);
    h->begin(g.reqs.data(), g.reqs.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (h->helperRequests() - before < 200 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(200u, h->helperRequests() - before);
    h->finishOldest();
    EXPECT_TRUE(g.readOnce());
    // The destructor finishes what is still begun.
    Batch last(300);
    h->begin(last.reqs.data(), last.reqs.size());
    delete h;
    EXPECT_TRUE(last.readOnce());

    // Unforced, a helper starts where there are two processors.
    if (std::thread::hardware_concurrency() >= 2) {
        plat::ReadHelper* two = plat::ReadHelper::start(countReads);
        EXPECT_NE(nullptr, two);
        delete two;
    }
    ReadHelperMode none(0);
    EXPECT_EQ(nullptr, plat::ReadHelper::start(countReads)) << "no helper when none may start";
}
