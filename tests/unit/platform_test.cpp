// The platform layer: text conversion, upper-casing, errno and time texts,
// the clock, command exit statuses, files and the interrupt flag.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "child_process.h"
#include "dbfile.h"
#include "dbwriter.h"
#include "platform.h"
#include "psstr.h"
#include "viewrun.h"

namespace {

using plat::wchar16;

// Switches to a UTF-8 locale for one test (skipping the test where there
// is none) and back to "C" afterwards.
class Utf8LocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
            GTEST_SKIP() << "no C.UTF-8 locale";
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

// "aé€😀": one-, two-, three- and four-byte UTF-8 characters.
const char kMixedUtf8[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
const wchar16 kMixedUtf16[] = {0x0061, 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0};

const size_t kFailed = static_cast<size_t>(-1);

}  // namespace

TEST_F(Utf8LocaleTest, NarrowAndUtf16RoundTrip) {
    wchar16 wide[16] = {};
    ASSERT_EQ(plat::narrowToUtf16(wide, kMixedUtf8, 15), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(wide[i], kMixedUtf16[i]) << "unit " << i;
    }
    EXPECT_EQ(wide[5], 0) << "no terminator is written";

    char narrow[32];
    ASSERT_TRUE(plat::utf16ToNarrow(narrow, sizeof narrow, kMixedUtf16));
    EXPECT_STREQ(narrow, kMixedUtf8);
}

TEST_F(Utf8LocaleTest, NarrowToUtf16StopsBeforeACharacterThatDoesNotFit) {
    wchar16 wide[8];
    std::fill(std::begin(wide), std::end(wide), wchar16{0x7777});
    EXPECT_EQ(plat::narrowToUtf16(wide, kMixedUtf8, 4), 3u) << "the surrogate pair is not split";
    EXPECT_EQ(wide[3], 0x7777);
    // After a character that did not fit nothing more is written, even one
    // that would fit.
    wide[0] = 0x7777;
    EXPECT_EQ(plat::narrowToUtf16(wide, "\xF0\x9F\x98\x80z", 1), 0u);
    EXPECT_EQ(wide[0], 0x7777);
    EXPECT_EQ(plat::narrowToUtf16(wide, "", 8), 0u);
}

TEST_F(Utf8LocaleTest, InvalidNarrowTextIsRefused) {
    wchar16 wide[16];
    EXPECT_EQ(plat::narrowToUtf16(wide, "ab\xC3(", 16), kFailed) << "broken sequence";
    EXPECT_EQ(plat::narrowToUtf16(wide, "ab\xC3", 16), kFailed) << "truncated sequence";
    EXPECT_EQ(plat::narrowToUtf16(wide, "\xED\xA0\x80", 16), kFailed) << "encoded surrogate";
    EXPECT_EQ(plat::narrowToUtf16(wide, "\xF4\x90\x80\x80", 16), kFailed) << "above U+10FFFF";
    EXPECT_EQ(plat::narrowToUtf16(wide, "abc\xFF", 2), kFailed) << "the part beyond a full destination is checked too";
}

TEST_F(Utf8LocaleTest, Utf16ToNarrowFailsOnUnpairedSurrogateOrOverflow) {
    char narrow[16] = "junk";
    const wchar16 loneHigh[] = {'a', 0xD800, 'b', 0};
    EXPECT_FALSE(plat::utf16ToNarrow(narrow, sizeof narrow, loneHigh));
    EXPECT_STREQ(narrow, "");
    const wchar16 loneLow[] = {0xDC00, 0};
    std::strcpy(narrow, "junk");
    EXPECT_FALSE(plat::utf16ToNarrow(narrow, sizeof narrow, loneLow));
    EXPECT_STREQ(narrow, "");

    const wchar16 text[] = {'a', 0x00E9, 0};  // 3 bytes + terminator
    char exact[4];
    EXPECT_TRUE(plat::utf16ToNarrow(exact, sizeof exact, text));
    EXPECT_STREQ(exact, "a\xC3\xA9");
    char small[3] = {'x', 'x', 'x'};
    EXPECT_FALSE(plat::utf16ToNarrow(small, sizeof small, text));
    EXPECT_EQ(small[0], '\0');
}

TEST_F(Utf8LocaleTest, ConsoleTextShowsEveryCharacter) {
    EXPECT_EQ(plat::consoleText(kMixedUtf16), kMixedUtf8);
    const wchar16 loneLow[] = {'x', 0xDE00, 'y', 0};
    EXPECT_EQ(plat::consoleText(loneLow), "x?y");
    // A count that ends between the halves of a pair: the high half shows
    // as '?', and nothing past the count is read.
    const wchar16 cutPair[] = {'a', 0xD800, 0xDC00, 0};
    EXPECT_EQ(plat::consoleText(cutPair, 2), "a?");
    EXPECT_EQ(plat::consoleText(cutPair, 3), "a\xF0\x90\x80\x80");
}

TEST_F(Utf8LocaleTest, TextsThatAreNoUtf8CompareByteByByte) {
    EXPECT_EQ(psStrICmp("\xFF"
                        "b",
                        "\xFF"
                        "a"),
              1);
    EXPECT_EQ(psStrICmp("\xFF"
                        "a",
                        "\xFF"
                        "b"),
              -1);
    EXPECT_EQ(psStrICmp("\xFF", "\xFF"), 0);
    int rc = 0;
    EXPECT_EQ(psStrRChr("a\xFF/", '/', &rc), nullptr);
    EXPECT_EQ(rc, 207) << "the conversion error";
}

TEST_F(Utf8LocaleTest, CharUpperWBeyondAscii) {
    EXPECT_EQ(plat::charUpperW(0x00E9), 0x00C9);  // é
    EXPECT_EQ(plat::charUpperW(0x03B1), 0x0391);  // α
    EXPECT_EQ(plat::charUpperW(0x00C9), 0x00C9);
}

// A single-byte code page locale (Windows-1252), where the run-time has one.
class Cp1252LocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::setlocale(LC_ALL, ".1252") == nullptr) {
            GTEST_SKIP() << "no code page 1252 locale";
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(Cp1252LocaleTest, ConvertsThroughTheCodePage) {
    wchar16 wide[8] = {};
    ASSERT_EQ(plat::narrowToUtf16(wide, "a\xE9\x80", 8), 3u);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[1], 0x00E9);
    EXPECT_EQ(wide[2], 0x20AC);  // 0x80 is the euro sign in this code page

