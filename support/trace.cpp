// Trace points, trace messages, the line prefix and its output, error
// reports of the support library, and switching tracing off.
//
// A trace point tests its class flag first; with the flag at 0 it returns
// at once.  Otherwise a message is formatted only while traceIsActive():
// a control block is installed, an output is open and enabled, and the
// output can take it (a file, the callback, or a console stream that
// consoleOutput allows).  Every entry point leaves the caller's errno as
// it found it.

#include "trace.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "logutils.h"
#include "pkfile.h"
#include "platform.h"
#include "psstr.h"
#include "pstime.h"
#include "trace_internal.h"
#include "tracefile.h"

uint8_t errorLogSuppressed = 0;

namespace {

// Where error reports go besides the trace: the error log, once the
// message repository has installed its writer.
TraceErrorSink errorSink = nullptr;

}  // namespace

void traceSetErrorSink(TraceErrorSink sink) { __atomic_store_n(&errorSink, sink, __ATOMIC_RELEASE); }

int traceErrorToSink(const char* text, int engine) {
    const TraceErrorSink sink = __atomic_load_n(&errorSink, __ATOMIC_ACQUIRE);
    return sink != nullptr ? sink(text, engine) : 0;
}

TraceControl* traceControl = nullptr;
psMutex traceFileMutex;

namespace {

TraceControl theControl;

// Output of the pending line a thread tag provider hands over, by itself
// and without prefix.
void emitPendingLine(TraceControl* tc, const char* line) {
    if (tc->callbackMode) {
        if (tc->outputCallback != nullptr) tc->outputCallback(traceOpWrite, line, tc->callbackContext);
    } else if (traceIsConsoleStream(tc->stream)) {
        if (tc->consoleOutput) {
            std::fputs(line, tc->stream);
            std::fflush(tc->stream);
        }
    } else if (tc->wrapEnabled) {
        traceCheckWrap(69);
        if (tc->stream != nullptr) {
            std::fputs(line, tc->stream);
            std::fflush(tc->stream);
            traceSaveNextWrite(tc->stream);
        }
    } else {
        std::fputs(line, tc->stream);
        std::fflush(tc->stream);
    }
}

// Writes prefix and message to `f`; the count of bytes, or -1 when the
// stream reports an error (also one that only a flush brings to light).
int writeLine(FILE* f, const char* prefix, const char* message) {
    const int n = std::fprintf(f, "%s%s", prefix, message);
    if (n < 0 || std::fflush(f) != 0 || std::ferror(f)) return -1;
    return n;
}

}  // namespace

// --- Helpers shared by the facility's sources ------------------------------

