// A recursive lock: the owning thread may take it again, as with the
// platform's mutexes on Windows.

#include "lockhandle.h"

#include <atomic>
#include <mutex>
#include <new>

struct LockHandle {
    std::recursive_mutex mutex;
};

namespace {

std::atomic<int> failLocks{0};
std::atomic<int> failUnlocks{0};

// True (and one failure used up) while failures are asked for.
bool takeFailure(std::atomic<int>& left) {
    int n = left.load();
    while (n > 0) {
        if (left.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
}

}  // namespace

LockHandle* lockHandleCreate() { return new (std::nothrow) LockHandle; }

void lockHandleDestroy(LockHandle* h) { delete h; }

int lockHandle(LockHandle* h) {
    if (h == nullptr || takeFailure(failLocks)) return -1;
    h->mutex.lock();
    return 0;
}

int unlockHandle(LockHandle* h) {
    if (h == nullptr) return -1;
    h->mutex.unlock();
    return takeFailure(failUnlocks) ? -1 : 0;
}

void lockHandleFailNext(int lockCount, int unlockCount) {
    failLocks = lockCount;
    failUnlocks = unlockCount;
}
