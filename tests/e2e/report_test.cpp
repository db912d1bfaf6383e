// jbbview on databases it can show: the open-state report, and opening,
// counting, reporting and closing journals of every size and kind.  After
// every run the file is closed again and holds the same entries.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "dbreader.h"
#include "dbwriter.h"
#include "platform.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

class Report : public ::testing::Test {
protected:
    // Runs the viewer on `image` as database `name`, expects the full counted
    // run for `entries` entries, and the file unchanged afterwards.
    void expectCounted(const std::string& name, const Bytes& image, uint32_t entries) {
        SCOPED_TRACE(name);
        const std::string arg = s.put(name, image);
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(maskWalkTime(r.out),
                  countedRunText(date, s.path(name), arg, CtrlRec::fromBytes(image.data()), entries, image.size()));
        expectUnchanged(name, image);
    }

    void expectUnchanged(const std::string& name, const Bytes& image) {
        EXPECT_EQ(checkClosedAndUnchanged(image, s.path(name)), "");
        Bytes after;
        ASSERT_TRUE(readFile(s.path(name), &after));
        EXPECT_EQ(firstDifference(image, after), "");
    }

    // A small change journal whose control area is `j`.
    static DbFile small(const JournalInfo& j, size_t n = 3) { return buildTree(journalEntries(n, 7), j); }

    ViewerSession s{JBBVIEW_PATH};
    const std::string date = JBB_BUILD_DATE;
};

}  // namespace

TEST_F(Report, EmptyTreeOf2160Bytes) {
    DbFile db;
    Node root;
    root.subscript = 1;
    db.slots.push_back(Slot::used(root));
    db.updateCounters();
    const Bytes img = db.image();
    ASSERT_EQ(img.size(), 2160u);
    expectCounted("empty", img, 0);
}

TEST_F(Report, ControlRecordAloneIsAnEmptyTree) {
    // The counting walk writes the root that the open placed in memory, so
    // the file then holds the empty tree of 2160 bytes.
    DbFile db;
    const Bytes img = db.image();
    ASSERT_EQ(img.size(), 2088u);
    const std::string arg = s.put("bare", img);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(maskWalkTime(r.out), countedRunText(date, s.path("bare"), arg, db.ctrl, 0, 2160));
    DbContents after = readDbFile(s.path("bare"));
    ASSERT_TRUE(after.ok) << after.error;
    EXPECT_EQ(after.fileSize, 2160u);
    EXPECT_EQ(after.ctrl.state, kDbClosed);
    EXPECT_EQ(after.ctrl.rootOffset, 1u);
    EXPECT_EQ(after.ctrl.lastNDRec, 2088);
    EXPECT_EQ(after.height, 1);
    EXPECT_TRUE(after.entries.empty());
    EXPECT_EQ(after.ctrl.journal().type, kJournalChange);
}

TEST_F(Report, ChangeJournalsOfManySizes) {
    // Shuffled slots, free slots of both kinds, slack behind nodes, bytes
    // between keys and data, unused subscripts; from one leaf to five levels.
    const struct {
        size_t entries;
        int height;
    } cases[] = {{0, 1}, {1, 1}, {999, 3}, {1000, 4}, {2500, 4}, {2600, 5}};
    for (const auto& c : cases) {
        TreeOptions o;
        o.seed = c.entries * 31 + static_cast<uint64_t>(c.height);
        o.height = c.height;
        o.freeSlots = 1 + c.entries / 40;
        o.slackEvery = 4;
        o.gapEvery = 3;
        o.spareSubscripts = 3;
        TreeInfo info;
        const Bytes img = buildTree(journalEntries(c.entries, o.seed), JournalInfo(), o, &info).image();
        ASSERT_EQ(info.height, c.height);
        expectCounted("journal" + std::to_string(c.entries) + "-" + std::to_string(c.height), img,
                      static_cast<uint32_t>(c.entries));
    }
}

TEST_F(Report, HundredThousandEntries) {
    TreeOptions o;
    o.seed = 100000;
    o.freeSlots = 600;
    o.slackEvery = 7;
    o.gapEvery = 11;
    TreeInfo info;
    const Bytes img = buildTree(journalEntries(100000, 3), JournalInfo(), o, &info).image();
    EXPECT_GE(info.height, 5);
    expectCounted("large", img, 100000);
}

TEST_F(Report, SlotsInTreeOrderWithoutExtras) {
    TreeOptions o;
    o.shuffleSlots = false;
    o.shuffleSubscripts = false;
    expectCounted("plain", buildTree(journalEntries(1234, 9), JournalInfo(), o).image(), 1234);
}

