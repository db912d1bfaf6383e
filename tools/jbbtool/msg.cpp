// jbbtool msg [OPTIONS] REPO NUMBER [ARG...]: formats one message of a
// repository as nlGetMsg gives it and writes exactly that text to standard
// output.  Each ARG is converted to what its place in the message asks for;
// the repository's failure messages (QLX0105E ...) go to standard error
// through the output function of severity code 6.  With --issue the
// message is issued (nlIssueMsg) as a program issues it: every output
// function writes to standard output, the logs are written when given, and
// the exit status is the global return code.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "GlobalRC.h"
#include "command.h"
#include "kvmem.h"
#include "nls.h"
#include "nlslog.h"
#include "platform.h"
#include "repocheck.h"

namespace jbbtool {

namespace {

bool failureShown = false;

void showOnStderr(const char16_t* text) {
    const std::string narrow = plat::consoleText(text);
    std::fwrite(narrow.data(), 1, narrow.size(), stderr);
    failureShown = true;
}

void showOnStdout(const char16_t* text) {
    const std::string narrow = plat::consoleText(text);
    plat::outWriteNarrow(narrow.data(), narrow.size());
}

// The command line's arguments, converted on demand; the first fault is
// kept and the formatter then gets harmless values.
class ArgvArgs : public NlsArgs {
public:
    // Each argument as the narrow text a program would pass (the
    // command line's text is UTF-8 on Windows).
    ArgvArgs(int argc, char** argv) : argc_(argc) {
        for (int i = 0; i < argc; ++i) args_.push_back(plat::argumentInLocale(argv[i]));
    }

    int nextInt() override { return static_cast<int>(integer(INT_MIN, UINT_MAX, "a 32-bit integer")); }
    long nextLong() override {
        return static_cast<long>(integer(LONG_MIN, static_cast<unsigned long long>(ULONG_MAX),
                                         sizeof(long) == 4 ? "a 32-bit integer" : "a 64-bit integer"));
    }
    long long nextLongLong() override { return integer(LLONG_MIN, ULLONG_MAX, "a 64-bit integer"); }
    double nextDouble() override {
        const char* a = take();
        if (a == nullptr) return 0;
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(a, &end);
        if (*a == '\0' || *end != '\0' || errno == ERANGE) {
            fault("is not a number");
            return 0;
        }
        return v;
    }
    const char* nextText() override {
        const char* a = take();
        return a != nullptr ? a : "";
    }
    const wchar_t* nextWideText() override {
        const char* a = take();
        if (a == nullptr) return L"";
        const size_t n = std::mbstowcs(nullptr, a, 0);
        if (n == static_cast<size_t>(-1)) {
            fault("is not text of the current locale");
            return L"";
        }
        wide_.emplace_back(n + 1, L'\0');
        std::mbstowcs(&wide_.back()[0], a, n + 1);
        return wide_.back().c_str();
    }

    // The first fault, or a surplus argument; empty when all is well.
    std::string problem() const {
        if (!problem_.empty()) return problem_;
        if (next_ < argc_) return describe(next_) + " is not used by the message (surplus)";
        return "";
    }

private:
    const char* take() {
        if (next_ >= argc_) {
            if (problem_.empty()) problem_ = "argument " + std::to_string(next_ + 1) + " is missing";
            ++next_;
            return nullptr;
        }
        current_ = next_;
        return args_[next_++].c_str();
    }
    std::string describe(int i) const { return "argument " + std::to_string(i + 1) + " ('" + args_[i] + "')"; }
    void fault(const std::string& what) {
        if (problem_.empty()) problem_ = describe(current_) + " " + what;
    }
    long long integer(long long min, unsigned long long max, const char* what) {
        const char* a = take();
        if (a == nullptr) return 0;
        char* end = nullptr;
        errno = 0;
        if (a[0] == '-') {
            const long long v = std::strtoll(a, &end, 10);
            if (end != a && *end == '\0' && errno != ERANGE && v >= min) return v;
        } else if (a[0] != '\0' && a[0] != '+' && a[0] != ' ') {
            const unsigned long long v = std::strtoull(a, &end, 10);
            if (end != a && *end == '\0' && errno != ERANGE && v <= max) return static_cast<long long>(v);
        }
        fault(std::string("is not ") + what);
        return 0;
    }

