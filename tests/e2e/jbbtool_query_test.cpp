// jbbtool's questions of one journal, end to end: `get` of names present
// and absent, awkward names included, and dump's filters, each compared
// with the dump's own entries chosen by the independent reader of
// tests/support; and names that diff's lines cannot carry as they stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "dbreader.h"
#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;

namespace {

constexpr int64_t kSecond = 1700000000;  // 2023-11-14T22:13:20Z

// A dump split into its head lines and one block per entry (the entry
// line with the % lines before it), in key order.
struct Blocks {
    std::string head;
    std::vector<std::string> entries;
};

Blocks split(const std::string& dump) {
    Blocks b;
    std::string pending, line;
    std::istringstream in(dump);
    while (std::getline(in, line)) {
        line += '\n';
        const bool head = line[0] == '#' || line.compare(0, 5, "%app-") == 0 || line.compare(0, 6, "%data-") == 0 ||
                          line.compare(0, 10, "{\"schema\":") == 0;
        if (head && b.entries.empty() && pending.empty()) {
            b.head += line;
            continue;
        }
        pending += line;
        if (line[0] != '%') b.entries.push_back(std::move(pending)), pending.clear();
    }
    return b;
}

// A journal of three levels whose entries have names a line cannot carry
// as they stand, times on, around and before one second, and both object
// types; its dump split into entries.
class JbbtoolQuery : public ::testing::Test {
protected:
    void SetUp() override {
        entries = journalEntries(600, 11);
        for (size_t i = 0; i < entries.size(); i += 37) entries[i].rec.inserted = kSecond;
        entries[5].rec.inserted = kSecond - 1;
        entries[6].rec.inserted = kSecond + 1;
        entries[7].rec.inserted = -86400 * 365;
        for (const char16_t* k : {u"C:\\odd\\tab\there", u"C:\\odd\\esc\x1b[31m", u"C:\\odd\\lone\xD800",
                                  u"C:\\odd\\pair\xD83D\xDCF7", u"C:\\odd\\line\nend"})
            entries.push_back({k, {}});
        sortEntries(entries);
        TreeOptions o;
        o.height = 3;
        o.freeSlots = 3;
        db = buildTree(entries, JournalInfo(), o, &info);
        file = dir.file("q.jbbdb");
        ASSERT_TRUE(writeFile(file, db.image()));
        const RunResult d = tool({"dump", file});
        ASSERT_EQ(d.status, 0) << d.err;
        dump = split(d.out);
        ASSERT_EQ(dump.entries.size(), entries.size());
    }
    RunResult tool(const std::vector<std::string>& args, const std::string& input = "") {
        return runProgram(JBBTOOL_PATH, args, input, dir.path());
    }
    size_t at(const std::u16string& key) const {
        return (size_t)(std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.key == key; }) -
                        entries.begin());
    }
    TempDir dir;
    std::vector<Entry> entries;
    DbFile db;
    TreeInfo info;
    std::string file;
    Blocks dump;
};

// ---- get ----

TEST_F(JbbtoolQuery, GetWritesWhatDumpWritesForEachNameFound) {
    // ASCII names on the command line (a Windows command line of the
    // harness carries no other); every other name through --keys.
    size_t ascii = 200;
    while (!std::all_of(entries[ascii].key.begin(), entries[ascii].key.end(),
                        [](char16_t u) { return u >= 0x20 && u < 0x7F; }))
        ++ascii;
    const std::string plain = utf16ToUtf8(entries[ascii].key), cut = plain.substr(0, plain.size() - 1);
    const std::string first = utf16ToUtf8(entries.front().key), last = utf16ToUtf8(entries.back().key);
    struct Case {
        std::vector<std::string> args;  // before the file: options; after it: names
        std::vector<std::string> names;
        std::string input;
        std::vector<size_t> found;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, {first, plain, last}, "", {0, ascii, entries.size() - 1}, ""},
        {{},  // below all, a name's prefix, above all
         {"A", plain, cut, "%key ffff"},
         "",
         {ascii},
         "jbbtool get: A: not found\njbbtool get: " + cut + ": not found\njbbtool get: %key ffff: not found\n"},
        {{"--keys", "-"},  // a tab, a pair, %key for a lone surrogate and a line end, a blank line, CR LF
         {},
         "C:\\odd\\tab\there\r\nC:\\odd\\pair\xF0\x9F\x93\xB7\n\n%key "
         "0043003a005c006f00640064005c006c006f006e0065d800\n"
         "%key 0043003a005c006f00640064005c006c0069006e0065000a0065006e0064\n",
         {at(u"C:\\odd\\tab\there"), at(u"C:\\odd\\pair\xD83D\xDCF7"), at(u"C:\\odd\\lone\xD800"),
          at(u"C:\\odd\\line\nend")},
         ""},
        {{"--keys", "-"}, {plain}, first + "\nnope\n", {ascii, 0}, "jbbtool get: nope: not found\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + c.err);
        std::vector<std::string> args = {"get"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(file);
        args.insert(args.end(), c.names.begin(), c.names.end());
        if (!argumentsPass(args)) continue;
        const RunResult r = tool(args, c.input);
        std::string want;
        for (size_t i : c.found) want += dump.entries[i];
        EXPECT_EQ(r.out, want);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.err.empty() ? 0 : 1);
    }
    // A control character other than a tab or a line end needs a %key line too.
    EXPECT_EQ(dump.entries[at(u"C:\\odd\\esc\x1b[31m")],
              "%key 0043003a005c006f00640064005c006500730063001b005b00330031006d\ncreate\tfile\t1970-01-01T00:00:00Z\t"
              "1970-01-01T00:00:00Z\tC:\\odd\\esc\xEF\xBF\xBD[31m\n");
    EXPECT_EQ(tool({"get", "--json", file, plain}).out, split(tool({"dump", "--json", file}).out).entries[ascii]);
    // Refusals: no name, a bad %key, a file that is no journal.
    EXPECT_EQ(tool({"get", file}).status, 2);
    if (argumentsPass({"%key 004"})) {
        EXPECT_EQ(tool({"get", file, "%key 004"}).status, 2);
    }
    ASSERT_TRUE(writeFile(dir.file("text.jbbdb"), Bytes(3000, 'x')));
    const RunResult nj = tool({"get", dir.file("text.jbbdb"), plain});
    EXPECT_EQ(nj.status, 2);
    EXPECT_NE(nj.err.find("not a journal database"), std::string::npos) << nj.err;
}