TEST_F(Report, UnusualKeys) {
    // An empty key, prefixes of each other, units at both ends of the range,
    // and keys far longer than any path buffer of the viewer.
    std::vector<std::u16string> keys = {
        u"", u"a", u"ab", u"abc", u"B", u"\x0001", u"\xFFFF", u"\xD83D\xDCF7", std::u16string(9000, u'\x00E9')};
    for (int i = 0; i < 40; ++i) keys.push_back(u"C:\\" + std::u16string(static_cast<size_t>(i), u'z'));
    std::vector<Entry> entries;
    for (const std::u16string& k : keys) entries.push_back({k, JournalRec()});
    sortEntries(entries);
    TreeOptions o;
    o.height = 2;
    o.slackEvery = 2;
    expectCounted("oddkeys", buildTree(entries, JournalInfo(), o).image(), static_cast<uint32_t>(entries.size()));
}

TEST_F(Report, LongestKeysTheFormatHolds) {
    // A datum's length is a 16-bit field: a key of 32748 units with a 32-byte
    // record makes a datum of 65534 bytes, the longest that fits.  Windows
    // long paths reach such lengths.
    std::vector<Entry> entries = {{std::u16string(20000, u'k'), JournalRec()},
                                  {std::u16string(32748, u'm'), JournalRec()},
                                  {u"short", JournalRec()}};
    sortEntries(entries);
    expectCounted("longkeys", buildTree(entries, JournalInfo()).image(), 3);
}

TEST_F(Report, IncrementalAndUnknownJournalTypes) {
    // No listing without interactive mode: the types only change the report.
    JournalInfo j;
    j.type = kJournalIncremental;
    j.setServerNode("SERVER", "NODE1");
    j.state = 1;
    expectCounted("incremental", small(j, 1500).image(), 1500);
    j.type = 7;
    expectCounted("type7", small(j, 12).image(), 12);
}

TEST_F(Report, JournalStatesAndValidationDates) {
    for (uint32_t state : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
        JournalInfo j;
        j.state = state;
        j.validation = 1263945600 + state;  // Wed Jan 20 00:00:00 2010
        expectCounted("state" + std::to_string(state), small(j).image(), 3);
    }
}

TEST_F(Report, ServerAndNodeNames) {
    struct Case {
        const char* name;
        uint8_t serverLen;
        std::string bytes;  // the 129 bytes from offset 41 (zero-filled after)
    } cases[] = {
        {"notset", 6, std::string("\0NODE1", 6)},  // (not set) for both
        {"both", 6, "SERVERNODE1"},                // SERVER and NODE1
        {"nodeonly", 0, "NODEONLY"},               // empty server name
        {"shortserver", 10, std::string("SRV\0\0\0\0\0\0\0NODE", 14)},
        {"nonul", 6, std::string(129, 'n')},                   // node runs to byte 129
        {"longserver", 200, std::string("SERVERNAME\0", 11)},  // no node at all
        {"fullserver", 129, std::string("SERVERNAME\0node", 15)},
    };
    for (const Case& c : cases) {
        JournalInfo j;
        j.serverLen = c.serverLen;
        j.serverNode.fill(0);
        std::copy(c.bytes.begin(), c.bytes.end(), j.serverNode.begin());
        expectCounted(c.name, small(j).image(), 3);
    }
}

TEST_F(Report, TimesSizesAndFileSystemNames) {
    struct Case {
        const char* name;
        int64_t activation;
        int64_t validation;
        uint64_t maxSize;
        std::u16string fileSystem;
    } cases[] = {
        {"epoch", 0, 86399, 1, u"C:"},                   // 1 Byte
        {"earlyday", 1268006400, 1268092799, 2, u"D:"},  // Mar 08 2010; 2 Bytes
        {"lastsecond", 32535215999, 951782400, 1023, u"\\\\?\\Volume{1}\\"},
        {"kilo", 1024, 1048575, 1024, u""},
        {"mega", 86400, 1000000000, 10485760, u"E:\\Data"},
        {"negative", -1, 32535216000, 1ULL << 40, u"F:"},  // (invalid time) twice
        {"huge", INT64_MIN, INT64_MAX, 1ULL << 50, u"G:"},
        {"max", 1262304000, 1262304000, UINT64_MAX, std::u16string(939, u'x')},  // no NUL
    };
    for (const Case& c : cases) {
        JournalInfo j;
        j.activation = c.activation;
        j.validation = c.validation;
        j.maxSize = c.maxSize;
        j.fileSystem = c.fileSystem;
        expectCounted(c.name, small(j).image(), 3);
    }
}

TEST_F(Report, KeyAndDataLengthsFromTheControlRecord) {
    TreeOptions o;
    o.dataLen = 16;  // records shorter than a journal record
    DbFile db = buildTree(journalEntries(40, 4), JournalInfo(), o);
    expectCounted("datalen16", db.image(), 40);

    DbFile keyed = buildTree(journalEntries(40, 4), JournalInfo());
    keyed.ctrl.keyLen = 20;  // shown halved in the Located block, as stored in the report
    expectCounted("keylen20", keyed.image(), 40);
    const std::string out = s.run({s.put("keylen20b", keyed.image())}).out;
    EXPECT_NE(out.find("   key length    = 10 Bytes Characters\n"), std::string::npos) << out;
    EXPECT_NE(out.find("     Journal  Key length     20 Bytes Characters\n"), std::string::npos) << out;

    DbFile pad = buildTree(journalEntries(5, 4), JournalInfo());
    pad.ctrl.padding = {1, 2, 3, 4};
    expectCounted("padding", pad.image(), 5);
}