    const wchar16 text[] = {0x00C9, 0x20AC, 0};
    char narrow[8];
    ASSERT_TRUE(plat::utf16ToNarrow(narrow, sizeof narrow, text));
    EXPECT_STREQ(narrow, "\xC9\x80");

    const wchar16 cjk[] = {'x', 0x4E2D, 'y', 0xD83D, 0xDE00, 'z', 0};
    EXPECT_FALSE(plat::utf16ToNarrow(narrow, sizeof narrow, cjk));
    EXPECT_EQ(plat::consoleText(cjk), "x?y?z");
    // No near look-alike is substituted for a character the page lacks.
    const wchar16 macron[] = {0x0100, 0};
    EXPECT_EQ(plat::consoleText(macron), "?");
}

TEST(Platform, ConsoleTextReplacesWhatTheCLocaleCannotShow) {
    std::setlocale(LC_ALL, "C");
    const wchar16 euro[] = {'a', 'b', 0x20AC, ' ', 'c', 'd', 0};
    EXPECT_EQ(plat::consoleText(euro), "ab? cd");
    const wchar16 pair[] = {'<', 0xD83D, 0xDE00, '>', 0};
    EXPECT_EQ(plat::consoleText(pair), "<?>") << "a pair is one character";
    const wchar16 loneHigh[] = {'x', 0xD800, 'y', 0xD800, 0};
    EXPECT_EQ(plat::consoleText(loneHigh), "x?y?");
    const wchar16 abc[] = {'a', 'b', 'c', 'd', 0, 'e', 0};
    EXPECT_EQ(plat::consoleText(abc, 3), "abc");
    EXPECT_EQ(plat::consoleText(abc), "abcd") << "stops at a 0 unit";
    EXPECT_EQ(plat::wideLength(abc), 4u);
    const wchar16 cutPair[] = {'a', 0xD83D, 0xDE00, 0};
    EXPECT_EQ(plat::consoleText(cutPair, 2), "a?") << "half a pair within the count";
}

TEST(Platform, CharUpperW) {
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(plat::charUpperW(u'a'), u'A');
    EXPECT_EQ(plat::charUpperW(u'Q'), u'Q');
    EXPECT_EQ(plat::charUpperW(u'5'), u'5');
    EXPECT_EQ(plat::charUpperW(0xD83D), 0xD83D);
    EXPECT_EQ(plat::charUpperW(0xDE00), 0xDE00);
}

