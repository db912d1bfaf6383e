// jbbgen end to end: the files it writes, read back with the independent
// reader of tests/support and with the viewer; its input file format; and
// its refusals, after which no file may be left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "dbreader.h"
#include "dbwriter.h"
#include "platform.h"
#include "treecheck.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kDefaultActivation = 1705307400;  // 2024-01-15 08:30:00 UTC
constexpr int64_t kDay = 86400;

// A file's bytes as text; empty when it cannot be read.
std::string readText(const std::string& file) {
    Bytes b;
    if (!readFile(file, &b)) return "";
    return std::string(b.begin(), b.end());
}

bool wellFormedUtf16(const std::u16string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u == 0) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

class Jbbgen : public ::testing::Test {
protected:
    RunResult gen(const std::vector<std::string>& args) { return runProgram(JBBGEN_PATH, args, "", dir.path()); }
    // Makes database `name` with `args`; a successful run is expected that
    // names the file and its entries and says nothing else, and a file that
    // the structural checker accepts.
    DbContents make(const std::string& name, std::vector<std::string> args) {
        const bool leftOpen = std::find(args.begin(), args.end(), "--leave-open") != args.end();
        args.insert(args.begin(), arg(name));
        RunResult r = gen(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(joinProblems(checkTreeFile(path(name), leftOpen ? kDbOpened : kDbClosed)), "");
        DbContents c = readDbFile(path(name));
        EXPECT_TRUE(c.ok) << c.error;
        EXPECT_EQ(r.out, wrote(path(name), c.entries.size()));
        return c;
    }
    static std::string wrote(const std::string& file, size_t entries, const std::string& more = "") {
        return "jbbgen: wrote " + file + " (" + std::to_string(entries) + (entries == 1 ? " entry" : " entries") +
               more + ")\n";
    }
    // A run that must fail: status 2, a message on standard error, no file.
    std::string refused(const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), arg(name));
        RunResult r = gen(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(path(name)));
        return r.err;
    }
    std::string arg(const std::string& name) const { return dir.file(name); }
    std::string path(const std::string& name) const { return dir.file(name) + ".jbbdb"; }
    std::string input(const std::string& name, const std::string& text) const {
        writeFile(dir.file(name), Bytes(text.begin(), text.end()));
        return dir.file(name);
    }
    RunResult view(const std::string& name) { return runProgram(JBBVIEW_PATH, {arg(name)}, "", dir.path()); }

    TempDir dir;
    const std::string date = JBB_BUILD_DATE;
};

// ---- synthetic entries ----

TEST_F(Jbbgen, SyntheticChangeJournalLooksReal) {
    DbContents c = make("syn", {"--count", "3000", "--seed", "5"});
    ASSERT_EQ(c.entries.size(), 3000u);
    EXPECT_EQ(c.ctrl.state, kDbClosed);
    EXPECT_EQ(c.ctrl.keyLen, 0);
    EXPECT_EQ(c.ctrl.dataLen, kJournalRecSize);

    size_t units = 0, nonAscii = 0, astral = 0;
    std::set<uint32_t> actions, types;
    for (const auto& e : c.entries) {
        const std::u16string& k = e.first;
        SCOPED_TRACE(utf16ToUtf8(k));
        ASSERT_TRUE(wellFormedUtf16(k));
        const bool rooted = k.compare(0, 2, u"\\\\") == 0 || (k.size() > 3 && k[1] == u':' && k[2] == u'\\');
        EXPECT_TRUE(rooted);
        EXPECT_EQ(k.find(u"\\\\", 1), std::u16string::npos);  // no empty component
        EXPECT_NE(k.back(), u'\\');
        units += k.size();
        nonAscii += std::any_of(k.begin(), k.end(), [](char16_t u) { return u > 0x7F; });
        astral += std::any_of(k.begin(), k.end(), [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; });

        const JournalRec r = JournalRec::fromBytes(e.second.data(), e.second.size());
        actions.insert(r.action);
        types.insert(r.objectType);
        EXPECT_GE(r.inserted, kDefaultActivation);
        EXPECT_LT(r.inserted, kDefaultActivation + 90 * kDay);
        EXPECT_LE(r.objectTime, r.inserted);
        EXPECT_GT(r.objectTime, kDefaultActivation - 4 * 365 * kDay);
        EXPECT_EQ(r.opaque, (std::array<uint8_t, 8>{}));
    }
    const double average = static_cast<double>(units) / c.entries.size();
    EXPECT_GT(average, 45.0);
    EXPECT_LT(average, 65.0);
    EXPECT_GT(nonAscii, 150u);  // some, not most
    EXPECT_LT(nonAscii, 1500u);
    EXPECT_GT(astral, 0u);  // a few
    EXPECT_LT(astral, 150u);
    EXPECT_EQ(actions, (std::set<uint32_t>{1, 2, 3, 4, 5, 6, 11}));
    EXPECT_EQ(types, (std::set<uint32_t>{1, 2}));

    RunResult v = view("syn");
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("     Number of DB Entries    3000\n"), std::string::npos) << v.out;
}

