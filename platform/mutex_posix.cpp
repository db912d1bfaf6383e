// Mutexes on POSIX systems: recursive robust pthread mutexes, so that the
// thread holding one may take it again and a holder that ended is
// reported (EOWNERDEAD) instead of blocking everyone for ever.
#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "platform.h"

namespace plat {

struct Mutex {
    pthread_mutex_t m;
};

Mutex* mutexCreate() {
    Mutex* mx = new (std::nothrow) Mutex;
    if (mx == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc == 0) rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (rc == 0) rc = pthread_mutex_init(&mx->m, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete mx;
        errno = rc;
        return nullptr;
    }
    return mx;
}

MutexWait mutexWait(Mutex* mx, unsigned millis) {
    if (mx == nullptr) {
        errno = EINVAL;
        return MutexWait::Failed;
    }
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += millis / 1000;
    until.tv_nsec += static_cast<long>(millis % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    const int rc = pthread_mutex_timedlock(&mx->m, &until);
    switch (rc) {
        case 0:
            return MutexWait::Taken;
        case ETIMEDOUT:
            return MutexWait::TimedOut;
        case EOWNERDEAD:
            // The caller holds it now; whatever it guards is the caller's
            // to repair, and the mutex stays usable afterwards.
            pthread_mutex_consistent(&mx->m);
            errno = EOWNERDEAD;
            return MutexWait::Abandoned;
        default:
            errno = rc;
            return MutexWait::Failed;
    }
}

bool mutexRelease(Mutex* mx) {
    if (mx == nullptr) {
        errno = EINVAL;
        return false;
    }
    const int rc = pthread_mutex_unlock(&mx->m);
    if (rc != 0) errno = rc;
    return rc == 0;
}

bool mutexClose(Mutex* mx) {
    if (mx == nullptr) {
        errno = EINVAL;
        return false;
    }
    const int rc = pthread_mutex_destroy(&mx->m);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    delete mx;
    return true;
}

}  // namespace plat
