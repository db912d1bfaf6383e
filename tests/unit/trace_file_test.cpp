// Trace files: names, headers byte for byte, wrapping and resuming,
// segment rings, and refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "pkfile.h"
#include "platform.h"
#include "trace_fixture.h"
#include "tracefile.h"

namespace fs = std::filesystem;

namespace {

const std::string kWrapHeaderTail = std::string(" Quillstore 6.1.1.00 090824B Build date: ") + traceBuildDate + "\n\n";

std::string wrapHeader(unsigned nextWrite, unsigned maxMB) {
    char head[64];
    std::snprintf(head, sizeof head, "ZEP Trace   %-12u%-10u", nextWrite, maxMB);
    return head + kWrapHeaderTail;
}

// Opens `path` as a wrapping trace file of `maxMB` MB (a ring of
// `segments` files when 2 or more).
int openWrapping(const std::string& path, uint32_t maxMB, uint32_t segments = 0) {
    TraceControl* tc = traceInstallControl();
    tc->wrapEnabled = 1;
    tc->maxSizeMB = maxMB;
    tc->segmentCount = segments;
    tc->segmentSizeMB = tc->lastSegmentSizeMB = maxMB;
    tc->currentSegment = 1;
    return traceOpen(path.c_str(), 0);
}

// Line n of the test traces: its number and filler up to `width` bytes.
std::string numbered(int n, size_t width = 100) {
    char head[16];
    std::snprintf(head, sizeof head, "line %07d ", n);
    std::string s = head;
    s.append(width - s.size() - 1, '.');
    return s + "\n";
}

// The number of a whole test line that begins at `at`, or -1.
int numberAt(const std::string& b, size_t at) {
    if (b.compare(at, 5, "line ") != 0) return -1;
    return std::stoi(b.substr(at + 5, 7));
}

}  // namespace

