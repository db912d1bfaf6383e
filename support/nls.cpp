// The message repository: setting it up, reading index entries and
// records, the cache rings, and the lookups.
//
// A repository file may be short, truncated or hostile.  Every read is a
// positioned read of a known length that must succeed whole; a record's
// texts are assembled into the context's text buffer and a record whose
// texts would not fit there is refused as unreadable text (QLX0108E), as is
// a segment with a text length of 0.  A record chain therefore ends after
// at most 25856 segments.  The length of an assembled text is kept with
// the message, so that formatting never reads past it.

#include "nls.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

#include "GlobalRC.h"
#include "kvmem.h"
#include "lockhandle.h"
#include "msgcodepage.h"
#include "nlslog.h"
#include "platform.h"
#include "trace.h"
#include "traceclasses.h"
#include "widetext.h"

nlsContext nlsCtx;
LockHandle* nlsLock = nullptr;
uint32_t nlsCodePageSwitch = 0;

namespace {

const char kSource[] = "nls.cpp";

#define NLS_TRACE(...)                                 \
    do {                                               \
        const TraceLocation loc_{kSource, __LINE__};   \
        tracePoint(&loc_, traceFlag_NLS, __VA_ARGS__); \
    } while (0)

void copyName(char* dst, const char* src) { std::snprintf(dst, kNlsNameSize, "%s", src != nullptr ? src : ""); }

// A failure message built in the text buffer: shown with the output
// function of code 6, counted as message 9999 and traced.
void reportFailure(nlsContext* ctx, const char* fmt, ...) JBB_PRINTF_LIKE(2, 3);
void reportFailure(nlsContext* ctx, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(ctx->textBuf, sizeof ctx->textBuf, fmt, ap);
    va_end(ap);
    nlOutputMsg(6, ctx->textBuf);
    if (globalRC != nullptr) globalRC->set(9999);
    NLS_TRACE("%s", ctx->textBuf);
}

bool readAt(FILE* f, uint64_t offset, void* dst, size_t n) {
    return plat::streamSeek(f, static_cast<int64_t>(offset)) && std::fread(dst, 1, n, f) == n;
}

bool readNext(FILE* f, void* dst, size_t n) { return n == 0 || std::fread(dst, 1, n, f) == n; }

void ringInsertHead(nlsMsg** head, nlsMsg* m) {
    assert(m->next == nullptr);
    if (*head == nullptr) {
        m->next = m;
        m->prev = m;
    } else {
        m->next = *head;
        m->prev = (*head)->prev;
        (*head)->prev->next = m;
        (*head)->prev = m;
    }
    *head = m;
}

void ringRemove(nlsMsg** head, nlsMsg* m) {
    assert(m->next != nullptr);
    assert(m->prev != nullptr);
    if (m->next == m) {
        *head = nullptr;
    } else {
        m->prev->next = m->next;
        m->next->prev = m->prev;
        if (*head == m) *head = m->next;
    }
    m->next = nullptr;
    m->prev = nullptr;
}

void freeRing(nlsMsg** head) {
    while (*head != nullptr) {
        nlsMsg* m = *head;
        ringRemove(head, m);
        kvFree(m, kSource, __LINE__);
    }
}

}  // namespace

// ---- Setting up -------------------------------------------------------------