TEST(Platform, CtimeText) {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr || std::string(tz) != "UTC") {
        GTEST_SKIP() << "run with TZ=UTC";
    }
    char text[32];
    ASSERT_TRUE(plat::ctimeText(0, text));
    EXPECT_STREQ(text, "Thu Jan 01 00:00:00 1970\n");
    ASSERT_TRUE(plat::ctimeText(315626635, text));
    EXPECT_STREQ(text, "Wed Jan 02 02:03:55 1980\n");
    ASSERT_TRUE(plat::ctimeText(1709211909, text));
    EXPECT_STREQ(text, "Thu Feb 29 13:05:09 2024\n");
    ASSERT_TRUE(plat::ctimeText(32535215999LL, text));
    EXPECT_STREQ(text, "Wed Dec 31 23:59:59 3000\n");
}

TEST(Platform, CtimeTextRefusesTimesOutsideTheSupportedRange) {
    char text[32] = "junk";
    EXPECT_FALSE(plat::ctimeText(-1, text));
    EXPECT_FALSE(plat::ctimeText(32535216000LL, text));
    EXPECT_FALSE(plat::ctimeText(INT64_MIN, text));
    EXPECT_FALSE(plat::ctimeText(INT64_MAX, text));
}

TEST(Platform, ErrnoTextIsTheSameOnEveryPlatform) {
    EXPECT_EQ(plat::errnoText(0), "Success");
    EXPECT_EQ(plat::errnoText(ENOENT), "No such file or directory");
    EXPECT_EQ(plat::errnoText(ENOMEM), "Cannot allocate memory");
    EXPECT_EQ(plat::errnoText(EACCES), "Permission denied");
    EXPECT_EQ(plat::errnoText(EINVAL), "Invalid argument");
    EXPECT_EQ(plat::errnoText(ENAMETOOLONG), "File name too long");
    EXPECT_EQ(plat::errnoText(228), "Unknown error 228");
    EXPECT_EQ(plat::errnoText(164), "Unknown error 164");
    EXPECT_EQ(plat::errnoText(-3), "Unknown error -3");
}

// Where the run-time's own texts are the GNU ones, every value reads
// exactly as strerror() gives it, also those outside the table.
TEST(Platform, ErrnoTextMatchesTheGnuTexts) {
    if (std::string(std::strerror(ENOENT)) != "No such file or directory" ||
        std::string(std::strerror(228)) != "Unknown error 228") {
        GTEST_SKIP() << "the run-time's texts are not the GNU ones";
    }
    for (int err = -2; err < 300; ++err) {
        // strerror() may reuse its buffer on the next call: copy it first.
        const std::string expected = std::strerror(err);
        EXPECT_EQ(plat::errnoText(err), expected) << "errno " << err;
    }
}

TEST(Platform, ClockNeverRunsBackwards) {
    long previous = plat::clockMs();
    EXPECT_GE(previous, 0);
    const long start = previous;
    for (long i = 0; i < 50000000 && previous - start < 5; ++i) {
        const long now = plat::clockMs();
        ASSERT_GE(now, previous);
        previous = now;
    }
    EXPECT_GE(previous - start, 5) << "the clock advances";
}

TEST(Platform, RunCommandReturnsTheExitStatus) {
    EXPECT_EQ(plat::runCommand("exit 0"), 0);
    EXPECT_EQ(plat::runCommand("exit 3"), 3);
    // exit(-1) of a program: a POSIX shell keeps 8 bits (255), the Windows
    // command interpreter the whole value.
    const bool windowsShell = std::getenv("COMSPEC") != nullptr;
    EXPECT_EQ(plat::runCommand(windowsShell ? "exit -1" : "exit 255"), -1);
    if (!windowsShell) {
        EXPECT_EQ(plat::runCommand("kill -9 $$"), INT32_MIN) << "killed, not exited";
    }
}

TEST(Platform, BinaryFilesSizesAndDirectories) {
    const std::string path = "platform_test_" + std::to_string(plat::processId()) + ".bin";
    FILE* f = plat::openBinary(path.c_str(), "w+");
    ASSERT_NE(f, nullptr);
    const char data[] = "line\nnext\r\n";  // no newline translation in binary mode
    ASSERT_EQ(std::fwrite(data, 1, sizeof data - 1, f), sizeof data - 1);
    ASSERT_TRUE(plat::streamSeek(f, 5000));
    EXPECT_EQ(plat::streamTell(f), 5000);
    ASSERT_EQ(std::fputc('!', f), '!');
    EXPECT_EQ(plat::streamTell(f), 5001);

    f = plat::reopenBinary(path.c_str(), "r", f);
    ASSERT_NE(f, nullptr);
    char back[sizeof data] = {};
    ASSERT_EQ(std::fread(back, 1, sizeof data - 1, f), sizeof data - 1);
    EXPECT_STREQ(back, data);
    EXPECT_EQ(plat::streamTell(f), static_cast<int64_t>(sizeof data - 1));
    std::fclose(f);

    int64_t size = -1;
    EXPECT_TRUE(plat::fileSize(path.c_str(), &size));
    EXPECT_EQ(size, 5001);
    EXPECT_FALSE(plat::isDirectory(path.c_str()));
    EXPECT_TRUE(plat::isDirectory("."));
    std::remove(path.c_str());

    EXPECT_FALSE(plat::fileSize(path.c_str(), &size));
    EXPECT_FALSE(plat::isDirectory(path.c_str()));
}

