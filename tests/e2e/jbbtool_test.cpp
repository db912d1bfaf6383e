// jbbtool end to end: check on sound files and on files damaged in each
// way it names (made with the independent writer of tests/support), the
// dump / jbbgen --input round trip, salvage of damaged files, diff and
// stats, the refusals, and that no command changes a byte of its file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>

#include "dbreader.h"
#include "dbwriter.h"
#include "treecheck.h"
#include "platform.h"
#include "schemacheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class Jbbtool : public ::testing::Test {
protected:
    RunResult tool(const std::vector<std::string>& args) { return runProgram(JBBTOOL_PATH, args, "", dir.path()); }
    RunResult gen(const std::vector<std::string>& args) { return runProgram(JBBGEN_PATH, args, "", dir.path()); }
    std::string put(const std::string& name, const Bytes& image) {
        EXPECT_TRUE(writeFile(dir.file(name), image));
        return dir.file(name);
    }
    // Runs a command on `file` and checks that the file kept every byte.
    RunResult onFile(std::vector<std::string> args, const std::string& file) {
        Bytes before, after;
        readFile(file, &before);
        args.push_back(file);
        RunResult r = tool(args);
        readFile(file, &after);
        EXPECT_EQ(firstDifference(before, after), "") << "jbbtool changed " << file;
        return r;
    }
    std::string dumpTo(const std::string& db, const std::string& out) {
        RunResult r = onFile({"dump"}, db);
        EXPECT_EQ(r.status, 0) << r.err;
        put(out, Bytes(r.out.begin(), r.out.end()));
        return r.out;
    }
    TempDir dir;
};

std::vector<Entry> oddEntries() {
    std::vector<Entry> v = journalEntries(300, 7);
    // Names the five fields cannot carry, and records with opaque bytes.
    Entry tab{u"C:\\odd\\with\ttab", {}};
    Entry nl{u"C:\\odd\\with\nnewline\r", {}};
    Entry lone{u"C:\\odd\\lone\xD800surrogate", {}};
    Entry low{u"C:\\odd\\low\xDC00", {}};
    for (Entry* e : {&tab, &nl, &lone, &low}) {
        e->rec.inserted = 1700000000;
        e->rec.objectTime = -5;
        e->rec.action = 77;
        e->rec.objectType = 9;
        v.push_back(*e);
    }
    sortEntries(v);
    return v;
}

// Subscript of the first leaf and of an inner node below the root.
struct Built {
    DbFile db;
    TreeInfo info;
};

Built built(size_t n = 400, int height = 3, uint64_t seed = 3) {
    Built b;
    TreeOptions o;
    o.height = height;
    o.seed = seed;
    o.freeSlots = 2;
    b.db = buildTree(journalEntries(n, seed), JournalInfo(), o, &b.info);
    return b;
}

Node& nodeOf(DbFile& db, uint32_t sub) {
    Slot* s = db.findSlot(sub);
    EXPECT_NE(s, nullptr);
    return s->node;
}

size_t slotIndex(const DbFile& db, uint32_t sub) {
    for (size_t i = 0; i < db.slots.size(); ++i)
        if (!db.slots[i].isFree() && db.slots[i].slotSubscript() == sub) return i;
    ADD_FAILURE() << "no slot " << sub;
    return 0;
}

// Index of a used slot that is neither the first nor the last.
size_t inner(const DbFile& db) {
    for (size_t i = 1; i + 1 < db.slots.size(); ++i)
        if (!db.slots[i].isFree()) return i;
    ADD_FAILURE() << "no inner used slot";
    return 0;
}

std::string hex(const Bytes& b) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) s += std::string{d[c >> 4], d[c & 15]};
    return s;
}