int nlsOpen(const NlsSetup& setup) {
    nlsClose();
    if (setup.repository == nullptr || (setup.prefix != nullptr && std::strlen(setup.prefix) > 7)) {
        return 22;
    }
    const bool logs = setup.errorLog != nullptr || setup.echoLog != nullptr;
    if (logs && setup.logMaxBytes < kNlsLogMinBytes) return 22;
    // One file written as both logs would have its records overwritten.
    if (setup.errorLog != nullptr && setup.echoLog != nullptr && std::strcmp(setup.errorLog, setup.echoLog) == 0) {
        return 22;
    }
    nlsContext& c = nlsCtx;
    c.repos = plat::openBinary(setup.repository, "rb");
    if (c.repos == nullptr) return 942;
    if (setup.alternate != nullptr) {
        c.alternateRepos = plat::openBinary(setup.alternate, "rb");
        if (c.alternateRepos == nullptr) {
            const int err = errno;
            nlsClose();
            errno = err;
            return 942;
        }
    }
    nlsLock = lockHandleCreate();
    if (nlsLock == nullptr) {
        nlsClose();
        return 102;
    }
    copyName(c.reposName, setup.repositoryName != nullptr ? setup.repositoryName : setup.repository);
    copyName(c.alternateName, setup.alternateName != nullptr ? setup.alternateName : setup.alternate);
    std::snprintf(c.prefix, sizeof c.prefix, "%s", setup.prefix != nullptr ? setup.prefix : "QLX");
    c.cacheLimit = setup.cacheLimit < 1 ? 1 : setup.cacheLimit;
    for (int i = 0; i < kNlsSeverityCount; ++i) c.output[i] = setup.output[i];
    c.outputMode = setup.outputMode;
    c.echoLineStart = 1;
    nlsCodePageSwitch = setup.convertCodePage ? 1 : 0;
    for (NlsLogFile* log : {&nlsErrorLog, &nlsEchoLog}) {
        const char* path = log == &nlsErrorLog ? setup.errorLog : setup.echoLog;
        if (path != nullptr && nlsLogOpen(log, path, setup.logMaxBytes) != 0) {
            const int err = errno;
            nlsClose();
            errno = err;
            return 942;
        }
    }
    nlsEchoSwitch = nlsEchoLog.enabled;
    // The trace facility's error reports reach the error log through its
    // sink; the global return code learns severities from here.
    traceSetErrorSink(nlsErrorLog.enabled ? nlsErrorLogSink : nullptr);
    globalRCSetMessageSource(nlGetSeverity, nlsShowLockFailure);
    // A continued echo log goes on with the line its last record left open.
    c.echoLineStart = nlsEchoLog.atLineStart;
    return 0;
}

void nlsClose() {
    nlsContext& c = nlsCtx;
    traceSetErrorSink(nullptr);
    nlsLogClose(&nlsErrorLog);
    nlsLogClose(&nlsEchoLog);
    nlsEchoSwitch = 0;
    logEndOfDataMarker[0] = '\0';
    logWrapMarker[0] = '\0';
    freeRing(&c.primaryCache);
    freeRing(&c.alternateCache);
    if (c.repos != nullptr) std::fclose(c.repos);
    if (c.alternateRepos != nullptr) std::fclose(c.alternateRepos);
    c.repos = nullptr;
    c.alternateRepos = nullptr;
    lockHandleDestroy(nlsLock);
    nlsLock = nullptr;
    for (auto& f : c.output) f = nullptr;
    c.prefix[0] = '\0';
    c.reposName[0] = '\0';
    c.alternateName[0] = '\0';
    c.cacheLimit = 1;
    c.alternateFlag = 0;
    c.outputMode = 0;
    c.echoLineStart = 1;
    nlsCodePageSwitch = 0;
}

// ---- Reading ----------------------------------------------------------------

uint32_t ReadIndex(nlsContext* ctx, uint32_t n, int alternate) {
    FILE* f = alternate != 0 ? ctx->alternateRepos : ctx->repos;
    const char* name = alternate != 0 ? ctx->alternateName : ctx->reposName;
    if (f == nullptr) return 0;  // no such repository: nothing to read
    const uint64_t offset = nlsIndexOffset(n);
    NLS_TRACE("ReadIndex: indexOffset = %u\n", static_cast<unsigned>(offset));
    unsigned char b[2];
    if (n == 0 || !readAt(f, offset, b, 2)) {
        reportFailure(ctx, "QLX0105E Error trying to read index for message %u from repository '%s'.\n", n, name);
        return 0;
    }
    const uint32_t r = (static_cast<uint32_t>(b[0]) << 8) | b[1];
    if (r == 0) {
        std::snprintf(ctx->textBuf, sizeof ctx->textBuf, "QLX0106E Message index not found for message %u.\n", n);
        nlOutputMsg(6, ctx->textBuf);
        errorLogWrite(ctx->textBuf);
        if (globalRC != nullptr) globalRC->set(9999);
        NLS_TRACE("%s", ctx->textBuf);
        return 0;
    }
    NLS_TRACE("ReadIndex: msgIndex = %u\n", r);
    return r;
}