TEST_F(TraceTest, NamesAreCheckedAndQualified) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(traceSetFileName(nullptr), traceErrInvalidName);
    EXPECT_EQ(traceSetFileName(""), traceErrInvalidName);
    EXPECT_EQ(traceSetFileName(std::string(8193, 'n').c_str()), traceErrInvalidName);
    EXPECT_EQ(traceSetFileName("'unbalanced.out"), traceErrInvalidName);
    EXPECT_EQ(traceSetFileName("\"mixed.out'"), traceErrInvalidName);
    std::string fiveTimes;
    for (int i = 0; i < 5; ++i) fiveTimes += "Invalid trace file name\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), fiveTimes);

    const std::string cwd = fs::current_path().string();
    const std::string sep(1, plat::pathSeparator());
    EXPECT_EQ(traceSetFileName("'my trace.out'"), 0);
    EXPECT_EQ(std::string(traceControl->fileName), cwd + sep + "my trace.out");
    // A whole name of 8192 characters is taken, one more is not.
    const std::string folder = dir.path().string() + sep;
    const std::string longest = folder + std::string(8192 - folder.size(), 'n');
    EXPECT_EQ(traceSetFileName(longest.c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(traceSetFileName((longest + "n").c_str()), traceErrInvalidName);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid trace file name\n");
    // Once a base name is set, only the console names replace it.
    EXPECT_EQ(traceSetFileName("other.out"), 0);
    EXPECT_EQ(std::string(traceControl->fileName), cwd + sep + "my trace.out");
    EXPECT_EQ(traceSetFileName("StdErr"), 0);
    EXPECT_EQ(std::string(traceControl->fileName), "StdErr");

    resetAll();
    const std::string full = dir.file("t.out");
    traceControl->segmentCount = 3;
    traceControl->currentSegment = 2;
    EXPECT_EQ(traceSetFileName(full.c_str()), 0);
    EXPECT_EQ(std::string(traceControl->baseFileName), full);
    EXPECT_EQ(std::string(traceControl->fileName), full + ".2");
}

TEST_F(TraceTest, HeadersByteForByte) {
    const std::string plain = dir.file("plain.out");
    ASSERT_EQ(traceOpen(plain.c_str(), 0), 0);
    tracePrintf("x.cpp", 1, "one\n");
    traceClose(0);
    ASSERT_EQ(traceOpen(plain.c_str(), 0), 0);
    traceClose(0);
    const std::string plainHeader = std::string("ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: ") +
                                    traceBuildDate + "\nBEGINNING NEW TRACE\n\n";
    EXPECT_EQ(readFile(plain), plainHeader + "Unicode Client\none\n" + plainHeader);

    resetAll();
    const std::string wrap = dir.file("wrap.out");
    ASSERT_EQ(openWrapping(wrap, 7), 0);
    const std::string begin = "BEGINNING NEW TRACE\n\nUnicode Client\n";
    const unsigned afterBegin = static_cast<unsigned>(traceWrapHeaderLength + begin.size());
    EXPECT_EQ(readFile(wrap), wrapHeader(afterBegin, 7) + begin + "\nEND OF DATA\n\n");
    tracePrintf("x.cpp", 1, "one\n");
    EXPECT_EQ(readFile(wrap), wrapHeader(afterBegin + 4, 7) + begin + "one\n\nEND OF DATA\n\n");
    traceClose(0);
    EXPECT_EQ(readFile(wrap), wrapHeader(afterBegin + 4, 7) + begin + "one\n\nEND OF DATA - close\n\n");
}

TEST_F(TraceTest, AWrappingFileStaysWithinItsMaximum) {
    const std::string path = dir.file("w.out");
    ASSERT_EQ(openWrapping(path, 1), 0);
    const size_t limit = 1048576 + sizeof traceWrapMarker - 1;
    int last = 0;
    for (int n = 1; n <= 35000; ++n) {
        tracePrintf("x.cpp", 1, "%s", numbered(n).c_str());
        last = n;
        if (n % 4999 != 0 && n != 35000) continue;
        const std::string b = readFile(path);
        ASSERT_LE(b.size(), limit) << "after line " << n;
        const size_t at = headerOffset(b);
        ASSERT_EQ(b.compare(at, 14, "\nEND OF DATA\n\n"), 0) << "after line " << n;
        ASSERT_EQ(b.compare(at - 100, 100, numbered(n)), 0);
    }
    // The oldest survivors follow the end marker (after the line cut by the
    // newest write) up to the wrap marker, and continue at the start of data.
    const std::string b = readFile(path);
    const size_t end = headerOffset(b);
    const size_t wrapAt = b.find(traceWrapMarker, end);
    ASSERT_NE(wrapAt, std::string::npos);
    size_t at = b.find('\n', end + 14) + 1;
    int expected = numberAt(b, at);
    ASSERT_GT(expected, 0);
    for (; at < wrapAt; at += 100, ++expected) ASSERT_EQ(numberAt(b, at), expected);
    EXPECT_EQ(at, wrapAt);
    at = traceWrapHeaderLength;
    EXPECT_EQ(numberAt(b, at), expected);
    for (; at < end; at += 100, ++expected) ASSERT_EQ(numberAt(b, at), expected);
    EXPECT_EQ(expected, last + 1);
}

TEST_F(TraceTest, AWrappingFileIsResumedOrRecreated) {
    const std::string path = dir.file("r.out");
    ASSERT_EQ(openWrapping(path, 2), 0);
    for (int n = 1; n <= 10; ++n) tracePrintf("x.cpp", 1, "%s", numbered(n).c_str());
    traceClose(1);
    const std::string before = readFile(path);
    const size_t closedAt = headerOffset(before);
    ASSERT_EQ(before.compare(closedAt, 22, traceCloseMarker), 0);

    // Same or larger maximum: resumed at the stored offset.
    resetAll();
    ASSERT_EQ(openWrapping(path, 3), 0);
    tracePrintf("x.cpp", 1, "%s", numbered(11).c_str());
    traceClose(1);
    std::string b = readFile(path);
    const std::string begin = "BEGINNING NEW TRACE\n\nUnicode Client\n";
    EXPECT_EQ(b.substr(0, traceWrapHeaderLength), wrapHeader(static_cast<unsigned>(closedAt + begin.size() + 100), 3));
    EXPECT_EQ(b.substr(traceWrapHeaderLength, closedAt - traceWrapHeaderLength),
              before.substr(traceWrapHeaderLength, closedAt - traceWrapHeaderLength));
    EXPECT_EQ(b.substr(closedAt), begin + numbered(11) + traceCloseMarker);

    // A smaller maximum than the stored one: recreated.
    resetAll();
    ASSERT_EQ(openWrapping(path, 1), 0);
    traceClose(1);
    const std::string fresh = wrapHeader(static_cast<unsigned>(traceWrapHeaderLength + begin.size()), 1) + begin;
    EXPECT_EQ(readFile(path), fresh + traceCloseMarker);

    // Ours but damaged or oversized: recreated.
    const std::string damaged[] = {
        "ZEP Trace   abc" + b.substr(15),
        "ZEP Trace   ",
        wrapHeader(999999, 1),  // offset past the end of the file
        wrapHeader(static_cast<unsigned>(traceWrapHeaderLength), 1) + std::string(1048576 + 40, 'x'),
    };
    for (const std::string& content : damaged) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << content;
        }
        resetAll();
        ASSERT_EQ(openWrapping(path, 1), 0);
        traceClose(0);
        EXPECT_EQ(readFile(path).substr(0, fresh.size()), fresh);
    }

    // A file whose next write is where its data starts (it has just
    // wrapped) is resumed there: what lies behind stays.
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << wrapHeader(static_cast<unsigned>(traceWrapHeaderLength), 1) << std::string(5000, 'y');
    }
    resetAll();
    ASSERT_EQ(openWrapping(path, 1), 0);
    traceClose(1);
    const std::string resumed = readFile(path);
    EXPECT_EQ(resumed.size(), traceWrapHeaderLength + 5000);
    EXPECT_EQ(resumed.substr(traceWrapHeaderLength, begin.size()), begin);
    EXPECT_EQ(resumed.back(), 'y');
}

