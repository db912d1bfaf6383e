// The error log and the echo log: opening them, and writing records with
// their date and time within the logs' maximum size (utMakeRoom and
// utSetNextWrite keep the header's next-write offset and the markers).

#include "nlslog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lockhandle.h"
#include "nls.h"
#include "platform.h"
#include "pstime.h"
#include "trace_internal.h"
#include "tracefile.h"

NlsLogFile nlsErrorLog;
NlsLogFile nlsEchoLog;
uint32_t nlsEchoSwitch = 0;

namespace {

// True, with the stored next-write offset, when `f` is a log of ours that
// may be continued within maxBytes.
bool resumable(FILE* f, const char* path, uint32_t maxBytes, int64_t* nextWrite) {
    int64_t size = 0;
    if (!plat::fileSize(path, &size) || size > static_cast<int64_t>(maxBytes)) return false;
    char header[logHeaderLength + 1] = {};
    if (std::fread(header, 1, logHeaderLength, f) != logHeaderLength) return false;
    if (std::strncmp(header, "LOGHEADERREC ", 13) != 0 || header[logHeaderLength - 1] != '\n') return false;
    int64_t v = 0;
    size_t i = 13;
    for (; i < logHeaderLength - 1 && header[i] >= '0' && header[i] <= '9'; ++i) v = v * 10 + (header[i] - '0');
    if (i == 13) return false;
    for (; i < logHeaderLength - 1; ++i)
        if (header[i] != ' ') return false;
    const size_t markLength = sizeof logEndOfDataText - 1;
    if (v < static_cast<int64_t>(logHeaderLength) || v + static_cast<int64_t>(markLength) + 1 > size) return false;
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

// How much of a text of textLength bytes a record may hold, after `fixed`
// bytes of date and time and before `extra` bytes (an added newline), so
// that the record fits between the header and the markers: a longer text
// is cut and the log keeps within its size.
size_t fitText(const LogFileCtl* c, size_t fixed, size_t textLength, size_t extra) {
    const int64_t longest = static_cast<int64_t>(c->maxBytes) - static_cast<int64_t>(logHeaderLength) -
                            static_cast<int64_t>(std::strlen(logEndOfDataMarker)) -
                            static_cast<int64_t>(std::strlen(logWrapMarker)) - 2;
    const int64_t room = longest - static_cast<int64_t>(fixed + extra);
    if (room <= 0) return 0;
    return static_cast<int64_t>(textLength) > room ? static_cast<size_t>(room) : textLength;
}

}  // namespace

int nlsLogOpen(NlsLogFile* log, const char* path, uint32_t maxBytes) {
    nlsLogClose(log);
    std::snprintf(logEndOfDataMarker, sizeof logEndOfDataMarker, "%s", logEndOfDataText);
    std::snprintf(logWrapMarker, sizeof logWrapMarker, "%s", logWrapText);
    LogFileCtl& c = log->ctl;
    c.maxBytes = maxBytes;
    c.wrapEnabled = 1;
    FILE* f = plat::openPrivateFile(path, "r+");
    int64_t next = 0;
    if (f != nullptr && !resumable(f, path, maxBytes, &next)) {
        std::fclose(f);
        f = nullptr;
    }
    if (f == nullptr) {
        f = plat::openPrivateFile(path, "w+");
        if (f == nullptr) return 942;
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

void nlsLogClose(NlsLogFile* log) {
    if (log->ctl.stream != nullptr) std::fclose(log->ctl.stream);
    log->ctl = LogFileCtl{};
    log->enabled = 0;
    log->lastError = 0;
    log->atLineStart = 1;
}

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
    const size_t fixed = std::strlen(date) + std::strlen(time) + 2;
    size_t textLength = std::strlen(text);
    bool newline = textLength == 0 || text[textLength - 1] != '\n';
    const size_t kept = fitText(c, fixed, textLength, 1);
    if (kept < textLength) {
        textLength = kept;
        newline = true;
    }
    utMakeRoom(c, static_cast<int>(fixed + textLength + (newline ? 1 : 0)));
    int result = std::fprintf(c->stream, "%s %s %.*s", date, time, static_cast<int>(textLength), text);
    if (result >= 0 && newline && std::fputc('\n', c->stream) == EOF) result = -1;
    if (result < 0) {
        nlsErrorLog.lastError = errno != 0 ? errno : EIO;
        result = 621;
    }
    std::fflush(c->stream);
    utSetNextWrite(c);
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
        const size_t fixed = dated ? std::strlen(date) + std::strlen(time) + 2 : 0;
        const size_t textLength = fitText(c, fixed, std::strlen(text), 0);
        utMakeRoom(c, static_cast<int>(fixed + textLength));
        const int length = static_cast<int>(textLength);
        const int written = dated ? std::fprintf(c->stream, "%s %s %.*s", date, time, length, text)
                                  : std::fprintf(c->stream, "%.*s", length, text);
        if (written < 0) nlsEchoLog.lastError = errno != 0 ? errno : EIO;
        nlsCtx.echoLineStart = textLength > 0 && text[textLength - 1] == '\n' ? 1 : 0;
        std::fflush(c->stream);
        utSetNextWrite(c);
    }
    unlockHandle(nlsLock);
    return 0;
}