TEST_F(Report, UnknownStoredStateIsShownAsCorruptAndOpened) {
    // Only states 1 and 2 are judged; any other value is named dbCorrupt in
    // the Located block and the database is opened and closed as usual.
    DbFile db = small(JournalInfo(), 30);
    db.ctrl.state = 3;
    const Bytes img = db.image();
    const std::string arg = s.put("state3", img);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskWalkTime(r.out), countedRunText(date, s.path("state3"), arg, db.ctrl, 30, img.size()));
    EXPECT_EQ(checkClosedAndUnchanged(img, s.path("state3")), "");
}

TEST_F(Report, OpenStateShowsTheControlRecordOnly) {
    JournalInfo j;
    j.setServerNode("SERVER", "NODE1");
    j.maxSize = 10485760;
    DbFile db = buildTree(journalEntries(1500, 5), j);
    db.ctrl.state = kDbOpened;
    const Bytes img = db.image();
    const std::string arg = s.put("inuse", img);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, openStateRunText(date, s.path("inuse"), arg, db.ctrl, img.size()));
    Bytes after;
    ASSERT_TRUE(readFile(s.path("inuse"), &after));
    EXPECT_EQ(firstDifference(img, after), "");
}

TEST_F(Report, OpenStateNeverLooksAtTheTree) {
    // A control record in the open state followed by garbage, a nonzero key
    // length (reported as stored), and a just-created type: nothing is opened,
    // nothing asked.
    CtrlRec c;
    c.state = kDbOpened;
    c.keyLen = 7;
    JournalInfo j;
    j.type = kJournalUnformatted;
    c.setJournal(j);
    Bytes img = c.bytes();
    img.insert(img.end(), 100, 0x5A);
    const std::string arg = s.put("garbage", img);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, openStateRunText(date, s.path("garbage"), arg, c, img.size()));
    Bytes after;
    ASSERT_TRUE(readFile(s.path("garbage"), &after));
    EXPECT_EQ(firstDifference(img, after), "");
}

TEST_F(Report, FileSystemNameInTheUserLocale) {
    // Shown in the locale the user selected; a character that locale cannot
    // show becomes '?' and the rest of the line stays.
    JournalInfo j;
    j.fileSystem = utf8ToUtf16("Zoë:\\Données\\📷");
    const Bytes img = small(j).image();
    const std::string arg = s.put("locale", img);
    const CtrlRec c = CtrlRec::fromBytes(img.data());
    const std::string expected = countedRunText(date, s.path("locale"), arg, c, 3, img.size());
    const std::string shown = "Zoë:\\Données\\📷";

    if (plat::isWindows()) {
        // Windows takes the user's locale from the account, not from the
        // environment.  Its ANSI code page 1252 (Wine's default) holds ë and é
        // as one byte each; no ANSI code page holds the camera.
        const char* selected = std::setlocale(LC_ALL, "");
        const std::string locale = selected != nullptr ? selected : "";
        std::setlocale(LC_ALL, "C");
        if (locale.size() < 5 || locale.compare(locale.size() - 5, 5, ".1252") != 0)
            GTEST_SKIP() << "the user's locale " << locale << " does not use code page 1252";
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, 0);
        std::string ansi = expected;
        ansi.replace(ansi.find(shown), shown.size(),
                     "Zo\xEB:\\Donn\xE9"
                     "es\\?");
        EXPECT_EQ(maskWalkTime(r.out), ansi);
        expectUnchanged("locale", img);
        return;
    }

    RunResult r = s.run({arg}, "", {{"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskWalkTime(r.out), expected);

    // The "C" locale shows characters up to U+00FF as the byte of the same
    // number, as the Windows run-time's "C" locale does.
    r = s.run({arg}, "", {{"LC_ALL", "C"}});
    EXPECT_EQ(r.status, 0);
    std::string bytes = expected;
    bytes.replace(bytes.find(shown), shown.size(),
                  "Zo\xEB:\\Donn\xE9"
                  "es\\?");
    EXPECT_EQ(maskWalkTime(r.out), bytes);
    expectUnchanged("locale", img);
}

TEST_F(Report, ByteNamedFileOpensInTheCLocale) {
    // A database name with bytes above 127 is found in the "C" locale: the
    // name goes to wide characters and back unchanged.
    if (plat::isWindows()) GTEST_SKIP() << "the Windows run-time's C locale is the one imitated here";
    const Bytes img = small(JournalInfo()).image();
    const std::string arg = s.put("caf\xC3\xA9", img);
    RunResult r = s.run({arg}, "", {{"LC_ALL", "C"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskWalkTime(r.out),
              countedRunText(date, s.path("caf\xC3\xA9"), arg, CtrlRec::fromBytes(img.data()), 3, img.size()));
    expectUnchanged("caf\xC3\xA9", img);
}
