// jbbtool msgc and msg end to end: a source compiled, listed and compiled
// again to the same file; messages looked up and formatted from command
// line arguments; and the refusals of both commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "platform.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

// Written in the form --list writes, so that the listing is this text.
const char kSource[] =
    "1 I \"Hello %s, you have %d new messages.\\n\"\n"
    "2 E \"Copied %2$s to %1$s (%3$lld bytes, %5$*4$d%%).\\n\"\n"
    "3 Z response \"Y\" \"Continue? (Y/N) \"\n"
    "4 L \"100%% plain, tab\\there, quote \\\" and backslash \\\\\"\n"
    "6 W \"%3$.*2$s|%1$c|%4$lc|%5$x\"\n"
    "7 12 \"caf\x82 in code page 850\"\n"
    "9999 S \"%s line %d: %s\"\n";

class Msg : public ::testing::Test {
protected:
    RunResult tool(const std::vector<std::string>& args) {
        return runProgram(programPath(JBBTOOL_PATH), args, "", dir.path());
    }
    std::string put(const std::string& name, const std::string& text) {
        std::ofstream(dir.file(name), std::ios::binary) << text;
        return dir.file(name);
    }
    std::string bytes(const std::string& name) {
        std::ifstream in(dir.file(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Compiles kSource-like text into `repo` and expects a silent success.
    std::string compile(const std::string& source, const std::string& repo) {
        const RunResult r = tool({"msgc", put(repo + ".msg", source), dir.file(repo)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        return dir.file(repo);
    }
    // A successful msg run: its standard output.
    std::string msg(const std::vector<std::string>& args) {
        std::vector<std::string> all{"msg"};
        all.insert(all.end(), args.begin(), args.end());
        const RunResult r = tool(all);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    TempDir dir;
};

}  // namespace

TEST_F(Msg, CompileListCompileGivesTheSameFileByteForByte) {
    const std::string longText(600, 'L');
    const std::string source = std::string(kSource) + "10000 K \"" + longText + "\"\n";
    const std::string repo = compile(source, "a.rep");
    const RunResult listed = tool({"msgc", "--list", repo});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(listed.out, source);
    compile(listed.out, "b.rep");
    EXPECT_EQ(bytes("a.rep"), bytes("b.rep"));

    // The 601 text bytes of message 10000 (form byte and text) lie in three
    // segments of 255, 255 and 91 bytes, the first two continued.
    const std::string file = bytes("a.rep");
    const size_t ix = 2 * 10000 + 62;
    ASSERT_GT(file.size(), ix + 2);
    const size_t record = ((static_cast<unsigned char>(file[ix]) << 8) | static_cast<unsigned char>(file[ix + 1]));
    size_t at = (record - 1) * 64;
    const unsigned headers[3] = {0x80u | (3u << 3), 0x80u | (3u << 3), 3u << 3};
    const unsigned lengths[3] = {255, 255, 91};
    for (int s = 0; s < 3; ++s) {
        ASSERT_LT(at + 1, file.size());
        EXPECT_EQ(static_cast<unsigned char>(file[at]), headers[s]) << s;
        EXPECT_EQ(static_cast<unsigned char>(file[at + 1]), lengths[s]) << s;
        at += 2 + lengths[s];
    }
    EXPECT_EQ(msg({repo, "10000"}), "QLX0000K " + longText);
}

TEST_F(Msg, MessagesAreFormattedFromTheirArguments) {
    const std::string repo = compile(kSource, "m.rep");
    EXPECT_EQ(msg({repo, "1", "World", "5"}), "QLX0001I Hello World, you have 5 new messages.\n");
    EXPECT_EQ(msg({repo, "2", "/to", "/from", "1099511627776", "6", "-42"}),
              "QLX0002E Copied /from to /to (1099511627776 bytes,    -42%).\n");
    EXPECT_EQ(msg({repo, "3"}), "Continue? (Y/N) ");
    EXPECT_EQ(msg({repo, "4"}), "100% plain, tab\there, quote \" and backslash \\");
    EXPECT_EQ(msg({repo, "6", "65", "2", "abcdef", "66", "4294967295"}), "QLX0006W ab|A|B|ffffffff");
    EXPECT_EQ(msg({"--prefix", "ANS", repo, "1", "you", "0"}), "ANS0001I Hello you, you have 0 new messages.\n");
    EXPECT_EQ(msg({repo, "7"}), "QLX0007D caf\x82 in code page 850");  // code 12's letter
    EXPECT_EQ(msg({compile("8 I \"wide %ls|%s\"\n", "w.rep"), "8", "abc", "d"}), "QLX0008I wide abc|d");
    EXPECT_EQ(msg({"--codepage", "--cache", "1", repo, "7"}), "QLX0007D caf\xE9 in code page 850");
    // An insert beyond ASCII, given in UTF-8 on the command line, is passed
    // on as a program's narrow text: in the ANSI code page on Windows (1252
    // under Wine; '?' for a character it lacks), as the bytes elsewhere.
    plat::useUtf8FileNames(true);  // the harness's command line in UTF-8
    EXPECT_EQ(msg({repo, "1", "Zo\xC3\xAB \xE4\xB8\xAD", "2"}),
              plat::isWindows() ? "QLX0001I Hello Zo\xEB ?, you have 2 new messages.\n"
                                : "QLX0001I Hello Zo\xC3\xAB \xE4\xB8\xAD, you have 2 new messages.\n");
    plat::useUtf8FileNames(false);

    // The alternate repository stands in for a message the primary lacks.
    const std::string alt = compile("5 I \"from the alternate\"\n", "alt.rep");
    const RunResult r = tool({"msg", "--alternate", alt, repo, "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "QLX0005I from the alternate");
    EXPECT_EQ(r.err, "QLX0106E Message index not found for message 5.\n");
}

TEST_F(Msg, AMessageThatCannotBeHadGivesTheRepositorysMessages) {
    const std::string repo = compile(kSource, "m.rep");
    RunResult r = tool({"msg", repo, "5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "QLX0106E Message index not found for message 5.\n");
    r = tool({"msg", repo, "30000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "QLX0105E Error trying to read index for message 30000 from repository '" + repo + "'.\n");
    // A record cut short.
    std::string file = bytes("m.rep");
    file.resize(file.size() - 5);
    const std::string cut = put("cut.rep", file);
    r = tool({"msg", cut, "9999", "x", "1", "y"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "QLX0108E Error trying to read text for message 9999 from repository '" + cut + "'.\n");
}

TEST_F(Msg, ArgumentsThatDoNotFitTheirPlaceAreRefused) {
    const std::string repo = compile(kSource, "m.rep");
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"1", "World", "five"}, "argument 2 ('five') is not a 32-bit integer"},
        {{"1", "World", "4294967296"}, "argument 2 ('4294967296') is not a 32-bit integer"},
        {{"2", "a", "b", "12x", "1", "2"}, "argument 3 ('12x') is not a 64-bit integer"},
        {{"1", "World"}, "argument 2 is missing"},
        {{"1", "World", "5", "extra"}, "argument 3 ('extra') is not used by the message (surplus)"},
        {{"3", "extra"}, "argument 1 ('extra') is not used by the message (surplus)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"msg", repo};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = tool(args);
        SCOPED_TRACE(c.error);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("jbbtool msg: ") + c.error + "\nTry 'jbbtool msg --help'.\n");
    }
    RunResult r = tool({"msg", repo, "x1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool msg: 'x1' is not a message number\nTry 'jbbtool msg --help'.\n");
    const std::string missing = dir.file("missing.rep");
    r = tool({"msg", "--alternate", missing, repo, "1", "a", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "jbbtool msg: cannot open repository '" + missing + "': No such file or directory\n");
}

TEST_F(Msg, SourceFaultsNameTheirLineAndWriteNoRepository) {
    const struct {
        const char* source;
        const char* reason;
    } cases[] = {
        {"1 I \"ok\"\nx I \"t\"\n", "2: 'x' is not a message number (1 to 65535)"},
        {"65536 I \"t\"\n", "1: '65536' is not a message number (1 to 65535)"},
        {"1 I \"a\"\n# c\n1 E \"b\"\n", "3: message 1 is defined twice"},
        {"1 Q \"t\"\n", "1: 'Q' is not a severity (one of ZTRKIWESL, or 0 to 15)"},
        {"1 16 \"t\"\n", "1: '16' is not a severity (one of ZTRKIWESL, or 0 to 15)"},
        {"1 I response \"12345678\" \"t\"\n", "1: a response has 1 to 7 bytes"},
        {"1 I \"open\n", "1: the quoted text is not closed"},
        {"1 I \"t\" x\n", "1: something follows the message text"},
        {"1 I \"bad \\q\"\n", "1: unknown escape \\q"},
        {"1 I \"nul \\x00\"\n", "1: a text cannot hold \\x00"},
        {"1 I \"50%!\"\n", "1: '%!' is not a conversion (write %% for a percent sign)"},
        {"1 I \"%n\"\n", "1: %n and %p cannot be used in a message"},
        {"1 I \"%1$s %d\"\n", "1: positional and plain conversions are mixed"},
        {"1 I \"%1$s %1$s\"\n", "1: argument 1 is used twice"},
        {"1 I \"%2$s\"\n", "1: argument 1 is not used"},
        {"1 I \"%1$*2$d\"\n", "1: the star arguments of %1$ must come just before it"},
        {"1 I \"%2$*d\"\n", "1: a star in a positional conversion needs its position (*N$)"},
        {"1 I \"%1$ld\"\n", "1: %1$ with l: write d for 32 bits or lld for 64 bits"},
        {"1 I \"%1$f\"\n", "1: %1$ is a floating-point conversion, which an insert cannot be"},
        {"1 I \"%1$-10.5lld\"\n", "1: %1$ is longer than 8 characters without its positions"},
        {"1 I \"%1$d%2$d%3$d%4$d%5$d%6$d%7$d%8$d%9$d%10$d%11$d\"\n", "1: more than 10 inserts"},
    };
    const std::string longest = "1 I \"" + std::string(25599, 'x') + "\"\n";
    const std::string tooLong = "1 I \"" + std::string(25600, 'x') + "\"\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string src = put("bad.msg", c.source);
        const RunResult r = tool({"msgc", src, dir.file("bad.rep")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, src + ":" + c.reason + "\n");
        EXPECT_FALSE(fs::exists(dir.path() / "bad.rep"));
    }
    // A text of 25,599 bytes (with its terminator, the most a message holds)
    // compiles; one byte more does not.
    EXPECT_EQ(tool({"msgc", put("long.msg", longest), dir.file("long.rep")}).status, 0);
    const std::string src = put("bad.msg", tooLong);
    const RunResult r = tool({"msgc", src, dir.file("bad.rep")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, src + ":1: the text is longer than 25600 bytes\n");
}

TEST_F(Msg, AListingThatWouldNotCompileBackIsAFinding) {
    // A record in a form of its own (first text byte 2), and one whose
    // segments carry different severities: listed as far as possible.
    std::string file(64, '\0');
    file += std::string{0, 3, 0, 4};  // messages 1 and 2 in records 3 and 4
    file.resize(128, '\0');
    file += std::string{0x00, 0x03, 0x02, 'a', 'b'};
    file.resize(192, '\0');
    file += std::string{static_cast<char>(0x80 | (6 << 3)), 0x02, 0x01, 'x', (4 << 3), 0x01, 'y'};
    const std::string repo = put("odd.rep", file);
    const RunResult r = tool({"msgc", "--list", repo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "2 I \"xy\"\n");
    EXPECT_EQ(r.err, "jbbtool msgc: " + repo +
                         ": message 1: its text has neither the printf nor the ordered-insert form\n"
                         "jbbtool msgc: " +
                         repo + ": the listing compiles to a different file\n");
}

// jbbtool msg --issue: the text on standard output, the exit status the
// global return code, the logs read back with jbbtool trace.
TEST_F(Msg, IssuedMessagesSetTheExitStatusAndReachTheLogs) {
    const std::string repo = compile(kSource + std::string("1228 E \"counted as a warning\\n\"\n"), "m.rep");
    const std::string errorLog = dir.file("error.log"), echoLog = dir.file("echo.log");
    const auto issue = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all{"msg",   "--issue",   "--error-log", errorLog, "--echo-log",
                                     echoLog, "--log-max", "400",         repo};
        all.insert(all.end(), args.begin(), args.end());
        const RunResult r = tool(all);
        EXPECT_EQ(r.err, "");
        return r;
    };
    RunResult r = issue({"1", "Ann", "3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "QLX0001I Hello Ann, you have 3 new messages.\n");
    r = issue({"1228"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "QLX1228E counted as a warning\n");
    r = issue({"6", "65", "2", "abcdef", "66", "255"});
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.out, "QLX0006W ab|A|B|ff");
    r = issue({"5"});
    EXPECT_EQ(r.status, 12);
    EXPECT_EQ(r.out, "QLX0106E Message index not found for message 5.\n");
    // Arguments that do not fit: refused before anything is issued.
    r = tool({"msg", "--issue", "--error-log", errorLog, repo, "1", "Ann"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");

    const std::regex stamp("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d ");
    r = tool({"trace", errorLog});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::regex_replace(r.out, stamp, "<T>"),
              "<T>QLX1228E counted as a warning\n<T>QLX0006W ab|A|B|ff\n"
              "<T>QLX0106E Message index not found for message 5.\n");
    r = tool({"trace", echoLog});
    EXPECT_EQ(std::regex_replace(r.out, stamp, "<T>"),
              "<T>QLX0001I Hello Ann, you have 3 new messages.\n<T>QLX1228E counted as a warning\n"
              "<T>QLX0006W ab|A|B|ff");

    // Wrapped: the log stays at its size and reads back oldest first (the
    // record of 3 was cut by the newest one and is left out).
    for (int k = 0; k < 8; ++k) issue({"2", "/to", "/from", std::to_string(k), "1", "0"});
    EXPECT_EQ(bytes("error.log").size(), 400u);
    r = tool({"trace", errorLog});
    const std::string lines = std::regex_replace(r.out, stamp, "<T>");
    std::string expected;
    for (int k = 4; k < 8; ++k) expected += "<T>QLX0002E Copied /from to /to (" + std::to_string(k) + " bytes, 0%).\n";
    EXPECT_EQ(lines, expected);
}

namespace {

// A segment of a repository record: header, response, text.
std::string segment(bool more, int severity, const std::string& response, const std::string& text) {
    const unsigned v = (more ? 0x8000u : 0u) | (static_cast<unsigned>(severity) << 11) |
                       (static_cast<unsigned>(response.size()) << 8) | static_cast<unsigned>(text.size());
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)} + response + text;
}

// A repository as another compiler may lay it out: a header of its own,
// an index of 32 entries (bytes 64 to 127) and the records from byte 128
// on, the first one right after the index, each in the next free 64-byte
// unit.  records[k] is {message number, record bytes}.
std::string foreignRepository(const std::vector<std::pair<unsigned, std::string>>& records) {
    std::string file = "another compiler's header";
    file.resize(128, '\0');
    for (const auto& [n, bytes] : records) {
        file.resize((file.size() + 63) / 64 * 64, '\0');
        const size_t r = file.size() / 64 + 1;
        file[2 * n + 62] = static_cast<char>(r >> 8);
        file[2 * n + 63] = static_cast<char>(r & 0xFF);
        file += bytes;
    }
    return file;
}

}  // namespace

// The index has no count and ends where the first record begins; message
// 32's record is that first one, so every entry before it must be read and
// none after it.  Codes 9 to 15 carry their identifier and list as codes.
TEST_F(Msg, AnotherCompilersRepositoryListsInFullAndCompilesToTheSameSource) {
    std::vector<std::pair<unsigned, std::string>> records = {
        {32, segment(false, 4, "",
                     "\x01"
                     "thirty-two %s\n")},
        {2, segment(true, 6, "",
                    "\x01"
                    "two parts, ") +
                segment(false, 6, "YN", "joined")},
        {1, segment(false, 0, "", std::string("\0\0\0\0\0\2\1\0\0\0%s\0\0\1%d\0<\0|\0>", 24))},
    };
    for (int code = 9; code <= 15; ++code) {
        records.push_back({static_cast<unsigned>(code), segment(false, code, "",
                                                                "\x01"
                                                                "code " +
                                                                    std::to_string(code))});
    }
    const std::string repo = put("other.rep", foreignRepository(records));
    const std::string source =
        "1 Z \"<%2$s|%1$d>\"\n"
        "2 E response \"YN\" \"two parts, joined\"\n"
        "9 9 \"code 9\"\n10 10 \"code 10\"\n11 11 \"code 11\"\n12 12 \"code 12\"\n"
        "13 13 \"code 13\"\n14 14 \"code 14\"\n15 15 \"code 15\"\n"
        "32 I \"thirty-two %s\\n\"\n";
    RunResult r = tool({"msgc", "--list", repo});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, source);
    const std::string again = compile(r.out, "again.rep");
    r = tool({"msgc", "--list", again});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, source);

    for (const std::string& rep : {repo, again}) {
        EXPECT_EQ(msg({rep, "1", "7", "seven"}), "<seven|7>");
        EXPECT_EQ(msg({rep, "2"}), "QLX0002E two parts, joined");
        EXPECT_EQ(msg({rep, "32", "x"}), "QLX0032I thirty-two x\n");
        for (int code = 9; code <= 15; ++code) {
            EXPECT_EQ(msg({rep, std::to_string(code)}), "QLX00" + std::string(code < 10 ? "0" : "") +
                                                            std::to_string(code) + "ABCDFGH"[code - 9] + " code " +
                                                            std::to_string(code));
        }
    }
}

TEST_F(Msg, AFileThatIsNotARepositoryGetsOneLine) {
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "# a line of text that is not a message repository " + std::to_string(i) + "\n";
    // A record that runs over the next one: message 2's record begins
    // inside message 1's.
    std::string overlapping = foreignRepository(
        {{1, segment(true, 4, "", "\x01" + std::string(200, 'a')) + segment(false, 4, "", std::string(200, 'a'))}});
    overlapping[2 * 2 + 62] = 0;
    overlapping[2 * 2 + 63] = 4;
    for (const auto& [name, bytes, reason] :
         {std::tuple<std::string, std::string, std::string>{"text.txt", text,
                                                            "none of the 10713 messages its index names can be read"},
          {"empty.rep", "", "shorter than the 64 bytes before its index"},
          {"overlap.rep", overlapping, "the records of messages 1 and 2 overlap"}}) {
        const RunResult r = tool({"msgc", "--list", put(name, bytes)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "jbbtool msgc: " + dir.file(name) + ": not a message repository (" + reason + ")\n");
    }

    // Journals of several sizes, with their control record and with its
    // magic number gone, a program and a system text file: msgc --list and
    // msg each say so in one line, and write nothing else.
    std::vector<std::string> files;
    for (const char* count : {"0", "10", "500", "20000"}) {
        const std::string name = dir.file(std::string("j") + count + ".jbbdb");
        const RunResult g = runProgram(programPath(JBBGEN_PATH), {name, "--count", count, "--quiet"}, "", dir.path());
        ASSERT_EQ(g.status, 0) << g.err;
        files.push_back(name);
        std::string image = bytes(std::string("j") + count + ".jbbdb");
        image[0] = image[1] = 0;
        files.push_back(put(std::string("nomagic") + count + ".jbbdb", image));
    }
    files.push_back(programPath(JBBGEN_PATH));
    if (!plat::isWindows() && std::ifstream("/etc/services")) files.push_back("/etc/services");
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"msgc", "--list", f}, std::vector<std::string>{"msg", f, "1"},
              std::vector<std::string>{"msg", "--issue", f, "2"}}) {
            const RunResult r = tool(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("jbbtool " + args[0] + ": " + f + ": not a message repository (", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_EQ(tool({"msg", "--alternate", files[0], compile(kSource, "good.rep"), "1", "x", "2"}).status, 1);
}

// An insert whose conversion asks for more than its kind passes (%ld with
// kind 1, %I64x with kind 2) takes what the kind passes; one that cannot
// be made safe (%s with kind 1) shows empty; the message stands.  Such
// inserts cannot be written as source.
TEST_F(Msg, InsertsThatDisagreeWithTheirKindCostOnlyThemselves) {
    const std::string ordered("\0\0\0\0\0\3\0\1\2\0\1%ld\0\0\2%I64x\0\0\1%s\0<\0|\0|\0>", 36);
    const std::string repo = put("kinds.rep", foreignRepository({{1, segment(false, 6, "", ordered)},
                                                                 {3, segment(false, 4, "",
                                                                             "\x01"
                                                                             "fine")}}));
    EXPECT_EQ(msg({repo, "1", "-5", "255", "7"}), "QLX0001E <-5|ff|>");
    RunResult r = tool({"msg", repo, "1", "-5", "4294967296", "7"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool msg: argument 2 ('4294967296') is not a 32-bit integer\nTry 'jbbtool msg --help'.\n");
    r = tool({"msgc", "--list", repo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "3 I \"fine\"\n");
    EXPECT_EQ(r.err,
              "jbbtool msgc: " + repo + ": message 1: insert 1 (%ld) has kind 1, which a source cannot give it\n");
}

// The pieces of an ordered text are converted from code page 850 whether
// or not --codepage asks for the texts to be; the printf form only with it.
TEST_F(Msg, OrderedPiecesAreConvertedFrom850WithoutTheSwitch) {
    const std::string repo = compile("5 I \"caf\\x82 %1$s \\x82\"\n6 I \"caf\\x82 %s\"\n", "cp.rep");
    EXPECT_EQ(msg({repo, "5", "x"}), "QLX0005I caf\xE9 x \xE9");
    EXPECT_EQ(msg({"--codepage", repo, "5", "x"}), "QLX0005I caf\xE9 x \xE9");
    EXPECT_EQ(msg({repo, "6", "x"}), "QLX0006I caf\x82 x");
    EXPECT_EQ(msg({"--codepage", repo, "6", "x"}), "QLX0006I caf\xE9 x");
}

// nlGetSeverity, which the global return code asks, traces under the
// repository's class or the return code's detail class; 9999 goes the
// same way.
TEST_F(Msg, SeverityLookupsAreTracedUnderNlsOrExtrcDetail) {
    const std::string repo = compile(kSource, "m.rep");
    for (const char* cls : {"EXTRC_DETAIL", "NLS", "EXTRC"}) {
        SCOPED_TRACE(cls);
        const std::string out = std::string(cls) + ".out";
        const RunResult r = tool({"msg", "--issue", "--trace", cls, "--trace-file", dir.file(out), repo, "3"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "Continue? (Y/N) ");
        const bool traced = bytes(out).find("Getting severity for message 3\n") != std::string::npos;
        EXPECT_EQ(traced, std::string(cls) != "EXTRC");
    }
}
