// The lock of the message repository (and of the global return code): an
// opaque handle taken with lockHandle and released with unlockHandle, each
// returning 0 on success.  The thread that holds the lock may take it
// again (as a Windows mutex allows): an error report made while the
// repository's lock is held reaches the error-log writer, which takes it
// too.  Kept behind this small interface so that the mutex wrappers can
// serve it later without a change to its callers.
#pragma once

struct LockHandle;

// A new lock, or null when none can be had.
LockHandle* lockHandleCreate();
void lockHandleDestroy(LockHandle* h);

// 0 on success; -1 for a null handle or a failure.
int lockHandle(LockHandle* h);
int unlockHandle(LockHandle* h);

// For tests: the next `lockCount` calls of lockHandle fail with -1 without
// taking the lock; the next `unlockCount` calls of unlockHandle return -1
// (they still release it, so that a test leaves the lock free).
void lockHandleFailNext(int lockCount, int unlockCount);
