// Trace points and error reports.
//
// Trace output needs an installed trace control block with an open output,
// and error reports need an open error log.  These programs install and
// open neither, so this file holds the inactive side of the facility:
//  - a trace point tests its class flag; with the flag at 0 it returns at
//    once, otherwise it hands its arguments to traceVPrintf(W);
//  - traceIsActive() reports 0, and every formatting entry point returns 0
//    without formatting anything (so arguments that could not be formatted
//    safely do no harm);
//  - errorLogWrite() has no log to write to and returns 0.
// An output side belongs behind traceIsActive() and errorLogWrite(); the
// entry points and their callers stay as they are when one is added.
//
// Every entry point leaves the caller's errno as it found it.

#include "trace.h"

#include <cerrno>

uint8_t traceFlag_ERROR = 0;
uint8_t traceFlag_GENERAL = 0;
uint8_t traceFlag_MEMORY = 0;
uint8_t traceFlag_PREFIX = 0;
uint8_t traceFlag_BTREEDB = 0;

uint8_t errorLogSuppressed = 0;

namespace {

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

}  // namespace

// --- State -----------------------------------------------------------------

int traceIsActive() {
    const ErrnoKeeper keep;
    return 0;  // no trace control block is ever installed
}

int errorLogWrite(const char* /*text*/) {
    const ErrnoKeeper keep;
    return 0;  // no error log is ever opened
}

// --- Trace points ----------------------------------------------------------

void tracePoint(const TraceLocation* loc, uint8_t classFlag, const char* fmt, ...) {
    if (classFlag == 0) {
        return;
    }
    const ErrnoKeeper keep;
    va_list ap;
    va_start(ap, fmt);
    traceVPrintf(loc->file, loc->line, fmt, ap);
    va_end(ap);
}

void tracePointW(const TraceLocation* loc, uint8_t classFlag, const char16_t* fmt, ...) {
    if (classFlag == 0) {
        return;
    }
    const ErrnoKeeper keep;
    va_list ap;
    va_start(ap, fmt);
    traceVPrintfW(loc->file, loc->line, fmt, ap);
    va_end(ap);
}

// --- Trace messages ----------------------------------------------------------
// Each returns the length of the formatted message, which is 0 while
// tracing is inactive: the message is then not formatted at all.

int tracePrintf(const char* file, uint32_t line, const char* fmt, ...) {
    const ErrnoKeeper keep;
    va_list ap;
    va_start(ap, fmt);
    const int count = traceVPrintf(file, line, fmt, ap);
    va_end(ap);
    return count;
}

int traceVPrintf(const char* /*file*/, uint32_t /*line*/, const char* /*fmt*/, va_list /*ap*/) {
    const ErrnoKeeper keep;
    return 0;
}

int traceVPrintfW(const char* /*file*/, uint32_t /*line*/, const char16_t* /*fmt*/,
                  va_list /*ap*/) {
    const ErrnoKeeper keep;
    return 0;
}

// --- Error reports -----------------------------------------------------------
// An error report goes to the error log and, under the ERROR class or a
// class flag other than 0 and 2, to an active trace.  With no error log
// open and tracing inactive it has no receiver, is not formatted, and the
// count is 0.  (tracePlusErrPrintf's result 102, for a work buffer that
// cannot be allocated, cannot occur: nothing is allocated.)

int traceErrPrintf(const char* /*file*/, uint32_t /*line*/, uint8_t /*classFlag*/,
                   const char* /*fmt*/, ...) {
    const ErrnoKeeper keep;
    return 0;
}

int tracePlusErrPrintf(const char* /*file*/, uint32_t /*line*/, uint8_t /*classFlag*/,
                       const char* /*fmt*/, ...) {
    const ErrnoKeeper keep;
    return 0;
}
