// The message repository: numbered messages with a severity code and a
// text that may hold inserts, read from a repository file (nlsformat.h) on
// demand, kept in a least-recently-used cache per repository, and
// formatted from the caller's arguments.
//
// Nothing works until nlsOpen has set the repository up; before that every
// lookup finds no message (nlGetSeverity answers 6).  All lookups hold the
// repository's lock (lockhandle.h) while they use the cache and the
// context's buffers.
#pragma once

#include "traceclasses.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "nlsformat.h"

struct LockHandle;

// Trace class of the repository's trace points.

constexpr size_t kNlsTextBufferSize = 25856;    // assembled texts, own error messages
constexpr size_t kNlsInsertAreaSize = 25856;    // formatted inserts of one message
constexpr size_t kNlsPrintfBufferSize = 25853;  // a formatted printf-form text
constexpr size_t kNlsPieceBufferSize = 8959;    // one literal piece of an ordered text
constexpr size_t kNlsOutputUnits = 25853;       // the buffer of an issued text's wide form
constexpr size_t kNlsNameSize = 1024;           // repository names, cut to fit

// Receives an issued message as UTF-16 text.
using nlsOutputFunc = void (*)(const char16_t* text);

// One cached message.  One allocation holds the structure and, after it,
// the text (text length + 40 bytes, zero-filled).
struct nlsMsg {
    nlsMsg* next;
    nlsMsg* prev;
    uint32_t msgNum;
    uint8_t severity;   // of the record's last segment
    char response[16];  // at most 7 characters and a NUL
    uint8_t idLen;      // length of the identifier at the start of text; 0: none
    uint32_t textLen;   // bytes of text, identifier included (the text may hold NULs)
    char* text;         // identifier and message text, NUL-terminated
};

struct nlsContext {
    nlsOutputFunc output[kNlsSeverityCount];  // per severity code 0 to 8; null: none
    char prefix[8];                           // of the message identifier
    nlsMsg* primaryCache;                     // head (most recently used) of each ring
    nlsMsg* alternateCache;
    FILE* repos;
    FILE* alternateRepos;
    char reposName[kNlsNameSize];
    char alternateName[kNlsNameSize];
    char textBuf[kNlsTextBufferSize];
    uint32_t cacheLimit;     // messages a ring holds, at least 1
    uint32_t alternateFlag;  // the next lookup starts with the alternate ring and repository
    char insertArea[kNlsInsertAreaSize];
    uint32_t echoLineStart;
    uint32_t outputMode;  // kNlsOutputSilent: issued messages reach no output function
};

constexpr uint32_t kNlsOutputSilent = 4;

// The process's repository context, its lock (null until nlsOpen), the
// code-page switch (1: texts read are converted from the source to the
// target code page, codepage.h).
extern nlsContext nlsCtx;
extern LockHandle* nlsLock;
extern uint32_t nlsCodePageSwitch;

// ---- Setting the repository up ----

struct NlsSetup {
    const char* repository = nullptr;      // path of the primary repository (required)
    const char* repositoryName = nullptr;  // shown in error messages; null: the path
    const char* alternate = nullptr;       // path of the alternate repository; null: none
    const char* alternateName = nullptr;   // null: the path
    const char* prefix = nullptr;          // identifier letters, at most 7; null: "QLX"
    uint32_t cacheLimit = 32;              // 0 counts as 1
    nlsOutputFunc output[kNlsSeverityCount] = {};
    uint32_t outputMode = 0;
    bool convertCodePage = false;  // sets nlsCodePageSwitch
    // The logs (nlslog.h): paths, null for none.  Issued messages of
    // severity W and above, the repository's QLX0106E and the trace
    // facility's error reports go to the error log; with an echo log every
    // issued message is copied there too (the echo switch).
    const char* errorLog = nullptr;
    const char* echoLog = nullptr;
    uint32_t logMaxBytes = 1048576;  // each log's maximum size, at least 256
};

// Closes what an earlier setup opened, then opens the repositories, names
// them, sets the prefix, the cache limit, the output functions and mode and
// the code-page switch, creates the lock, and opens and enables the logs
// (continued when they are logs of no more than logMaxBytes, else made
// anew) with their end-of-data and wrap markers (tracefile.h).  0 on
// success; 942 when a repository or a log cannot be opened (errno tells
// why), 102 when the lock cannot be had, 22 for a setup without a primary
// repository, with a prefix longer than 7 characters, with a log size
// below 256 or with one file named for both logs.  On failure nothing stays open.
int nlsOpen(const NlsSetup& setup);
// Frees the cached messages, closes the repositories, destroys the lock.
void nlsClose();

// ---- Arguments of a message ----

// The caller's arguments, taken one at a time in the type each place of
// the message asks for.
class NlsArgs {
public:
    virtual ~NlsArgs() = default;
    virtual int nextInt() = 0;  // also star values and characters
    virtual long nextLong() = 0;
    virtual long long nextLongLong() = 0;
    virtual double nextDouble() = 0;
    virtual const char* nextText() = 0;         // null prints as "(null)"
    virtual const wchar_t* nextWideText() = 0;  // null prints as "(null)"
    // The types that only the printf form asks for; arguments that cannot
    // hold them give the nearest of the types above.
    virtual long double nextLongDouble() { return nextDouble(); }
    virtual intmax_t nextIntMax() { return nextLongLong(); }
    virtual size_t nextSize() { return static_cast<size_t>(nextLongLong()); }
    virtual ptrdiff_t nextPtrDiff() { return static_cast<ptrdiff_t>(nextLongLong()); }
    // A pointer in *p, for %p (and %n, whose pointer is never written
    // through).  False when the arguments hold no pointers: the place
    // then shows nothing (a text argument is taken instead).
    virtual bool nextPointer(const void** p) {
        nextText();
        *p = nullptr;
        return false;
    }
};

