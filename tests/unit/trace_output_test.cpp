// Trace lines with an output open: the prefix and its parts, error reports
// by class flag, callback mode, console streams, switching off, write
// failures, and limits on message length.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "file_limit.h"
#include "platform.h"
#include "trace_fixture.h"

namespace {

const TraceLocation kHere{"trace_output_test.cpp", 77};

// A plain trace file in `dir`, open and enabled.
std::string openPlain(const testdb::TempDir& dir, const char* name = "t.out") {
    const std::string path = dir.file(name);
    EXPECT_EQ(traceOpen(path.c_str(), 0), 0);
    EXPECT_EQ(traceIsActive(), 1);
    return path;
}

// The trace lines after the plain header and the first open's line.
std::string linesOf(const std::string& bytes) {
    const std::string begin = "BEGINNING NEW TRACE\n\nUnicode Client\n";
    const size_t at = bytes.find(begin);
    return at == std::string::npos ? bytes : bytes.substr(at + begin.size());
}

struct Collected {
    std::vector<std::pair<int, std::string>> calls;
    int consoleAnswer = 0;
};

int collect(int op, const char* text, void* context) {
    auto* c = static_cast<Collected*>(context);
    c->calls.emplace_back(op, text != nullptr ? text : "(null)");
    return op == traceOpConsole ? c->consoleAnswer : static_cast<int>(text != nullptr ? std::strlen(text) : 0);
}

void threadTag(char* pendingLine, char* tag) {
    std::strcpy(pendingLine, "thread 7 started\n");
    std::strcpy(tag, "<T7> ");
}

}  // namespace

TEST_F(TraceTest, PrefixPartsAndTheirSeparator) {
    const std::string path = openPlain(dir);
    tracePoint(&kHere, 1, "plain %d\n", 1);
    traceFlag_PREFIX = 1;
    tracePoint(&kHere, 1, "with position\n");
    traceFlag_CLIENTTYPE = 1;
    traceControl->clientType = 4;
    tracePrintf("x.cpp", 12345, "client tag only\n");
    traceControl->clientType = 99;
    traceFlag_PREFIX = 0;
    tracePrintf("x.cpp", 1, "unknown client\n");
    traceFlag_CLIENTTYPE = 0;
    traceFlag_PID = 1;
    tracePrintf("x.cpp", 1, "pid\n");
    traceFlag_PID = 0;
    traceFlag_TID = 1;
    traceControl->threadTagProvider = threadTag;
    tracePrintf("x.cpp", 1, "tid\n");
    traceFlag_TID = 0;
    traceFlag_TIMESTAMP = 1;
    tracePrintf("x.cpp", 1, "stamped\n");
    traceFlag_TIMESTAMP = 0;

    char pid[32];
    std::snprintf(pid, sizeof pid, "[%.6u] : pid\n", static_cast<unsigned>(plat::processId()));
    const std::string lines = linesOf(readFile(path));
    const std::string stamped = lines.substr(lines.rfind('\n', lines.size() - 2) + 1);
    EXPECT_EQ(lines.substr(0, lines.size() - stamped.size()),
              "plain 1\n"
              "trace_output_test.cpp(  77): with position\n"
              "[Journal]     x.cpp               (12345): client tag only\n"
              "[Unknown]     unknown client\n" +
                  std::string(pid) +
                  "thread 7 started\n"
                  "<T7> : tid\n");
    EXPECT_TRUE(std::regex_match(stamped, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} : stamped\n)")))
        << stamped;
}

TEST_F(TraceTest, ErrorReportsReachTheTraceByClassFlag) {
    const std::string path = openPlain(dir);
    for (uint8_t flag = 0; flag <= 3; ++flag) {
        traceErrPrintf("e.cpp", 1, flag, "err flag %u\n", flag);
        tracePlusErrPrintf("e.cpp", 2, flag, "plus flag %u\n", flag);
    }
    traceFlag_ERROR = 1;
    EXPECT_EQ(traceErrPrintf("e.cpp", 3, 0, "err %s\n", "under ERROR"), 16);
    EXPECT_EQ(tracePlusErrPrintf("e.cpp", 4, 2, "plus %s\n", "under ERROR"), 17);
    EXPECT_EQ(linesOf(readFile(path)),
              "err flag 1\nplus flag 1\nerr flag 3\nplus flag 3\nerr under ERROR\nplus under ERROR\n");
}