TEST_F(TraceTest, SegmentsRotateAndTheFirstIsRecreated) {
    const std::string base = dir.file("seg");
    ASSERT_EQ(openWrapping(base, 1, 3), 0);
    // About 1040 lines of 1000 bytes fill a segment; 3500 lines go round
    // to the first again.
    for (int n = 1; n <= 3500; ++n) tracePrintf("x.cpp", 1, "%s", numbered(n, 1000).c_str());
    const std::string s1 = readFile(base + ".1");
    const std::string s2 = readFile(base + ".2");
    const std::string s3 = readFile(base + ".3");
    EXPECT_FALSE(fs::exists(base));
    EXPECT_FALSE(fs::exists(base + ".4"));
    const size_t h = traceWrapHeaderLength;
    EXPECT_EQ(s2.substr(h, 33), "Continued from end of segment 1\n\n");
    EXPECT_EQ(s3.substr(h, 33), "Continued from end of segment 2\n\n");
    EXPECT_EQ(s1.substr(h, 33), "Continued from end of segment 3\n\n");
    EXPECT_EQ(numberAt(s1, h + 33), numberAt(s3, headerOffset(s3) - 1000) + 1);
    EXPECT_EQ(s2.substr(headerOffset(s2)), "\nContinued at beginning of segment 3\n\n");
    EXPECT_EQ(s3.substr(headerOffset(s3)), "\nContinued at beginning of segment 1\n\n");
    EXPECT_EQ(s1.substr(headerOffset(s1)), "\nEND OF DATA\n\n");
    EXPECT_EQ(numberAt(s1, headerOffset(s1) - 1000), 3500);
    for (const std::string* s : {&s1, &s2, &s3}) EXPECT_LE(s->size(), 1048576u + 64);
    EXPECT_EQ(traceControl->currentSegment, 1u);
    EXPECT_EQ(traceControl->previousSegment, 3u);
    resetAll();

    // Two segments of their own sizes, whatever the whole maximum says: the
    // first fills at 1 MB, the last at 2 MB.
    const std::string two = dir.file("two");
    ASSERT_EQ(openWrapping(two, 3, 2), 0);
    traceControl->segmentSizeMB = 1;
    traceControl->lastSegmentSizeMB = 2;
    for (int n = 1; n <= 2500; ++n) tracePrintf("x.cpp", 1, "%s", numbered(n, 1000).c_str());
    const std::string t1 = readFile(two + ".1");
    const std::string t2 = readFile(two + ".2");
    EXPECT_LE(t1.size(), 1048576u + 64);
    EXPECT_GT(t1.size(), 1048576u - 2000);
    EXPECT_GT(t2.size(), 1048576u + 64);
    EXPECT_LE(t2.size(), 2 * 1048576u + 64);
    EXPECT_EQ(t1.substr(headerOffset(t1)), "\nContinued at beginning of segment 2\n\n");
    EXPECT_EQ(t2.substr(traceWrapHeaderLength, 33), "Continued from end of segment 1\n\n");
    EXPECT_EQ(traceControl->currentSegment, 2u);
}

