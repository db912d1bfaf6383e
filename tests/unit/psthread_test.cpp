// Mutex wrappers: the disabled no-ops, limited and unlimited waits, taking
// a mutex again, and a holder that ends without releasing.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "psthread.h"

namespace {

class Mutexes : public ::testing::Test {
protected:
    void SetUp() override {
        threadsDisabled = 0;
        ASSERT_EQ(psMutexCreate(&m), 0);
    }
    void TearDown() override {
        threadsDisabled = 0;
        // Every test leaves the mutex released: it is destroyed whole.
        if (m.handle != nullptr) {
            EXPECT_EQ(psMutexDestroy(&m), 0);
        }
        EXPECT_EQ(m.handle, nullptr);
        threadsDisabled = 1;
    }
    psMutex m;
};

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(MutexesDisabled, EveryOperationIsANoOp) {
    ASSERT_EQ(threadsDisabled, 1);
    psMutex invalid;  // no mutex behind it at all
    EXPECT_EQ(psMutexLock(&invalid, 0), 0);
    EXPECT_EQ(psMutexLock(&invalid, 5), 0);
    EXPECT_EQ(psMutexUnlock(&invalid), 0);
    EXPECT_EQ(psMutexDestroy(&invalid), 0);
}

TEST_F(Mutexes, TheHolderMayTakeItAgainAndOthersWait) {
    EXPECT_EQ(psMutexLock(&m, 1), 0);
    EXPECT_EQ(psMutexLock(&m, 1), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    // Still held once: another thread cannot have it within its limit.
    auto other = std::async(std::launch::async, [&] { return psMutexLock(&m, 2); });
    EXPECT_EQ(other.get(), psMutexTimedOut);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexUnlock(&m), -1);  // not held any more
    auto again = std::async(std::launch::async, [&] {
        const int rc = psMutexLock(&m, 2);
        psMutexUnlock(&m);
        return rc;
    });
    EXPECT_EQ(again.get(), 0);
}

TEST_F(Mutexes, ALimitedWaitGivesUpAfterItsLimit) {
    std::promise<void> locked, release;
    std::thread holder([&] {
        psMutexLock(&m, 1);
        locked.set_value();
        release.get_future().wait();
        psMutexUnlock(&m);
    });
    locked.get_future().wait();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(psMutexLock(&m, 2), psMutexTimedOut);
    const double waited = secondsSince(t0);
    EXPECT_GE(waited, 1.9);
    EXPECT_LT(waited, 4.0);
    release.set_value();
    holder.join();
    EXPECT_EQ(psMutexLock(&m, 2), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
}

TEST_F(Mutexes, AHolderThatEndedIsReportedAndTheMutexStaysUsable) {
    std::thread([&] { psMutexLock(&m, 1); }).join();  // ends holding it
    EXPECT_EQ(psMutexLock(&m, 1), -1);
    // The failed lock did not keep the mutex: another thread can take it.
    auto other = std::async(std::launch::async, [&] {
        const int rc = psMutexLock(&m, 2);
        if (rc == 0) psMutexUnlock(&m);
        return rc;
    });
    EXPECT_EQ(other.get(), 0);

    // Under a limited wait the mutex is waited for again and obtained.
    std::thread([&] { psMutexLock(&m, 1); }).join();
    EXPECT_EQ(psMutexLock(&m, 3), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexUnlock(&m), -1);
}

TEST_F(Mutexes, ALimitOfOneSecondOrLessWaitsAsLongAsItTakes) {
    std::promise<void> locked;
    std::thread holder([&] {
        psMutexLock(&m, 1);
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        psMutexUnlock(&m);
    });
    locked.get_future().wait();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(psMutexLock(&m, 1), 0);
    EXPECT_GE(secondsSince(t0), 1.2);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    holder.join();
}

TEST_F(Mutexes, AMutexNeverCreatedFailsEveryOperation) {
    psMutex none;
    EXPECT_EQ(psMutexLock(&none, 0), -1);
    EXPECT_EQ(psMutexLock(&none, 3), -1);
    EXPECT_EQ(psMutexUnlock(&none), -1);
    EXPECT_EQ(psMutexDestroy(&none), -1);
}
