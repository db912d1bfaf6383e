// The trace output and its files (layouts in tracefile.h), and the size
// keeping of wrapping log files.
//
// Trace files are opened in binary mode on every platform, so that the
// offsets in their headers are byte offsets and a file reads the same on
// Windows and elsewhere.  On POSIX systems they are created readable by
// their owner only, and a symbolic link as the last part of the name is
// refused (platform openPrivateFile): the trace file of a privileged
// service must not let its name be bent towards another file.

#include "logutils.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "pkfile.h"
#include "platform.h"
#include "psstr.h"
#include "pstime.h"
#include "trace.h"
#include "trace_internal.h"
#include "tracefile.h"

const char traceBuildDate[] = JBB_TRACE_BUILD_DATE;
static_assert(sizeof traceBuildDate - 1 == traceBuildDateLength, "the header has room for exactly this text");

char logEndOfDataMarker[128] = "";
char logWrapMarker[128] = "";

namespace {

const char kSourceName[] = "trace.cpp";
const char kLogSourceName[] = "logutils.cpp";
constexpr int64_t kMegabyte = 1048576;

bool isName(const char* a, const char* b) { return psStrICmp(a, b) == 0; }

void copyName(char* dst, const std::string& src) {
    const size_t n = src.size() < traceNameBytes - 1 ? src.size() : traceNameBytes - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

int invalidName() {
    std::printf("Invalid trace file name\n");
    std::fflush(stdout);
    return traceErrInvalidName;
}

// Gives up opening: reports (when console output is allowed), releases
// the control mutex, resets and closes.
int openFailed(TraceControl* tc, bool locked) {
    if (tc->consoleOutput) {
        std::printf("Unable to open trace output file %s\n", tc->fileName);
        std::fflush(stdout);
    }
    if (locked) psMutexUnlock(&tc->controlMutex);
    traceReset(1);
    return traceErrOpen;
}

// Reads the header of the existing wrapping file `f`; true, with the
// stored next-write offset, when it is ours and the file may be resumed
// under the current settings.
bool resumable(const TraceControl* tc, FILE* f, uint32_t* nextWrite) {
    if (tc->segmentCount > 1) return false;
    int64_t size = 0;
    if (!plat::fileSize(tc->fileName, &size)) return false;
    // A wrapped file may end with the wrap marker just past the maximum.
    if (size > static_cast<int64_t>(tc->maxSizeMB) * kMegabyte + static_cast<int64_t>(sizeof traceWrapMarker)) return false;
    char line[traceHeaderReadLimit + 2];
    if (std::fgets(line, sizeof line, f) == nullptr) return false;
    unsigned stored = 0, storedMax = 0;
    if (std::sscanf(line, "ZEP Trace   %u %u", &stored, &storedMax) != 2) return false;
    if (std::strncmp(line, traceMagic, traceMagicLength) != 0) return false;
    // The whole header must be one of ours: its length fixes where data
    // starts and lets the tail be rewritten in place.
    if (std::strlen(line) != traceWrapHeaderLength - 1 || std::fgetc(f) != '\n') return false;
    if (storedMax > tc->maxSizeMB) return false;
    if (stored < traceWrapHeaderLength || static_cast<int64_t>(stored) > size) return false;
    *nextWrite = stored;
    return true;
}

// Opens fileName as a wrapping trace file: resumed when its header allows,
// otherwise created anew.  0, or traceErrOpen (already reported and reset).
int openWrapping(TraceControl* tc, bool locked) {
    FILE* f = plat::openPrivateFile(tc->fileName, "r+");
    bool resumed = false;
    if (f != nullptr) {
        uint32_t stored = 0;
        if (resumable(tc, f, &stored) && plat::streamSeek(f, traceMaxSizeOffset)) {
            std::fprintf(f, traceHeaderTailFormat, tc->maxSizeMB, traceBuildDate);
            std::fflush(f);
            tc->startOfData = traceWrapHeaderLength;
            tc->nextWrite = stored;
            resumed = true;
        } else {
            std::fclose(f);
            f = nullptr;
        }
    }
    if (!resumed) {
        f = plat::openPrivateFile(tc->fileName, "w+");
        if (f == nullptr) return openFailed(tc, locked);
        std::fputs(traceMagic, f);
        std::fputs(traceOffsetPlaceholder, f);
        std::fprintf(f, traceHeaderTailFormat, tc->maxSizeMB, traceBuildDate);
        traceSaveNextWrite(f);
        tc->startOfData = plat::streamTell(f);
        tc->nextWrite = tc->startOfData;
    }
    tc->stream = f;
    if (tc->switchingSegment) {
        plat::streamSeek(f, tc->nextWrite);
        std::fprintf(f, traceSegmentStartFormat, tc->previousSegment);
        std::fflush(f);
        traceSaveNextWrite(f);
    } else {
        traceCheckWrap(static_cast<int>(sizeof traceNewTrace - 1));
        std::fputs(traceNewTrace, tc->stream);
        traceSaveNextWrite(tc->stream);
    }
    std::fflush(tc->stream);
    return 0;
}

// Closes the output; `nextWrite` and `wrapped` are the values from before
// any reset.
void closeOutput(TraceControl* tc, int64_t nextWrite, bool wrapped) {
    if (!tc->switchingSegment && tc->outputCallback != nullptr) {
        tc->outputCallback(traceOpClose, nullptr, tc->callbackContext);
        tc->callbackMode = 0;
    }
    FILE* f = tc->stream;
    if (f != nullptr && !traceIsConsoleStream(f)) {
        // traceFileMutex lives as long as the process: another thread may
        // be waiting for it, and a mutex must not be destroyed under it.
        if (wrapped && !tc->switchingSegment && plat::streamSeek(f, nextWrite)) std::fputs(traceCloseMarker, f);
        if (std::fclose(f) != 0) {
            const std::string why = plat::errnoText(errno);
            std::printf("Unable to close trace output file %s: %s \n", tc->fileName, why.c_str());
            std::fflush(stdout);
        }
    }
    tc->stream = nullptr;
    tc->fileName[0] = '\0';
}

}  // namespace

void traceCloseOutput() {
    TraceControl* tc = traceControl;
    if (tc != nullptr) closeOutput(tc, tc->nextWrite, tc->wrapEnabled != 0);
}

int traceSetFileName(const char* name) {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) > pkMaxNameChars) return invalidName();
    TraceControl* tc = traceInstallControl();
    std::string n = name;
    if (name[0] == '\'' || name[0] == '"') {
        const char* p = name;
        if (pkQuotedToken(&p, &n) != 0 || n.empty()) return invalidName();
    }
    if (isName(n.c_str(), "STDOUT") || isName(n.c_str(), "STDERR") || isName(n.c_str(), "CONSOLE")) {
        copyName(tc->fileName, n);
        return 0;
    }
    std::string qualified;
    if (pkQualifyFileName(n.c_str(), &qualified) != 0) return invalidName();
    if (qualified.empty()) qualified = n;
    if (qualified.size() > pkMaxNameChars) return invalidName();
    if (tc->baseFileName[0] == '\0') copyName(tc->baseFileName, qualified);
    std::string actual = tc->baseFileName;
    if (tc->segmentCount >= 2) actual += "." + std::to_string(tc->currentSegment);
    copyName(tc->fileName, actual);
    return 0;
}

