// The trace output and its files (layouts in tracefile.h), and the size
// keeping of wrapping log files.
//
// Trace files are opened in binary mode on every platform, so that the
// offsets in their headers are byte offsets and a file reads the same on
// Windows and elsewhere.  They are opened through plat::openPrivateFile:
// the trace file of a privileged service must not let its name be bent
// towards another file (a symbolic link, a hard link, a device or a FIFO
// is refused), and a file that is not one of ours is never overwritten:
// a non-empty file that does not begin with our header is refused and
// left as it is.
//
// Locks: traceFileMutex, then controlMutex, never the other way round.
// Opening, writing and closing the output stream all happen under
// traceFileMutex, so no thread closes a stream that another is writing.

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
// the control mutex, resets and closes.  `why`, when given, says why the
// file was refused; it is then left as it was.
int openFailed(TraceControl* tc, bool locked, const char* why = nullptr) {
    if (tc->consoleOutput) {
        if (why != nullptr) {
            std::printf("Unable to open trace output file %s: %s, left as it is\n", tc->fileName, why);
        } else {
            std::printf("Unable to open trace output file %s\n", tc->fileName);
        }
        std::fflush(stdout);
    }
    if (locked) psMutexUnlock(&tc->controlMutex);
    traceReset(1);
    return traceErrOpen;
}

// What an existing file holds at its start.
enum class FileStart { Empty, Ours, Foreign };

// Reads the start of `f`: empty, one of our trace files (its first bytes
// are our magic), or anything else.  The stream is left at the start.
FileStart examineStart(FILE* f) {
    char head[traceMagicLength];
    std::rewind(f);
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::rewind(f);
    if (n == 0) return FileStart::Empty;
    return n == sizeof head && std::memcmp(head, traceMagic, sizeof head) == 0 ? FileStart::Ours : FileStart::Foreign;
}

// Reads the header of our existing wrapping file `f`; true, with the
// stored next-write offset and the header's line end (LF, or CR LF as a
// text-mode writer leaves it), when the file may be resumed under the
// current settings.
bool resumable(const TraceControl* tc, FILE* f, uint32_t* nextWrite, bool* crlf) {
    if (tc->segmentCount > 1) return false;
    if (!plat::streamSeek(f, 0) || std::fseek(f, 0, SEEK_END) != 0) return false;
    const int64_t size = plat::streamTell(f);
    std::rewind(f);
    // A wrapped file may end with the wrap marker just past the maximum.
    if (size < 0 ||
        size > static_cast<int64_t>(tc->maxSizeMB) * kMegabyte + static_cast<int64_t>(sizeof traceWrapMarker)) {
        return false;
    }
    char line[traceHeaderReadLimit + 2];
    if (std::fgets(line, sizeof line, f) == nullptr) return false;
    unsigned stored = 0, storedMax = 0;
    if (std::sscanf(line, "ZEP Trace   %u %u", &stored, &storedMax) != 2) return false;
    if (std::strncmp(line, traceMagic, traceMagicLength) != 0) return false;
    // The whole header must be one of ours: its length fixes where data
    // starts and lets the tail be rewritten in place.
    const size_t length = std::strlen(line);
    *crlf = length >= 2 && line[length - 2] == '\r';
    if (length != traceWrapHeaderLength - 1 + (*crlf ? 1 : 0)) return false;
    if (*crlf && std::fgetc(f) != '\r') return false;
    if (std::fgetc(f) != '\n') return false;
    if (storedMax > tc->maxSizeMB) return false;
    const int64_t dataStart = static_cast<int64_t>(traceWrapHeaderLength) + (*crlf ? 2 : 0);
    if (stored < dataStart || static_cast<int64_t>(stored) > size) return false;
    *nextWrite = stored;
    return true;
}

