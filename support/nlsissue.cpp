// Issuing messages: counting them in the global return code, copying
// them to the echo log and the error log, and handing them to the output
// function of their severity.

#include <cstdarg>
#include <cstdio>

#include "GlobalRC.h"
#include "kvmem.h"
#include "nls.h"
#include "nlslog.h"

namespace {

const char kSource[] = "nlsissue.cpp";

int issue(uint32_t n, NlsArgs& args, bool count) {
    char* text = nullptr;
    int severity = 0;
    nlGetMsgSev(&nlsCtx, n, &text, args, &severity);
    if (text == nullptr) return 0;
    if (count && globalRC != nullptr) globalRC->set(static_cast<int32_t>(n));
    if (nlsEchoSwitch == 1 && nlsEchoLog.enabled != 0) echoLogWrite(text);
    if (severity > 4 && nlsErrorLog.ctl.stream != nullptr) errorLogWrite(text);
    if (nlsCtx.outputMode != kNlsOutputSilent) nlOutputMsg(severity, text);
    kvFree(text, kSource, __LINE__);
    return 0;
}

}  // namespace

int nlIssueMsg(FILE* /*stream*/, uint32_t n, NlsArgs& args) { return issue(n, args, true); }

int nlIssueMsg(FILE* stream, uint32_t n, va_list ap) {
    NlsVaArgs args(ap);
    return nlIssueMsg(stream, n, args);
}

void nlDisplayMsg(uint32_t n, ...) {
    va_list ap;
    va_start(ap, n);
    nlIssueMsg(stdout, n, ap);
    va_end(ap);
}

namespace {

void issueLockFailure(const char* source, int line, const char* text, bool count) {
    // The arguments of message 9999: the source name, the line, the text.
    class Args : public NlsArgs {
    public:
        Args(const char* s, int l, const char* t) : source_(s), line_(l), text_(t) {}
        int nextInt() override { return line_; }
        long nextLong() override { return line_; }
        long long nextLongLong() override { return line_; }
        double nextDouble() override { return line_; }
        const char* nextText() override { return texts_++ == 0 ? source_ : text_; }
        const wchar_t* nextWideText() override { return L""; }

    private:
        const char* source_;
        int line_;
        const char* text_;
        int texts_ = 0;
    } args(source, line, text);
    issue(9999, args, count);
}

}  // namespace

void nlsDisplayLockFailure(const char* source, int line, const char* text) {
    issueLockFailure(source, line, text, true);
}

void nlsShowLockFailure(const char* source, int line, const char* text) { issueLockFailure(source, line, text, false); }