TEST_F(Jbbgen, SameArgumentsSameFileAndOrderOnlyChangesTheShape) {
    make("a", {"--count", "2000", "--seed", "42"});
    make("b", {"--seed", "42", "--count", "2000"});
    Bytes a, b;
    ASSERT_TRUE(readFile(path("a"), &a));
    ASSERT_TRUE(readFile(path("b"), &b));
    EXPECT_EQ(firstDifference(a, b), "");
    // The same file on every platform and from every build: journals made
    // for a test or a measurement can be made again.  (A change to what
    // jbbgen makes changes these digests, on purpose only.)
    make("u", {"--count", "2000", "--seed", "42", "--per-directory", "1.135", "--activated", "1992-01-01T00:00:00",
               "--inserted-span", "12418", "--object-span", "365", "--fill-opaque"});
    Bytes u;
    ASSERT_TRUE(readFile(path("u"), &u));
    auto digest = [](const Bytes& bytes) {
        uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
        for (uint8_t c : bytes) h = (h ^ c) * 0x100000001b3ull;
        return h;
    };
    EXPECT_EQ(a.size(), 440470u);
    EXPECT_EQ(digest(a), 0xd4f0b22448f6812aull);
    EXPECT_EQ(u.size(), 459060u);
    EXPECT_EQ(digest(u), 0x541ca17644d58b9aull);

    // The seed chooses the entries; the order only how the tree grew.
    DbContents other = make("c", {"--count", "2000", "--seed", "43"});
    DbContents sorted = make("d", {"--count", "2000", "--seed", "42", "--order", "sorted"});
    const DbContents random = readDb(a);
    EXPECT_NE(other.entries, random.entries);
    EXPECT_EQ(sorted.entries, random.entries);
    Bytes d;
    ASSERT_TRUE(readFile(path("d"), &d));
    EXPECT_NE(firstDifference(a, d), "");
}

TEST_F(Jbbgen, IncrementalJournalHoldsDirectories) {
    DbContents c = make("inc", {"--count", "400", "--type", "incremental"});
    ASSERT_EQ(c.entries.size(), 400u);
    EXPECT_EQ(c.ctrl.journal().type, kJournalIncremental);
    for (const auto& e : c.entries) EXPECT_EQ(JournalRec::fromBytes(e.second.data(), e.second.size()).objectType, 2u);
}