// A narrow file name is the ANSI code page's (1252 under Wine), as jbbview
// and jbbgen give it, unless the program asked for UTF-8 names (jbbtool):
// then every way in reaches the same file by its UTF-8 name, and a name
// outside the code page works too.  Elsewhere a name is its bytes.
TEST(Platform, FileNamesInUtf8OnRequest) {
    struct Utf8Names {
        Utf8Names() { plat::useUtf8FileNames(true); }
        ~Utf8Names() { plat::useUtf8FileNames(false); }
    };
    const std::string base = "platform_names_" + std::to_string(plat::processId());
    const std::string ansi = base + "_caf\xE9.bin";
    FILE* f = plat::openBinary(ansi.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("12345", f);
    std::fclose(f);
    const std::string beyond = base + "_\xCE\x94\xF0\x9F\x98\x80.bin";  // Greek Delta, a surrogate pair
    {
        Utf8Names utf8;
        const std::string same = plat::isWindows() ? base + "_caf\xC3\xA9.bin" : ansi;
        int64_t size = -1, ns = 0;
        EXPECT_TRUE(plat::fileSize(same.c_str(), &size));
        EXPECT_EQ(size, 5);
        EXPECT_FALSE(plat::isDirectory(same.c_str()));
        EXPECT_TRUE(plat::fileModified(same.c_str(), &ns));
        std::unique_ptr<plat::DbFile> db(plat::DbFile::open(same.c_str(), plat::DbFile::Mode::ReadOnly));
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(db->size(), 5);
        f = plat::openBinary(beyond.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        EXPECT_TRUE(plat::fileSize(beyond.c_str(), &size));
        EXPECT_EQ(size, 0);
    }
    EXPECT_TRUE(std::filesystem::remove(std::filesystem::u8path(beyond)));
    EXPECT_EQ(std::remove(ansi.c_str()), 0);
}

TEST(Platform, InterruptHandlerSetsTheFlag) {
    plat::setInterruptRequested(false);
    EXPECT_FALSE(plat::interruptRequested());
    plat::setInterruptRequested(true);
    EXPECT_TRUE(plat::interruptRequested());
    plat::setInterruptRequested(false);

    plat::installInterruptHandler();
    std::raise(SIGINT);
    EXPECT_TRUE(plat::interruptRequested());
    plat::setInterruptRequested(false);
    std::raise(SIGTERM);
    EXPECT_TRUE(plat::interruptRequested());
    plat::setInterruptRequested(false);
    std::raise(SIGINT);  // still caught after the first signal
    EXPECT_TRUE(plat::interruptRequested());
    plat::removeInterruptHandler();
    plat::setInterruptRequested(false);
}

TEST(ChildProcessTest, AnInterruptEndsAChildThatWaits) {
    if (plat::isWindows() || !plat::ChildProcess::supported() || !std::filesystem::exists("/bin/sleep"))
        GTEST_SKIP() << "no /bin/sleep to interrupt here";
    testdb::TempDir dir;
    ASSERT_TRUE(testdb::writeFile(dir.file("in.txt"), testdb::Bytes{}));
    plat::ChildProcess child;
    ASSERT_TRUE(child.start("/bin/sleep", {"30"}, dir.file("in.txt"), dir.file("err.txt")));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.interrupt());
    EXPECT_EQ(INT32_MIN, child.wait()) << "ended by the signal";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

#if !defined(_WIN32)
// Whether standard error is a terminal decides whether jbbtool draws its
// progress line: a pseudo-terminal is one, a file is not.
TEST(Platform, StandardErrorIsATerminalOnlyWhenItIsOne) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal here";
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    testdb::TempDir dir;
    const int file = open(dir.file("err.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(file, 0);
    const int saved = dup(2);
    ASSERT_GE(saved, 0);
    dup2(terminal, 2);
    const bool onTerminal = plat::stderrIsTerminal();
    dup2(file, 2);
    const bool onFile = plat::stderrIsTerminal();
    dup2(saved, 2);
    for (int fd : {saved, file, terminal, master}) close(fd);
    EXPECT_TRUE(onTerminal);
    EXPECT_FALSE(onFile);
}
#endif
