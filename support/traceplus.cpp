// Error reports of the B-tree engine: like traceErrPrintf, with the work
// buffers taken from the tracked allocator, and the error log left alone
// while errorLogSuppressed is set.

#include <cstring>

#include "kvmem.h"
#include "trace.h"
#include "trace_internal.h"

namespace {

const char kSourceName[] = "traceplus.cpp";

}  // namespace

int tracePlusErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...) {
    const ErrnoKeeper keep;
    const bool skipLog = errorLogSuppressed != 0;
    if (skipLog && !traceIsActive()) return 0;
    if (!traceErrorHasReceiver()) return 0;

    char* work = static_cast<char*>(kvMalloc(traceMessageBytes, kSourceName, __LINE__));
    if (work == nullptr) return 102;
    std::memset(work, 0, traceMessageBytes);
    va_list ap;
    va_start(ap, fmt);
    const size_t count = traceFormatMessage(work, traceMessageBytes, file, line, fmt, ap);
    va_end(ap);

    if (!skipLog) {
        // The error log's copy; the message repository's prefix text goes
        // in front of it once the repository is there.
        char* logText = static_cast<char*>(kvMalloc(traceMessageBytes, kSourceName, __LINE__));
        if (logText != nullptr) {
            std::memcpy(logText, work, traceMessageBytes);
            errorLogWrite(logText);
            kvFree(logText, kSourceName, __LINE__);
        }
    }
    int result = 0;
    if (traceIsActive()) {
        if (traceErrorIsTraced(classFlag)) traceEmitLine(work);
        result = static_cast<int>(count);
    }
    kvFree(work, kSourceName, __LINE__);
    return result;
}