TEST_F(TraceTest, RawTextFailsWhenTheNextSegmentCannotBeOpened) {
    const std::string base = dir.file("ring");
    fs::create_directory(base + ".2");  // where the second segment would go
    ASSERT_EQ(openWrapping(base, 1, 2), 0);
    const std::string line = numbered(1, 1000);
    int rc = 0;
    for (int n = 0; n < 3000 && rc >= 0; ++n) rc = traceWriteRaw(line.c_str());
    EXPECT_EQ(rc, -1);
}

TEST_F(TraceTest, FilesThatCannotBeOpenedAreRefused) {
    traceControl->consoleOutput = 1;
    testing::internal::CaptureStdout();
    const std::string folder = dir.path().string();
    EXPECT_EQ(traceOpen(folder.c_str(), 0), traceErrOpen);
    const std::string wrapFolder = dir.file("sub");
    fs::create_directory(wrapFolder);
    traceControl->consoleOutput = 1;
    EXPECT_EQ(openWrapping(wrapFolder, 1), traceErrOpen);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Unable to open trace output file " + folder + "\nUnable to open trace output file " + wrapFolder + "\n");
    EXPECT_EQ(traceControl->stream, nullptr);
    EXPECT_EQ(traceControl->wrapEnabled, 0u);
}

TEST_F(TraceTest, TraceFilesArePrivateAndNoLinkIsFollowed) {
    if (plat::isWindows()) GTEST_SKIP() << "POSIX permissions and links";
    const std::string path = dir.file("p.out");
    ASSERT_EQ(traceOpen(path.c_str(), 0), 0);
    traceClose(1);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    const std::string target = dir.file("target");
    { std::ofstream(target) << "precious\n"; }
    const std::string link = dir.file("link.out");
    fs::create_symlink(target, link);
    resetAll();
    traceControl->consoleOutput = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(traceOpen(link.c_str(), 0), traceErrOpen);
    EXPECT_EQ(openWrapping(link, 1), traceErrOpen);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(target), "precious\n");
}

