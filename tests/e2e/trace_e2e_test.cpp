// Tracing real runs end to end: jbbgen with the trace options, and
// jbbtool trace reading what it wrote (a wrapped file, a segment ring, a
// plain file), compared with the complete trace of the same run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "platform.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMegabyte = 1048576;
const char kWrapMarker[] = "\nContinued at beginning of file\n\n";

std::string readText(const std::string& path) {
    Bytes b;
    if (!readFile(path, &b)) return "(unreadable)";
    return std::string(b.begin(), b.end());
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The lines of `text` with pointer values (runs of 8 or more hex digits,
// with or without 0x) masked: two runs place their buffers at different
// addresses.
std::vector<std::string> maskedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            ++i;
            continue;
        }
        size_t j = i + (c == '0' && i + 1 < text.size() && text[i + 1] == 'x' ? 2 : 0);
        const size_t digits = j;
        while (j < text.size() && isHex(text[j])) ++j;
        if (j - digits >= 8) {
            line += 'P';
            i = j;
        } else {
            line += c;
            ++i;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

class Tracing : public ::testing::Test {
protected:
    RunResult gen(const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), dir.file(name));
        args.push_back("--no-progress");
        return runProgram(JBBGEN_PATH, args, "", dir.path());
    }
    RunResult tool(const std::vector<std::string>& args) { return runProgram(JBBTOOL_PATH, args, "", dir.path()); }

    // The trace of a run of jbbgen on `count` entries under BTREEDB, read
    // back with jbbtool trace, complete (a plain trace file).
    std::vector<std::string> fullTrace(const std::string& count) {
        const RunResult r = gen("full", {"--count", count, "--trace", "BTREEDB", "--trace-file", dir.file("full.out")});
        EXPECT_EQ(r.status, 0) << r.err;
        const RunResult t = tool({"trace", dir.file("full.out")});
        EXPECT_EQ(t.status, 0) << t.err;
        return maskedLines(t.out);
    }

    // `part` is the end of `whole`, and long enough to have wrapped.
    static void expectNewestLines(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
        ASSERT_GT(part.size(), 5000u);
        ASSERT_LT(part.size(), whole.size());
        const size_t skip = whole.size() - part.size();
        for (size_t i = 0; i < part.size(); ++i) ASSERT_EQ(part[i], whole[skip + i]) << "line " << i;
    }

    TempDir dir;
};

}  // namespace

// A plain trace file that two runs wrote to: their lines, without the
// header each run began with.
TEST_F(Tracing, APlainFileOfTwoRunsReadsAsTheirLines) {
    const std::string header = "ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: Dec 10 2026\n"
                               "Current Time: 12/10/2026 03:55:27\nBEGINNING NEW TRACE\n\n";
    const std::string text = header + "first run\nsecond line\n" + header + "second run\n";
    ASSERT_TRUE(writeFile(dir.file("two.out"), Bytes(text.begin(), text.end())));
    const RunResult t = tool({"trace", dir.file("two.out")});
    EXPECT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(t.out, "first run\nsecond line\nsecond run\n");
}

