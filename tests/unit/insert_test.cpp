// Insert: adding and replacing entries, the splits that grow the tree, the
// keys it refuses, and the files it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "jbbtreev.h"
#include "kvmem.h"
#include "close_check.h"
#include "treecheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

using KeyData = std::pair<std::u16string, Bytes>;

class Tree : public bTree {
public:
    Tree() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override {
        seen.emplace_back(key, Bytes(data, data + 32));
        return 0;
    }
    std::vector<KeyData> walk() {
        seen.clear();
        EXPECT_EQ(0, WalkTree());
        return seen;
    }
    Bytes find(const std::u16string& key) {
        uint8_t* d = Search(key.c_str());
        return d == nullptr ? Bytes{} : Bytes(d, d + 32);
    }
    std::vector<KeyData> seen;
};

Bytes dataFor(uint64_t n) {
    JournalRec r;
    r.action = static_cast<uint32_t>(1 + n % 7);
    r.inserted = static_cast<int64_t>(1600000000 + n);
    r.objectTime = static_cast<int64_t>(n * 3);
    r.opaque[0] = static_cast<uint8_t>(n);
    r.opaque[7] = static_cast<uint8_t>(n >> 8);
    return r.bytes();
}

std::u16string keyFor(int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "C:\\Data\\k%05d", n);
    return utf8ToUtf16(buf);
}

class InsertTest : public ::testing::Test {
protected:
    // Whatever an insertion did, the handle's memory all went with it.
    void SetUp() override { blocksBefore = kvBlocksInUse(); }
    void TearDown() override { EXPECT_EQ(blocksBefore, kvBlocksInUse()) << "tracked blocks left behind"; }
    int64_t blocksBefore = 0;
    void create(Tree& t) { ASSERT_EQ(0, t.openBtDb(path.c_str(), 1)); }
    void close(Tree& t, TreeShape* shape = nullptr) { closeAndCheck(t, path, shape); }
    void reopen(Tree& t, TreeShape* shape = nullptr) {
        close(t, shape);
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    }
    // The control record as it is on disk right now.
    CtrlRec ctrlOnDisk() {
        Bytes img;
        EXPECT_TRUE(readFile(path, &img));
        return img.size() >= kCtrlRecSize ? CtrlRec::fromBytes(img.data()) : CtrlRec{};
    }

    TempDir dir;
    std::string path = dir.file("insert.jbbdb");
};

}  // namespace

TEST_F(InsertTest, AnInsertionWithoutASplitLeavesAFullIndexArrayAsItIs) {
    // A root leaf of three entries at subscript 499: the index array of 500
    // entries has none to spare.
    DbFile db = buildTree(journalEntries(3, 4), JournalInfo());
    ASSERT_EQ(1u, db.slots.size());
    db.slots[0].node.subscript = 499;
    db.ctrl.rootOffset = 499;
    db.updateCounters();
    ASSERT_EQ(db.ctrl.currentIXCount, db.ctrl.indexArraySize);
    ASSERT_TRUE(writeFile(path, db.image()));
    Tree t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    ASSERT_EQ(0, t.Insert(keyFor(1).c_str(), dataFor(1).data()));
    EXPECT_EQ(db.ctrl.indexArraySize, t.controlRecord().indexArraySize);
    close(t);
    EXPECT_EQ(db.ctrl.indexArraySize, ctrlOnDisk().indexArraySize);
}

TEST_F(InsertTest, AddsAnEntryAndReplacesItsData) {
    Tree t;
    create(t);
    EXPECT_EQ(0, t.Insert(u"C:\\a.txt", dataFor(1).data()));
    EXPECT_EQ(0, t.Insert(u"C:\\b.txt", dataFor(2).data()));
    EXPECT_EQ(dataFor(1), t.find(u"C:\\a.txt"));
    EXPECT_EQ(1, t.Insert(u"C:\\a.txt", dataFor(9).data()));
    EXPECT_EQ(0, t.dbGetLastError());
    EXPECT_EQ(dataFor(9), t.find(u"C:\\a.txt"));
    TreeShape shape;
    reopen(t, &shape);
    EXPECT_EQ(2u, shape.entries);
    EXPECT_EQ((std::vector<KeyData>{{u"C:\\a.txt", dataFor(9)}, {u"C:\\b.txt", dataFor(2)}}), t.walk());
    // A replacement in a node read back from disk.
    EXPECT_EQ(1, t.Insert(u"C:\\b.txt", dataFor(5).data()));
    reopen(t);
    EXPECT_EQ(dataFor(5), t.find(u"C:\\b.txt"));
    close(t);
}