size_t traceAppendV(char* buf, size_t cap, size_t used, const char* fmt, va_list ap) {
    if (used >= cap) return cap == 0 ? 0 : cap - 1;
    const int n = std::vsnprintf(buf + used, cap - used, fmt, ap);
    if (n < 0) {
        buf[used] = '\0';
        return used;
    }
    const size_t room = cap - used - 1;
    return used + (static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
}

size_t traceAppend(char* buf, size_t cap, size_t used, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const size_t n = traceAppendV(buf, cap, used, fmt, ap);
    va_end(ap);
    return n;
}

size_t tracePositionPart(char* buf, size_t cap, const char* file, uint32_t line) {
    buf[0] = '\0';
    if (!traceFlagLoad(traceFlag_PREFIX)) return 0;
    return traceAppend(buf, cap, 0, "%-20s(%4u): ", file, static_cast<unsigned>(line));
}

size_t traceFormatMessage(char* buf, size_t cap, const char* file, uint32_t line, const char* fmt, va_list ap) {
    return traceAppendV(buf, cap, tracePositionPart(buf, cap, file, line), fmt, ap);
}

bool traceErrorHasReceiver() {
    return __atomic_load_n(&errorSink, __ATOMIC_ACQUIRE) != nullptr || traceIsActive() != 0;
}

bool traceErrorIsTraced(uint8_t classFlag) {
    return traceFlagLoad(traceFlag_ERROR) != 0 || (classFlag != 0 && classFlag != 2);
}

bool traceIsConsoleStream(const FILE* f) { return f == stdout || f == stderr; }

// --- State -----------------------------------------------------------------

TraceFileLock::TraceFileLock() : locked_(psMutexLock(&traceFileMutex, 1) == 0) {}

TraceFileLock::~TraceFileLock() {
    if (locked_) psMutexUnlock(&traceFileMutex);
}

void setStream(TraceControl* tc, FILE* f) { __atomic_store_n(&tc->stream, f, __ATOMIC_RELEASE); }

FILE* traceStream(const TraceControl* tc) { return __atomic_load_n(&tc->stream, __ATOMIC_ACQUIRE); }

void traceSetEnabled(TraceControl* tc, uint32_t on) { __atomic_store_n(&tc->enabled, on, __ATOMIC_RELEASE); }

void traceSetSwitching(TraceControl* tc, uint32_t on) { __atomic_store_n(&tc->switchingSegment, on, __ATOMIC_RELEASE); }

bool traceOutputOpen(const TraceControl* tc) {
    return traceStream(tc) != nullptr || __atomic_load_n(&tc->switchingSegment, __ATOMIC_ACQUIRE) != 0;
}

TraceControl* traceInstallControl() {
    if (traceControl == nullptr) {
        if (theControl.controlMutex.handle == nullptr) psMutexCreate(&theControl.controlMutex);
        if (traceFileMutex.handle == nullptr) psMutexCreate(&traceFileMutex);
        __atomic_store_n(&traceControl, &theControl, __ATOMIC_RELEASE);
    }
    return traceControl;
}

int traceIsActive() {
    const ErrnoKeeper keep;
    const TraceControl* tc = __atomic_load_n(&traceControl, __ATOMIC_ACQUIRE);
    if (tc == nullptr) return 0;
    if (!traceOutputOpen(tc) || __atomic_load_n(&tc->enabled, __ATOMIC_ACQUIRE) == 0) return 0;
    FILE* stream = traceStream(tc);
    if (__atomic_load_n(&tc->consoleOutput, __ATOMIC_RELAXED) || __atomic_load_n(&tc->callbackMode, __ATOMIC_RELAXED)) {
        return 1;
    }
    // A segment switch (stream null meanwhile) happens only to files.
    return stream != nullptr && traceIsConsoleStream(stream) ? 0 : 1;
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
// Each returns the length of the formatted message (without the file and
// line part), which is 0 while tracing is inactive: the message is then
// not formatted at all.

int tracePrintf(const char* file, uint32_t line, const char* fmt, ...) {
    const ErrnoKeeper keep;
    va_list ap;
    va_start(ap, fmt);
    const int count = traceVPrintf(file, line, fmt, ap);
    va_end(ap);
    return count;
}

int traceVPrintf(const char* file, uint32_t line, const char* fmt, va_list ap) {
    if (!traceIsActive()) return 0;
    const ErrnoKeeper keep;
    char buf[traceMessageBytes];
    const size_t used = tracePositionPart(buf, sizeof buf, file, line);
    const size_t end = traceAppendV(buf, sizeof buf, used, fmt, ap);
    traceEmitLine(buf);
    return static_cast<int>(end - used);
}

int traceVPrintfW(const char* file, uint32_t line, const char16_t* fmt, va_list ap) {
    if (!traceIsActive()) return 0;
    const ErrnoKeeper keep;
    char buf[traceMessageBytes];
    const size_t used = tracePositionPart(buf, sizeof buf, file, line);
    static thread_local char16_t wide[traceWideMessageUnits];
    const size_t units = pkWideVFormat(wide, traceWideMessageUnits, fmt, ap);
    const std::string narrow = plat::consoleText(wide, units);
    size_t room = sizeof buf - 1 - used;
    if (room > traceWideMessageBytes) room = traceWideMessageBytes;
    const size_t n = psCharBoundary(narrow.data(), narrow.size(), room);
    std::memcpy(buf + used, narrow.data(), n);
    buf[used + n] = '\0';
    traceEmitLine(buf);
    return static_cast<int>(units);
}

// --- The line and its output -------------------------------------------------

int traceEmitLine(const char* message) {
    const ErrnoKeeper keep;
    TraceControl* tc = traceControl;
    if (tc == nullptr || !traceOutputOpen(tc)) return 0;
    // The whole line under the file mutex: a reset or a segment switch on
    // another thread cannot close the stream while this line is written.
    const TraceFileLock fileLock;
    if (tc->stream == nullptr) return 0;

    char prefix[tracePrefixBytes + 1];
    prefix[0] = '\0';
    size_t used = 0;
    if (traceFlag_TIMESTAMP) {
        DateTime7 now;
        unsigned long msTimes1000 = 0;
        psNowMs(&now, &msTimes1000);
        char date[psDateTextSize];
        char time[psDateTextSize];
        psDateText(&now, date);
        psTimeText(&now, time);
        char* blank = std::strchr(time, ' ');
        if (blank != nullptr) *blank = '\0';
        used = traceAppend(prefix, sizeof prefix, used, "%s %s.%03lu ", date, time, msTimes1000 / 1000);
    }
    if (traceFlag_PID) {
        used = traceAppend(prefix, sizeof prefix, used, "[%.6u] ", static_cast<unsigned>(plat::processId()));
    }
    if (traceFlag_TID && tc->threadTagProvider != nullptr) {
        char pending[traceThreadTagBytes] = {};
        char tag[traceThreadTagBytes] = {};
        tc->threadTagProvider(pending, tag);
        pending[sizeof pending - 1] = '\0';
        tag[sizeof tag - 1] = '\0';
        if (pending[0] != '\0') emitPendingLine(tc, pending);
        used = traceAppend(prefix, sizeof prefix, used, "%s", tag);
    }
    if (traceFlag_CLIENTTYPE) {
        const int kind = tc->clientType >= 0 && tc->clientType < traceClientKinds ? tc->clientType : traceClientKinds;
        used = traceAppend(prefix, sizeof prefix, used, "%s", traceClientTags[kind]);
    }
    if (traceFlag_TIMESTAMP || traceFlag_PID || traceFlag_TID) used = traceAppend(prefix, sizeof prefix, used, ": ");

    if (tc->stream == nullptr) return 0;  // the pending line's output failed
    int result = 0;
    if (tc->callbackMode) {
        result = tc->outputCallback != nullptr ? tc->outputCallback(traceOpWrite, message, tc->callbackContext) : 0;
    } else if (traceIsConsoleStream(tc->stream)) {
        if (!tc->consoleOutput) {
            std::fflush(tc->stream);
            return 0;
        }
        result = writeLine(tc->stream, prefix, message);
    } else if (tc->wrapEnabled) {
        std::fflush(tc->stream);
        const size_t length = used + std::strlen(message);
        traceWrapIfFull(static_cast<int>(length));
        if (tc->stream == nullptr) {
            result = -1;  // the next segment could not be opened
        } else {
            // Line and end marker in one positioned write, then the
            // header's offset: the same bytes as separate writes, with
            // far fewer system calls.
            std::string out;
            out.reserve(length + sizeof traceEndMarker);
            out.append(prefix, used).append(message).append(traceEndMarker);
            const bool ok = plat::streamWriteAt(tc->stream, tc->nextWrite, out.data(), out.size()) &&
                            traceRecordNextWrite(tc->stream, tc->nextWrite + static_cast<int64_t>(length));
            result = ok ? static_cast<int>(length) : -1;
        }
        if (result < 0 && tc->stream == nullptr) return result;  // already reported and reset
    } else {
        result = writeLine(tc->stream, prefix, message);
    }

    if (result < 0) {
        char name[traceNameBytes];
        std::memcpy(name, tc->fileName, sizeof name);
        name[sizeof name - 1] = '\0';
        traceReset(1);
        std::printf("Unable to write to trace file %s. Tracing disabled.\n", name);
        std::fflush(stdout);
        return result;
    }
    if (tc->stream != nullptr) std::fflush(tc->stream);
    return result;
}

// --- Error reports -----------------------------------------------------------
// An error report goes to the error log and, under the ERROR class or a
// class flag other than 0 and 2, to an active trace.  Without an open
// error log or an active trace it has no receiver and is not formatted.

int traceErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...) {
    const ErrnoKeeper keep;
    if (!traceErrorHasReceiver()) return 0;
    char buf[traceMessageBytes];
    va_list ap;
    va_start(ap, fmt);
    const size_t count = traceFormatMessage(buf, sizeof buf, file, line, fmt, ap);
    va_end(ap);
    traceErrorToSink(buf, 0);
    if (!traceIsActive()) return 0;
    if (traceErrorIsTraced(classFlag)) traceEmitLine(buf);
    return static_cast<int>(count);
}

// --- Switching off -------------------------------------------------------------

void traceReset(int closeToo) {
    const ErrnoKeeper keep;
    TraceControl* tc = traceControl;
    // traceFileMutex first, as everywhere: a line being written is
    // completed first, and the output is closed only under this mutex.
    const TraceFileLock fileLock;
    const bool locked = tc != nullptr && psMutexLock(&tc->controlMutex, 1) == 0;
    for (int i = 1; traceClassTable[i].name != nullptr; ++i) traceFlagStore(*traceClassTable[i].flag, 0);
    if (tc == nullptr) return;
    if (closeToo) traceCloseOutput();
    tc->maxSizeMB = 0;
    tc->segmentSizeMB = 0;
    tc->wrapEnabled = 0;
    tc->timestampsRequested = 0;
    tc->begun = 0;
    tc->baseFileName[0] = '\0';
    if (locked) psMutexUnlock(&tc->controlMutex);
}