int traceOpen(const char* name, int announce) {
    const int rc = traceSetFileName(name);
    if (rc != 0) return rc;
    TraceControl* tc = traceControl;
    if (tc->stream != nullptr) return 0;
    const bool locked = psMutexLock(&tc->controlMutex, 1) == 0;
    bool console = true;
    if (isName(tc->fileName, "CONSOLE")) {
        if (tc->outputCallback != nullptr && tc->outputCallback(traceOpConsole, nullptr, tc->callbackContext) == 0) {
            tc->callbackMode = 1;
            tc->wrapEnabled = 0;
            tc->enabled = 1;
            tc->stream = stderr;
            std::printf("Tracing to stderr\n");
            std::fflush(stdout);
        } else {
            tc->callbackMode = 0;
        }
    } else if (isName(tc->fileName, "STDOUT")) {
        tc->wrapEnabled = 0;
        tc->stream = stdout;
        tracePrintf(kSourceName, __LINE__, "Tracing to stdout\n");
    } else if (isName(tc->fileName, "STDERR")) {
        tc->wrapEnabled = 0;
        tc->stream = stderr;
        tracePrintf(kSourceName, __LINE__, "Tracing to stderr\n");
    } else if (tc->wrapEnabled) {
        console = false;
        if (openWrapping(tc, locked) != 0) return traceErrOpen;
    } else {
        console = false;
        FILE* f = plat::openPrivateFile(tc->fileName, "a");
        if (f == nullptr) return openFailed(tc, locked);
        tc->stream = f;
        std::fprintf(f, tracePlainHeaderFormat, traceBuildDate);
        std::fflush(f);
    }
    if (!console && !tc->begun) {
        if (tc->timestampsRequested) {
            tc->enabled = 1;
            traceFlag_TIMESTAMP = 1;
            traceFlag_PREFIX = 1;
        }
        if (announce) {
            tracePrintf(kSourceName, __LINE__, "Tracing to file: %s\n", tc->fileName);
            tracePrintf(kSourceName, __LINE__, "Tracefile maximum length set to %lu MB.\n",
                        static_cast<unsigned long>(tc->maxSizeMB));
        }
        DateTime7 now;
        psNow(&now);
        char date[psDateTextSize], time[psDateTextSize];
        psDateText(&now, date);
        psTimeText(&now, time);
        if (announce) {
            tracePrintf(kSourceName, __LINE__,
                        "----------------------------------------------------------------\n%s %s - Trace begun.\n",
                        date, time);
        }
        tc->enabled = 1;
        tracePrintf(kSourceName, __LINE__, "Unicode Client\n");
    }
    tc->begun = 1;
    if (locked) psMutexUnlock(&tc->controlMutex);
    return 0;
}