TEST_F(TraceTest, LogFilesWrapWithinTheirSize) {
    const std::string path = dir.file("log.txt");
    FILE* f = plat::openBinary(path.c_str(), "wb+");
    ASSERT_NE(f, nullptr);
    std::fputs("LOGHEADERREC garbage\n", f);  // no number: taken as 0
    LogFileCtl log;
    log.stream = f;
    log.wrapEnabled = 1;
    log.maxBytes = 200;
    std::strcpy(logEndOfDataMarker, "<END>");
    std::strcpy(logWrapMarker, "<WRAP>");
    utMakeRoom(&log, 10);
    EXPECT_EQ(log.nextWrite, 0);
    std::fputs("LOGHEADERREC 0           \n", f);  // a proper header in place of the damaged one
    for (int n = 0; n < 12; ++n) {
        const std::string record = "record " + std::to_string(n) + " .........\n";
        utMakeRoom(&log, static_cast<int>(record.size()));
        std::fputs(record.c_str(), f);
        utSetNextWrite(&log);
        std::fflush(f);
        int64_t size = 0;
        ASSERT_TRUE(plat::fileSize(path.c_str(), &size));
        ASSERT_LE(size, 200);
    }
    std::fclose(f);
    logEndOfDataMarker[0] = logWrapMarker[0] = '\0';
    const std::string b = readFile(path);
    EXPECT_EQ(b.size(), 200u);
    const size_t next = std::stoul(b.substr(13, 12));
    EXPECT_EQ(b.substr(next, 6), "<END>\n");
    EXPECT_EQ(b.substr(next - 20, 20), "record 11 .........\n");
    EXPECT_NE(b.find("<WRAP>"), std::string::npos);
    EXPECT_EQ(b.substr(b.size() - 2), "*\n");
}

TEST_F(TraceTest, AForeignFileIsRefusedAndLeftAsItIs) {
    // The journal itself, named by mistake as a trace file: as a wrapping
    // file, as a segment of a ring and as a plain trace file.
    const std::string journal = std::string("\x4a\x42\x00\x01", 4) + std::string(3000, '\x07');
    const std::string path = dir.file("c.jbbdb");
    { std::ofstream(path, std::ios::binary) << journal; }
    { std::ofstream(path + ".1", std::ios::binary) << journal; }
    traceControl->consoleOutput = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(openWrapping(path, 1), traceErrOpen);
    resetAll();
    traceControl->consoleOutput = 1;
    EXPECT_EQ(openWrapping(path, 1, 3), traceErrOpen);
    resetAll();
    traceControl->consoleOutput = 1;
    EXPECT_EQ(traceOpen(path.c_str(), 0), traceErrOpen);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open trace output file " + path +
                                                          ": not a trace file, left as it is\n"
                                                          "Unable to open trace output file " +
                                                          path +
                                                          ".1: not a trace file, left as it is\n"
                                                          "Unable to open trace output file " +
                                                          path + ": not a trace file, left as it is\n");
    EXPECT_EQ(readFile(path), journal);
    EXPECT_EQ(readFile(path + ".1"), journal);
    EXPECT_EQ(traceControl->stream, nullptr);

    // A plain trace file of ours is appended to; an empty file is ours.
    const std::string plain = dir.file("p.out");
    { std::ofstream(plain, std::ios::binary) << ""; }
    resetAll();
    ASSERT_EQ(traceOpen(plain.c_str(), 0), 0);
    traceClose(1);
    const std::string once = readFile(plain);
    ASSERT_EQ(traceOpen(plain.c_str(), 0), 0);
    traceClose(1);
    EXPECT_EQ(readFile(plain), once + once);
}

