// Mutex wrappers: lock with a wait limit in seconds, unlock, destroy, each
// reporting its failures as an error report under GENERAL.  While
// threadsDisabled is set (as it is from the start), every operation does
// nothing and returns 0.
#pragma once

#include <cstdint>

namespace plat {
struct Mutex;
}

struct psMutex {
    plat::Mutex* handle = nullptr;
};

// Nonzero: every mutex operation is a no-op returning 0.  Initially 1.
extern int threadsDisabled;

// Result of a limited wait that ran out.
constexpr int psMutexTimedOut = 964;

// Creates the mutex behind `m`: 0, or -1 (reported) when the platform
// cannot make one.  Unlike the other operations it works whatever
// threadsDisabled says, so that a mutex exists once threads are enabled.
int psMutexCreate(psMutex* m);

// Takes `m`.  A limit of 0 or 1 waits without limit; a limit of 2 or more
// gives up after that many seconds with psMutexTimedOut.  Waits in slices
// of at most one second.  -1 on failure, including a mutex whose holder
// ended without releasing it under an unlimited wait; under a limited wait
// such a mutex is waited for again.  The thread holding `m` may take it
// again; each take needs its own unlock.
int psMutexLock(psMutex* m, uint16_t limitSeconds);
int psMutexUnlock(psMutex* m);
// Frees the mutex; `m` is empty afterwards.
int psMutexDestroy(psMutex* m);