    int argc_;
    std::vector<std::string> args_;
    int next_ = 0;
    int current_ = 0;
    std::string problem_;
    std::vector<std::wstring> wide_;
};

bool parseCount(const char* s, unsigned long max, unsigned long* v) {
    if (s == nullptr || *s < '0' || *s > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(s, &end, 10);
    if (*end != '\0' || errno == ERANGE || n > max) return false;
    *v = static_cast<unsigned long>(n);
    return true;
}

int openFailed(const NlsSetup& setup) {
    const int err = errno;
    const char* which = setup.repository;
    if (setup.alternate != nullptr) {
        if (FILE* f = plat::openBinary(setup.repository, "rb")) {
            std::fclose(f);
            which = setup.alternate;
        }
    }
    std::fprintf(stderr, "jbbtool msg: cannot open repository '%s': %s\n", which, plat::errnoText(err).c_str());
    return kExitUsage;
}

// --issue: the arguments are checked on a quiet setup first (no output
// functions, no logs, nothing counted), so that a message is never issued
// with arguments that do not fit it; then it is issued for real.
int issue(NlsSetup setup, uint32_t number, int argc, char** argv) {
    NlsSetup quiet = setup;
    quiet.errorLog = nullptr;
    quiet.echoLog = nullptr;
    if (nlsOpen(quiet) != 0) return openFailed(setup);
    ArgvArgs check(argc, argv);
    char* text = nullptr;
    nlGetMsgSev(&nlsCtx, number, &text, check, nullptr);
    if (text != nullptr) kvFree(text, "msg.cpp", __LINE__);
    nlsClose();
    const std::string problem = check.problem();
    if (text != nullptr && !problem.empty()) return usageError("msg", "%s", problem.c_str());

    for (auto& f : setup.output) f = showOnStdout;
    const int rc = nlsOpen(setup);
    if (rc != 0) {
        const int err = errno;
        if (nlsLogOpenProblem()[0] != '\0') {
            std::fprintf(stderr, "jbbtool msg: cannot open the log %s\n", nlsLogOpenProblem());
        } else {
            std::fprintf(stderr, "jbbtool msg: cannot open the repository or a log: %s\n",
                         plat::errnoText(err).c_str());
        }
        return kExitUsage;
    }
    GlobalRC counter;
    globalRC = &counter;
    ArgvArgs args(argc, argv);
    nlIssueMsg(stdout, number, args);
    plat::outFlush();
    // A log that could not be written is said on standard error; the exit
    // status stays the global return code.
    const struct {
        const char* what;
        const char* path;
        int err;
    } logs[] = {{"error log", setup.errorLog, nlsErrorLog.lastError},
                {"echo log", setup.echoLog, nlsEchoLog.lastError}};
    for (const auto& log : logs) {
        if (log.path != nullptr && log.err != 0) {
            std::fprintf(stderr, "jbbtool msg: could not write the %s %s: %s\n", log.what, log.path,
                         plat::errnoText(log.err).c_str());
        }
    }
    globalRC = nullptr;
    nlsClose();
    return counter.rc;
}

bool parseSize(const char* s, uint32_t* v) {
    unsigned long n = 0;
    if (!parseCount(s, UINT32_MAX, &n) || n < kNlsLogMinBytes) return false;
    *v = static_cast<uint32_t>(n);
    return true;
}

int run(int argc, char** argv) {
    NlsSetup setup;
    bool issuing = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        const char* o = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(o, "--") == 0) {
            ++i;
            break;
        } else if (std::strcmp(o, "--codepage") == 0) {
            setup.convertCodePage = true;
        } else if (std::strcmp(o, "--prefix") == 0) {
            if (value == nullptr || std::strlen(value) > 7) {
                return usageError("msg", "--prefix takes a prefix of at most 7 characters");
            }
            setup.prefix = value;
            ++i;
        } else if (std::strcmp(o, "--alternate") == 0) {
            if (value == nullptr) return usageError("msg", "--alternate takes a repository");
            setup.alternate = value;
            ++i;
        } else if (std::strcmp(o, "--issue") == 0) {
            issuing = true;
        } else if (std::strcmp(o, "--error-log") == 0 || std::strcmp(o, "--echo-log") == 0) {
            if (value == nullptr) return usageError("msg", "%s takes a file", o);
            (o[2] == 'e' && o[3] == 'r' ? setup.errorLog : setup.echoLog) = value;
            ++i;
        } else if (std::strcmp(o, "--log-max") == 0) {
            if (!parseSize(value, &setup.logMaxBytes)) {
                return usageError("msg", "--log-max takes a size in bytes, at least %u", kNlsLogMinBytes);
            }
            ++i;
        } else if (std::strcmp(o, "--cache") == 0) {
            unsigned long n = 0;
            if (!parseCount(value, UINT32_MAX, &n) || n == 0) {
                return usageError("msg", "--cache takes a number of messages, at least 1");
            }
            setup.cacheLimit = static_cast<uint32_t>(n);
            ++i;
        } else {
            return usageError("msg", "unknown option '%s'", o);
        }
    }
    if (argc - i < 2) return usageError("msg", "expected REPO NUMBER [ARG...]");
    setup.repository = argv[i];
    unsigned long number = 0;
    if (!parseCount(argv[i + 1], UINT32_MAX, &number)) {
        return usageError("msg", "'%s' is not a message number", argv[i + 1]);
    }
    if (!issuing && (setup.errorLog != nullptr || setup.echoLog != nullptr)) {
        return usageError("msg", "the logs are written only with --issue");
    }
    if (setup.errorLog != nullptr && setup.echoLog != nullptr && std::strcmp(setup.errorLog, setup.echoLog) == 0) {
        return usageError("msg", "--error-log and --echo-log name the same file");
    }
    // A file of another kind would give a message text made from its bytes.
    for (const char* repo : {setup.repository, setup.alternate}) {
        const std::string notOne = repo != nullptr ? notARepositoryFile(repo) : std::string();
        if (!notOne.empty()) {
            std::fprintf(stderr, "jbbtool msg: %s: not a message repository (%s)\n", repo, notOne.c_str());
            return kExitFindings;
        }
    }
    plat::selectUserLocale();
    if (issuing) return issue(setup, static_cast<uint32_t>(number), argc - i - 2, argv + i + 2);
    setup.output[6] = showOnStderr;
    if (nlsOpen(setup) != 0) return openFailed(setup);
    ArgvArgs args(argc - i - 2, argv + i + 2);
    char* text = nullptr;
    const int len = nlGetMsgSev(&nlsCtx, static_cast<uint32_t>(number), &text, args, nullptr);
    nlsClose();
    const std::string problem = args.problem();
    int status = kExitSound;
    if (text == nullptr) {
        if (!failureShown) std::fprintf(stderr, "jbbtool msg: message %lu has no text\n", number);
        status = kExitFindings;
    } else if (!problem.empty()) {
        status = usageError("msg", "%s", problem.c_str());
    } else {
        plat::outWriteNarrow(text, static_cast<size_t>(len));
    }
    if (text != nullptr) kvFree(text, "msg.cpp", __LINE__);
    return status;
}

void help(FILE* out) {
    std::fprintf(out,
                 "Usage: jbbtool msg [--prefix P] [--alternate REPO2] [--codepage] [--cache N]\n"
                 "                   [--issue [--error-log FILE] [--echo-log FILE]\n"
                 "                   [--log-max BYTES]] REPO NUMBER [ARG...]\n"
                 "\n"
                 "Formats message NUMBER of the message repository REPO with the arguments\n"
                 "and writes the text to standard output exactly (no newline is added).\n"
                 "\n"
                 "  --prefix P        letters of the message identifier (default QLX)\n"
                 "  --alternate REPO2 a second repository, tried when REPO lacks the message\n"
                 "  --codepage        convert texts from code page 850 to 1252\n"
                 "  --cache N         messages the cache holds (default 32)\n"
                 "  --issue           issue the message as a program does: its text (and the\n"
                 "                    repository's own messages) on standard output, counted\n"
                 "                    in the global return code, which is the exit status\n"
                 "  --error-log FILE  with --issue: the error log (messages of severity W and\n"
                 "                    above, the repository's failures, error reports)\n"
                 "  --echo-log FILE   with --issue: the echo log (every issued message)\n"
                 "  --log-max BYTES   each log's maximum size; it then wraps (default 1048576,\n"
                 "                    at least 256)\n"
                 "\n"
                 "Each ARG becomes what its place in the message asks for: printf form, the\n"
                 "conversions in order (a * takes an integer first); ordered inserts, each\n"
                 "insert's star values and then its value (text, wide text, 32-bit or\n"
                 "64-bit integer).\n"
                 "\n"
                 "Exit status: 0 written; 1 the message cannot be had (the repository's\n"
                 "messages on standard error), or REPO or REPO2 is no message repository\n"
                 "(a journal database, say: one line says why, as msgc --list words it);\n"
                 "2 usage, an argument that does not fit its place, a missing or a\n"
                 "surplus argument, or an unreadable repository.\n"
                 "With --issue: the global return code after the message, 0, 4 (listed\n"
                 "warnings), 8 (severity W) or 12 (K, E, S, message 9999, a repository\n"
                 "failure); 1 and 2 as above.\n");
}

}  // namespace

extern const Command kMsgCommand = {"msg", "format one message of a message repository", run, help};

}  // namespace jbbtool