void traceClose(int resetToo) {
    TraceControl* tc = traceControl;
    if (tc == nullptr) return;
    const int64_t nextWrite = tc->nextWrite;
    const bool wrapped = tc->wrapEnabled != 0;
    if (resetToo) traceReset(0);
    closeOutput(tc, nextWrite, wrapped);
}

bool traceRecordNextWrite(FILE* f, int64_t pos) {
    TraceControl* tc = traceControl;
    if (tc == nullptr || f == nullptr) return false;
    tc->nextWrite = pos;
    char field[traceOffsetField + 1];
    std::snprintf(field, sizeof field, "%-12u", static_cast<unsigned>(pos));
    return plat::streamWriteAt(f, traceOffsetField, field, traceOffsetField);
}

void traceSaveNextWrite(FILE* stream) {
    if (traceControl == nullptr || stream == nullptr) return;
    const int64_t pos = plat::streamTell(stream);
    traceRecordNextWrite(stream, pos);
    plat::streamSeek(stream, pos);
}

void traceCheckWrap(int length) {
    traceWrapIfFull(length);
    TraceControl* tc = traceControl;
    if (tc != nullptr && tc->stream != nullptr) plat::streamSeek(tc->stream, tc->nextWrite);
}

void traceWrapIfFull(int length) {
    TraceControl* tc = traceControl;
    if (tc == nullptr || tc->stream == nullptr) return;
    const int64_t projected = tc->nextWrite + length + traceWrapReserve;
    const uint32_t segments = tc->segmentCount;
    const uint32_t limit = segments <= 1                         ? tc->maxSizeMB
                           : tc->currentSegment == segments ? tc->lastSegmentSizeMB
                                                                : tc->segmentSizeMB;
    if (static_cast<double>(projected) / static_cast<double>(kMegabyte) > limit) {
        plat::streamSeek(tc->stream, tc->nextWrite);
        if (segments >= 2) {
            std::fprintf(tc->stream, traceSegmentEndFormat, tc->currentSegment % segments + 1);
        } else {
            std::fputs(traceWrapMarker, tc->stream);
        }
        std::fflush(tc->stream);
        tc->nextWrite = tc->startOfData;
        if (segments >= 2) {
            tc->switchingSegment = 1;
            traceClose(0);
            tc->previousSegment = tc->currentSegment;
            tc->currentSegment = tc->currentSegment % segments + 1;
            traceOpen(tc->baseFileName, 1);
            tc->switchingSegment = 0;
        }
    }
}

