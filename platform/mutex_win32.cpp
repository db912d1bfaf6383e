// Mutexes on Windows: mutex objects, which the holding thread may take
// again and which report WAIT_ABANDONED when their holder ended.
#include <windows.h>

#include <new>

#include "platform.h"

namespace plat {

struct Mutex {
    HANDLE h;
};

Mutex* mutexCreate() {
    const HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
    if (h == nullptr) return nullptr;
    Mutex* mx = new (std::nothrow) Mutex{h};
    if (mx == nullptr) CloseHandle(h);
    return mx;
}

MutexWait mutexWait(Mutex* mx, unsigned millis) {
    if (mx == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return MutexWait::Failed;
    }
    switch (WaitForSingleObject(mx->h, millis)) {
        case WAIT_OBJECT_0:
            return MutexWait::Taken;
        case WAIT_TIMEOUT:
            return MutexWait::TimedOut;
        case WAIT_ABANDONED:
            return MutexWait::Abandoned;
        default:
            return MutexWait::Failed;
    }
}

bool mutexRelease(Mutex* mx) {
    if (mx == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ReleaseMutex(mx->h) != 0;
}

bool mutexClose(Mutex* mx) {
    if (mx == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!CloseHandle(mx->h)) return false;
    delete mx;
    return true;
}

}  // namespace plat