TEST_F(TraceTest, ResetKeepsErrorAndClosesTheOutput) {
    const std::string path = openPlain(dir);
    traceFlag_ERROR = 3;
    traceFlag_BTREEDB = 1;
    traceFlag_FMDB = 1;
    traceFlag_ACTIVEDIR = 1;
    traceReset(1);
    EXPECT_EQ(traceFlag_ERROR, 3);
    for (int i = 1; i < traceClassCount; ++i) EXPECT_EQ(*traceClassTable[i].flag, 0) << traceClassTable[i].name;
    EXPECT_EQ(traceControl->stream, nullptr);
    EXPECT_EQ(traceIsActive(), 0);
    EXPECT_EQ(traceControl->baseFileName[0], '\0');
    EXPECT_EQ(tracePrintf("x.cpp", 1, "after reset\n"), 0);
    EXPECT_EQ(readFile(path).find("after reset"), std::string::npos);
}

TEST_F(TraceTest, RawTextWithoutAnOpenOutputGoesNowhere) {
    EXPECT_EQ(traceWriteRaw("closed output\n"), 0);
    TraceControl* const keep = traceControl;
    traceControl = nullptr;  // a program that never set tracing up
    EXPECT_EQ(traceWriteRaw("no control block\n"), 0);
    traceControl = keep;
}