// Opens fileName as a wrapping trace file: resumed when its header allows,
// otherwise made anew; a foreign file is refused.  0, or traceErrOpen
// (already reported and reset).
int openWrapping(TraceControl* tc, bool locked) {
    const char* refusal = nullptr;
    FILE* f = plat::openPrivateFile(tc->fileName, "r+", &refusal);
    if (f == nullptr && refusal != nullptr) return openFailed(tc, locked, refusal);
    bool resumed = false;
    if (f != nullptr) {
        const FileStart start = examineStart(f);
        if (start == FileStart::Foreign) {
            std::fclose(f);
            return openFailed(tc, locked, "not a trace file");
        }
        uint32_t stored = 0;
        bool crlf = false;
        if (start == FileStart::Ours && resumable(tc, f, &stored, &crlf) && plat::streamSeek(f, traceMaxSizeOffset)) {
            // The tail is rewritten with the line ends the header has, so
            // that data still starts where it did.
            char tail[128];
            std::snprintf(tail, sizeof tail, traceHeaderTailFormat, tc->maxSizeMB, traceBuildDate);
            std::string text = tail;
            if (crlf) text.replace(text.size() - 2, 2, "\r\n\r\n");
            std::fputs(text.c_str(), f);
            std::fflush(f);
            tc->startOfData = static_cast<int64_t>(traceWrapHeaderLength) + (crlf ? 2 : 0);
            tc->nextWrite = stored;
            resumed = true;
        } else if (!plat::streamTruncate(f, 0)) {
            std::fclose(f);
            return openFailed(tc, locked);
        }
    } else {
        f = plat::openPrivateFile(tc->fileName, "x+", &refusal);
        if (f == nullptr) return openFailed(tc, locked, refusal);
    }
    if (!resumed) {
        std::rewind(f);
        std::fputs(traceMagic, f);
        std::fputs(traceOffsetPlaceholder, f);
        std::fprintf(f, traceHeaderTailFormat, tc->maxSizeMB, traceBuildDate);
        traceSaveNextWrite(f);
        tc->startOfData = plat::streamTell(f);
        tc->nextWrite = tc->startOfData;
    }
    setStream(tc, f);
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

// Opens fileName as a plain trace file: lines are appended; a foreign
// file is refused.  0, or traceErrOpen (already reported and reset).
int openPlain(TraceControl* tc, bool locked) {
    const char* refusal = nullptr;
    FILE* f = plat::openPrivateFile(tc->fileName, "a+", &refusal);
    if (f == nullptr) return openFailed(tc, locked, refusal);
    if (examineStart(f) == FileStart::Foreign) {
        std::fclose(f);
        return openFailed(tc, locked, "not a trace file");
    }
    setStream(tc, f);
    std::fprintf(f, tracePlainHeaderFormat, traceBuildDate);
    std::fflush(f);
    return 0;
}

// Closes the output; `nextWrite` and `wrapped` are the values from before
// any reset.  The caller holds traceFileMutex.
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
        setStream(tc, nullptr);
        if (std::fclose(f) != 0) {
            const std::string why = plat::errnoText(errno);
            std::printf("Unable to close trace output file %s: %s \n", tc->fileName, why.c_str());
            std::fflush(stdout);
        }
    }
    setStream(tc, nullptr);
    tc->fileName[0] = '\0';
}

}  // namespace