nlsMsg* ReadMsg(nlsContext* ctx, uint32_t n, int alternate) {
    const uint32_t r = ReadIndex(ctx, n, alternate);
    if (r == 0) return nullptr;
    FILE* f = alternate != 0 ? ctx->alternateRepos : ctx->repos;
    const char* name = alternate != 0 ? ctx->alternateName : ctx->reposName;
    assert(ctx->repos != nullptr && "repos != NULL");

    char* text = ctx->textBuf;
    const size_t room = sizeof ctx->textBuf - 1;  // keep the terminator's place
    size_t pos = 0;
    bool idWritten = false;
    uint8_t idLen = 0;
    uint8_t severity = 0;
    char response[16] = {};
    const char* failure = nullptr;

    if (!plat::streamSeek(f, static_cast<int64_t>(nlsRecordOffset(r)))) {
        failure = "QLX0107E Error trying to read header for message %u from repository '%s'.\n";
    }
    while (failure == nullptr) {
        unsigned char hb[2];
        if (!readNext(f, hb, 2)) {
            failure = "QLX0107E Error trying to read header for message %u from repository '%s'.\n";
            break;
        }
        const NlsSegmentHeader h = nlsDecodeSegment(hb);
        if (h.responseLen > 0) {
            char resp[8] = {};
            if (!readNext(f, resp, h.responseLen)) {
                failure = "QLX0119E Error trying to read response string for message %u from repository '%s'.\n";
                break;
            }
            std::memcpy(response, resp, sizeof resp);
        }
        if (!idWritten && nlsHasIdentifier(h.severity)) {
            char id[24];
            const int len =
                std::snprintf(id, sizeof id, "%s%04u%c ", ctx->prefix, n % 10000, kNlsIdentifierLetters[h.severity]);
            if (len > 0 && static_cast<size_t>(len) <= room - pos) {
                std::memcpy(text + pos, id, static_cast<size_t>(len));
                if (pos == 0) idLen = static_cast<uint8_t>(len);
                pos += static_cast<size_t>(len);
            }
            idWritten = true;
        }
        if (h.textLen == 0 || h.textLen > room - pos || !readNext(f, text + pos, h.textLen)) {
            failure = "QLX0108E Error trying to read text for message %u from repository '%s'.\n";
            break;
        }
        pos += h.textLen;
        severity = h.severity;
        if (!h.continued) break;
    }
    if (failure != nullptr) {
        reportFailure(ctx, failure, n, name);
        return nullptr;
    }
    text[pos] = '\0';

    void* mem = kvCalloc(1, sizeof(nlsMsg) + pos + 40, kSource, __LINE__);
    if (mem == nullptr) {
        reportFailure(ctx, "%s", "QLX0109E Insufficient memory for allocation of message structure.\n");
        return nullptr;
    }
    nlsMsg* m = new (mem) nlsMsg{};
    m->text = reinterpret_cast<char*>(m + 1);
    m->msgNum = n;
    m->severity = severity;
    std::memcpy(m->response, response, sizeof response);
    m->idLen = idLen;
    m->textLen = static_cast<uint32_t>(pos);
    std::memcpy(m->text, text, pos);
    if (nlsCodePageSwitch == 1) convertMessageText(m->text);
    return m;
}

// ---- The cache --------------------------------------------------------------

nlsMsg* nlFindMsg(nlsContext* ctx, uint32_t n) {
    const bool alt = ctx->alternateFlag != 0;
    nlsMsg** ring = alt ? &ctx->alternateCache : &ctx->primaryCache;
    uint32_t count = 0;
    if (nlsMsg* m = *ring) {
        do {
            assert(m->next != nullptr && "nlsMsgP->next != NULL");
            assert(m->prev != nullptr && "nlsMsgP->prev != NULL");
            ++count;
            if (m->msgNum == n) {
                NLS_TRACE("Found message: %d in cache.\n", static_cast<int>(n));
                ringRemove(ring, m);
                ringInsertHead(ring, m);
                ctx->alternateFlag = 0;
                return m;
            }
            m = m->next;
        } while (m != *ring);
    }
    nlsMsg* m = ReadMsg(ctx, n, alt ? 1 : 0);
    if (m == nullptr && !alt && ctx->alternateRepos != nullptr) m = ReadMsg(ctx, n, 1);
    ctx->alternateFlag = 0;
    if (m == nullptr) return nullptr;
    if (count >= ctx->cacheLimit && *ring != nullptr) {
        nlsMsg* last = (*ring)->prev;
        NLS_TRACE("Deleting message: %d from the cache.\n", static_cast<int>(last->msgNum));
        ringRemove(ring, last);
        kvFree(last, kSource, __LINE__);
    }
    NLS_TRACE("Adding message: %d to the cache.\n", static_cast<int>(n));
    ringInsertHead(ring, m);
    return m;
}