TEST_F(TraceTest, HardLinksAndNonRegularFilesAreRefused) {
    if (plat::isWindows()) GTEST_SKIP() << "POSIX links and FIFOs";
    const std::string path = dir.file("t.out");
    ASSERT_EQ(openWrapping(path, 1), 0);
    traceClose(1);
    const std::string ours = readFile(path);
    const std::string link = dir.file("hard.out");
    fs::create_hard_link(path, link);
    const std::string fifo = dir.file("fifo.out");
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    testing::internal::CaptureStdout();
    for (const std::string& name : {path, link}) {
        resetAll();
        traceControl->consoleOutput = 1;
        EXPECT_EQ(openWrapping(name, 1), traceErrOpen);
        resetAll();
        traceControl->consoleOutput = 1;
        EXPECT_EQ(traceOpen(name.c_str(), 0), traceErrOpen);
    }
    resetAll();
    traceControl->consoleOutput = 1;
    EXPECT_EQ(openWrapping(fifo, 1), traceErrOpen);  // opened without waiting for a reader
    resetAll();
    traceControl->consoleOutput = 1;
    EXPECT_EQ(traceOpen(fifo.c_str(), 0), traceErrOpen);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Unable to open trace output file " + path +
                       ": a file with more than one hard link, left as it is\n"
                       "Unable to open trace output file " +
                       path +
                       ": a file with more than one hard link, left as it is\n"
                       "Unable to open trace output file " +
                       link +
                       ": a file with more than one hard link, left as it is\n"
                       "Unable to open trace output file " +
                       link +
                       ": a file with more than one hard link, left as it is\n"
                       "Unable to open trace output file " +
                       fifo +
                       ": not a regular file, left as it is\n"
                       "Unable to open trace output file " +
                       fifo + ": not a regular file, left as it is\n");
    EXPECT_EQ(readFile(path), ours);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(TraceTest, AHeaderWithCrLfLineEndsIsResumed) {
    // A header as a text-mode writer on Windows leaves it: CR LF.
    const std::string path = dir.file("crlf.out");
    const size_t dataStart = traceWrapHeaderLength + 2;
    std::string head = wrapHeader(static_cast<unsigned>(dataStart + 12), 2);
    head.replace(head.size() - 2, 2, "\r\n\r\n");
    const std::string content = head + "older line\r\n" + traceEndMarker;
    { std::ofstream(path, std::ios::binary) << content; }
    ASSERT_EQ(openWrapping(path, 2), 0);
    EXPECT_EQ(traceControl->startOfData, static_cast<int64_t>(dataStart));
    tracePrintf("x.cpp", 1, "newer\n");
    traceClose(1);
    const std::string b = readFile(path);
    const std::string begin = "BEGINNING NEW TRACE\n\nUnicode Client\n";
    EXPECT_EQ(b.substr(24, head.size() - 24), head.substr(24));
    EXPECT_EQ(b.substr(dataStart, 12), "older line\r\n");
    EXPECT_EQ(b.substr(dataStart + 12), begin + "newer\n" + traceCloseMarker);
    EXPECT_EQ(headerOffset(b), dataStart + 12 + begin.size() + 6);
}

TEST_F(TraceTest, MaximumSizesUpTo4095MBAreAccepted) {
    traceControl->consoleOutput = 1;
    const std::string path = dir.file("max.out");
    ASSERT_EQ(openWrapping(path, 4095), 0);
    EXPECT_EQ(readFile(path).substr(24, 10), "4095      ");
    resetAll();
    traceControl->consoleOutput = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(openWrapping(dir.file("over.out"), 4096), traceErrOpen);
    resetAll();
    ASSERT_EQ(openWrapping(dir.file("seg"), 4095, 2), 0);
    resetAll();
    TraceControl* tc = traceControl;
    tc->consoleOutput = 1;
    tc->wrapEnabled = 1;
    tc->maxSizeMB = tc->segmentSizeMB = 1;
    tc->lastSegmentSizeMB = 4096;
    tc->segmentCount = 2;
    EXPECT_EQ(traceOpen(dir.file("seg2").c_str(), 0), traceErrOpen);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open trace output file " + dir.file("over.out") +
                                                          ": a maximum size above 4095 MB\n"
                                                          "Unable to open trace output file " +
                                                          dir.file("seg2") + ".1: a maximum size above 4095 MB\n");
    EXPECT_FALSE(fs::exists(dir.file("over.out")));
    EXPECT_FALSE(fs::exists(dir.file("seg2.1")));
}
