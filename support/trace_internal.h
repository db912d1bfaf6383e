// Shared by the trace facility's sources only.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "printf_like.h"

// Puts errno back as it was when the entry point was called.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int saved_;
};

struct TraceControl;

// Holds traceFileMutex while it lives (when the mutex can be taken).  The
// trace's locks are taken in one order: traceFileMutex, then the control
// block's controlMutex.
class TraceFileLock {
public:
    TraceFileLock();
    ~TraceFileLock();
    TraceFileLock(const TraceFileLock&) = delete;
    TraceFileLock& operator=(const TraceFileLock&) = delete;

private:
    bool locked_;
};

// The output stream and the enabled switch are read without a lock by
// traceIsActive() on every thread that traces; they are written (under
// traceFileMutex) and read through these, as atomic accesses.
void setStream(TraceControl* tc, FILE* f);
FILE* traceStream(const TraceControl* tc);
void traceSetEnabled(TraceControl* tc, uint32_t on);
// While a segment switch holds traceFileMutex the stream is briefly null;
// a line traced then on another thread waits for the next segment instead
// of being dropped.  The switch flag is written under the mutex and read
// without it, as an atomic access.
void traceSetSwitching(TraceControl* tc, uint32_t on);
// An output is open, or about to be again once a segment switch ends.
bool traceOutputOpen(const TraceControl* tc);

// A trace class flag, read or written as an atomic access: trace points
// on other threads read the flags that traceReset clears.
inline uint8_t traceFlagLoad(const uint8_t& flag) { return __atomic_load_n(&flag, __ATOMIC_RELAXED); }
inline void traceFlagStore(uint8_t& flag, uint8_t v) { __atomic_store_n(&flag, v, __ATOMIC_RELAXED); }

// Formats into buf[0..cap) after the `used` bytes already there, never
// past the buffer; returns the new length of the text.
size_t traceAppendV(char* buf, size_t cap, size_t used, const char* fmt, va_list ap);
size_t traceAppend(char* buf, size_t cap, size_t used, const char* fmt, ...) JBB_PRINTF_LIKE(4, 5);

// Writes the "%-20s(%4u): " part of a message into buf when PREFIX is on
// (else empties buf); returns its length.
size_t tracePositionPart(char* buf, size_t cap, const char* file, uint32_t line);

// Writes the "%-20s(%4u): " part when PREFIX is on, then the message;
// returns the length of the text in buf.
size_t traceFormatMessage(char* buf, size_t cap, const char* file, uint32_t line, const char* fmt, va_list ap);

// True when an error report has a receiver: an open error log or an
// active trace.  Without one, the report is not even formatted.
bool traceErrorHasReceiver();

// Whether an error report of class flag `classFlag` goes to the trace.
bool traceErrorIsTraced(uint8_t classFlag);

// True when `f` is the standard output or standard error stream.
bool traceIsConsoleStream(const FILE* f);

// Sets the next-write offset to `pos` and writes it into the header of
// the wrapping file `f` with a positioned write (the stream's position
// must be set again before it is used); false when the write fails.
bool traceRecordNextWrite(FILE* f, int64_t pos);

// traceCheckWrap without the final positioning of the stream.
void traceWrapIfFull(int length);

// Closes the output without resetting the settings (traceClose(0)).
void traceCloseOutput();