// ---- Lookups ----------------------------------------------------------------

int nlGetMsgSev(nlsContext* ctx, uint32_t n, char** out, NlsArgs& args, int* severity) {
    *out = nullptr;
    if (severity != nullptr) *severity = 0;
    if (nlsLock == nullptr || lockHandle(nlsLock) != 0) return 0;
    nlsMsg* m = nlFindMsg(ctx, n);
    if (m == nullptr) {
        unlockHandle(nlsLock);
        return 0;
    }
    void* mem = kvCalloc(1, sizeof(nlsCharBuffer), kSource, __LINE__);
    uint32_t len = 0;
    if (mem != nullptr) {
        nlsCharBuffer* buf = new (mem) nlsCharBuffer;
        if (m->idLen > 0) {
            buf->append(m->text, m->idLen);
            nlOrderInsert(ctx, buf, m->text + m->idLen, m->textLen - m->idLen, args);
        } else {
            nlOrderInsert(ctx, buf, m->text, m->textLen, args);
        }
        if (buf->buffer != nullptr && buf->length > 0) {
            char* copy = static_cast<char*>(kvCalloc(1, buf->length + 10, kSource, __LINE__));
            if (copy != nullptr) {
                std::memcpy(copy, buf->buffer, buf->length + 1);
                *out = copy;
                len = buf->length;
            }
        }
        buf->~nlsCharBuffer();
        kvFree(mem, kSource, __LINE__);
    }
    if (severity != nullptr) *severity = m->severity;
    unlockHandle(nlsLock);
    return static_cast<int>(len);
}

int nlGetMsgSev(nlsContext* ctx, uint32_t n, char** out, va_list ap, int* severity) {
    NlsVaArgs args(ap);
    return nlGetMsgSev(ctx, n, out, args, severity);
}

int nlVGetMsg(char** out, uint32_t n, va_list ap) { return nlGetMsgSev(&nlsCtx, n, out, ap, nullptr); }

int nlGetMsg(char** out, uint32_t n, ...) {
    va_list ap;
    va_start(ap, n);
    const int len = nlVGetMsg(out, n, ap);
    va_end(ap);
    return len;
}

int nlGetSeverity(uint32_t n) {
    {
        // The global return code asks for severities: traced under its
        // detail class as well as the repository's.
        const TraceLocation loc{kSource, __LINE__};
        const uint8_t flag = (traceFlag_NLS != 0 || traceFlag_EXTRC_DETAIL != 0) ? 1 : 0;
        tracePoint(&loc, flag, "Getting severity for message %d\n", static_cast<int>(n));
    }
    if (nlsLock == nullptr || lockHandle(nlsLock) != 0) {
        NLS_TRACE("%s", "Unable to acquire NLS mutex\n");
        return 6;
    }
    const nlsMsg* m = nlFindMsg(&nlsCtx, n);
    const int severity = m != nullptr ? m->severity : -1;
    if (unlockHandle(nlsLock) != 0) {
        NLS_TRACE("%s", "Unable to release NLS mutex\n");
        nlsDisplayLockFailure(kSource, __LINE__, "Unable to release NLS mutex");
        return -1;
    }
    NLS_TRACE("Severity is %d\n", severity);
    return severity;
}

void nlOutputMsg(int code, const char* text) {
    if (code < 0 || code >= kNlsSeverityCount || nlsCtx.output[code] == nullptr || text == nullptr) {
        return;
    }
    static_assert(kNlsOutputUnits >= wideTextUnits, "strToWide writes up to wideTextUnits units");
    auto* wide = static_cast<char16_t*>(kvMalloc(kNlsOutputUnits * sizeof(char16_t), kSource, __LINE__));
    if (wide == nullptr) return;
    strToWide(wide, text);
    nlsCtx.output[code](wide);
    kvFree(wide, kSource, __LINE__);
}
