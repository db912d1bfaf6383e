// Error reports of the B-tree engine: like traceErrPrintf, with the work
// buffers taken from the tracked allocator, the error log's copy put after
// the text of message 361, and the error log left alone while
// errorLogSuppressed is set.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kvmem.h"
#include "nls.h"
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
        // The error log's copy, after the text of message 361 (none when
        // the repository has no such message); 361 takes no arguments.
        char* logText = static_cast<char*>(kvMalloc(traceMessageBytes, kSourceName, __LINE__));
        if (logText != nullptr) {
            char* prefix = nullptr;
            NlsNoArgs none;
            nlGetMsgSev(&nlsCtx, 361, &prefix, none, nullptr);
            size_t used = 0;
            if (prefix != nullptr) {
                used = std::min(std::strlen(prefix), traceMessageBytes - 1);
                std::memcpy(logText, prefix, used);
                kvFree(prefix, kSourceName, __LINE__);
            }
            std::snprintf(logText + used, traceMessageBytes - used, "%s", work);
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