TEST_F(InsertTest, RefusesKeysItCannotStoreAndChangesNothing) {
    Tree t;
    create(t);
    ASSERT_EQ(0, t.Insert(u"C:\\kept", dataFor(1).data()));
    EXPECT_EQ(-1, t.Insert(u"", dataFor(2).data()));
    EXPECT_EQ(22, t.dbGetLastError());
    EXPECT_EQ(-1, t.Insert(nullptr, dataFor(2).data()));
    EXPECT_EQ(22, t.dbGetLastError());
    EXPECT_EQ(-1, t.Insert(u"C:\\nodata", nullptr));
    EXPECT_EQ(22, t.dbGetLastError());
    // 4 + key bytes with the terminator + 32 data bytes: 16365 units make a
    // datum of 32768 bytes, one too many; 16364 make 32766.
    std::u16string tooLong(16365, u'x');
    EXPECT_EQ(-1, t.Insert(tooLong.c_str(), dataFor(3).data()));
    EXPECT_EQ(22, t.dbGetLastError());
    std::u16string longest(16364, u'y');
    EXPECT_EQ(0, t.Insert(longest.c_str(), dataFor(4).data()));
    TreeShape shape;
    reopen(t, &shape);
    EXPECT_EQ(2u, shape.entries);
    EXPECT_EQ((std::vector<KeyData>{{u"C:\\kept", dataFor(1)}, {longest, dataFor(4)}}), t.walk());
    close(t);
    EXPECT_EQ(-1, t.Insert(u"C:\\closed", dataFor(5).data()));
    EXPECT_EQ(22, t.dbGetLastError());
}

TEST_F(InsertTest, EleventhKeySplitsTheRootAroundItsMedian) {
    Tree t;
    create(t);
    std::vector<int> order = {7, 2, 9, 0, 4, 1, 8, 3, 6, 5};
    for (int n : order) ASSERT_EQ(0, t.Insert(keyFor(n).c_str(), dataFor(n).data()));
    TreeShape shape;
    reopen(t, &shape);
    EXPECT_EQ(1, shape.height);
    EXPECT_EQ(10u, shape.rootCount);
    uint32_t oldRoot = shape.root;

    ASSERT_EQ(0, t.Insert(keyFor(10).c_str(), dataFor(10).data()));
    // The new root is recorded at once, not only at close.
    uint32_t newRoot = t.controlRecord().rootOffset;
    EXPECT_NE(oldRoot, newRoot);
    EXPECT_EQ(newRoot, ctrlOnDisk().rootOffset);
    close(t, &shape);
    EXPECT_EQ(2, shape.height);
    EXPECT_EQ(newRoot, shape.root);
    ASSERT_EQ(2u, shape.levels.size());
    EXPECT_EQ(std::vector<std::vector<std::u16string>>{{keyFor(5)}}, shape.levels[0]);
    EXPECT_EQ((std::vector<std::vector<std::u16string>>{{keyFor(0), keyFor(1), keyFor(2), keyFor(3), keyFor(4)},
                                                        {keyFor(6), keyFor(7), keyFor(8), keyFor(9), keyFor(10)}}),
              shape.levels[1]);
}

TEST_F(InsertTest, MedianGoesUpWhereverTheNewKeyFalls) {
    // The new key lands left of, at, and right of the median position.
    for (int newKey : {0, 5, 10}) {
        SCOPED_TRACE(newKey);
        Tree t;
        create(t);
        for (int n = 0; n <= 10; ++n) {
            if (n == newKey) continue;
            ASSERT_EQ(0, t.Insert(keyFor(n).c_str(), dataFor(n).data()));
        }
        ASSERT_EQ(0, t.Insert(keyFor(newKey).c_str(), dataFor(newKey).data()));
        TreeShape shape;
        close(t, &shape);
        ASSERT_EQ(2u, shape.levels.size());
        EXPECT_EQ(std::vector<std::vector<std::u16string>>{{keyFor(5)}}, shape.levels[0]);
        ASSERT_EQ(2u, shape.levels[1].size());
        EXPECT_EQ(keyFor(0), shape.levels[1][0].front());
        EXPECT_EQ(keyFor(10), shape.levels[1][1].back());
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        std::vector<KeyData> all = t.walk();
        ASSERT_EQ(11u, all.size());
        for (int n = 0; n <= 10; ++n) EXPECT_EQ(dataFor(n), all[n].second);
        close(t);
    }
}

