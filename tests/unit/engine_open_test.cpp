// Opening and closing databases made byte for byte by the test writer:
// what open accepts, what it refuses, and what it leaves in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "dbreader.h"
#include "dbwriter.h"
#include "jbbtreev.h"
#include "platform.h"
#include "treecheck.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        static int n = 0;
        path_ =
            fs::temp_directory_path() / ("jbb_open_" + std::to_string(plat::processId()) + "_" + std::to_string(n++) +
                                         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::vector<Entry> makeEntries(size_t n, const char16_t* prefix = u"C:\\data\\file") {
    std::vector<Entry> v;
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        e.key = std::u16string(prefix) + utf8ToUtf16(std::to_string(100000 + i));
        e.rec.action = 1 + (uint32_t)(i % 6);
        e.rec.inserted = 1600000000 + (int64_t)i;
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

Bytes fileBytes(const std::string& path) {
    Bytes b;
    EXPECT_TRUE(readFile(path, &b));
    return b;
}

// Collects what a walk visits.
class Collector : public bTree {
public:
    explicit Collector(uint16_t dataLen = 32) : bTree(dataLen, 0) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override {
        keys.emplace_back(key);
        datas.emplace_back(data, data + dataSize);
        return stopAt != 0 && keys.size() == stopAt ? 7 : 0;
    }
    std::vector<std::u16string> keys;
    std::vector<Bytes> datas;
    size_t stopAt = 0;
};

// Closes `t` with its writes, then checks the file's structure and that a
// fresh handle walks exactly `expected` (in any order given).
void expectClosedWith(Collector& t, const std::string& path, std::vector<std::u16string> expected) {
    int rc = -1;
    t.closeBtDb(&rc, 0);
    ASSERT_EQ(0, rc);
    EXPECT_EQ("", joinProblems(checkTreeFile(path, kDbClosed, nullptr)));
    Collector again;
    ASSERT_EQ(0, again.openBtDb(path.c_str(), 0));
    ASSERT_EQ(0, again.WalkTree());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, again.keys);
    again.closeBtDb(nullptr, 1);
}

}  // namespace

TEST(EngineOpen, RefusesWhatItMustNotTouch) {
    TempDir dir;
    struct Case {
        const char* name;
        void (*damage)(DbFile&);
        int rc;
        int err;
    };
    const Case cases[] = {
        {"opened", [](DbFile& db) { db.ctrl.state = kDbOpened; }, btErrNotClosed, btErrNotClosed},
        {"corrupt", [](DbFile& db) { db.ctrl.state = kDbCorrupt; }, btErrCorrupt, btErrCorrupt},
        {"magic", [](DbFile& db) { db.ctrl.magic = 0xCDAB; }, btErrBadCtrlRec, btErrBadCtrlRec},
        {"ixcount", [](DbFile& db) { db.ctrl.currentIXCount = db.ctrl.indexArraySize + 1; }, btErrCorrupt,
         btErrCorrupt},
        // A root subscript outside those in use cannot be fetched.
        {"root", [](DbFile& db) { db.ctrl.rootOffset = db.ctrl.currentIXCount; }, btErrOpen, btErrInvalid},
        {"root-beyond-array", [](DbFile& db) { db.ctrl.rootOffset = 0xFFFFFFF0u; }, btErrOpen, btErrInvalid},
        {"root-zero", [](DbFile& db) { db.ctrl.rootOffset = 0; }, btErrOpen, btErrShortTransfer},
        {"hugearray", [](DbFile& db) { db.ctrl.indexArraySize = 0xFFFFFF00u; }, btErrCorrupt, btErrCorrupt},
        {"countersempty",
         [](DbFile& db) {
             db.ctrl.indexArraySize = 0;
             db.ctrl.currentIXCount = 0;
         },
         btErrCorrupt, btErrCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbFile db = buildTree(makeEntries(40), JournalInfo{});
        c.damage(db);
        std::string path = dir.file(std::string(c.name) + ".jbbdb");
        ASSERT_TRUE(writeFile(path, db.image()));
        Bytes before = fileBytes(path);
        Collector t;
        EXPECT_EQ(c.rc, t.openBtDb(path.c_str(), 0));
        EXPECT_EQ(c.err, t.dbGetLastError());
        EXPECT_EQ(before, fileBytes(path));
        t.closeBtDb(nullptr, 1);
        EXPECT_EQ(before, fileBytes(path)) << "a failed open leaves nothing to close";
    }
}

// Fields that only the writing side uses, and an index array reserved far
// ahead of the slots, do not keep a file from being read, and a delete in
// such a file keeps every other entry.
TEST(EngineOpen, ReadsRecordsWithOddLastSlotFieldsAndReservedIndexEntries) {
    TempDir dir;
    struct Case {
        const char* name;
        void (*damage)(DbFile&);
    };
    const Case cases[] = {
        {"lastindex-zero", [](DbFile& db) { db.ctrl.lastIndex = 0; }},
        {"lastindex-unused",
         [](DbFile& db) {
             db.ctrl.indexArraySize += 500;
             db.ctrl.lastIndex = db.ctrl.currentIXCount + 50;
         }},
        {"lastindex-beyond-array", [](DbFile& db) { db.ctrl.lastIndex = 0xFFFFFFF0u; }},
        {"lastndrec-zero", [](DbFile& db) { db.ctrl.lastNDRec = 0; }},
        {"reserved", [](DbFile& db) { db.ctrl.indexArraySize = 100000; }},
    };
    const std::vector<Entry> entries = makeEntries(300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbFile db = buildTree(entries, JournalInfo{});
        c.damage(db);
        std::string path = dir.file(std::string(c.name) + ".jbbdb");
        ASSERT_TRUE(writeFile(path, db.image()));
        Collector t;
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        ASSERT_EQ(0, t.WalkTree());
        EXPECT_EQ(entries.size(), t.keys.size());
        std::vector<std::u16string> expected;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i % 3 == 0)
                ASSERT_EQ(0, t.Delete(entries[i].key.c_str()));
            else
                expected.push_back(entries[i].key);
        }
        expectClosedWith(t, path, expected);
    }
}