// The shape options make journals unlike the default one: many
// directories with few entries each, times over decades, filled record
// tails.
TEST_F(Jbbgen, ShapeOptionsSetDirectoriesTimesAndRecordTails) {
    auto directoryOf = [](const std::u16string& k) { return k.substr(0, k.find_last_of(u'\\')); };
    const DbContents wide = make("wide", {"--count", "4000", "--seed", "9", "--per-directory", "1.5", "--inserted-span",
                                          "12418", "--object-span", "365", "--fill-opaque"});
    ASSERT_EQ(wide.entries.size(), 4000u);
    std::set<std::u16string> wideDirs;
    int64_t oldest = INT64_MAX, newest = INT64_MIN;
    size_t zeroBytes[8] = {};
    for (const auto& e : wide.entries) {
        wideDirs.insert(directoryOf(e.first));
        const JournalRec r = JournalRec::fromBytes(e.second.data(), e.second.size());
        oldest = std::min(oldest, r.inserted);
        newest = std::max(newest, r.inserted);
        EXPECT_LE(r.objectTime, r.inserted);
        EXPECT_GE(r.objectTime, r.inserted - 365 * kDay);
        EXPECT_NE(r.opaque, (std::array<uint8_t, 8>{})) << "a record tail left zero";
        for (size_t b = 0; b < 8; ++b) zeroBytes[b] += r.opaque[b] == 0;
    }
    // Every byte of the tails is filled: each is 0 in about 1 of 256 records.
    for (size_t b = 0; b < 8; ++b) EXPECT_LT(zeroBytes[b], 100u) << "byte " << b;
    // 4000 entries at 1.5 a directory: about 2667 directories.
    EXPECT_GT(wideDirs.size(), 2500u);
    EXPECT_LT(wideDirs.size(), 2850u);
    EXPECT_GE(oldest, kDefaultActivation);
    EXPECT_LT(newest, kDefaultActivation + 12418 * kDay);
    EXPECT_GT(newest - oldest, 30 * 365 * kDay);

    // Whole numbers a directory: the entries come in groups of exactly that.
    const DbContents fours = make("fours", {"--count", "400", "--seed", "9", "--per-directory", "4"});
    std::set<std::u16string> fourDirs;
    for (const auto& e : fours.entries) fourDirs.insert(directoryOf(e.first));
    EXPECT_EQ(fourDirs.size(), 100u);

    // Shape options are for synthetic entries only, and take sane values.
    const std::string list = input("few.txt", "create\tfile\t0\t0\tC:\\a\n");
    for (const auto& args : std::vector<std::vector<std::string>>{{"--input", list, "--fill-opaque"},
                                                                  {"--per-directory", "0.5"},
                                                                  {"--per-directory", "1.1234567"},
                                                                  {"--per-directory", "1000.5"},
                                                                  {"--inserted-span", "100001"},
                                                                  {"--object-span", "-1"}}) {
        SCOPED_TRACE(args[1]);
        EXPECT_EQ(refused("shape", args).rfind("jbbgen: ", 0), 0u);
    }
}

TEST_F(Jbbgen, EmptyJournal) {
    DbContents c = make("empty", {"--count", "0"});
    EXPECT_TRUE(c.entries.empty());
    EXPECT_EQ(c.fileSize, 2160u);
    RunResult v = view("empty");
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("     Number of DB Entries    0\n"), std::string::npos) << v.out;
}