TEST_F(InsertTest, BuildsABalancedTreeInAnyOrder) {
    const int n = 3000;
    for (const char* how : {"ascending", "descending", "random"}) {
        SCOPED_TRACE(how);
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i) order[i] = i;
        if (how[0] == 'd') std::reverse(order.begin(), order.end());
        if (how[0] == 'r') std::shuffle(order.begin(), order.end(), std::mt19937(7));
        const int64_t before = kvBlocksInUse();
        {
            Tree t;
            create(t);
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(0, t.Insert(keyFor(order[i]).c_str(), dataFor(order[i]).data())) << i;
                if (i == n / 2) reopen(t);
            }
            // Every insertion handed back the nodes it held, the new ones of
            // each split too: a walk frees every node but the root.
            EXPECT_EQ(size_t(n), t.walk().size());
            EXPECT_EQ(1u, t.nodesInMemory());
            TreeShape shape;
            reopen(t, &shape);
            EXPECT_EQ(uint64_t(n), shape.entries);
            EXPECT_GE(shape.height, 3);
            std::vector<KeyData> all = t.walk();
            ASSERT_EQ(size_t(n), all.size());
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(keyFor(i), all[i].first);
                EXPECT_EQ(dataFor(i), all[i].second);
            }
            EXPECT_EQ(dataFor(1234), t.find(keyFor(1234)));
            close(t);
        }
        EXPECT_EQ(before, kvBlocksInUse()) << "the splits left memory behind";
    }
}

TEST_F(InsertTest, LongKeysGrowNodesPastSeveralExtensionsAndMoveThem) {
    // Datums of up to 32 KiB: a node of ten such datums needs many growth
    // steps, and nodes outgrow their slots and move on every flush.
    std::mt19937 rng(11);
    std::vector<std::u16string> keys;
    for (int i = 0; i < 80; ++i) {
        size_t len = 1000 + rng() % 15000;
        std::u16string k = keyFor(i) + u"\\";
        k.append(len, static_cast<char16_t>(u'a' + i % 26));
        keys.push_back(k);
    }
    Tree t;
    create(t);
    for (size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(0, t.Insert(keys[i].c_str(), dataFor(i).data()));
        if (i % 17 == 16) reopen(t);
    }
    TreeShape shape;
    reopen(t, &shape);
    EXPECT_EQ(keys.size(), shape.entries);
    EXPECT_GT(shape.freeSlots, 0u);  // some node moved out of its slot
    std::vector<KeyData> all = t.walk();
    ASSERT_EQ(keys.size(), all.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i], all[i].first);
        EXPECT_EQ(dataFor(i), all[i].second);
    }
    close(t);
}

TEST_F(InsertTest, NodeMovingIntoAFreeLastSlotBecomesTheLastNode) {
    // A root leaf in the first slot, exactly its size, and a large free
    // slot at the end of the file.  The grown root moves into that slot on
    // close, and the control record must then name it as the last node.
    DbFile db;
    Node root;
    root.subscript = 1;
    for (int i = 0; i < 3; ++i) {
        Datum d;
        d.key = keyFor(i * 2);
        d.data = dataFor(i * 2);
        root.datums.push_back(d);
    }
    db.slots.push_back(Slot::used(root));
    db.slots.push_back(Slot::freshFree(2, 4000));
    db.updateCounters();
    ASSERT_TRUE(writeFile(path, db.image()));
    ASSERT_TRUE(checkTreeFile(path).empty()) << joinProblems(checkTreeFile(path));

    Tree t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    ASSERT_EQ(0, t.Insert(keyFor(3).c_str(), dataFor(3).data()));
    TreeShape shape;
    close(t, &shape);
    Bytes img;
    ASSERT_TRUE(readFile(path, &img));
    CtrlRec c = CtrlRec::fromBytes(img.data());
    EXPECT_EQ(1u, c.lastIndex);
    EXPECT_EQ(int64_t(2088 + root.imageSize()), c.lastNDRec);
    EXPECT_EQ(1u, shape.freeSlots);

    // It keeps growing in place as the last node.
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    for (int i = 100; i < 108; ++i) ASSERT_EQ(0, t.Insert(keyFor(i).c_str(), dataFor(i).data()));
    close(t, &shape);
    EXPECT_EQ(12u, shape.entries);
}