// A record that names a node in the middle of the file as the last one
// (its slot, or only its subscript): nodes that grow there must not spread
// over their neighbours, also when new nodes are placed behind the last.
TEST(EngineOpen, ARecordNamingAnotherLastNodeDoesNotLetNodesOverlap) {
    TempDir dir;
    const std::vector<Entry> entries = makeEntries(300);
    for (bool slotToo : {true, false}) {
        SCOPED_TRACE(slotToo ? "lastNDRec and lastIndex" : "lastIndex");
        TreeOptions opts;
        opts.shuffleSlots = false;
        DbFile db = buildTree(entries, JournalInfo{}, opts);
        size_t leaf = 0;
        while (!db.slots[leaf].node.isLeaf() || db.slots[leaf].node.datums.size() >= 10) ++leaf;
        ASSERT_LT(leaf + 1, db.slots.size());
        if (slotToo) db.ctrl.lastNDRec = (int64_t)db.slotOffset(leaf);
        db.ctrl.lastIndex = db.slots[leaf].node.subscript;
        std::string path = dir.file(slotToo ? "lastslot.jbbdb" : "lastindex.jbbdb");
        ASSERT_TRUE(writeFile(path, db.image()));
        std::vector<std::u16string> expected;
        for (const Entry& e : entries) expected.push_back(e.key);
        Collector t;
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        // A long key next to the first one of that leaf makes it grow; more
        // keys everywhere split nodes, whose new halves go to the end.
        const uint8_t data[32] = {1};
        std::u16string key = db.slots[leaf].node.datums.front().key + std::u16string(400, u'x');
        ASSERT_EQ(0, t.Insert(key.c_str(), data));
        expected.push_back(key);
        for (size_t i = 1; i < entries.size(); i += 4) {
            std::u16string more = entries[i].key + u"+";
            ASSERT_EQ(0, t.Insert(more.c_str(), data));
            expected.push_back(more);
        }
        expectClosedWith(t, path, expected);
    }
}

TEST(EngineOpen, DamagedSlotsMarkTheFileCorrupt) {
    TempDir dir;
    struct Case {
        const char* name;
        void (*damage)(DbFile&, size_t at);
    };
    const Case cases[] = {
        {"magic", [](DbFile& db, size_t at) { db.slots[at].node.magic = 0x1234; }},
        {"subscript", [](DbFile& db, size_t at) { db.slots[at].node.subscript = db.ctrl.currentIXCount + 7; }},
        {"zero-subscript", [](DbFile& db, size_t at) { db.slots[at + 1].node.subscript = 0; }},
        {"slotlength", [](DbFile& db, size_t at) { db.slots[at].node.slotLength = 0; }},
        {"node-past-end", [](DbFile& db, size_t) { db.slots.back().node.nodeSize = 1u << 18; }},
        {"nodesize-small", [](DbFile& db, size_t at) { db.slots[at].node.nodeSize = 40; }},
        {"duplicate", [](DbFile& db, size_t at) { db.slots[at + 1].node.subscript = db.slots[at].node.subscript; }},
    };
    // A small file, and one that open scans through several windows, with
    // the damage deep inside it where the scan looks ahead of itself.
    for (size_t entries : {60u, 12000u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(entries));
            TreeOptions opts;
            opts.shuffleSlots = false;
            DbFile db = buildTree(makeEntries(entries), JournalInfo{}, opts);
            ASSERT_GE(db.slots.size(), 3u);
            const size_t at = entries < 100 ? 1 : db.slots.size() * 3 / 4;
            c.damage(db, at);
            std::string path = dir.file(std::string(c.name) + std::to_string(entries) + ".jbbdb");
            Bytes image = db.image();
            if (entries > 100) {
                ASSERT_GT(image.size(), 3u << 18);  // several of its windows
            }
            ASSERT_TRUE(writeFile(path, image));
            Collector t;
            EXPECT_EQ(btErrCorrupt, t.openBtDb(path.c_str(), 0));
            Bytes after = fileBytes(path);
            EXPECT_EQ(kDbCorrupt, getU32(after.data() + 4));
            Collector again;
            EXPECT_EQ(btErrCorrupt, again.openBtDb(path.c_str(), 0)) << "stays refused";
        }
    }
}