TEST_F(TraceTest, CallbackModeGetsMessagesWithoutPrefix) {
    Collected c;
    traceControl->outputCallback = collect;
    traceControl->callbackContext = &c;
    testing::internal::CaptureStdout();
    EXPECT_EQ(traceOpen("console", 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tracing to stderr\n");
    traceFlag_PREFIX = traceFlag_PID = traceFlag_CLIENTTYPE = 1;
    testing::internal::CaptureStderr();
    tracePoint(&kHere, 1, "to the callback %d\n", 5);
    EXPECT_EQ(traceWriteRaw("raw text"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the callback has it all";
    traceClose(0);
    ASSERT_EQ(c.calls.size(), 4u);
    EXPECT_EQ(c.calls[0], std::make_pair(int{traceOpConsole}, std::string("(null)")));
    EXPECT_EQ(c.calls[1],
              std::make_pair(int{traceOpWrite}, std::string("trace_output_test.cpp(  77): to the callback 5\n")));
    EXPECT_EQ(c.calls[2], std::make_pair(int{traceOpWrite}, std::string("raw text")));
    EXPECT_EQ(c.calls[3], std::make_pair(int{traceOpClose}, std::string("(null)")));
    EXPECT_EQ(traceControl->callbackMode, 0u);

    // A callback that refuses leaves tracing inactive.
    resetAll();
    Collected refuse;
    refuse.consoleAnswer = 1;
    traceControl->outputCallback = collect;
    traceControl->callbackContext = &refuse;
    EXPECT_EQ(traceOpen("CONSOLE", 0), 0);
    EXPECT_EQ(traceIsActive(), 0);
    traceControl->outputCallback = nullptr;  // `refuse` goes before the fixture closes
}

TEST_F(TraceTest, ConsoleStreamsNeedConsoleOutput) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(traceOpen("sTdOuT", 0), 0);
    EXPECT_EQ(traceControl->stream, stdout);
    traceControl->enabled = 1;
    EXPECT_EQ(traceIsActive(), 0);
    EXPECT_EQ(tracePrintf("x.cpp", 1, "not shown\n"), 0);
    traceControl->consoleOutput = 1;
    EXPECT_EQ(tracePrintf("x.cpp", 1, "shown %d\n", 1), 8);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown 1\n");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "sTdOuT"));
}

TEST_F(TraceTest, EntryPointsKeepErrnoWhileActive) {
    openPlain(dir);
    traceFlag_PREFIX = traceFlag_TIMESTAMP = traceFlag_ERROR = 1;
    errno = 4321;
    tracePoint(&kHere, 1, "a %d\n", 1);
    tracePointW(&kHere, 1, u"b %s\n", u"wide");
    tracePrintf("x.cpp", 1, "c\n");
    traceErrPrintf("x.cpp", 1, 1, "d\n");
    tracePlusErrPrintf("x.cpp", 1, 1, "e\n");
    traceRawPrintf("f %d\n", 2);
    EXPECT_EQ(errno, 4321);
    errno = 0;
}

TEST_F(TraceTest, WideFormatsTakeWideTexts) {
    const std::string path = openPlain(dir);
    tracePointW(&kHere, 1, u"%s|%-6s|%6s|%.2s|%c|%5d|%x|%%|%s\n", u"wide", u"ab", u"cd", u"xyz", u'Q', 42, 255u,
                static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(linesOf(readFile(path)), "wide|ab    |    cd|xy|Q|   42|ff|%|(null)\n");
}

TEST_F(TraceTest, LongMessagesAreCutInsideTheBuffer) {
    // A narrow message buffer holds 25854 bytes, a wide message adds at
    // most 17918 bytes to its line.
    const std::string path = openPlain(dir);
    traceFlag_PREFIX = 1;
    const std::string big(40000, 'x');
    EXPECT_EQ(tracePrintf("x.cpp", 1, "%s", big.c_str()), 25854 - 1 - 28);
    std::u16string wideBig(30000, u'y');
    tracePointW(&kHere, 1, u"%s", wideBig.c_str());
    traceFlag_ERROR = 1;
    tracePlusErrPrintf("x.cpp", 1, 0, "%s", big.c_str());
    const std::string lines = linesOf(readFile(path));
    EXPECT_EQ(lines.size(), 2u * (25854 - 1) + 29 + 17918);
}

TEST_F(TraceTest, AMessageTheRunTimeCannotFormatIsTracedEmpty) {
    // A wide text the locale cannot convert: the run-time gives up part-way.
    char probe[16];
    if (std::snprintf(probe, sizeof probe, "ab%ls", L"\u20AC") >= 0) GTEST_SKIP() << "the run-time converts it";
    const std::string path = openPlain(dir);
    EXPECT_EQ(tracePrintf("x.cpp", 1, "ab%ls", L"\u20AC"), 0);
    tracePrintf("x.cpp", 1, "|next\n");
    EXPECT_EQ(linesOf(readFile(path)), "|next\n");
}

TEST_F(TraceTest, AFailedWriteSwitchesTracingOff) {
    if (plat::isWindows()) GTEST_SKIP() << "no file-size limit";
    // A trace file that cannot grow: the limit lies at its size.
    const std::string path = openPlain(dir);
    tracePrintf("x.cpp", 1, "%s\n", std::string(4000, 'a').c_str());
    const std::string before = readFile(path);
    {
        const FileSizeLimit limit(before.size());
        ASSERT_TRUE(limit.active());
        testing::internal::CaptureStdout();
        errno = 99;
        EXPECT_LT(traceEmitLine("lost\n"), 0);
        EXPECT_EQ(errno, 99);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Unable to write to trace file " + path + ". Tracing disabled.\n");
    }
    EXPECT_EQ(traceControl->stream, nullptr);
    EXPECT_EQ(traceIsActive(), 0);

    // The raw writer reports the run-time's error as well.
    traceControl->begun = traceControl->enabled = 1;
    ASSERT_EQ(traceOpen(path.c_str(), 0), 0);
    const std::string reopened = readFile(path);
    {
        const FileSizeLimit limit(reopened.size());
        testing::internal::CaptureStdout();
        EXPECT_LT(traceWriteRaw("lost too\n"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Unable to write to trace file " + path + " error is (27) File too large. Tracing disabled.\n");
    }
    EXPECT_EQ(traceControl->stream, nullptr);
    EXPECT_EQ(readFile(path), reopened);
}