int traceWriteRaw(const char* text) {
    TraceControl* tc = traceControl;
    if (tc == nullptr || tc->stream == nullptr) return 0;
    if (tc->callbackMode) {
        if (tc->outputCallback != nullptr) tc->outputCallback(traceOpWrite, text, tc->callbackContext);
        return 0;
    }
    if (traceIsConsoleStream(tc->stream)) {
        return tc->consoleOutput ? std::fprintf(tc->stream, "%s", text) : 0;
    }
    int result = 0;
    int err = 0;
    if (tc->wrapEnabled) {
        const bool locked = psMutexLock(&traceFileMutex, 1) == 0;
        traceCheckWrap(static_cast<int>(std::strlen(text)));
        if (tc->stream == nullptr) {
            if (locked) psMutexUnlock(&traceFileMutex);
            return -1;
        }
        result = std::fprintf(tc->stream, "%s", text);
        if (result < 0) err = errno;
        traceSaveNextWrite(tc->stream);
        std::fputs(traceEndMarker, tc->stream);
        if (locked) psMutexUnlock(&traceFileMutex);
    } else {
        result = std::fprintf(tc->stream, "%s", text);
        if (result < 0) err = errno;
    }
    if (std::fflush(tc->stream) != 0 || std::ferror(tc->stream)) {
        if (err == 0) err = errno != 0 ? errno : EIO;
        result = -1;
    }
    if (result < 0) {
        char name[traceNameBytes];
        std::memcpy(name, tc->fileName, sizeof name);
        traceReset(1);
        const std::string why = plat::errnoText(err);
        std::printf("Unable to write to trace file %s error is (%d) %s. Tracing disabled.\n", name, err, why.c_str());
        std::fflush(stdout);
    }
    return result;
}

void traceRawPrintf(const char* fmt, ...) {
    if (!traceIsActive()) return;
    const ErrnoKeeper keep;
    char buf[traceWideMessageUnits];
    va_list ap;
    va_start(ap, fmt);
    traceAppendV(buf, sizeof buf, 0, fmt, ap);
    va_end(ap);
    traceWriteRaw(buf);
}

// --- Wrapping log files --------------------------------------------------------

void utMakeRoom(LogFileCtl* log, int length) {
    if (log->wrapEnabled == 0 || log->stream == nullptr) return;
    FILE* f = log->stream;
    std::rewind(f);
    unsigned long stored = 0;
    if (std::fscanf(f, "LOGHEADERREC %lu", &stored) != 1) stored = 0;
    log->nextWrite = static_cast<int64_t>(stored);
    const int64_t projected =
        static_cast<int64_t>(std::strlen(logEndOfDataMarker)) + length + log->nextWrite + 1;
    const int64_t room = static_cast<int64_t>(log->maxBytes) - static_cast<int64_t>(std::strlen(logWrapMarker)) - 1;
    if (projected > room) {
        plat::streamSeek(f, log->nextWrite);
        std::fputs(logWrapMarker, f);
        std::fflush(f);
        const int64_t rest = static_cast<int64_t>(log->maxBytes) - plat::streamTell(f);
        if (rest == 1) {
            std::fputs("\n", f);
        } else if (rest >= 2) {
            // Blanks, a star and a newline up to the maximum size.
            for (int64_t i = 0; i < rest - 2; ++i) std::fputc(' ', f);
            std::fputs("*\n", f);
        }
        std::fflush(f);
        std::rewind(f);
        char line[4097];
        if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
        log->nextWrite = plat::streamTell(f);
    }
    std::fflush(f);
    plat::streamSeek(f, log->nextWrite);
}

void utSetNextWrite(LogFileCtl* log) {
    if (log->wrapEnabled == 0 || log->stream == nullptr) return;
    FILE* f = log->stream;
    log->nextWrite = plat::streamTell(f);
    std::rewind(f);
    std::fprintf(f, logHeaderFormat, static_cast<unsigned long>(log->nextWrite));
    std::fflush(f);
    plat::streamSeek(f, log->nextWrite);
    if (traceFlag_GENERAL) {
        tracePrintf(kLogSourceName, __LINE__, "utSetNextWrite(): nextWrite for END OF DATA is %d .\n",
                    static_cast<int>(log->nextWrite));
    }
    std::fprintf(f, "%s\n", logEndOfDataMarker);
    std::fflush(f);
}
