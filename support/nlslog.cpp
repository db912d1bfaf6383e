// The error log and the echo log: opening them, and writing records with
// their date and time within the logs' maximum size (utMakeRoom and
// utSetNextWrite keep the header's next-write offset and the markers).

#include "nlslog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "kvmem.h"
#include "lockhandle.h"
#include "nls.h"
#include "platform.h"
#include "pstime.h"
#include "trace.h"
#include "trace_internal.h"
#include "tracefile.h"

NlsLogFile nlsErrorLog;
NlsLogFile nlsEchoLog;
uint32_t nlsEchoSwitch = 0;

namespace {

const char kSourceName[] = "nlslog.cpp";

// Why the last nlsLogOpen failed, for the program to tell its user.
char openProblem[1200] = "";

// What an existing file holds at its start.
enum class LogStart { Empty, Ours, Foreign };

LogStart examineStart(FILE* f) {
    char head[sizeof logHeaderMagic - 1];
    std::rewind(f);
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::rewind(f);
    if (n == 0) return LogStart::Empty;
    return n == sizeof head && std::memcmp(head, logHeaderMagic, sizeof head) == 0 ? LogStart::Ours : LogStart::Foreign;
}

// True, with the stored next-write offset, when `f` is a log of ours
// whose header and end-of-data marker are sound.  The header line may end
// in CR LF, as a text-mode writer leaves it.  A log larger than maxBytes
// (its maximum was lowered) is continued too: it wraps at its next record,
// and nothing of it is cut.
bool resumable(FILE* f, int64_t* nextWrite) {
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    const int64_t size = plat::streamTell(f);
    std::rewind(f);
    char header[logHeaderLength + 2] = {};
    if (std::fread(header, 1, logHeaderLength, f) != logHeaderLength) return false;
    if (std::strncmp(header, logHeaderMagic, sizeof logHeaderMagic - 1) != 0) return false;
    int64_t dataStart = logHeaderLength;
    if (header[logHeaderLength - 1] == '\r') {
        if (std::fgetc(f) != '\n') return false;
        ++dataStart;
    } else if (header[logHeaderLength - 1] != '\n') {
        return false;
    }
    int64_t v = 0;
    size_t i = 13;
    for (; i < logHeaderLength - 1 && header[i] >= '0' && header[i] <= '9'; ++i) v = v * 10 + (header[i] - '0');
    if (i == 13) return false;
    for (; i < logHeaderLength - 1; ++i)
        if (header[i] != ' ') return false;
    const size_t markLength = sizeof logEndOfDataText - 1;
    if (v < dataStart || v + static_cast<int64_t>(markLength) + 1 > size) return false;
    char mark[sizeof logEndOfDataText] = {};
    if (!plat::streamSeek(f, v) || std::fread(mark, 1, markLength, f) != markLength) return false;
    if (std::memcmp(mark, logEndOfDataText, markLength) != 0) return false;
    *nextWrite = v;
    return true;
}

// The date and time texts of now.
void nowTexts(char date[psDateTextSize], char time[psDateTextSize]) {
    DateTime7 dt;
    psNow(&dt);
    psDateText(&dt, date);
    psTimeText(&dt, time);
}

// The room a log record asks utMakeRoom for: date, time and text and the
// two blanks between them.
int recordRoom(const char* date, const char* time, size_t textLength) {
    const size_t n = std::strlen(date) + std::strlen(time) + textLength + 2;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

}  // namespace

int nlsLogOpen(NlsLogFile* log, const char* path, uint32_t maxBytes) {
    nlsLogClose(log);
    openProblem[0] = '\0';
    std::snprintf(logEndOfDataMarker, sizeof logEndOfDataMarker, "%s", logEndOfDataText);
    std::snprintf(logWrapMarker, sizeof logWrapMarker, "%s", logWrapText);
    LogFileCtl& c = log->ctl;
    c.maxBytes = maxBytes;
    c.wrapEnabled = 1;
    auto refuse = [&](const char* why, int err) {
        std::snprintf(openProblem, sizeof openProblem, "%s: %s, left as it is", path, why);
        errno = err;
        return 942;
    };
    auto failed = [&](FILE* f) {
        const int err = errno != 0 ? errno : EIO;
        if (f != nullptr) std::fclose(f);
        std::snprintf(openProblem, sizeof openProblem, "%s: %s", path, plat::errnoText(err).c_str());
        c.stream = nullptr;
        errno = err;
        return 942;
    };
    const char* refusal = nullptr;
    errno = 0;
    FILE* f = plat::openPrivateFile(path, "r+", &refusal);
    if (f == nullptr && refusal != nullptr) return refuse(refusal, errno);
    // Unbuffered: a record that cannot be written fails at once and leaves
    // nothing behind in the stream to be written later at a wrong place.
    if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
    int64_t next = 0;
    bool resumed = false;
    if (f != nullptr) {
        const LogStart start = examineStart(f);
        if (start == LogStart::Foreign) {
            std::fclose(f);
            return refuse("not a log file", EINVAL);
        }
        resumed = start == LogStart::Ours && resumable(f, &next);
        // Ours but damaged: made anew.
        if (!resumed && !plat::streamTruncate(f, 0)) return failed(f);
    } else {
        f = plat::openPrivateFile(path, "x+", &refusal);
        if (f == nullptr) return refusal != nullptr ? refuse(refusal, errno) : failed(nullptr);
        std::setvbuf(f, nullptr, _IONBF, 0);
    }
    if (!resumed) {
        std::rewind(f);
        std::fprintf(f, logHeaderFormat, static_cast<unsigned long>(logHeaderLength));
        std::fputc('\n', f);
        std::fflush(f);
        c.stream = f;
        c.nextWrite = logHeaderLength;
        utSetNextWrite(&c);  // the end-of-data marker after no records
        if (std::ferror(f)) {
            const int err = errno != 0 ? errno : EIO;
            nlsLogClose(log);
            errno = err;
            std::snprintf(openProblem, sizeof openProblem, "%s: %s", path, plat::errnoText(err).c_str());
            return 942;
        }
    } else {
        c.stream = f;
        c.nextWrite = next;
        char last = '\n';
        if (next > static_cast<int64_t>(logHeaderLength) && plat::streamSeek(f, next - 1)) {
            last = static_cast<char>(std::fgetc(f));
        }
        log->atLineStart = last == '\n' ? 1 : 0;
        std::fflush(f);
        plat::streamSeek(f, next);
    }
    log->enabled = 1;
    log->lastError = 0;
    return 0;
}

const char* nlsLogOpenProblem() { return openProblem; }

void nlsLogClose(NlsLogFile* log) {
    if (log->ctl.stream != nullptr) std::fclose(log->ctl.stream);
    log->ctl = LogFileCtl{};
    log->enabled = 0;
    log->lastError = 0;
    log->atLineStart = 1;
}

namespace {

// The error number of a write to `f` that failed (the stream's error
// state, which also a failed flush sets), or 0.
int writeError(FILE* f, int err) {
    if (err == 0 && std::ferror(f)) err = errno != 0 ? errno : EIO;
    return err;
}

// After a record that could not be written: the header and the end
// marker go back to where the record began, so that the log stays as it
// was and is continued there, not made anew, when it is opened again.
void undoRecord(LogFileCtl* c, int64_t recordStart) {
    std::clearerr(c->stream);
    if (plat::streamSeek(c->stream, recordStart)) utSetNextWrite(c);
    std::clearerr(c->stream);
}

}  // namespace

int errorLogWrite(const char* text) {
    const ErrnoKeeper keep;  // error reports must leave errno alone
    if (text == nullptr) return 109;
    if (nlsErrorLog.enabled == 0) return 0;
    if (nlsLock == nullptr || lockHandle(nlsLock) != 0) return 109;
    LogFileCtl* c = &nlsErrorLog.ctl;
    if (c->stream == nullptr) {
        unlockHandle(nlsLock);
        return 0;
    }
    char date[psDateTextSize], time[psDateTextSize];
    nowTexts(date, time);
    const size_t textLength = std::strlen(text);
    const bool newline = textLength == 0 || text[textLength - 1] != '\n';
    // A write that fails may show only when the stream's buffer goes to
    // the file: the flush and the stream's error state count as well.
    std::clearerr(c->stream);
    errno = 0;
    // The room asked for covers the two blanks; the margin that utMakeRoom
    // keeps covers the newline added after a text without one.  A text
    // longer than the log is written whole after the wrap.
    utMakeRoom(c, recordRoom(date, time, textLength));
    const int64_t recordStart = c->nextWrite;
    int err = writeError(c->stream, 0);
    int result = std::fprintf(c->stream, "%s %s %s", date, time, text);
    if (result >= 0 && newline && std::fputc('\n', c->stream) == EOF) result = -1;
    if (result < 0 && err == 0) err = errno != 0 ? errno : EIO;
    if (std::fflush(c->stream) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    utSetNextWrite(c);
    err = writeError(c->stream, err);
    if (err != 0) {
        undoRecord(c, recordStart);
        nlsErrorLog.lastError = err;
        result = 621;
    }
    unlockHandle(nlsLock);
    return result;
}

int echoLogWrite(const char* text) {
    const ErrnoKeeper keep;  // error reports must leave errno alone
    if (text == nullptr || nlsEchoLog.enabled == 0 || nlsLock == nullptr || lockHandle(nlsLock) != 0) return 0;
    LogFileCtl* c = &nlsEchoLog.ctl;
    const nlsMsg* head = nlsCtx.primaryCache;
    if ((head == nullptr || head->msgNum != 11025) && c->stream != nullptr) {
        char date[psDateTextSize], time[psDateTextSize];
        nowTexts(date, time);
        const bool dated = nlsCtx.echoLineStart == 1;
        const size_t textLength = std::strlen(text);
        std::clearerr(c->stream);
        errno = 0;
        // The same room as a dated record, also for a line that goes on.
        utMakeRoom(c, recordRoom(date, time, textLength));
        const int64_t recordStart = c->nextWrite;
        int err = writeError(c->stream, 0);
        const int written =
            dated ? std::fprintf(c->stream, "%s %s %s", date, time, text) : std::fprintf(c->stream, "%s", text);
        if (written < 0 && err == 0) err = errno != 0 ? errno : EIO;
        nlsCtx.echoLineStart = textLength > 0 && text[textLength - 1] == '\n' ? 1 : 0;
        if (std::fflush(c->stream) != 0 && err == 0) err = errno != 0 ? errno : EIO;
        utSetNextWrite(c);
        err = writeError(c->stream, err);
        if (err != 0) {
            undoRecord(c, recordStart);
            nlsEchoLog.lastError = err;
        }
    }
    unlockHandle(nlsLock);
    return 0;
}

int nlsErrorLogSink(const char* text, int engine) {
    if (!engine) return errorLogWrite(text);
    // The engine's reports follow the text of message 361 (none when the
    // repository has no such message; 361 takes no arguments).
    char* logText = static_cast<char*>(kvMalloc(traceMessageBytes, kSourceName, __LINE__));
    if (logText == nullptr) return 0;
    char* prefix = nullptr;
    NlsNoArgs none;
    nlGetMsgSev(&nlsCtx, 361, &prefix, none, nullptr);
    size_t used = 0;
    if (prefix != nullptr) {
        used = std::strlen(prefix);
        if (used > traceMessageBytes - 1) used = traceMessageBytes - 1;
        std::memcpy(logText, prefix, used);
        kvFree(prefix, kSourceName, __LINE__);
    }
    std::snprintf(logText + used, traceMessageBytes - used, "%s", text);
    const int result = errorLogWrite(logText);
    kvFree(logText, kSourceName, __LINE__);
    return result;
}
