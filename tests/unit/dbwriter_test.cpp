// The test writer of database files and its reader: what the writer lays
// out is the format byte for byte, and the reader gives back what went in.
#include <gtest/gtest.h>

#include <set>

#include "dbreader.h"
#include "dbwriter.h"

using namespace testdb;

namespace {

std::vector<Entry> makeEntries(size_t n) {
    std::vector<Entry> v;
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        e.key = utf8ToUtf16("C:\\Dir" + std::to_string(i % 37) + "\\Fichier-é-" + std::to_string(i));
        e.rec.action = static_cast<uint32_t>(1 + i % 7);
        e.rec.inserted = static_cast<int64_t>(1262304000 + i);
        e.rec.opaque[0] = static_cast<uint8_t>(i);
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

}  // namespace

TEST(DbWriter, ControlRecordLayout) {
    CtrlRec c;
    c.state = kDbOpened;
    c.rootOffset = 7;
    c.lastNDRec = 0x0102030405LL;
    JournalInfo j;
    j.maxSize = 10485760;
    j.setServerNode("SERVER", "NODE1");
    c.setJournal(j);
    Bytes b = c.bytes();
    ASSERT_EQ(b.size(), 2088u);
    EXPECT_EQ(b[0], 0xCD);
    EXPECT_EQ(b[1], 0xAB);
    EXPECT_EQ(b[2], 2);
    EXPECT_EQ(b[3], 2);
    EXPECT_EQ(getU32(&b[4]), 1u);
    EXPECT_EQ(getU32(&b[8]), 7u);
    EXPECT_EQ(getU64(&b[24]), 0x0102030405ULL);
    EXPECT_EQ(getU16(&b[34]), 32u);
    EXPECT_EQ(getU32(&b[36]), 1u);              // journal type
    EXPECT_EQ(getU64(&b[36 + 32]), 10485760u);  // maximum size
    EXPECT_EQ(b[36 + 40], 6);                   // server name length
    EXPECT_EQ(std::string(&b[36 + 41], &b[36 + 53]), std::string("SERVERNODE1\0", 12));
    EXPECT_EQ(getU16(&b[36 + 170]), u'C');
    EXPECT_EQ(getU16(&b[36 + 172]), u':');
    EXPECT_EQ(getU16(&b[36 + 174]), 0u);

    CtrlRec back = CtrlRec::fromBytes(b.data());
    EXPECT_EQ(back.bytes(), b);
    EXPECT_EQ(back.journal().fileSystem, u"C:");
}

TEST(DbWriter, EmptyTreeIsExactly2160Bytes) {
    DbFile db;
    Node root;
    root.subscript = 1;
    db.slots.push_back(Slot::used(root));
    db.updateCounters();
    Bytes img = db.image();
    ASSERT_EQ(img.size(), 2160u);
    const uint8_t* n = &img[2088];
    EXPECT_EQ(getU32(n), 0xABCDu);
    EXPECT_EQ(getU32(n + 4), 72u);
    EXPECT_EQ(getU64(n + 8), 72u);
    EXPECT_EQ(getU32(n + 16), 0u);
    EXPECT_EQ(getU32(n + 20), 1u);
    EXPECT_EQ(getU16(n + 24), 0u);
    EXPECT_EQ(db.ctrl.currentIXCount, 2u);
    EXPECT_EQ(db.ctrl.lastIndex, 1u);
    EXPECT_EQ(db.ctrl.lastNDRec, 2088);
    DbContents r = readDb(img);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(r.height, 1);
}

TEST(DbWriter, DatumAndSlotLayout) {
    Node n;
    n.subscript = 3;
    Datum d;
    d.key = u"ab";
    d.data = JournalRec().bytes();
    d.gap = {0x11, 0x22};
    n.datums.push_back(d);
    Slot s = Slot::used(n, 10);
    Bytes b = s.bytes();
    ASSERT_EQ(b.size(), 72u + 4 + 6 + 2 + 32 + 10);
    EXPECT_EQ(getU32(&b[4]), 72u + 44);  // nodeSize leaves the slack out
    EXPECT_EQ(getU64(&b[8]), b.size());  // slotLength covers it
    EXPECT_EQ(getU16(&b[72]), 44u);      // nkl
    EXPECT_EQ(getU16(&b[74]), 10u);      // data at datum offset 2 + 10 = 12
    EXPECT_EQ(getU16(&b[76]), u'a');
    EXPECT_EQ(getU16(&b[80]), 0u);
    EXPECT_EQ(getU32(&b[72 + 12]), 4u);  // the record's action

    Bytes f = Slot::freshFree(9, 300).bytes();
    ASSERT_EQ(f.size(), 300u);
    EXPECT_EQ(getU32(&f[4]), 300u);
    EXPECT_EQ(getU32(&f[16]), 1u);
    EXPECT_EQ(getU32(&f[20]), 9u);
    Bytes g = Slot::freedNode(n).bytes();
    EXPECT_EQ(getU32(&g[16]), 1u);
    EXPECT_EQ(getU16(&g[76]), u'a');  // the deleted node's datums stay
}

TEST(DbWriter, KeyOrderIsUnsignedCodeUnits) {
    EXPECT_TRUE(keyLess(u"", u"a"));
    EXPECT_TRUE(keyLess(u"ab", u"abc"));
    EXPECT_TRUE(keyLess(u"B", u"a"));
    EXPECT_TRUE(keyLess(u"z", u"\u00e9"));
    EXPECT_TRUE(keyLess(u"\xD83D\xDE00", u"\xFF21"));  // a surrogate unit below U+FF21
}

TEST(DbWriter, BuiltTreesReadBackInKeyOrder) {
    struct Case {
        size_t entries;
        int height;
        size_t freeSlots;
    } cases[] = {{0, 0, 0}, {1, 0, 2}, {10, 0, 0}, {11, 0, 3}, {999, 0, 7}, {1000, 4, 5}, {2500, 0, 20}, {500, 4, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        std::vector<Entry> entries = makeEntries(c.entries);
        TreeOptions o;
        o.seed = c.entries + 5;
        o.height = c.height;
        o.freeSlots = c.freeSlots;
        o.slackEvery = 3;
        o.gapEvery = 5;
        o.spareSubscripts = 2;
        TreeInfo info;
        DbFile db = buildTree(entries, JournalInfo(), o, &info);
        Bytes img = db.image();

        DbContents r = readDb(img);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.height, info.height);
        if (c.height) {
            EXPECT_EQ(info.height, c.height);
        }
        EXPECT_EQ(r.freeSlots, c.freeSlots);
        ASSERT_EQ(r.entries.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            ASSERT_EQ(r.entries[i].first, entries[i].key);
            ASSERT_EQ(r.entries[i].second, entries[i].rec.bytes());
        }

        // Node fill and counters.
        for (size_t l = 1; l < info.levels.size(); ++l)
            for (uint32_t sub : info.levels[l]) {
                size_t n = db.findSlot(sub)->node.datums.size();
                EXPECT_GE(n, 5u);
                EXPECT_LE(n, 10u);
            }
        std::set<uint32_t> subs;
        for (const Slot& s : db.slots) EXPECT_TRUE(subs.insert(s.slotSubscript()).second);
        EXPECT_EQ(db.ctrl.rootOffset, info.root);
        EXPECT_EQ(db.ctrl.currentIXCount, subs.size() + o.spareSubscripts + 1);
        EXPECT_GT(db.ctrl.currentIXCount, *subs.rbegin());
        EXPECT_EQ(db.ctrl.indexArraySize % 500, 0u);
        EXPECT_GE(db.ctrl.indexArraySize, db.ctrl.currentIXCount);
        EXPECT_EQ(db.ctrl.lastIndex, db.slots.back().slotSubscript());
        EXPECT_EQ(static_cast<uint64_t>(db.ctrl.lastNDRec) + db.slots.back().slotLen(), img.size());
    }
}

TEST(DbWriter, ReaderRefusesDamagedTrees) {
    std::vector<Entry> entries = makeEntries(200);
    TreeInfo info;
    DbFile good = buildTree(entries, JournalInfo(), {}, &info);
    ASSERT_GE(info.levels.size(), 3u);
    const uint32_t inner = info.levels[1][0], leaf = info.levels.back()[0];

    DbFile cycle = good;
    cycle.findSlot(inner)->node.branch[0] = info.root;
    EXPECT_FALSE(readDb(cycle.image()).ok);

    DbFile unterminated = good;
    unterminated.findSlot(leaf)->node.datums[0].terminateKey = false;
    EXPECT_FALSE(readDb(unterminated.image()).ok);

    DbFile tooMany = good;
    tooMany.findSlot(leaf)->node.count = 11;
    EXPECT_FALSE(readDb(tooMany.image()).ok);

    DbFile badMagic = good;
    badMagic.findSlot(leaf)->node.magic = 0xCDAB;
    EXPECT_FALSE(readDb(badMagic.image()).ok);

    DbFile shortData = good;
    shortData.ctrl.dataLen = 40;
    EXPECT_FALSE(readDb(shortData.image()).ok);
}