TEST_F(Jbbgen, LargeJournalReportsProgress) {
    RunResult r = gen({arg("large"), "--count", "100000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, wrote(path("large"), 100000));
    EXPECT_EQ(r.err, "jbbgen: 100000 of 100000 entries inserted\n");
    EXPECT_EQ(joinProblems(checkTreeFile(path("large"))), "");
    DbContents c = readDbFile(path("large"));
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.entries.size(), 100000u);
    EXPECT_GE(c.height, 5);
    RunResult v = view("large");
    EXPECT_NE(v.out.find("     Number of DB Entries    100000\n"), std::string::npos) << v.out;

    r = gen({arg("small"), "--count", "25000", "--progress"});
    EXPECT_EQ(r.err, "jbbgen: 10000 of 25000 entries inserted\njbbgen: 20000 of 25000 entries inserted\n");
    // --no-progress silences even a run long enough for automatic reports;
    // --verbose adds the size to the closing line, --quiet leaves it out.
    r = gen({arg("quiet"), "--count", "100000", "--order", "sorted", "--no-progress", "--verbose"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, wrote(path("quiet"), 100000, ", " + std::to_string(fs::file_size(path("quiet"))) + " bytes"));
    r = gen({arg("silent"), "--count", "100000", "--no-progress", "--quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(fs::exists(path("silent")));
}

// ---- the journal control area ----

TEST_F(Jbbgen, EveryControlAreaFieldIsSet) {
    DbContents c = make(
        "ctl", {"--count", "30", "--fs", "Z:\\Data", "--server", "SRV01", "--node", "NODE_A", "--state", "in-progress",
                "--activated", "2023-02-28T23:59:59", "--validated", "1700000000", "--max-size", "10M"});
    const JournalInfo j = c.ctrl.journal();
    EXPECT_EQ(j.type, kJournalChange);
    EXPECT_EQ(j.fileSystem, u"Z:\\Data");
    EXPECT_EQ(j.serverLen, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.serverNode.data())), "SRV01NODE_A");
    EXPECT_EQ(j.state, kJournalStateInProgress);
    EXPECT_EQ(j.activation, 1677628799);
    EXPECT_EQ(j.validation, 1700000000);
    EXPECT_EQ(j.maxSize, 10485760u);

    // The viewer shows exactly these fields.
    RunResult v = view("ctl");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(maskWalkTime(v.out), countedRunText(date, path("ctl"), arg("ctl"), c.ctrl, 30, c.fileSize));

    // Defaults: a valid change journal of C:, neither server nor node.
    const JournalInfo d = make("defaults", {"--count", "0"}).ctrl.journal();
    EXPECT_EQ(d.fileSystem, u"C:");
    EXPECT_EQ(d.state, kJournalStateValid);
    EXPECT_EQ(d.serverLen, 0);
    EXPECT_EQ(d.serverNode, (std::array<uint8_t, 129>{}));
    EXPECT_EQ(d.activation, kDefaultActivation);
    EXPECT_EQ(d.validation, kDefaultActivation + 3600);
    EXPECT_EQ(d.maxSize, 0u);
}

TEST_F(Jbbgen, ControlAreaValueForms) {
    struct Case {
        std::vector<std::string> args;
        uint32_t type, state;
        int64_t activation;
        uint64_t maxSize;
    };
    const Case cases[] = {
        {{"--type", "unformatted"}, 0, 2, kDefaultActivation, 0},
        {{"--type", "Incremental", "--state", "not-valid"}, 2, 0, kDefaultActivation, 0},
        {{"--type=7", "--state=5"}, 7, 5, kDefaultActivation, 0},
        {{"--state", "VALID", "--activated", "0"}, 1, 2, 0, 0},
        {{"--activated", "2024-02-29 12:00:00Z", "--max-size", "1536"}, 1, 2, 1709208000, 1536},
        {{"--activated", "-86400", "--max-size", "3g"}, 1, 2, -86400, 3ull << 30},
        {{"--activated", "1969-12-31T23:59:59", "--max-size", "18446744073709551615"}, 1, 2, -1, UINT64_MAX},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args[0] + " " + k.args[1]);
        std::vector<std::string> args = k.args;
        args.insert(args.end(), {"--count", "0"});
        const JournalInfo j = make("form" + std::to_string(n++), args).ctrl.journal();
        EXPECT_EQ(j.type, k.type);
        EXPECT_EQ(j.state, k.state);
        EXPECT_EQ(j.activation, k.activation);
        EXPECT_EQ(j.maxSize, k.maxSize);
    }
}

TEST_F(Jbbgen, LongestFileSystemNameAndServerNode) {
    const std::string fsName(938, 'x');
    const std::string server(100, 's'), node(28, 'n');  // 128 bytes and the NUL
    DbContents c = make("full", {"--count", "0", "--fs", fsName, "--server", server, "--node", node});
    const JournalInfo j = c.ctrl.journal();
    EXPECT_EQ(j.fileSystem, std::u16string(938, u'x'));
    EXPECT_EQ(getU16(c.ctrl.appArea.data() + 170 + 2 * 938), 0);  // terminator in the last unit
    EXPECT_EQ(j.serverLen, 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.serverNode.data()), 128), server + node);
    EXPECT_EQ(j.serverNode[128], 0);

    EXPECT_NE(refused("fs939", {"--fs", fsName + "x"}).find("--fs"), std::string::npos);
    EXPECT_NE(refused("sn129", {"--server", server, "--node", node + "n"}).find("at most 128"), std::string::npos);
}

TEST_F(Jbbgen, LeaveOpenDiffersOnlyInTheState) {
    make("closed", {"--count", "40"});
    make("open", {"--count", "40", "--leave-open"});
    Bytes closed, open;
    ASSERT_TRUE(readFile(path("closed"), &closed));
    ASSERT_TRUE(readFile(path("open"), &open));
    ASSERT_EQ(open.size(), closed.size());
    EXPECT_EQ(getU32(open.data() + 4), kDbOpened);
    putU32(open, 4, kDbClosed);
    EXPECT_EQ(firstDifference(closed, open), "");

    RunResult v = view("open");
    EXPECT_EQ(v.status, 0);
    ASSERT_TRUE(readFile(path("open"), &open));
    EXPECT_EQ(v.out, openStateRunText(date, path("open"), arg("open"), CtrlRec::fromBytes(open.data()), open.size()));
}