// The arguments of a variadic call.
class NlsVaArgs : public NlsArgs {
public:
    explicit NlsVaArgs(va_list ap);
    ~NlsVaArgs() override;
    NlsVaArgs(const NlsVaArgs&) = delete;
    NlsVaArgs& operator=(const NlsVaArgs&) = delete;
    int nextInt() override;
    long nextLong() override;
    long long nextLongLong() override;
    double nextDouble() override;
    const char* nextText() override;
    const wchar_t* nextWideText() override;
    long double nextLongDouble() override;
    intmax_t nextIntMax() override;
    size_t nextSize() override;
    ptrdiff_t nextPtrDiff() override;
    bool nextPointer(const void** p) override;

private:
    va_list ap_;
};

// No arguments: every place of the message gets 0 or an empty text.
class NlsNoArgs : public NlsArgs {
public:
    int nextInt() override { return 0; }
    long nextLong() override { return 0; }
    long long nextLongLong() override { return 0; }
    double nextDouble() override { return 0; }
    const char* nextText() override { return ""; }
    const wchar_t* nextWideText() override { return L""; }
};

// ---- Growing text buffers ----

class nlsBuffer {
public:
    virtual ~nlsBuffer();
    virtual int charSize() const = 0;
    // Appends `count` characters of `text` (0: all of it); returns the new
    // length, 0 when the buffer could not grow.
    virtual uint32_t append(const char* text, uint32_t count) = 0;

    char* buffer = nullptr;
    uint32_t capacity = 0;  // in units of 1024 characters
    uint32_t length = 0;

protected:
    nlsBuffer() = default;
    nlsBuffer(const nlsBuffer&) = delete;
    nlsBuffer& operator=(const nlsBuffer&) = delete;
};

class nlsCharBuffer : public nlsBuffer {
public:
    nlsCharBuffer();  // capacity 4, a zero-filled buffer of 4096 bytes
    int charSize() const override { return 1; }
    // Grows, when length + count + 1 exceeds capacity * 1024, to
    // ((need >> 12) + 1) * 4096 bytes with capacity (need >> 10 rounded
    // down to a multiple of 4) + 4.
    uint32_t append(const char* text, uint32_t count) override;
};

// ---- Lookups ----

// Record number of message n in the primary (alternate 0) or alternate
// repository; 0 when there is none or it cannot be read (reported).
uint32_t ReadIndex(nlsContext* ctx, uint32_t n, int alternate);
// Reads message n into a new nlsMsg (kvFree frees it); null, reported,
// when it cannot be read.
nlsMsg* ReadMsg(nlsContext* ctx, uint32_t n, int alternate);
// Message n from the cache, read on a miss (from the alternate repository
// when the primary has none); owned by the cache.  Call with the lock held.
nlsMsg* nlFindMsg(nlsContext* ctx, uint32_t n);
// Formats the message text text[0..len) (first byte: its form) with the
// arguments and appends it to `buf`; returns the buffer's length.  An
// ordered-insert text that nlsParseOrdered refuses appends nothing.
uint32_t nlOrderInsert(nlsContext* ctx, nlsBuffer* buf, const char* text, size_t len, NlsArgs& args);

// Message n formatted with the arguments, in *out (kvCalloc; the caller
// frees it with kvFree) and its length; null and 0 when there is none.
int nlGetMsg(char** out, uint32_t n, ...);
int nlVGetMsg(char** out, uint32_t n, va_list ap);
// The same with the message's severity code in *severity (may be null; 0
// when there is no message).
int nlGetMsgSev(nlsContext* ctx, uint32_t n, char** out, va_list ap, int* severity);
int nlGetMsgSev(nlsContext* ctx, uint32_t n, char** out, NlsArgs& args, int* severity);
// Severity code of message n; -1 when it cannot be found (or the lock not
// released), 6 when the lock cannot be taken.
int nlGetSeverity(uint32_t n);

// ---- Issuing ----

// Issues message n: counts it in the global return code (when globalRC is
// set), copies it to the echo log (echo switch on), to the error log
// (severity W and above) and, unless the output mode is kNlsOutputSilent,
// hands it to the output function of its severity.  `stream` is not used.
// 0.
int nlIssueMsg(FILE* stream, uint32_t n, va_list ap);
int nlIssueMsg(FILE* stream, uint32_t n, NlsArgs& args);
// nlIssueMsg with standard output.
void nlDisplayMsg(uint32_t n, ...);

// Displays message 9999 with the source name, line and text of a lock that
// failed, as nlDisplayMsg does: counted in the global return code.  The
// arguments are handed over as what each place of the message asks for,
// so that a repository's 9999 of another shape cannot misread them.
void nlsDisplayLockFailure(const char* source, int line, const char* text);
// The same without counting it: for the global return code's own lock,
// which counting would take again.
void nlsShowLockFailure(const char* source, int line, const char* text);

// Converts `text` to UTF-16 with strToWide (at most 8959 units; an
// invalid text gives the start of its error text) and hands it to the
// output function of severity `code`; nothing without one.
void nlOutputMsg(int code, const char* text);
