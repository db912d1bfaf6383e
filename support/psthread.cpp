// Mutex wrappers over the platform's mutexes (see psthread.h).

#include "psthread.h"

#include "platform.h"
#include "trace.h"

int threadsDisabled = 1;

namespace {

const char kSourceName[] = "psthread.cpp";
constexpr unsigned kSliceMs = 1000;

// A mutex whose holder ended is now held by the caller.  The caller does
// not get it (the lock fails or is waited for again), so the hold is given
// back at once rather than left to block every later waiter.
void giveBackAbandoned(psMutex* m) { plat::mutexRelease(m->handle); }

}  // namespace

int psMutexCreate(psMutex* m) {
    m->handle = plat::mutexCreate();
    if (m->handle == nullptr) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL, "Create mutex failed; reason %d.\n",
                       plat::lastError());
        return -1;
    }
    return 0;
}

int psMutexLock(psMutex* m, uint16_t limitSeconds) {
    if (threadsDisabled) return 0;
    const bool limited = limitSeconds > 1;
    unsigned count = limitSeconds;
    for (;;) {
        switch (plat::mutexWait(m->handle, kSliceMs)) {
            case plat::MutexWait::Taken:
                return 0;
            case plat::MutexWait::TimedOut:
                if (limited && --count == 0) return psMutexTimedOut;
                break;
            case plat::MutexWait::Abandoned: {
                const int err = plat::lastError();
                giveBackAbandoned(m);
                if (!limited) {
                    traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL, "Mutex lock failed (abandoned): %d.\n",
                                   err);
                    return -1;
                }
                traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL,
                               "Mutex lock failed (abandoned): %d., attempting to reacquire mutex.\n", err);
                count = limitSeconds;
                break;
            }
            case plat::MutexWait::Failed:
                traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL, "Mutex lock failed: %d.\n", plat::lastError());
                return -1;
        }
    }
}

int psMutexUnlock(psMutex* m) {
    if (threadsDisabled) return 0;
    if (!plat::mutexRelease(m->handle)) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL, "Release mutex failed; reason %d.\n",
                       plat::lastError());
        return -1;
    }
    return 0;
}

int psMutexDestroy(psMutex* m) {
    if (threadsDisabled) return 0;
    if (!plat::mutexClose(m->handle)) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_GENERAL, "Destroy mutex failed; reason %d.\n",
                       plat::lastError());
        return -1;
    }
    m->handle = nullptr;
    return 0;
}