TEST(EngineOpen, EmptyAndMissingFiles) {
    TempDir dir;
    // A file that is only a control record is an empty tree; closing
    // without a flush leaves it as it was, with a flush the root is written.
    for (int noFlush : {1, 0}) {
        SCOPED_TRACE(noFlush);
        std::string path = dir.file("empty" + std::to_string(noFlush) + ".jbbdb");
        CtrlRec cr;
        ASSERT_TRUE(writeFile(path, cr.bytes()));
        Collector t;
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        EXPECT_EQ(2088, t.dbSize());
        EXPECT_EQ(0, t.WalkTree());
        EXPECT_TRUE(t.keys.empty());
        t.closeBtDb(nullptr, noFlush);
        DbContents c = readDbFile(path);
        EXPECT_EQ(kDbClosed, c.ctrl.state);
        EXPECT_EQ(2160u, c.fileSize) << "the walk's flush writes the new root";
        EXPECT_TRUE(c.ok) << c.error;
        EXPECT_EQ(0, t.dbSize()) << "no name after close";
    }
    // A missing file is created by default, refused in open-existing mode.
    std::string missing = dir.file("missing.jbbdb");
    {
        Collector t;
        t.setOpenExistingOnly(true);
        EXPECT_EQ(btErrOpen, t.openBtDb(missing.c_str(), 0));
        EXPECT_EQ(ENOENT, t.dbGetLastError());
        EXPECT_FALSE(fs::exists(missing));
    }
    {
        Collector t;
        ASSERT_EQ(0, t.openBtDb(missing.c_str(), 0));
        EXPECT_EQ(2088, t.dbSize());
        const ctrlRec& cr = t.controlRecord();
        EXPECT_EQ(dbOpened, cr.dbState);
        EXPECT_EQ(1u, cr.rootOffset);
        EXPECT_EQ(500u, cr.indexArraySize);
        EXPECT_EQ(2u, cr.currentIXCount);
        t.closeBtDb(nullptr, 0);
        EXPECT_EQ(2160u, fs::file_size(missing));
    }
}

TEST(EngineOpen, FormatChangeResetsOnlyWhenAllowed) {
    TempDir dir;
    DbFile db = buildTree(makeEntries(30), JournalInfo{});
    db.ctrl.versMin = 1;
    std::string path = dir.file("old.jbbdb");
    ASSERT_TRUE(writeFile(path, db.image()));
    Bytes before = fileBytes(path);
    {
        Collector t;
        t.setOpenExistingOnly(true);
        EXPECT_EQ(btErrFormatChanged, t.openBtDb(path.c_str(), 0));
        EXPECT_EQ(before, fileBytes(path));
    }
    {
        Collector t(16);  // another data length also counts as a format change
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        EXPECT_EQ(btErrFormatChanged, t.dbGetLastError());
        t.closeBtDb(nullptr, 1);
        DbContents c = readDbFile(path);
        EXPECT_EQ(16, c.ctrl.dataLen);
        EXPECT_EQ(2u, c.ctrl.versMin);
        EXPECT_EQ(0u, c.ctrl.journal().type) << "the application area is zeroed";
    }
}

TEST(EngineOpen, CloseMarksClosedAndKeepsEntries) {
    TempDir dir;
    TreeOptions opts;
    opts.freeSlots = 5;
    opts.slackEvery = 3;
    std::vector<Entry> entries = makeEntries(700);
    DbFile db = buildTree(entries, JournalInfo{}, opts);
    std::string path = dir.file("j.jbbdb");
    ASSERT_TRUE(writeFile(path, db.image()));
    Bytes before = fileBytes(path);
    Collector t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    EXPECT_EQ(dbOpened, readDbFile(path).ctrl.state);
    ASSERT_EQ(0, t.WalkTree());
    t.closeBtDb(nullptr, 1);
    Bytes after = fileBytes(path);
    ASSERT_EQ(before.size(), after.size());
    after[4] = before[4];  // only the state may differ, and it is closed again
    EXPECT_EQ(before, after);
    EXPECT_EQ(entries.size(), t.keys.size());
}