// Text that is UTF-8 through and through: no stray or cut sequence, no
// overlong form, no surrogate, nothing past U+10FFFF.
bool wellFormedUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = (unsigned char)s[i];
        const size_t n = b < 0x80                 ? 1
                         : b >= 0xC2 && b <= 0xDF ? 2
                         : b >= 0xE0 && b <= 0xEF ? 3
                         : b >= 0xF0 && b <= 0xF4 ? 4
                                                  : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if (((unsigned char)s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | ((unsigned char)s[i + k] & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

size_t countLines(const std::string& text, const std::string& prefix = "") {
    size_t n = 0, at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (end > at && text.compare(at, prefix.size(), prefix) == 0 && text[at] != '#' && text[at] != '%') ++n;
        at = end + 1;
    }
    return n;
}

// ---- check ----

TEST_F(Jbbtool, CheckPassesSoundFilesAndNotesUnpairedSurrogates) {
    Built b = built();
    RunResult r = onFile({"check"}, put("sound.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("400 entries, depth 3\nresult: sound\n"), std::string::npos) << r.out;

    DbFile odd = buildTree(oddEntries(), JournalInfo());
    r = onFile({"check", "--json"}, put("odd.jbbdb", odd.image()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"sound\":true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"code\":\"key-unpaired-surrogate\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\\ud800"), std::string::npos) << r.out;
    // Whole pairs, the first and the last there are, are no finding.
    std::vector<Entry> pairs = journalEntries(50, 7);
    pairs.push_back({u"C:\\pair\xD800\xDC00", {}});
    pairs.push_back({u"C:\\pair\xDBFF\xDFFF", {}});
    sortEntries(pairs);
    r = onFile({"check", "--json"}, put("pairs.jbbdb", buildTree(pairs, JournalInfo()).image()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("key-unpaired-surrogate"), std::string::npos) << r.out;

    // A file of a control record alone is an empty tree.
    r = onFile({"check"}, put("bare.jbbdb", CtrlRec().bytes()));
    EXPECT_EQ(r.status, 0) << r.out;
}

// The JSON document has the documented members, in order.
TEST_F(Jbbtool, CheckJsonFollowsItsSchema) {
    Built b = built();
    b.db.ctrl.lastNDRec = 2088;
    RunResult r = onFile({"check", "--json"}, put("x.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 1);
    const char* members[] = {"{\"schema\":\"jbbtool.check/3\"",
                             ",\"file\":\"",
                             ",\"fileSize\":",
                             ",\"sound\":false",
                             ",\"markedOpen\":false",
                             ",\"control\":{\"magic\":\"0xABCD\",",
                             ",\"state\":0,\"stateName\":\"dbClosed\",",
                             ",\"lastNDRec\":2088,",
                             ",\"counts\":{\"slots\":",
                             ",\"summary\":{\"ctrl-field\":1}",
                             ",\"findings\":[{\"code\":\"ctrl-field\",\"subscript\":null,\"offset\":24,\"message\":\"",
                             ",\"findingsOmitted\":0",
                             ",\"notes\":[]",
                             ",\"notesOmitted\":0}\n"};
    size_t at = 0;
    for (const char* m : members) {
        size_t f = r.out.find(m, at);
        ASSERT_NE(f, std::string::npos) << m << " after " << at << " in " << r.out;
        at = f + 1;
    }
}

struct Damage {
    const char* code;
    std::function<void(Built&)> make;
    size_t truncateTo = 0;  // cut the image to this many bytes (0: not)
    size_t cutBytes = 0;    // or cut this many from its end
};

TEST_F(Jbbtool, CheckSaysTheCountersCallTheTreeEmptyOnlyWhenBothAreZero) {
    const char* empty = "indexArraySize and currentIXCount say the tree is empty";
    for (int zeroed : {1, 2, 3}) {
        SCOPED_TRACE(zeroed);
        Built b = built();
        if (zeroed & 1) b.db.ctrl.indexArraySize = 0;
        if (zeroed & 2) b.db.ctrl.currentIXCount = 0;
        const RunResult r = onFile({"check"}, put("counters.jbbdb", b.db.image()));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.out.find(empty) != std::string::npos, zeroed == 3) << r.out;
    }
}

TEST_F(Jbbtool, CheckNamesEachKindOfDamage) {
    const std::vector<Damage> cases = {
        {"just-created-entries",
         [](Built& b) {
             JournalInfo j;
             j.type = kJournalUnformatted;
             b.db.ctrl.setJournal(j);
         }},
        {"ctrl-magic", [](Built& b) { b.db.ctrl.magic = 0xCDAB; }},
        {"ctrl-version", [](Built& b) { b.db.ctrl.versMin = 1; }},
        {"ctrl-state", [](Built& b) { b.db.ctrl.state = kDbCorrupt; }},
        {"ctrl-field", [](Built& b) { b.db.ctrl.lastIndex = 0; }},
        {"ctrl-field", [](Built& b) { b.db.ctrl.rootOffset = 9999; }},
        {"ctrl-field", [](Built& b) { b.db.ctrl.lastNDRec = 4096; }},
        {"bad-magic", [](Built& b) { nodeOf(b.db, b.info.levels[2][0]).magic = 0x1234; }},
        {"slot-gap", [](Built& b) { b.db.slots.insert(b.db.slots.begin() + 2, Slot::rawBytes(Bytes(100, 0x55))); }},
        {"slot-overlap",
         [](Built& b) {
             Node& n = b.db.slots[inner(b.db)].node;
             n.slotLength = n.imageSize() + 40;
         }},
        {"slot-past-end", [](Built&) {}, 0, 30},
        {"slot-state", [](Built& b) { nodeOf(b.db, b.info.levels[2][0]).state = 7; }},
        {"bad-subscript", [](Built& b) { nodeOf(b.db, b.info.levels[2][0]).subscript = 60000; }},
        {"duplicate-subscript", [](Built& b) { b.db.slots.push_back(Slot::used(nodeOf(b.db, b.info.levels[2][3]))); }},
        {"free-slot-header",
         [](Built& b) {
             Bytes raw(200, 0);
             putU32(raw, 0, kMagic);
             putU32(raw, 4, 50);
             putU64(raw, 8, 200);
             putU32(raw, 16, kSlotFree);
             putU32(raw, 20, 3);
             b.db.slots.insert(b.db.slots.begin() + 1, Slot::rawBytes(raw));
         }},
        {"datum-bounds", [](Built& b) { nodeOf(b.db, b.info.levels[2][0]).datums[1].nkl = 3; }},
        {"key-order",
         [](Built& b) {
             Node& n = nodeOf(b.db, b.info.levels[2][0]);
             n.datums[2].key = n.datums[1].key;
         }},
        {"key-order-across",
         [](Built& b) {
             Node& n = nodeOf(b.db, b.info.levels[2][0]);
             n.datums.back().key.assign(3, u'\xFFFF');
         }},
        {"key-order-across",  // a leaf bounded by the root's key, two levels up
         [](Built& b) {
             const uint32_t mid = nodeOf(b.db, b.info.levels[0][0]).branch[1];
             nodeOf(b.db, nodeOf(b.db, mid).branch[0]).datums.front().key = u"\x0001";
         }},
        {"bad-branch", [](Built& b) { nodeOf(b.db, b.info.levels[1][0]).branch[1] = 0; }},
        {"node-unreachable",
         [](Built& b) {
             Node n = nodeOf(b.db, b.info.levels[2][0]);
             n.subscript = b.db.ctrl.currentIXCount;
             b.db.slots.push_back(Slot::used(n));
             b.db.updateCounters();
         }},
        {"node-reached-twice",
         [](Built& b) {
             Node& r = nodeOf(b.db, b.info.root);
             r.branch[1] = r.branch[0];
         }},
        {"node-cycle", [](Built& b) { nodeOf(b.db, b.info.levels[1][0]).branch[0] = b.info.root; }},
        {"node-fill",
         [](Built& b) {
             Node& n = nodeOf(b.db, b.info.levels[2][0]);
             n.datums.resize(2);
         }},
        {"leaf-depth",
         [](Built& b) {
             Node& n = nodeOf(b.db, b.info.levels[1][0]);
             n.branch = {};
         }},
    };
    std::vector<std::string> documents;
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.code);
        Built b = built();
        d.make(b);
        Bytes image = b.db.image();
        if (d.truncateTo != 0) image.resize(d.truncateTo);
        if (d.cutBytes != 0) image.resize(image.size() - d.cutBytes);
        const std::string file = put(std::string(d.code) + ".jbbdb", image);
        RunResult r = onFile({"check", "--json"}, file);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("{\"code\":\"") + d.code + "\""), std::string::npos) << r.out;
        documents.push_back(put(std::to_string(documents.size()) + ".json", Bytes(r.out.begin(), r.out.end())));
        r = onFile({"check"}, file);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(std::string("summary: ") + d.code), std::string::npos) << r.out;
        // The other commands report or refuse, and never crash.
        for (const char* cmd : {"stats", "dump"}) {
            r = onFile({cmd}, file);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << cmd << ": " << r.status << r.err;
        }
    }
    // Each document validates against the schema, whatever its code (where
    // the validator is: JsonSchemas.EveryJsonOutputValidates says when not).
    RunResult schema = tool({"schema", "check"});
    ASSERT_EQ(schema.status, 0);
    SchemaCheck c =
        validateJson(put("check.schema.json", Bytes(schema.out.begin(), schema.out.end())), documents, dir.path());
    EXPECT_TRUE(c.valid || !c.ran) << c.report;
}

// A key that breaks the order is left out of the dump, which names it and
// the key it follows.
TEST_F(Jbbtool, DumpLeavesOutAKeyOutOfOrderAndSaysWhich) {
    Built b = built();
    Node& leaf = nodeOf(b.db, b.info.levels[2][0]);
    const std::u16string first = leaf.datums[0].key, second = leaf.datums[1].key;
    leaf.datums[2].key = first;
    auto quoted = [](const std::u16string& key) {
        std::string s = "\"";
        for (char16_t u : key) {
            EXPECT_LT(u, 0x80) << "an ASCII name";
            if (u == u'\\' || u == u'"') s += '\\';
            s += static_cast<char>(u);
        }
        return s + "\"";
    };
    const std::string file = put("order.jbbdb", b.db.image());
    RunResult r = onFile({"dump"}, file);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "jbbtool dump: " + file + ": key " + quoted(first) + " is out of order after " + quoted(second) +
                         "; left out\n" + "jbbtool dump: " + file + ": the tree is damaged; dump --salvage recovers more\n");
    EXPECT_EQ(countLines(r.out), 399u);
}