TEST_F(Tracing, WrappedFilesAndSegmentRingsReadInOrder) {
    // A run whose trace fills a 1 MB file several times over; under Wine,
    // where every write costs many times as much, a smaller one.
    const std::string count = plat::isWindows() ? "5000" : "10000";
    const std::vector<std::string> whole = fullTrace(count);

    // One file of at most 1 MB.
    RunResult r =
        gen("g", {"--count", count, "--trace", "BTREEDB", "--trace-file", dir.file("t.out"), "--trace-max", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "jbbgen: wrote " + dir.file("g.jbbdb") + " (" + count + " entries)\n");
    const std::string bytes = readText(dir.file("t.out"));
    EXPECT_LE(bytes.size(), kMegabyte + sizeof kWrapMarker - 1);
    EXPECT_GT(bytes.size(), kMegabyte - 30000);
    EXPECT_NE(bytes.find(kWrapMarker), std::string::npos);
    EXPECT_EQ(bytes.compare(std::stoul(bytes.substr(12, 12)), 22, "\nEND OF DATA - close\n\n"), 0);
    RunResult t = tool({"trace", dir.file("t.out")});
    ASSERT_EQ(t.status, 0) << t.err;
    expectNewestLines(maskedLines(t.out), whole);
    t = tool({"trace", "--raw", dir.file("t.out")});
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.out, bytes);

    // A ring of three segments of 1 MB.
    const std::string base = dir.file("seg");
    r = gen("s", {"--count", count, "--trace", "BTREEDB", "--trace-file", base, "--trace-max", "1", "--trace-segments",
                  "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* n : {".1", ".2", ".3"}) {
        int64_t size = 0;
        ASSERT_TRUE(plat::fileSize((base + n).c_str(), &size)) << n;
        EXPECT_LE(size, static_cast<int64_t>(kMegabyte + 64));
    }
    EXPECT_FALSE(fs::exists(base + ".4"));
    t = tool({"trace", base});
    ASSERT_EQ(t.status, 0) << t.err;
    const std::vector<std::string> ring = maskedLines(t.out);
    for (const std::string& line : ring) ASSERT_EQ(line.find("Continued"), std::string::npos) << line;
    expectNewestLines(ring, whole);

    // Tracing changed nothing in the journals.
    ASSERT_EQ(gen("plain", {"--count", count}).status, 0);
    const std::string journal = readText(dir.file("plain.jbbdb"));
    EXPECT_EQ(readText(dir.file("g.jbbdb")), journal);
    EXPECT_EQ(readText(dir.file("s.jbbdb")), journal);
    EXPECT_EQ(readText(dir.file("full.jbbdb")), journal);
}

TEST_F(Tracing, TimestampsAndPositionsOnTheConsole) {
    const RunResult r =
        gen("g", {"--count", "50", "--trace", "btreedb,memory", "--trace-file", "STDOUT", "--trace-timestamps"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex line(
        R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} : )"
        R"((jbbtreev|ctrlrec|indexarray|diskspace|nodecache|search|datum|delete|insert|kvmem|trace)\.cpp *\( *\d+\): .*)");
    size_t stamped = 0, memory = 0;
    std::set<std::string> engineFiles;
    for (const std::string& l : maskedLines(r.out)) {
        if (l.empty() || l[0] < '0' || l[0] > '9') continue;  // a message's own further lines
        ++stamped;
        ASSERT_TRUE(std::regex_match(l, line)) << l;
        memory += l.find("KVMEM(") != std::string::npos;
        // Each engine line names the file it comes from.
        const size_t at = l.find(" : ") + 3;
        const std::string file = l.substr(at, l.find(".cpp") - at);
        const std::pair<const char*, const char*> homes[] = {
            {"fetchPage()", "nodecache"}, {"Insert()", "insert"}, {"openBtDb()", "jbbtreev"}};
        for (const auto& h : homes) {
            if (l.find(h.first) != std::string::npos) {
                EXPECT_EQ(h.second, file) << l;
            }
        }
        engineFiles.insert(file);
    }
    EXPECT_GT(stamped, 100u);
    EXPECT_GT(memory, 10u);
    EXPECT_TRUE(engineFiles.count("nodecache") && engineFiles.count("insert") && engineFiles.count("jbbtreev"));
}

TEST_F(Tracing, BadTraceOptionsAndFiles) {
    RunResult r = gen("g", {"--trace", "BTREEDB NOSUCH"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("'NOSUCH' is neither a trace class nor an aggregate"), std::string::npos) << r.err;
    r = gen("g", {"--trace-max", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(dir.file("g.jbbdb")));
    r = gen("g", {"--trace", "BTREEDB", "--trace-file", dir.path().string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Unable to open trace output file " + dir.path().string() + "\n");

    writeFile(dir.file("other.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    RunResult t = tool({"trace", dir.file("other.txt")});
    EXPECT_EQ(t.status, 2);
    EXPECT_EQ(t.out, "");
    EXPECT_EQ(t.err, "jbbtool trace: " + dir.file("other.txt") + ": not a trace file\n");
    t = tool({"trace", dir.file("missing")});
    EXPECT_EQ(t.status, 2);
    EXPECT_NE(t.err.find("cannot read"), std::string::npos);
    t = tool({"trace"});
    EXPECT_EQ(t.status, 2);
}

TEST_F(Tracing, AFailedTraceWriteLeavesTheRunAlone) {
    if (plat::isWindows()) GTEST_SKIP() << "no file-size limit";
    // A trace file of ours that has reached the file-size limit of the run
    // (set by the shell, 256 blocks, with SIGXFSZ ignored): appending to it
    // fails, the journal (74 KB) is written all the same.
    const std::string path = dir.file("t.out");
    const std::string full = "ZEP Trace   Quillstore 6.1.1.00 090824B\n" + std::string(300000, '.') + "\n";
    { std::ofstream(path, std::ios::binary) << full; }
    const RunResult r = runProgram("/bin/sh",
                                   {"-c", "trap '' XFSZ; ulimit -f 256; exec \"$0\" \"$@\"", JBBGEN_PATH, dir.file("g"),
                                    "--count", "300", "--no-progress", "--trace", "BTREEDB", "--trace-file", path},
                                   "", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Unable to write to trace file " + path + ". Tracing disabled.\njbbgen: wrote " +
                         dir.file("g.jbbdb") + " (300 entries)\n");
    EXPECT_EQ(readText(path), full);
    ASSERT_EQ(gen("plain", {"--count", "300"}).status, 0);
    EXPECT_EQ(readText(dir.file("g.jbbdb")), readText(dir.file("plain.jbbdb")));
}

TEST_F(Tracing, AFileThatIsNotATraceFileIsLeftAsItIs) {
    // The journal named by mistake as the trace file: refused, untouched.
    ASSERT_EQ(gen("j", {"--count", "50"}).status, 0);
    const std::string journal = readText(dir.file("j.jbbdb"));
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--trace-max", "1"},
          std::vector<std::string>{"--trace-max", "1", "--trace-segments", "2"}, std::vector<std::string>{}}) {
        std::vector<std::string> args{"--count", "10", "--trace", "BTREEDB", "--trace-file", dir.file("j.jbbdb")};
        args.insert(args.end(), options.begin(), options.end());
        if (options.size() == 4) {
            std::ofstream(dir.file("j.jbbdb.1"), std::ios::binary) << journal;
        }
        const RunResult r = gen("other", args);
        EXPECT_EQ(r.status, 2);
        const std::string named = dir.file("j.jbbdb") + (options.size() == 4 ? ".1" : "");
        EXPECT_EQ(r.out, "Unable to open trace output file " + named + ": not a trace file, left as it is\n");
        EXPECT_EQ(readText(named), journal);
    }
}
