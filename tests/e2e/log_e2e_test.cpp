// The message repository's logs as jbbtool msg --issue writes them: a
// record that cannot be written, a file that is not a log, a header with
// CR LF line ends, and a log whose maximum was lowered.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class Logs : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir.file("m.msg"), std::ios::binary) << "5 E \"failure in %s\\n\"\n";
        const RunResult r = tool({"msgc", dir.file("m.msg"), dir.file("m.rep")});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    RunResult tool(const std::vector<std::string>& args) {
        return runProgram(programPath(JBBTOOL_PATH), args, "", dir.path());
    }
    // Issues message 5 with the error log `log` (and more options).
    RunResult issue(const std::string& log, const std::string& where, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"msg", "--issue", "--error-log", log};
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), {dir.file("m.rep"), "5", where});
        return tool(args);
    }
    std::string bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    // The records jbbtool trace reads from a log, time stamps masked.
    std::string records(const std::string& log) {
        const RunResult r = tool({"trace", log});
        EXPECT_EQ(r.status, 0) << r.err;
        return std::regex_replace(r.out, std::regex("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d "), "<T>");
    }

    TempDir dir;
};

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A log whose newest record ends at `nextWrite`, with `crlf` line ends in
// its header; records of filler before it.
std::string logImage(size_t nextWrite, bool crlf) {
    char head[40];
    std::snprintf(head, sizeof head, "LOGHEADERREC %-12zu", nextWrite);
    std::string b = std::string(head) + (crlf ? "\r\n" : "\n");
    while (b.size() + 40 < nextWrite) b += "12/09/2026 04:07:15 an older record ...\n";
    b += std::string(nextWrite - b.size() - 1, '.') + "\n";
    return b + "\nEND OF DATA\n";
}

}  // namespace

TEST_F(Logs, ARecordPastTheFileSizeLimitIsReportedAndTheLogKept) {
    if (plat::isWindows()) GTEST_SKIP() << "no file-size limit";
    // The next record goes at 9000, past the limit of 8 blocks (4096 or
    // 8192 bytes, by the shell's block size) that the run gets.
    const std::string log = dir.file("error.log");
    const std::string before = logImage(9000, false);
    put(log, before);
    const RunResult r = runProgram("/bin/sh",
                                   {"-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"", JBBTOOL_PATH, "msg",
                                    "--issue", "--error-log", log, dir.file("m.rep"), "5", "the cellar"},
                                   "", dir.path());
    EXPECT_EQ(r.status, 12);
    EXPECT_EQ(r.out, "QLX0005E failure in the cellar\n");
    EXPECT_EQ(r.err, "jbbtool msg: could not write the error log " + log + ": File too large\n");
    EXPECT_EQ(bytes(log), before);

    // Without the limit the log is continued where it was.
    EXPECT_EQ(issue(log, "the attic").status, 12);
    const std::string after = bytes(log);
    EXPECT_EQ(after.substr(26, 8974), before.substr(26, 8974));
    const std::string read = records(log);
    EXPECT_TRUE(endsWith(read, "<T>QLX0005E failure in the attic\n")) << read;
}

TEST_F(Logs, AFileThatIsNotALogIsRefusedAndLeftAsItIs) {
    const std::string journal = std::string("\x4a\x42\x00\x01", 4) + std::string(2000, '\x07');
    put(dir.file("c.jbbdb"), journal);
    const RunResult r = issue(dir.file("c.jbbdb"), "the hall");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "jbbtool msg: cannot open the log " + dir.file("c.jbbdb") + ": not a log file, left as it is\n");
    EXPECT_EQ(bytes(dir.file("c.jbbdb")), journal);

    // An empty file, and a log of ours that is damaged, are made anew.
    put(dir.file("empty.log"), "");
    EXPECT_EQ(issue(dir.file("empty.log"), "the hall").status, 12);
    put(dir.file("damaged.log"), "LOGHEADERREC 99999       \nrest");
    EXPECT_EQ(issue(dir.file("damaged.log"), "the hall").status, 12);
    for (const char* name : {"empty.log", "damaged.log"}) {
        EXPECT_EQ(records(dir.file(name)), "<T>QLX0005E failure in the hall\n") << name;
    }
}

TEST_F(Logs, HardLinksAndFifosAreRefused) {
    if (plat::isWindows()) GTEST_SKIP() << "POSIX links and FIFOs";
    const std::string log = dir.file("a.log");
    ASSERT_EQ(issue(log, "one").status, 12);
    const std::string before = bytes(log);
    ASSERT_EQ(
        std::system(("ln '" + log + "' '" + dir.file("b.log") + "' && mkfifo '" + dir.file("f.log") + "'").c_str()), 0);
    RunResult r = issue(dir.file("b.log"), "two");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool msg: cannot open the log " + dir.file("b.log") +
                         ": a file with more than one hard link, left as it is\n");
    r = issue(dir.file("f.log"), "three");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool msg: cannot open the log " + dir.file("f.log") + ": not a regular file, left as it is\n");
    EXPECT_EQ(bytes(log), before);
}

TEST_F(Logs, ACrLfHeaderIsContinuedAndALoweredMaximumWraps) {
    // Written by a text-mode writer: CR LF after the header.
    const std::string log = dir.file("crlf.log");
    const std::string before = logImage(300, true);
    put(log, before);
    ASSERT_EQ(issue(log, "the yard").status, 12);
    const std::string after = bytes(log);
    EXPECT_EQ(after.substr(25, 275), before.substr(25, 275));
    const std::string read = records(log);
    EXPECT_TRUE(endsWith(read, "<T>QLX0005E failure in the yard\n")) << read;
    EXPECT_EQ(read.substr(0, 42), "<T>an older record ...\n<T>an older record ");

    // A log of 9 KB continued under a maximum of 4 KB: its next record
    // wraps it, cut behind the wrap marker; the records before stay, to be
    // overwritten oldest first, and the next wrap brings it to its size.
    const std::string big = dir.file("big.log");
    const std::string older = logImage(9000, false);
    put(big, older);
    ASSERT_EQ(issue(big, "the loft", {"--log-max", "4096"}).status, 12);
    const std::string wrapped = bytes(big);
    EXPECT_EQ(wrapped.substr(9000), "\nContinued at beginning of file\n");
    EXPECT_EQ(wrapped.substr(200, 8800), older.substr(200, 8800));
    const std::string kept = records(big);
    EXPECT_TRUE(endsWith(kept, "<T>QLX0005E failure in the loft\n")) << kept;
    EXPECT_GT(kept.size(), 5000u);
}