// A search that meets a missing branch on its way down says so once.
TEST_F(Jbbtool, AMissingBranchOnTheWayToAPrefixIsReportedOnce) {
    Built b = built();
    Node& root = nodeOf(b.db, b.info.root);
    // A name under the root's second branch, in ASCII so that it reaches
    // the program unchanged on every platform.
    std::string name;
    for (uint32_t leaf : nodeOf(b.db, root.branch[1]).branch) {
        if (leaf == 0 || !name.empty()) continue;
        for (const Datum& d : nodeOf(b.db, leaf).datums)
            if (name.empty() && std::all_of(d.key.begin(), d.key.end(), [](char16_t u) { return u < 0x80; }))
                name = utf16ToUtf8(d.key);
    }
    ASSERT_FALSE(name.empty());
    root.branch[1] = 0;
    RunResult r = onFile({"dump", "--prefix", name}, put("branch.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("has no branch 1\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("names no node"), std::string::npos) << r.err;
}

TEST_F(Jbbtool, CommandsRefuseBadCommandLinesAndFiles) {
    RunResult r = tool({"check", "--bogus", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("jbbtool check: unknown option '--bogus'"), std::string::npos) << r.err;
    r = tool({"diff", "a"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("expected 2 files, found 1"), std::string::npos) << r.err;
    r = tool({"dump", "--json=yes", "x"});
    EXPECT_EQ(r.status, 2);
    r = tool({"stats", "--force", "x.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("jbbtool stats: --force is for --html"), std::string::npos) << r.err;
    for (const char* command : {"check", "stats"}) {
        r = tool({command, "--json"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, std::string("jbbtool ") + command + ": expected at least 1 file, found 0\nTry 'jbbtool " +
                             command + " --help'.\n");
    }
    r = tool({"check", dir.file("missing.jbbdb")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.jbbdb"), std::string::npos);
    r = tool({"stats", dir.path().string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;
    r = onFile({"check"}, put("empty.jbbdb", Bytes()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("empty.jbbdb: not a journal database: the file holds 0 bytes"), std::string::npos) << r.err;
    r = onFile({"dump", "--salvage"}, put("noise.jbbdb", Bytes(50000, 0xCD)));
    EXPECT_EQ(r.status, 1);
    r = tool({"schema", "check", "stats"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("jbbtool schema: expected one name (check, stats, dump, diff or info), found 2"),
              std::string::npos)
        << r.err;
    r = tool({"schema", "Check"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no schema named 'Check'"), std::string::npos) << r.err;
    r = tool({"check", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: jbbtool check"), std::string::npos);
}

// A journal its service holds open is read all the same, with a warning.
TEST_F(Jbbtool, MarkedOpenFilesAreReadWithAWarning) {
    RunResult g = gen({dir.file("open"), "--count", "300", "--leave-open"});
    ASSERT_EQ(g.status, 0) << g.err;
    for (const char* cmd : {"check", "stats", "dump"}) {
        RunResult r = onFile({cmd}, dir.file("open.jbbdb"));
        EXPECT_EQ(r.status, 0) << cmd << r.out;
        EXPECT_NE(r.err.find("is marked open (dbOpened)"), std::string::npos) << r.err;
    }
}

// ---- dump and jbbgen ----

TEST_F(Jbbtool, DumpAndJbbgenRoundTrip) {
    // A journal of jbbgen, and one of the writer with names and records the
    // five fields cannot carry.
    ASSERT_EQ(gen({dir.file("g1"), "--count", "2000", "--seed", "5", "--server", "SRV", "--node", "NODE1"}).status, 0);
    put("w1.jbbdb", buildTree(oddEntries(), JournalInfo()).image());
    for (const std::string name : {"g", "w"}) {
        SCOPED_TRACE(name);
        const std::string d1 = dumpTo(dir.file(name + "1.jbbdb"), name + "1.txt");
        RunResult g = gen({dir.file(name + "2"), "--input", dir.file(name + "1.txt")});
        ASSERT_EQ(g.status, 0) << g.err;
        const std::string d2 = dumpTo(dir.file(name + "2.jbbdb"), name + "2.txt");
        EXPECT_EQ(d1, d2);
        for (int i : {1, 2}) EXPECT_EQ(onFile({"check"}, dir.file(name + std::to_string(i) + ".jbbdb")).status, 0);
        RunResult df = tool({"diff", dir.file(name + "1.jbbdb"), dir.file(name + "2.jbbdb")});
        EXPECT_EQ(df.status, 0) << df.out;
    }
    const std::string w = dumpTo(dir.file("w1.jbbdb"), "w.txt");
    EXPECT_EQ(countLines(w), oddEntries().size());
    EXPECT_NE(w.find("%key 0043003a005c006f00640064005c00770069007400680009007400610062\n"), std::string::npos) << w;
    EXPECT_NE(w.find("%record "), std::string::npos);
    EXPECT_NE(w.find("\n77\t9\t2023-11-14T22:13:20Z\t1969-12-31T23:59:55Z\t"), std::string::npos);
    // Non-ASCII names and surrogate pairs come out as UTF-8.
    EXPECT_NE(w.find("photo\xF0\x9F\x93\xB7"), std::string::npos);
    const std::string g = dumpTo(dir.file("g1.jbbdb"), "g.txt");
    EXPECT_EQ(countLines(g), 2000u);
    EXPECT_NE(g.find("# server \"SRV\", node \"NODE1\", file system \"C:\"\n"), std::string::npos) << g.substr(0, 400);
    // The area comes from the dump: options that set it are refused.
    RunResult refused = gen({dir.file("g3"), "--input", dir.file("g.txt"), "--type", "2"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("%app-area"), std::string::npos) << refused.err;

    RunResult j = onFile({"dump", "--json"}, dir.file("w1.jbbdb"));
    EXPECT_EQ(j.status, 0);
    EXPECT_EQ(j.out.compare(0, 28, "{\"schema\":\"jbbtool.dump/1\",\""), 0) << j.out.substr(0, 80);
    EXPECT_NE(j.out.find("{\"key\":\"C:\\\\odd\\\\lone\\ud800surrogate\",\"action\":77,\"objectType\":9,"),
              std::string::npos);
}

TEST_F(Jbbtool, JbbgenRefusesBadDumpLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"%key 004\ncreate\tfile\t0\t0\tx\n", "bad %key"},
        {"%record 00\ncreate\tfile\t0\t0\tx\n", "bad %record"},
        {"%record "
         "0400000001000000000000000000000000000000000000000100000000000000\ncreate\tfile\t5\t0\tx\n",
         "disagree"},
        {"%key 0041\n", "must be followed by its entry line"},
        {"%data-length 40\n", "32-byte records only"},
        {"create\tfile\t0\t0\tx\n%app-area 00\n", "before the first entry"},
        {"%nonsense\n", "unknown line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        put("in.txt", Bytes(c.first, c.first + std::strlen(c.first)));
        RunResult r = gen({dir.file("bad"), "--input", dir.file("in.txt")});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << r.err;
    }
}

// ---- salvage ----

TEST_F(Jbbtool, SalvageRecoversEveryEntryOfEveryUndamagedNode) {
    Built b = built(600, 3, 11);
    const size_t total = 600;
    // Destroy the info block of two leaves and cut the datums of a third
    // after its second one.
    const uint32_t lost1 = b.info.levels[2][1], lost2 = b.info.levels[2][4], cut = b.info.levels[2][6];
    size_t lostDatums = nodeOf(b.db, lost1).datums.size() + nodeOf(b.db, lost2).datums.size();
    Node& c = nodeOf(b.db, cut);
    lostDatums += c.datums.size() - 2;
    c.datums[2].nkl = 1;
    // A slot length that swallows the next slot hides nothing from salvage.
    const size_t wideAt = inner(b.db);
    Node& wide = b.db.slots[wideAt].node;
    wide.slotLength = wide.imageSize() + b.db.slots[wideAt + 1].slotLen();
    b.db.ctrl.magic = 0;  // trusted by nothing
    b.db.ctrl.dataLen = 12;
    Bytes image = b.db.image();
    for (uint32_t s : {lost1, lost2}) putBytes(image, b.db.slotOffset(slotIndex(b.db, s)), Bytes(24, 0x77));
    RunResult r = onFile({"dump", "--salvage"}, put("s.jbbdb", image));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.out), total - lostDatums) << r.err;
    EXPECT_NE(r.err.find("hold no readable slot header"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("datums after it dropped"), std::string::npos) << r.err;
    // The entries come out in key order, each once, as a plain dump would.
    Built sound = built(600, 3, 11);
    const std::string whole = dumpTo(put("whole.jbbdb", sound.db.image()), "whole.txt");
    std::set<std::string> wholeLines;
    size_t at = 0;
    while (at < whole.size()) {
        size_t e = whole.find('\n', at);
        wholeLines.insert(whole.substr(at, e - at));
        at = e + 1;
    }
    at = 0;
    std::string prev;
    while (at < r.out.size()) {
        size_t e = r.out.find('\n', at);
        std::string line = r.out.substr(at, e - at);
        at = e + 1;
        if (line[0] == '#' || line.compare(0, 9, "%app-area") == 0 || line.compare(0, 12, "%data-length") == 0)
            continue;
        EXPECT_TRUE(wholeLines.count(line)) << line;
    }
}

TEST_F(Jbbtool, SalvageKeepsTheNewestCopyOfAKeyFoundTwice) {
    Built b = built(100, 2, 4);
    Node copy = nodeOf(b.db, b.info.levels[1][2]);
    copy.subscript = b.db.ctrl.currentIXCount;
    Bytes rec = copy.datums[0].data;
    putU64(rec, 8, getU64(rec.data() + 8) + 1000);  // inserted later
    copy.datums[0].data = rec;
    b.db.slots.push_back(Slot::used(copy));
    b.db.updateCounters();
    RunResult r = onFile({"dump", "--salvage", "--json"}, put("d.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.out, "{\"key\""), 100u);
    EXPECT_NE(r.out.find(hex(rec)), std::string::npos);
    EXPECT_NE(r.err.find("found twice: kept the copy at offset " +
                         std::to_string(b.db.slotOffset(b.db.slots.size() - 1) + kNodeHeaderSize)),
              std::string::npos)
        << r.err;
}

// Two copies of a key at one inserted time with different records: the
// one first in the file stands, whatever the order of the keys' nodes.
TEST_F(Jbbtool, SalvageKeepsTheFirstCopyInTheFileOnEqualTimes) {
    Built b = built(100, 2, 4);
    Node copy = nodeOf(b.db, b.info.levels[1][2]);
    const Bytes original = copy.datums[0].data;
    copy.subscript = b.db.ctrl.currentIXCount;
    Bytes rec = original;
    putU32(rec, 0, 99);  // another action, the same inserted time
    copy.datums[0].data = rec;
    b.db.slots.insert(b.db.slots.begin(), Slot::used(copy));  // before the original
    b.db.updateCounters();
    RunResult r = onFile({"dump", "--salvage", "--json"}, put("d.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.out, "{\"key\""), 100u);
    EXPECT_NE(r.out.find(hex(rec)), std::string::npos);
    EXPECT_EQ(r.out.find(hex(original)), std::string::npos);
    EXPECT_NE(r.err.find("found twice: kept the copy at offset " + std::to_string(kCtrlRecSize + kNodeHeaderSize)),
              std::string::npos)
        << r.err;

    // Two copies in one node: the one before the other in the node.
    Built one = built(100, 2, 4);
    Node& leaf = nodeOf(one.db, one.info.levels[1][2]);
    leaf.datums[1].key = leaf.datums[0].key;
    const Bytes kept = leaf.datums[0].data;
    Bytes later = kept;
    putU32(later, 0, 99);
    leaf.datums[1].data = later;
    r = onFile({"dump", "--salvage", "--json"}, put("one.jbbdb", one.db.image()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.out, "{\"key\""), 99u);
    EXPECT_NE(r.out.find(hex(kept)), std::string::npos);
    EXPECT_EQ(r.out.find(hex(later)), std::string::npos);
}

// Datums with room beyond their key and their record are read by the
// engine through their fields: check finds nothing, salvage keeps them,
// and on such a sound file salvage gives what dump gives.  A datum too
// short for its record stays a finding and is dropped.
TEST_F(Jbbtool, DatumsWithRoomAreSoundAndSalvageEqualsDumpOnSoundFiles) {
    TreeOptions o;
    o.height = 3;
    o.gapEvery = 7;  // bytes between the key's terminator and the data
    TreeInfo info;
    DbFile db = buildTree(journalEntries(400, 5), JournalInfo(), o, &info);
    size_t roomy = 0;
    for (Slot& s : db.slots) {
        if (s.isFree()) continue;
        for (size_t i = 0; i < s.node.datums.size(); i += 3, ++roomy) s.node.datums[i].data.resize(33 + i, 0x5A);
    }
    ASSERT_GT(roomy, 100u);
    db.updateCounters();
    put("room.jbbdb", db.image());
    RunResult v = runProgram(JBBVIEW_PATH, {dir.file("room")}, "", dir.path());
    EXPECT_NE(v.out.find("     Number of DB Entries    400\n"), std::string::npos) << v.out;
    RunResult c = onFile({"check"}, dir.file("room.jbbdb"));
    EXPECT_EQ(c.status, 0) << c.out;
    EXPECT_NE(c.out.find("result: sound\n"), std::string::npos) << c.out;
    const std::string plain = dumpTo(dir.file("room.jbbdb"), "room.txt");
    RunResult s = onFile({"dump", "--salvage"}, dir.file("room.jbbdb"));
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out, plain);
    EXPECT_EQ(countLines(s.out), 400u);
    EXPECT_EQ(s.err, "jbbtool dump --salvage: " + dir.file("room.jbbdb") + ": 400 entries written from " +
                         std::to_string(db.slots.size()) +
                         " nodes; 0 datums dropped, 0 nodes lost\njbbtool dump --salvage: " + dir.file("room.jbbdb") +
                         ": walked from the control record's root, the tree reaches 400 entries\n");

    // Records shorter than the datums' room read the same way.
    DbFile shorter = db;
    shorter.ctrl.dataLen = 24;
    c = onFile({"check"}, put("shorter.jbbdb", shorter.image()));
    EXPECT_EQ(c.status, 0) << c.out;

    // A journal of jbbgen with filled record tails, too.
    ASSERT_EQ(gen({dir.file("g"), "--count", "3000", "--fill-opaque", "--per-directory", "2"}).status, 0);
    RunResult gs = onFile({"dump", "--salvage"}, dir.file("g.jbbdb"));
    EXPECT_EQ(gs.status, 0) << gs.err;
    EXPECT_EQ(gs.out, dumpTo(dir.file("g.jbbdb"), "g.txt"));

    // One datum one byte too short for its record.
    Node& leaf = nodeOf(db, info.levels[2][3]);
    leaf.datums[1].data.resize(31);
    put("short.jbbdb", db.image());
    c = onFile({"check"}, dir.file("short.jbbdb"));
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.out.find("summary: datum-bounds         1\n"), std::string::npos) << c.out;
    s = onFile({"dump", "--salvage"}, dir.file("short.jbbdb"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(countLines(s.out), 399u);
    EXPECT_NE(s.err.find("has room for a 31-byte record, the file's records have 32; dropped"), std::string::npos)
        << s.err;
}

// What salvage could not save is counted: nodes whose slot headers are
// gone (named by branches, held by no slot), slots cut short, and the
// entries the walk from the control record's root reaches.
TEST_F(Jbbtool, SalvageCountsWhatItCouldNotSave) {
    Built b = built(600, 3, 11);
    const uint32_t lost1 = b.info.levels[2][1], lost2 = b.info.levels[2][4];
    const size_t lostDatums = nodeOf(b.db, lost1).datums.size() + nodeOf(b.db, lost2).datums.size();
    Bytes image = b.db.image();
    for (uint32_t sub : {lost1, lost2}) putBytes(image, b.db.slotOffset(slotIndex(b.db, sub)), Bytes(24, 0x77));
    RunResult r = onFile({"dump", "--salvage"}, put("s.jbbdb", image));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.out), 600 - lostDatums);
    const std::string head = "jbbtool dump --salvage: " + dir.file("s.jbbdb") + ": ";
    size_t usedSlots = 0;
    for (const Slot& s : b.db.slots) usedSlots += s.isFree() ? 0 : 1;
    EXPECT_NE(
        r.err.find(head + std::to_string(600 - lostDatums) + " entries written from " + std::to_string(usedSlots - 2) +
                   " nodes; 0 datums dropped, 2 nodes lost (0 slots held no readable node, 2 subscripts named by "
                   "branches are in no slot)\n"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(head + "walked from the control record's root, the tree reaches " +
                         std::to_string(600 - lostDatums) +
                         " entries; 2 of its branches lead to no readable node, whose entries are not counted\n"),
              std::string::npos)
        << r.err;

    // A file cut inside its last used slot: that slot's node is lost with it.
    size_t lastUsed = 0;
    for (size_t i = 0; i < b.db.slots.size(); ++i)
        if (!b.db.slots[i].isFree()) lastUsed = i;
    Bytes cut(image.begin(), image.begin() + (long)b.db.slotOffset(lastUsed) + 30);
    r = onFile({"dump", "--salvage"}, put("cut.jbbdb", cut));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(" nodes lost ("), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(" 0 nodes lost"), std::string::npos) << r.err;
}

// No control-record field is trusted: an implausible data length gives
// way to the datums' own, and says so; the dump is one jbbgen reads.
TEST_F(Jbbtool, SalvageTakesTheDataLengthFromTheDatumsWhenTheControlRecordsIsImplausible) {
    for (bool magic : {true, false}) {
        SCOPED_TRACE(magic);
        Built b = built(100, 2, 6);
        b.db.ctrl.dataLen = 8970;
        if (!magic) b.db.ctrl.magic = 0x3F2A;
        const std::string file = put("odd.jbbdb", b.db.image());
        RunResult r = onFile({"dump", "--salvage"}, file);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(countLines(r.out), 100u);
        EXPECT_EQ(r.out.find("%data-length"), std::string::npos) << r.out.substr(0, 300);
        EXPECT_NE(r.err.find(magic ? "the control record's data length 8970 is implausible: only 0 of 100 datums have "
                                     "room for it; records taken as 32 bytes, the length most datums have\n"
                                   : "the control record is damaged; records taken as 32 bytes, the length most "
                                     "datums have\n"),
                  std::string::npos)
            << r.err;
        put("odd.txt", Bytes(r.out.begin(), r.out.end()));
        RunResult g = gen({dir.file(magic ? "back1" : "back2"), "--input", dir.file("odd.txt")});
        EXPECT_EQ(g.status, 0) << g.err;
    }
}

// Odd but legal databases (records of 0, 16 and 40 bytes, journal types 0
// and 7) pass every reading command cleanly, under the sanitizers too, and
// salvage gives what dump gives.  Only check has a finding: a journal of
// type 0 that holds entries, which the viewer would offer for deletion.
TEST_F(Jbbtool, OddDataLengthsAndJournalTypesRunClean) {
    for (uint16_t len : {0, 16, 40}) {
        for (uint32_t type : {0u, 7u}) {
            SCOPED_TRACE(std::to_string(len) + "/" + std::to_string(type));
            TreeOptions o;
            o.dataLen = len;
            JournalInfo j;
            j.type = type;
            const std::string file = put("odd.jbbdb", buildTree(journalEntries(120, len + type), j, o).image());
            for (const std::vector<std::string>& cmd : std::vector<std::vector<std::string>>{
                     {"check"}, {"stats"}, {"dump", "--json"}, {"dump", "--salvage", "--json"}}) {
                RunResult r = onFile(cmd, file);
                const bool finding = type == 0 && cmd[0] == "check";
                EXPECT_EQ(r.status, finding ? 1 : 0) << cmd[0] << ": " << r.out << r.err;
                if (finding) {
                    EXPECT_NE(r.out.find("just-created-entries: the journal type is 0 (just created), yet its tree "
                                         "holds 120 entries; jbbview would offer the file for deletion\n"),
                              std::string::npos)
                        << r.out;
                }
                EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
                EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
            }
            EXPECT_EQ(onFile({"dump", "--salvage"}, file).out, onFile({"dump"}, file).out);
        }
    }
}

// Every line of a dump is UTF-8, the comment lines of a damaged control
// area too: bytes of the server and node that are no UTF-8 are escaped.
TEST_F(Jbbtool, DumpOfADamagedControlAreaIsUtf8) {
    Built b = built(50, 2, 2);
    JournalInfo j;
    j.setServerNode("\xFF\xFEsrv\"", "n\xC3");
    b.db.ctrl.setJournal(j);
    const std::string d = dumpTo(put("area.jbbdb", b.db.image()), "area.txt");
    EXPECT_NE(d.find("# server \"\\u00ff\\u00fesrv\\\"\", node \"n\\u00c3\", file system \"C:\"\n"), std::string::npos)
        << d.substr(0, 400);
    EXPECT_TRUE(wellFormedUtf8(d)) << d.substr(0, 400);
}

// stats on a tree it cannot read from the root says why and exits 1.
TEST_F(Jbbtool, StatsSaysWhyItCannotReadTheTree) {
    Built b = built(300, 3, 8);
    b.db.ctrl.rootOffset = 4999;
    RunResult r = onFile({"stats"}, put("noroot.jbbdb", b.db.image()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": the tree cannot be read: rootOffset 4999 names no readable node\n"), std::string::npos)
        << r.err;
    Built c = built(300, 3, 8);
    const uint32_t gone = c.info.levels[1][0];
    Bytes image = c.db.image();
    putBytes(image, c.db.slotOffset(slotIndex(c.db, gone)), Bytes(24, 0x77));
    r = onFile({"stats"}, put("nochild.jbbdb", image));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("names subscript " + std::to_string(gone) + ", which no readable node holds\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("  the tree cannot be read: "), std::string::npos) << r.out;
}

// ---- diff and stats ----

// A differ line carries both records' fields, in text and JSON alike, and
// the bytes after the fields when they differ: also when the last byte is
// all that differs.
TEST_F(Jbbtool, DiffListsWhatDiffers) {
    std::vector<Entry> a = journalEntries(100, 2);
    for (Entry& e : a) {
        e.rec.action = 4;
        e.rec.objectType = 1;
        e.rec.inserted = 1700000000;
        e.rec.objectTime = 1600000000;
    }
    a[30].rec.opaque = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<Entry> bEntries = a;
    bEntries.erase(bEntries.begin() + 10);
    bEntries[20].rec.action = 99;
    bEntries[20].rec.objectType = 2;
    bEntries[20].rec.objectTime = 1600000001;
    bEntries[29].rec.opaque[7] = 9;  // a[30]: only the last byte
    bEntries.push_back({u"\xFF01zzz", {}});
    put("a.jbbdb", buildTree(a, JournalInfo()).image());
    put("b.jbbdb", buildTree(bEntries, JournalInfo()).image());
    RunResult r = tool({"diff", dir.file("a.jbbdb"), dir.file("b.jbbdb")});
    EXPECT_EQ(r.status, 1);
    const std::string times = ", inserted UTC 2023-11-14T22:13:20Z, object time UTC 2020-09-13T12:26:4";
    EXPECT_EQ(r.out, "only-a\t" + utf16ToUtf8(a[10].key) + "\ndiffer\t" + utf16ToUtf8(a[21].key) +
                         "\ta: action create (4), type file (1)" + times + "0Z\tb: action 99, type directory (2)" +
                         times + "1Z\ndiffer\t" + utf16ToUtf8(a[30].key) + "\ta: action create (4), type file (1)" +
                         times + "0Z, last bytes 0102030405060708\tb: action create (4), type file (1)" + times +
                         "0Z, last bytes 0102030405060709\nonly-b\t\xEF\xBC\x81zzz\nsummary: 100 entries in A, "
                         "100 in B; 1 only in A, 1 only in B, 2 with different records\n");
    r = tool({"diff", "--json", dir.file("a.jbbdb"), dir.file("b.jbbdb")});
    EXPECT_EQ(r.status, 1);
    const std::string rec =
        "{\"action\":4,\"actionName\":\"create\",\"objectType\":1,\"objectTypeName\":\"file\",\"inserted\":1700000000,"
        "\"insertedUtc\":\"2023-11-14T22:13:20Z\",\"objectTime\":1600000000,\"objectTimeUtc\":\"2020-09-13T12:26:40Z\"";
    EXPECT_NE(r.out.find(",\"a\":" + rec +
                         "},\"b\":{\"action\":99,\"actionName\":null,\"objectType\":2,"
                         "\"objectTypeName\":\"directory\","),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(",\"a\":" + rec + ",\"lastBytes\":\"0102030405060708\"},\"b\":" + rec +
                         ",\"lastBytes\":\"0102030405060709\"}}\n"),
              std::string::npos)
        << r.out;
}

// A journal named with characters outside any ANSI code page and a
// surrogate pair, named so on the command line (on Windows through the wide
// command line): the commands reach it, echo its name as UTF-8 and write
// the same bytes as for a plain name; so does a page written to such a name.
TEST_F(Jbbtool, UnicodeFileNamesOnTheCommandLine) {
    struct Utf8CommandLines {  // the harness's own command lines, in UTF-8
        Utf8CommandLines() { plat::useUtf8FileNames(true); }
        ~Utf8CommandLines() { plat::useUtf8FileNames(false); }
    } utf8;
    std::vector<Entry> e = {{u"C:\\plain.txt", {}},
                            {u"C:\\Zo\u00EB\\\u0394\u03BF\u03BA\\\u4E2D\u6587\\photo\U0001F600.jpg", {}},
                            {u"C:\\\u00DCn\u00EF\\\U0001D11E music.mid", {}}};
    for (Entry& x : e) {
        x.rec.inserted = 1700000000;
        x.rec.objectTime = 1600000000;
    }
    sortEntries(e);
    const std::string plain = put("plain.jbbdb", buildTree(e, JournalInfo()).image());
    namespace fs = std::filesystem;
    const fs::path named = dir.path() / fs::u8path(u8"j\u00E9 \u0394 \u4E2D \U0001F600.jbbdb");
    fs::copy_file(fs::u8path(plain), named);
    const std::string arg = named.u8string();

    RunResult dump = tool({"dump", arg}), plainDump = tool({"dump", plain});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out, plainDump.out);
    EXPECT_NE(dump.out.find(
                  "\ncreate\tfile\t2023-11-14T22:13:20Z\t2020-09-13T12:26:40Z\t"
                  "C:\\Zo\xC3\xAB\\\xCE\x94\xCE\xBF\xCE\xBA\\\xE4\xB8\xAD\xE6\x96\x87\\photo\xF0\x9F\x98\x80.jpg\n"),
              std::string::npos)
        << dump.out;

    RunResult check = tool({"check", arg}), plainCheck = tool({"check", plain});
    EXPECT_EQ(check.status, 0) << check.err;
    ASSERT_EQ(plainCheck.out.compare(0, plain.size(), plain), 0) << plainCheck.out;
    EXPECT_EQ(check.out, arg + plainCheck.out.substr(plain.size()));
    EXPECT_EQ(check.err, "");

    const std::string missing = (dir.path() / fs::u8path(u8"n\u00F6 \U0001F600.jbbdb")).u8string();
    RunResult absent = tool({"check", missing});
    EXPECT_EQ(absent.status, 2);
    EXPECT_EQ(absent.err, "jbbtool check: " + missing + ": No such file or directory\n");

    const fs::path page = dir.path() / fs::u8path(u8"p\u00E4ge \U0001F600.html");
    EXPECT_EQ(tool({"stats", "--html", page.u8string(), arg}).status, 0);
    EXPECT_TRUE(fs::exists(page));
}

TEST_F(Jbbtool, StatsMeasuresTheJournal) {
    std::vector<Entry> e = journalEntries(500, 9);
    Built b;
    TreeOptions o;
    o.freeSlots = 3;
    o.slackEvery = 4;
    b.db = buildTree(e, JournalInfo(), o, &b.info);
    const std::string file = put("s.jbbdb", b.db.image());
    RunResult r = onFile({"stats"}, file);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("depth " + std::to_string(b.info.height) + ", 500 entries\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 3 free ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Directories with the most entries"), std::string::npos);
    r = onFile({"stats", "--json"}, file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.compare(0, 29, "{\"schema\":\"jbbtool.stats/2\",\""), 0);
    EXPECT_NE(r.out.find("\"entries\":500,\"depth\":" + std::to_string(b.info.height)), std::string::npos) << r.out;
}

}  // namespace

namespace {

// The stats page is well-formed XML and renders in headless Chromium: a
// screenshot that is not blank, and no console message.
TEST_F(Jbbtool, StatsPageChartsAtMostFiftyThousandDays) {
    // One entry a day from 1970 on, all created: the chart counts the
    // entries of at most 50,000 days.
    for (size_t n : {50000u, 50001u}) {
        SCOPED_TRACE(n);
        std::vector<Entry> e = journalEntries(n, 3);
        sortEntries(e);
        for (size_t i = 0; i < e.size(); ++i) {
            e[i].rec.action = 4;
            e[i].rec.inserted = static_cast<int64_t>(i) * 86400;
        }
        const std::string file = put("days.jbbdb", buildTree(e, JournalInfo()).image());
        const std::string page = dir.file("days.html");
        ASSERT_EQ(onFile({"stats", "--force", "--html", page}, file).status, 0);
        Bytes html;
        ASSERT_TRUE(readFile(page, &html));
        const std::string text(html.begin(), html.end());
        const std::regex bar(R"(<title>\d{4}-\d\d-\d\d to \d{4}-\d\d-\d\d UTC: create \(4\) (\d+)</title>)");
        uint64_t charted = 0, columns = 0;
        for (auto m = std::sregex_iterator(text.begin(), text.end(), bar); m != std::sregex_iterator(); ++m, ++columns)
            charted += std::stoull((*m)[1]);
        EXPECT_EQ(charted, 50000u);
        EXPECT_EQ(columns, 120u);
        if (n == 50000) {
            EXPECT_NE(text.find("<title>1970-01-01 to 1971-02-21 UTC: create (4) 417</title>"), std::string::npos);
            EXPECT_NE(text.find("<title>2105-11-12 to 2107-01-02 UTC: create (4) 377</title>"), std::string::npos);
        }
    }
}

// Times before 1970 count on their own day: a second before midnight is
// the day before.
TEST_F(Jbbtool, StatsCountsTimesBefore1970OnTheirDays) {
    std::vector<Entry> e = journalEntries(3, 5);
    const int64_t times[] = {-86401, -86400, -1};  // 1969-12-30 23:59:59, 12-31 00:00:00, 12-31 23:59:59
    for (size_t i = 0; i < e.size(); ++i) {
        e[i].rec.action = 4;
        e[i].rec.inserted = times[i];
    }
    const std::string page = dir.file("old.html");
    RunResult r = onFile({"stats", "--html", page}, put("old.jbbdb", buildTree(e, JournalInfo()).image()));
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes html;
    ASSERT_TRUE(readFile(page, &html));
    const std::string text(html.begin(), html.end());
    EXPECT_NE(text.find("<title>1969-12-30 UTC: create (4) 1</title>"), std::string::npos);
    EXPECT_NE(text.find("<title>1969-12-31 UTC: create (4) 2</title>"), std::string::npos);
}

TEST_F(Jbbtool, StatsPageParsesAsXmlAndRenders) {
    // A directory with the most entries, whose name needs escaping.
    std::vector<Entry> e = journalEntries(300, 21);
    for (char16_t c = u'a'; c <= u'z'; ++c)
        e.push_back({u"C:\\a&b<c>\"d\x01\xFFFE\xFFFF\\file" + std::u16string(1, c), {}});
    sortEntries(e);
    // One entry every two days from 2023-11-15 on, all created: 651 days in
    // columns of six days, three entries each and two in the last.
    for (size_t i = 0; i < e.size(); ++i) {
        e[i].rec.action = 4;
        e[i].rec.inserted = 1700006400 + static_cast<int64_t>(i) * 2 * 86400;
    }
    const std::string file = put("p.jbbdb", buildTree(e, JournalInfo()).image());
    const std::string page = dir.file("p.html");
    RunResult r = onFile({"stats", "--html", page}, file);
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes html;
    ASSERT_TRUE(readFile(page, &html));
    const std::string text(html.begin(), html.end());
    EXPECT_EQ(text.find("<script"), std::string::npos);
    for (const char* outside : {"src=", "href=", "url(", "@import"})
        EXPECT_EQ(text.find(outside), std::string::npos) << "no outside resources: " << outside;
    EXPECT_NE(text.find("a&amp;b&lt;c&gt;&quot;d\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD<"), std::string::npos);
    EXPECT_NE(text.find("<title>2023-11-15 to 2023-11-20 UTC: create (4) 3</title>"), std::string::npos);
    EXPECT_NE(text.find("<title>2025-08-24 to 2025-08-29 UTC: create (4) 2</title>"), std::string::npos);
    if (plat::isWindows() || runProgram("xmllint", {"--version"}, "", dir.path()).status != 0)
        GTEST_SKIP() << "no xmllint or Chromium here (tools/install-deps.sh installs them)";
    r = runProgram("xmllint", {"--noout", page}, "", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    if (runProgram("chromium", {"--version"}, "", dir.path()).status != 0) GTEST_SKIP() << "no Chromium here";
    // A blank page of the same size, for comparison.
    const std::string blank = dir.file("blank.html");
    const std::string blankText = "<html><body></body></html>";
    writeFile(blank, Bytes(blankText.begin(), blankText.end()));
    auto shoot = [&](const std::string& html, const std::string& png) {
        RunResult s = runProgram("chromium",
                                 {"--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr", "--v=0",
                                  "--window-size=1000,1400", "--screenshot=" + png, "file://" + html},
                                 "", dir.path());
        EXPECT_EQ(s.status, 0) << s.err;
        EXPECT_EQ(s.err.find("CONSOLE"), std::string::npos) << s.err;
        Bytes shot;
        EXPECT_TRUE(readFile(png, &shot));
        return shot.size();
    };
    const size_t blankSize = shoot(blank, dir.file("blank.png"));
    const size_t pageSize = shoot(page, dir.file("page.png"));
    EXPECT_GT(blankSize, 0u);
    EXPECT_GT(pageSize, 4 * blankSize) << "the screenshot looks blank";
}

}  // namespace

namespace {

// Thirty inner nodes whose every branch leads to the next: 6^30 paths
// through 31 nodes.  Every command finishes at once and reports.
TEST_F(Jbbtool, BranchesToOneNodeDoNotMultiplyTheWork) {
    DbFile db;
    for (uint32_t s = 1; s <= 31; ++s) {
        Node n;
        n.subscript = s;
        for (int k = 0; k < 5; ++k) {
            Datum d;
            d.key = u"key" + std::u16string(1, (char16_t)(u'a' + k));
            d.data = JournalRec().bytes();
            n.datums.push_back(d);
        }
        if (s < 31)
            for (int b = 0; b <= 5; ++b) n.branch[b] = s + 1;
        db.slots.push_back(Slot::used(n));
    }
    db.updateCounters();
    db.ctrl.rootOffset = 1;
    const std::string file = put("dag.jbbdb", db.image());
    RunResult r = onFile({"check"}, file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("summary: node-reached-twice"), std::string::npos) << r.out;
    r = onFile({"dump"}, file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("reached a second time"), std::string::npos) << r.err;
    // stats counts each node once, at the depth the walk first reaches it,
    // as check walks the tree.
    r = onFile({"stats"}, file);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("depth 31, 155 entries"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("level 31: 1 node; by datums 5:1\n"), std::string::npos) << r.out;
    EXPECT_EQ(tool({"diff", file, file}).status, 2);
}

TEST_F(Jbbtool, CheckRefusesAnIndexArrayTheFileCouldNotUseAsTheEngineDoes) {
    Built b = built();
    b.db.ctrl.indexArraySize = 4000000000u;  // a multiple of 500, far beyond the file's slots
    const Bytes image = b.db.image();
    const std::string file = put("array.jbbdb", image);
    RunResult r = onFile({"check"}, file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ctrl-field at offset 12: indexArraySize 4000000000 is larger than a file of " +
                         std::to_string(image.size()) + " bytes could use\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("not a multiple"), std::string::npos) << r.out;
}

}  // namespace

// A salvage writes the journal control area only when it can read it; a
// rebuild from a dump without one says which fields it made up, and from
// which options it took the others.  A sound dump rebuilds silently.
TEST_F(Jbbtool, ARebuildFromASalvageWithoutAControlAreaSaysWhatItMadeUp) {
    const std::string defaults =
        "jbbgen: the input has no control area; file system C:, server \"\", node \"\" and activation "
        "2024-01-15T08:30:00Z are defaults (see --fs, --server, --node, --activated)\n";
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::vector<std::string> options;
        const char* salvageSays;  // null: the area is written
        std::string rebuildSays;
    } cases[] = {
        {"sound", [](Bytes&) {}, {}, nullptr, ""},
        {"wiped",
         [](Bytes& b) { std::fill(b.begin(), b.begin() + 2088, 0); },
         {},
         "the control record is damaged; no journal control area written",
         defaults},
        {"wiped-area",
         [](Bytes& b) { std::fill(b.begin() + 36, b.begin() + 2084, 0); },
         {},
         "the journal control area is all zero; none written",
         defaults},
        {"wiped-fs",
         [](Bytes& b) { std::fill(b.begin(), b.begin() + 2088, 0); },
         {"--fs", "D:", "--node", "n1"},
         "the control record is damaged; no journal control area written",
         "jbbgen: the input has no control area; server \"\" and activation 2024-01-15T08:30:00Z are defaults (see "
         "--server, --activated); file system D: and node \"n1\" as the options give\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = built(60, 2).db.image();
        c.damage(image);
        const RunResult s = onFile({"dump", "--salvage"}, put(std::string(c.name) + ".jbbdb", image));
        EXPECT_EQ(s.out.find("%app-area") != std::string::npos, c.salvageSays == nullptr) << s.out.substr(0, 400);
        if (c.salvageSays != nullptr) {
            EXPECT_NE(s.err.find(c.salvageSays), std::string::npos) << s.err;
        }
        std::vector<std::string> args = {dir.file(std::string(c.name) + "-again"), "--input",
                                         put(std::string(c.name) + ".txt", Bytes(s.out.begin(), s.out.end())),
                                         "--quiet"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult g = gen(args);
        EXPECT_EQ(g.status, 0) << g.err;
        EXPECT_EQ(g.err, c.rebuildSays);
    }
}