void traceCloseOutput() {
    TraceControl* tc = traceControl;
    if (tc == nullptr) return;
    const TraceFileLock lock;
    closeOutput(tc, tc->nextWrite, tc->wrapEnabled != 0);
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
    const TraceFileLock fileLock;
    if (tc->stream != nullptr) return 0;
    // Header offsets are 32-bit numbers: a larger maximum would wrap them.
    const bool segmented = tc->segmentCount >= 2;
    if (tc->wrapEnabled &&
        (tc->maxSizeMB > traceMaxSizeLimitMB ||
         (segmented && (tc->segmentSizeMB > traceMaxSizeLimitMB || tc->lastSegmentSizeMB > traceMaxSizeLimitMB)))) {
        if (tc->consoleOutput) {
            std::printf("Unable to open trace output file %s: a maximum size above %u MB\n", tc->fileName,
                        static_cast<unsigned>(traceMaxSizeLimitMB));
            std::fflush(stdout);
        }
        traceReset(1);
        return traceErrOpen;
    }
    const bool locked = psMutexLock(&tc->controlMutex, 1) == 0;
    bool console = true;
    if (isName(tc->fileName, "CONSOLE")) {
        if (tc->outputCallback != nullptr && tc->outputCallback(traceOpConsole, nullptr, tc->callbackContext) == 0) {
            tc->callbackMode = 1;
            tc->wrapEnabled = 0;
            traceSetEnabled(tc, 1);
            setStream(tc, stderr);
            std::printf("Tracing to stderr\n");
            std::fflush(stdout);
        } else {
            tc->callbackMode = 0;
        }
    } else if (isName(tc->fileName, "STDOUT")) {
        tc->wrapEnabled = 0;
        setStream(tc, stdout);
        tracePrintf(kSourceName, __LINE__, "Tracing to stdout\n");
    } else if (isName(tc->fileName, "STDERR")) {
        tc->wrapEnabled = 0;
        setStream(tc, stderr);
        tracePrintf(kSourceName, __LINE__, "Tracing to stderr\n");
    } else if (tc->wrapEnabled) {
        console = false;
        if (openWrapping(tc, locked) != 0) return traceErrOpen;
    } else {
        console = false;
        if (openPlain(tc, locked) != 0) return traceErrOpen;
    }
    if (!console && !tc->begun) {
        if (tc->timestampsRequested) {
            traceSetEnabled(tc, 1);
            traceFlagStore(traceFlag_TIMESTAMP, 1);
            traceFlagStore(traceFlag_PREFIX, 1);
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
        traceSetEnabled(tc, 1);
        tracePrintf(kSourceName, __LINE__, "Unicode Client\n");
    }
    tc->begun = 1;
    if (locked) psMutexUnlock(&tc->controlMutex);
    return 0;
}

void traceClose(int resetToo) {
    TraceControl* tc = traceControl;
    if (tc == nullptr) return;
    const TraceFileLock lock;
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
    const uint32_t limit = segments <= 1                    ? tc->maxSizeMB
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
            traceSetSwitching(tc, 1);
            traceClose(0);
            tc->previousSegment = tc->currentSegment;
            tc->currentSegment = tc->currentSegment % segments + 1;
            traceOpen(tc->baseFileName, 1);
            traceSetSwitching(tc, 0);
        }
    }
}

int traceWriteRaw(const char* text) {
    TraceControl* tc = traceControl;
    if (tc == nullptr || !traceOutputOpen(tc)) return 0;
    const TraceFileLock fileLock;
    if (tc->stream == nullptr) return 0;
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
        traceCheckWrap(static_cast<int>(std::strlen(text)));
        if (tc->stream == nullptr) return -1;
        result = std::fprintf(tc->stream, "%s", text);
        if (result < 0) err = errno;
        traceSaveNextWrite(tc->stream);
        std::fputs(traceEndMarker, tc->stream);
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
    const int64_t projected = static_cast<int64_t>(std::strlen(logEndOfDataMarker)) + length + log->nextWrite + 1;
    const int64_t room = static_cast<int64_t>(log->maxBytes) - static_cast<int64_t>(std::strlen(logWrapMarker)) - 1;
    if (projected > room) {
        plat::streamSeek(f, log->nextWrite);
        std::fputs(logWrapMarker, f);
        std::fflush(f);
        const int64_t rest = static_cast<int64_t>(log->maxBytes) - plat::streamTell(f);
        if (rest == 1) {
            std::fputs("\n", f);
        } else if (rest >= 2) {
            // Blanks, a star and a newline up to the maximum size, in one
            // write (log streams are unbuffered).
            std::string fill(static_cast<size_t>(rest - 2), ' ');
            fill += "*\n";
            std::fwrite(fill.data(), 1, fill.size(), f);
        }
        std::fflush(f);
        // A log continued under a lower maximum than it was written with
        // keeps its bytes beyond the maximum; they are overwritten as the
        // records come round.
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