// ---- the input file ----

TEST_F(Jbbgen, InputFileEntries) {
    const std::string file =
        input("entries.txt",
              "\xEF\xBB\xBF# action, type, inserted, object time, name\n"
              "create\tfile\t2024-03-01T10:00:00\t2024-03-01T09:59:30\tC:\\Users\\Zoë\\Résumé.docx\r\n"
              "6\t1\t1709287200\t1709287100\tC:\\日本\\報告書.txt\n"
              "\n"
              "Rename Old\tdirectory\t100\t90\t\\\\srv\\share\\Old Name\n"
              " \t \n"
              "rename_new\tdir\t101\t91\t\\\\srv\\share\\New Name\n"
              " delete \t 2 \t 5 \t 4 \t  blanks kept  \n"
              "#4\t1\t0\t0\tC:\\commented out\n"
              "4294967295\t77\t-5\t0\tC:\\\xF0\x9D\x84\x9E\\music.mid");  // no line end at the end
    const std::map<std::u16string, JournalRec> expected = {
        {u"C:\\Users\\Zoë\\Résumé.docx", {4, 1, 1709287200, 1709287170, {}}},
        {u"C:\\日本\\報告書.txt", {6, 1, 1709287200, 1709287100, {}}},
        {u"\\\\srv\\share\\Old Name", {1, 2, 100, 90, {}}},
        {u"\\\\srv\\share\\New Name", {2, 2, 101, 91, {}}},
        {u"  blanks kept  ", {3, 2, 5, 4, {}}},
        {u"C:\\\U0001D11E\\music.mid", {4294967295u, 77, -5, 0, {}}},
    };
    for (const char* order : {"file", "sorted", "random"}) {
        SCOPED_TRACE(order);
        DbContents c = make(std::string("in-") + order, {"--input", file, "--order", order});
        ASSERT_EQ(c.entries.size(), expected.size());
        auto it = expected.begin();
        for (const auto& e : c.entries) {
            EXPECT_EQ(e.first, it->first);
            EXPECT_TRUE(JournalRec::fromBytes(e.second.data(), e.second.size()) == it->second) << utf16ToUtf8(e.first);
            ++it;
        }
    }

    // The longest name a datum holds fits; enough of them split nodes.
    std::string longLines;
    for (char c = 'a'; c < 'a' + 12; ++c) longLines += "4\t1\t0\t0\t" + std::string(16364, c) + "\n";
    DbContents big = make("long", {"--input", input("long.txt", longLines)});
    ASSERT_EQ(big.entries.size(), 12u);
    EXPECT_EQ(big.entries[11].first, std::u16string(16364, u'l'));
    EXPECT_EQ(big.height, 2);
}