// ---- dump's filters ----

TEST_F(JbbtoolQuery, DumpFiltersKeepTheEntriesTheReaderChooses) {
    const DbContents contents = readDbFile(file);
    ASSERT_TRUE(contents.ok) << contents.error;
    ASSERT_EQ(contents.entries.size(), dump.entries.size());

    // Keys around the boundary between two leaves: the last of one, the
    // first of the next, and the separator between them in their parent.
    auto keysOf = [&](uint32_t sub) {
        for (const Slot& s : db.slots)
            if (!s.isFree() && s.slotSubscript() == sub) return s.node.datums;
        ADD_FAILURE() << "no slot " << sub;
        return std::vector<Datum>();
    };
    const std::vector<uint32_t>& leaves = info.levels.back();
    ASSERT_GE(leaves.size(), 3u);
    const std::u16string endOfLeaf = keysOf(leaves[1]).back().key;
    const std::u16string separator = keysOf(info.levels[1][0]).front().key;
    const std::u16string next = keysOf(leaves[2]).front().key;
    // What the last key of a leaf shares with the first of the next.
    const std::u16string shared(endOfLeaf.begin(),
                                std::mismatch(endOfLeaf.begin(), endOfLeaf.end(), next.begin(), next.end()).first);
    auto beginsWith = [](const std::u16string& k, const std::u16string& p) { return k.compare(0, p.size(), p) == 0; };
    auto rec = [](const Bytes& b) { return JournalRec::fromBytes(b.data(), b.size()); };
    using Pick = std::function<bool(const std::u16string&, const JournalRec&)>;
    auto prefix = [&](const std::u16string& p) -> Pick {
        return [=](const std::u16string& k, const JournalRec&) { return beginsWith(k, p); };
    };
    auto when = [](std::function<bool(const JournalRec&)> f) -> Pick {
        return [=](const std::u16string&, const JournalRec& r) { return f(r); };
    };
    auto hexKey = [](const std::u16string& k) {
        static const char d[] = "0123456789abcdef";
        std::string s = "%key ";
        for (char16_t u : k)
            for (int shift = 12; shift >= 0; shift -= 4) s += d[(u >> shift) & 15];
        return s;
    };
    struct Case {
        std::string what;
        std::vector<std::string> args;
        Pick pick;
    };
    const std::vector<Case> cases = {
        {"prefix of one user", {"--prefix", "C:\\Users\\jdoe\\"}, prefix(u"C:\\Users\\jdoe\\")},
        {"prefix spanning two leaves", {"--prefix", hexKey(shared)}, prefix(shared)},
        {"prefix that is a separator key", {"--prefix", hexKey(separator)}, prefix(separator)},
        {"prefix between two keys of adjacent leaves",
         {"--prefix", hexKey(endOfLeaf + u"\x01")},
         prefix(endOfLeaf + u"\x01")},
        {"prefix past the last name", {"--prefix", hexKey(u"\xFFFF")}, prefix(u"\xFFFF")},
        {"prefix of a name with a line end",
         {"--prefix", "%key 0043003a005c006f00640064005c006c0069006e0065000a"},
         prefix(u"C:\\odd\\line\n")},
        {"since the exact second", {"--since", "2023-11-14T22:13:20Z"}, when([](const JournalRec& r) {
             return r.inserted >= kSecond;
         })},
        {"until the exact second, which it leaves out",
         {"--until", "2023-11-14T22:13:20"},
         when([](const JournalRec& r) { return r.inserted < kSecond; })},
        {"since a date, until seconds since 1970",
         {"--since", "2023-11-14", "--until", std::to_string(kSecond + 1)},
         when([](const JournalRec& r) { return r.inserted >= 1699920000 && r.inserted <= kSecond; })},
        {"until 1970", {"--until", "1970-01-01"}, when([](const JournalRec& r) { return r.inserted < 0; })},
        {"actions by name and by code",
         {"--action", "create", "--action", "3", "--action", "Rename_Old"},
         when([](const JournalRec& r) { return r.action == 4 || r.action == 3 || r.action == 1; })},
        {"an action without a name", {"--action", "9"}, when([](const JournalRec& r) { return r.action == 9; })},
        {"types", {"--type", "directory"}, when([](const JournalRec& r) { return r.objectType == 2; })},
        {"everything at once",
         {"--prefix", "C:\\Users\\", "--since", "2014-01-01", "--until", "2020-01-01", "--action", "modify", "--action",
          "delete", "--type", "file", "--type", "2"},
         [&](const std::u16string& k, const JournalRec& r) {
             return beginsWith(k, u"C:\\Users\\") && r.inserted >= 1388534400 && r.inserted < 1577836800 &&
                    (r.action == 6 || r.action == 3) && (r.objectType == 1 || r.objectType == 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string want = dump.head;
        size_t n = 0;
        for (size_t i = 0; i < contents.entries.size(); ++i) {
            if (!c.pick(contents.entries[i].first, rec(contents.entries[i].second))) continue;
            want += dump.entries[i];
            ++n;
        }
        std::vector<std::string> args = {"dump"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(file);
        if (!argumentsPass(args)) continue;
        const RunResult r = tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, want);
        args.insert(args.begin() + 1, "--count");
        EXPECT_EQ(tool(args).out, std::to_string(n) + "\n");
    }

    // A filtered dump is still jbbgen's input: the journal it makes dumps
    // as the filtered dump.
    const RunResult part = tool({"dump", "--prefix", "C:\\odd\\", file});
    ASSERT_TRUE(writeFile(dir.file("odd.txt"), Bytes(part.out.begin(), part.out.end())));
    const RunResult g = runProgram(JBBGEN_PATH, {dir.file("odd"), "--input", dir.file("odd.txt")}, "", dir.path());
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_EQ(tool({"dump", dir.file("odd.jbbdb")}).out, part.out);

    for (const char* bad :
         {"--since=2024-13-01", "--until=yesterday", "--action=explode", "--type=link", "--prefix=%key 00"}) {
        if (!argumentsPass({bad})) continue;
        const RunResult r = tool({"dump", bad, file});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find(std::string(bad, static_cast<size_t>(std::strchr(bad, '=') - bad))), std::string::npos)
            << r.err;
    }
}

// ---- diff ----

TEST_F(JbbtoolQuery, DiffShowsNamesItsLinesCannotCarryAsDumpDoes) {
    std::vector<Entry> a = {{u"C:\\a\ttab", {}}, {u"C:\\b\x1b[2J", {}}, {u"C:\\c\xDC00", {}}, {u"C:\\d", {}}};
    a[3].rec.inserted = -1;
    std::vector<Entry> b = {a[3]};
    b[0].rec.action = 3;
    ASSERT_TRUE(writeFile(dir.file("a.jbbdb"), buildTree(a, JournalInfo()).image()));
    ASSERT_TRUE(writeFile(dir.file("b.jbbdb"), buildTree(b, JournalInfo()).image()));
    const RunResult r = tool({"diff", dir.file("a.jbbdb"), dir.file("b.jbbdb")});
    EXPECT_EQ(r.status, 1);
    const std::string fields =
        ", type file (1), inserted UTC 1969-12-31T23:59:59Z, object time UTC 1970-01-01T00:00:00Z";
    EXPECT_EQ(r.out,
              "%key 0043003a005c00610009007400610062\nonly-a\tC:\\a\xEF\xBF\xBDtab\n"
              "%key 0043003a005c0062001b005b0032004a\nonly-a\tC:\\b\xEF\xBF\xBD[2J\n"
              "%key 0043003a005c0063dc00\nonly-a\tC:\\c\xEF\xBF\xBD\n"
              "differ\tC:\\d\ta: action create (4)" +
                  fields + "\tb: action delete (3)" + fields +
                  "\nsummary: 4 entries in A, 1 in B; 3 only in A, 0 only in B, 1 with different records\n");
}

}  // namespace
