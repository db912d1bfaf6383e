// Error reports of the B-tree engine: like traceErrPrintf, with the work
// buffers taken from the tracked allocator, the error log's copy marked as
// the engine's (the error log puts it after the text of message 361), and
// the error log left alone while errorLogSuppressed is set.

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

    if (!skipLog) traceErrorToSink(work, 1);
    int result = 0;
    if (traceIsActive()) {
        if (traceErrorIsTraced(classFlag)) traceEmitLine(work);
        result = static_cast<int>(count);
    }
    kvFree(work, kSourceName, __LINE__);
    return result;
}