TEST_F(Jbbgen, BadInputLineIsReportedWithItsNumber) {
    const std::string good = "4\t1\t0\t0\tC:\\good\n", good2 = "4\t1\t0\t0\tC:\\good2\n";
    const struct {
        std::string line;
        std::string message;
    } cases[] = {
        {"4\t1\t0\t0", "expected 5 tab-separated fields (action, type, inserted, object time, name), found 4"},
        {"C:\\only a name", "expected 5 tab-separated fields"},
        {"4\t1\t0\t0\tC:\\a\tb", "more than 5 tab-separated fields (a name cannot hold a tab)"},
        {"explode\t1\t0\t0\tC:\\x", "bad action 'explode'"},
        {"4294967296\t1\t0\t0\tC:\\x", "bad action '4294967296'"},
        {"-1\t1\t0\t0\tC:\\x", "bad action '-1'"},
        {"4\tsocket\t0\t0\tC:\\x", "bad object type 'socket'"},
        {"4\t1\t\t0\tC:\\x", "bad inserted time ''"},
        {"4\t1\t2024-13-01T00:00:00\t0\tC:\\x", "bad inserted time '2024-13-01T00:00:00'"},
        {"4\t1\t9223372036854775808\t0\tC:\\x", "bad inserted time"},
        {"4\t1\t0\t2023-02-29T00:00:00\tC:\\x", "bad object time '2023-02-29T00:00:00'"},
        {"4\t1\t0\t12:00\tC:\\x", "bad object time '12:00'"},
        {"4\t1\t0\t0\t", "empty name"},
        {"4\t1\t0\t0\tC:\\\xC3", "the name is not UTF-8: cut-off UTF-8 sequence at byte 4 of the name"},
        {"4\t1\t0\t0\tC:\\\xED\xA0\x80", "the name is not UTF-8: invalid UTF-8 at byte 4 of the name"},
        {"4\t1\t0\t0\tC:\\\xC0\xAF", "the name is not UTF-8: invalid UTF-8 at byte 4 of the name"},
        {std::string("4\t1\t0\t0\tC:\\a\0b", 14), "the name holds a NUL character"},
        {"4\t1\t0\t0\t" + std::string(16365, 'a'), "the name is too long: 16365 UTF-16 units, at most 16364"},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.message);
        const std::string file = input("bad" + std::to_string(n) + ".txt", "# header\n" + good + k.line + "\n" + good2);
        const std::string err = refused("bad" + std::to_string(n++), {"--input", file});
        EXPECT_EQ(err.rfind("jbbgen: " + file + ":3: " + k.message, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(Jbbgen, AllBadLinesOfAFileAreReported) {
    std::string text = "4\t1\t0\t0\tC:\\a\nx\n4\t1\t0\t0\tC:\\b\n4\t1\t0\t0\tC:\\a\n4\t1\t0\t0\tC:\\a\n";
    std::string file = input("many.txt", text);
    EXPECT_EQ(refused("many", {"--input", file}),
              "jbbgen: " + file +
                  ":2: expected 5 tab-separated fields (action, type, inserted, object time, name), found 1\n"
                  "jbbgen: " +
                  file + ":4: duplicate name, first given on line 1\njbbgen: " + file +
                  ":5: duplicate name, first given on line 1\n");

    // At most 20 are listed.
    text.clear();
    for (int i = 0; i < 25; ++i) text += "bad\n";
    file = input("worse.txt", text);
    const std::string err = refused("worse", {"--input", file});
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 21) << err;
    EXPECT_NE(err.find("\njbbgen: " + file + ": 5 more bad lines not shown\n"), std::string::npos) << err;

    // A file that cannot be read is an I/O error, as in jbbtool.
    const std::string missing = dir.file("no-such-file.txt");
    EXPECT_EQ(refused("missing", {"--input", missing}),
              "jbbgen: cannot read " + missing + ": No such file or directory\n");
    EXPECT_EQ(refused("folder", {"--input", dir.path().string()}),
              "jbbgen: cannot read " + dir.path().string() + ": it is a directory\n");
}

// ---- names and standard input ----

TEST_F(Jbbgen, NameWithOrWithoutTheExtensionIsOneJournal) {
    // With the extension: that file, and its name in the closing line.
    RunResult r = gen({path("C-drive"), "--count", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, wrote(path("C-drive"), 3));
    EXPECT_FALSE(fs::exists(path("C-drive") + ".jbbdb"));
    const std::string first = readText(path("C-drive"));

    // Without it: the same file, which exists now.
    r = gen({arg("C-drive"), "--count", "3"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbgen: " + path("C-drive") + " exists already (--force overwrites it)\n");
    r = gen({arg("C-drive"), "--count", "3", "--force"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, wrote(path("C-drive"), 3));
    EXPECT_EQ(readText(path("C-drive")), first);
    r = gen({path("C-drive"), "--count", "1", "--force"});
    EXPECT_EQ(r.out, wrote(path("C-drive"), 1));
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.path())) files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"C-drive.jbbdb"});
}

TEST_F(Jbbgen, InputFromAPipeRebuildsTheSameJournal) {
    make("a", {"--count", "2500", "--seed", "9", "--fill-opaque", "--fs", "D:", "--server", "srv", "--node", "n1"});
    const RunResult dumpA = runProgram(JBBTOOL_PATH, {"dump", path("a")}, "", dir.path());
    ASSERT_EQ(dumpA.status, 0) << dumpA.err;

    // jbbtool dump A | jbbgen B --input -, through the system's command
    // interpreter (a POSIX shell, or cmd.exe).
    auto q = [](const std::string& word) { return "\"" + word + "\""; };
    std::string cmd = q(programPath(JBBTOOL_PATH)) + " dump " + q(path("a")) + " | " + q(programPath(JBBGEN_PATH)) +
                      " " + q(arg("b")) + " --input - >" + q(dir.file("b.out")) + " 2>" + q(dir.file("b.err"));
    if (plat::isWindows()) cmd = q(cmd);  // cmd /c drops the outer pair
    EXPECT_EQ(plat::runCommand(cmd), 0);
    EXPECT_EQ(normalizeOutput(readText(dir.file("b.out"))), wrote(path("b"), 2500));
    EXPECT_EQ(readText(dir.file("b.err")), "");
    const RunResult dumpB = runProgram(JBBTOOL_PATH, {"dump", path("b")}, "", dir.path());
    ASSERT_EQ(dumpB.status, 0) << dumpB.err;
    EXPECT_EQ(dumpB.out, dumpA.out);

    // Bad lines on standard input are reported against its name.
    const RunResult bad = runProgram(JBBGEN_PATH, {arg("c"), "--input", "-"}, "4\t1\t0\t0\tC:\\x\nbad\n", dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err,
              "jbbgen: (standard input):2: expected 5 tab-separated fields (action, type, inserted, object time, "
              "name), found 1\n");
    EXPECT_FALSE(fs::exists(path("c")));
}

// ---- the command line ----

TEST_F(Jbbgen, CommandLineErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"--count", "5", "other-name"},
        {"--bogus"},
        {"-x"},
        {"--count"},
        {"--count", "12a"},
        {"--count", "-1"},
        {"--count", "100000001"},
        {"--seed", "18446744073709551616"},
        {"--count", "5", "--input", "entries.txt"},
        {"--order", "file"},
        {"--order", "chaos"},
        {"--type", "changes"},
        {"--state", "2.0"},
        {"--activated", "2024-02-30T00:00:00"},
        {"--validated", "yesterday"},
        {"--max-size", "16777216T"},
        {"--max-size", "10X"},
        {"--force=yes"},
        {"--quiet", "--verbose"},
    };
    int n = 0;
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        const std::string err = refused("opt" + std::to_string(n++), args);
        EXPECT_EQ(err.rfind("jbbgen: ", 0), 0u) << err;
        EXPECT_NE(err.find("\nTry 'jbbgen --help' for the options.\n"), std::string::npos) << err;
    }

    RunResult r = gen({"--count", "5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbgen: no database name given\nTry 'jbbgen --help' for the options.\n");
    r = gen({arg("bogus"), "--bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbgen: unknown option '--bogus'\nTry 'jbbgen --help' for the options.\n");

    r = gen({arg("helped"), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: jbbgen NAME [options]\n", 0), 0u);
    EXPECT_NE(r.out.find("\nExit status: 0 done, 2 usage or I/O error"), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(path("helped")));
    // Laid out as help2man reads it: an option, then two or more blanks
    // before its text, which may go on in indented lines.
    const std::regex optionLine(R"(  --?[a-z-]+( [A-Z]+)?(  +\S.*)?)");
    std::istringstream help(r.out);
    for (std::string line; std::getline(help, line);) {
        if (line.compare(0, 3, "  -") != 0) continue;
        EXPECT_TRUE(std::regex_match(line, optionLine)) << line;
    }
}

TEST_F(Jbbgen, ExistingFileIsKeptUnlessForced) {
    const Bytes junk(100, 0x5A);
    writeFile(path("old"), junk);
    RunResult r = gen({arg("old"), "--count", "10"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbgen: " + path("old") + " exists already (--force overwrites it)\n");
    Bytes now;
    ASSERT_TRUE(readFile(path("old"), &now));
    EXPECT_EQ(now, junk);

    EXPECT_EQ(make("old", {"--count", "10", "--force"}).entries.size(), 10u);

    fs::create_directory(path("dir"));
    r = gen({arg("dir"), "--force"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbgen: " + path("dir") + " is a directory\n");

    const std::string nowhere = dir.file("no-such-dir") + "/db";
    r = gen({nowhere});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("jbbgen: cannot create " + nowhere + ".jbbdb: ", 0), 0u) << r.err;
}

}  // namespace
