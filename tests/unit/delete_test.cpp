// Delete: removing from leaves and internal nodes, every way an underfull
// node is repaired (borrowing from either side, merging, the root giving
// way), and trees whose branches lead nowhere.  Trees of an exact shape are
// written byte for byte; every file is checked after the handle closes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "jbbtreev.h"
#include "kvmem.h"
#include "close_check.h"
#include "file_limit.h"
#include "treecheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

using Level = std::vector<std::vector<std::u16string>>;

class Tree : public bTree {
public:
    Tree() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t*) override {
        seen.emplace_back(key);
        return 0;
    }
    Bytes find(const std::u16string& key) {
        uint8_t* d = Search(key.c_str());
        return d == nullptr ? Bytes{} : Bytes(d, d + 32);
    }
    std::vector<std::u16string> seen;
};

std::u16string key(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "D:\\k%03d", n);
    return utf8ToUtf16(buf);
}

Bytes dataFor(int n) {
    JournalRec r;
    r.inserted = 1700000000 + n;
    r.opaque[3] = static_cast<uint8_t>(n);
    return r.bytes();
}

// A tree shape: a node's datum count and, for an internal node, the shapes
// of its count + 1 children.
struct Shape {
    int count;
    std::vector<Shape> kids;
};

Shape leaf(int count) { return Shape{count, {}}; }
Shape node(std::vector<Shape> kids) {
    int count = static_cast<int>(kids.size()) - 1;
    return Shape{count, std::move(kids)};
}

// Writes a closed database of the given shape, keys key(0), key(1), ... in
// key order, data dataFor(n) under key(n); subscripts in pre-order from 1,
// slots in the same order, every slot but the last with `slack` bytes
// behind its node.
DbFile buildShape(const Shape& rootShape, int* entries = nullptr, uint64_t slack = 0) {
    DbFile db;
    int nextKey = 0;
    uint32_t nextSub = 1;
    std::function<uint32_t(const Shape&)> build = [&](const Shape& s) -> uint32_t {
        uint32_t sub = nextSub++;
        size_t slotIndex = db.slots.size();
        db.slots.push_back(Slot{});
        Node n;
        n.subscript = sub;
        for (int i = 0; i <= s.count; ++i) {
            if (!s.kids.empty()) n.branch[i] = build(s.kids[i]);
            if (i == s.count) break;
            Datum d;
            d.key = key(nextKey);
            d.data = dataFor(nextKey);
            ++nextKey;
            n.datums.push_back(d);
        }
        db.slots[slotIndex] = Slot::used(n, slack);
        return sub;
    };
    db.ctrl.rootOffset = build(rootShape);
    db.slots.back().length = 0;
    db.updateCounters();
    if (entries != nullptr) *entries = nextKey;
    return db;
}

// A leaf's keys key(from) .. key(from + n - 1).
std::vector<std::u16string> keys(int from, int n) {
    std::vector<std::u16string> v;
    for (int i = 0; i < n; ++i) v.push_back(key(from + i));
    return v;
}

class DeleteTest : public ::testing::Test {
protected:
    // Whatever a delete did, the handle's memory all went with it.
    void SetUp() override { blocksBefore = kvBlocksInUse(); }
    void TearDown() override { EXPECT_EQ(blocksBefore, kvBlocksInUse()) << "tracked blocks left behind"; }
    int64_t blocksBefore = 0;
    void open(Tree& t, const DbFile& db) {
        ASSERT_TRUE(writeFile(path, db.image()));
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    }
    // Closes the handle and checks the file; `shape` gets what was found.
    void close(Tree& t, TreeShape* shape = nullptr) { closeAndCheck(t, path, shape); }
    // Every key of 0..n-1 but the removed ones, in order.
    std::vector<std::u16string> allBut(int n, std::vector<int> removed) {
        std::vector<std::u16string> v;
        for (int i = 0; i < n; ++i)
            if (std::find(removed.begin(), removed.end(), i) == removed.end()) v.push_back(key(i));
        return v;
    }
    // The entries in order.  Whatever a delete repaired, the walk after it
    // leaves no node in memory but the root.
    std::vector<std::u16string> walk(Tree& t) {
        t.seen.clear();
        EXPECT_EQ(0, t.WalkTree());
        EXPECT_EQ(1u, t.nodesInMemory());
        return t.seen;
    }

    TempDir dir;
    std::string path = dir.file("delete.jbbdb");
};

}  // namespace

TEST_F(DeleteTest, MissingKeyChangesNothing) {
    for (const Shape& s : {leaf(0), leaf(3), node({leaf(5), leaf(5)})}) {
        SCOPED_TRACE(s.count);
        DbFile db = buildShape(s);
        Tree t;
        open(t, db);
        EXPECT_EQ(1, t.Delete(u"D:\\absent"));
        EXPECT_EQ(0, t.dbGetLastError());
        EXPECT_EQ(1, t.Delete(u"A"));  // before every key
        close(t);
        Bytes img;
        ASSERT_TRUE(readFile(path, &img));
        EXPECT_EQ(db.image(), img);
    }
}

TEST_F(DeleteTest, LastKeyOfTheTreeLeavesAnEmptyDatabase) {
    Tree t;
    open(t, buildShape(leaf(1)));
    EXPECT_EQ(0, t.Delete(key(0).c_str()));
    EXPECT_EQ(0, t.dbGetLastError());
    EXPECT_TRUE(walk(t).empty());
    // The empty tree takes new entries.
    ASSERT_EQ(0, t.Insert(key(7).c_str(), dataFor(7).data()));
    ASSERT_EQ(0, t.Delete(key(7).c_str()));
    TreeShape shape;
    close(t, &shape);
    Bytes img;
    ASSERT_TRUE(readFile(path, &img));
    EXPECT_EQ(2160u, img.size());
    EXPECT_EQ(0u, shape.entries);
    EXPECT_EQ(1, shape.height);
}

TEST_F(DeleteTest, LeafThatKeepsFiveChangesAlone) {
    Tree t;
    open(t, buildShape(node({leaf(6), leaf(5)})));
    EXPECT_EQ(0, t.Delete(key(2).c_str()));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ((Level{{key(6)}}), shape.levels[0]);
    EXPECT_EQ((Level{{key(0), key(1), key(3), key(4), key(5)}, keys(7, 5)}), shape.levels[1]);
}

TEST_F(DeleteTest, UnderfullLeafBorrowsFromItsLeftSibling) {
    // Leaves of 7 and 5 around key(7): the right one drops to 4 and takes
    // the separator, whose place the left one's last key takes.
    Tree t;
    open(t, buildShape(node({leaf(7), leaf(5)})));
    EXPECT_EQ(0, t.Delete(key(10).c_str()));
    EXPECT_EQ(dataFor(6), t.find(key(6)));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ((Level{{key(6)}}), shape.levels[0]);
    EXPECT_EQ((Level{keys(0, 6), {key(7), key(8), key(9), key(11), key(12)}}), shape.levels[1]);
}

TEST_F(DeleteTest, ARepairWhoseWritesTheFileRefusesFails) {
    // A leaf that borrows from its left or its right sibling or merges with
    // one, under a root
    // in the file's last slot, which is written at once: the write fails,
    // and the delete says so.
    struct Case {
        const char* name;
        Shape shape;
        int victim;
    };
    const Case cases[] = {{"borrow-from-the-left", node({leaf(7), leaf(5)}), 10},
                          {"borrow-from-the-right", node({leaf(5), leaf(7)}), 0},
                          {"merge", node({leaf(5), leaf(5), leaf(5)}), 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DbFile db = buildShape(c.shape);
        std::rotate(db.slots.begin(), db.slots.begin() + 1, db.slots.end());
        for (Slot& slot : db.slots) slot.length = 0;
        db.updateCounters();
        Tree t;
        open(t, db);
        {
            FileSizeLimit limit(kCtrlRecSize);
            if (!limit.active()) GTEST_SKIP() << "no file size limit on this platform";
            EXPECT_EQ(-1, t.Delete(key(c.victim).c_str()));
            EXPECT_NE(0, t.dbGetLastError());
        }
        t.closeBtDb(nullptr, 0);
    }
}

TEST_F(DeleteTest, UnderfullLeafMergesWithAMinimalLeftSibling) {
    Tree t;
    open(t, buildShape(node({leaf(5), leaf(5), leaf(5)})));
    EXPECT_EQ(0, t.Delete(key(8).c_str()));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ((Level{{key(11)}}), shape.levels[0]);
    EXPECT_EQ((Level{{key(0), key(1), key(2), key(3), key(4), key(5), key(6), key(7), key(9), key(10)}, keys(12, 5)}),
              shape.levels[1]);
    EXPECT_EQ(3u, shape.nodes);
    EXPECT_EQ(3u, shape.usedSlots);
}

TEST_F(DeleteTest, LeftmostLeafBorrowsFromOrMergesWithItsRightSibling) {
    {
        Tree t;
        open(t, buildShape(node({leaf(5), leaf(7)})));
        EXPECT_EQ(0, t.Delete(key(0).c_str()));
        TreeShape shape;
        close(t, &shape);
        EXPECT_EQ((Level{{key(6)}}), shape.levels[0]);
        EXPECT_EQ((Level{keys(1, 5), keys(7, 6)}), shape.levels[1]);
    }
    {
        Tree t;
        open(t, buildShape(node({leaf(5), leaf(5), leaf(5)})));
        EXPECT_EQ(0, t.Delete(key(0).c_str()));
        TreeShape shape;
        close(t, &shape);
        EXPECT_EQ((Level{{key(11)}}), shape.levels[0]);
        EXPECT_EQ((Level{keys(1, 10), keys(12, 5)}), shape.levels[1]);
    }
}

TEST_F(DeleteTest, InternalKeyIsReplacedByItsSuccessor) {
    Tree t;
    open(t, buildShape(node({leaf(5), leaf(6), leaf(5)})));
    EXPECT_EQ(0, t.Delete(key(5).c_str()));
    EXPECT_TRUE(t.find(key(5)).empty());
    EXPECT_EQ(dataFor(6), t.find(key(6)));  // the successor kept its data
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ((Level{{key(6), key(12)}}), shape.levels[0]);
    EXPECT_EQ((Level{keys(0, 5), keys(7, 5), keys(13, 5)}), shape.levels[1]);
}

TEST_F(DeleteTest, MergeThatEmptiesTheRootMakesTheChildTheRoot) {
    Tree t;
    open(t, buildShape(node({leaf(5), leaf(5)})));
    uint32_t oldRoot = t.controlRecord().rootOffset;
    EXPECT_EQ(0, t.Delete(key(1).c_str()));
    uint32_t newRoot = t.controlRecord().rootOffset;
    EXPECT_NE(oldRoot, newRoot);
    // Recorded in the file at once.
    Bytes img;
    ASSERT_TRUE(readFile(path, &img));
    EXPECT_EQ(newRoot, CtrlRec::fromBytes(img.data()).rootOffset);
    EXPECT_EQ(allBut(11, {1}), walk(t));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ(1, shape.height);
    EXPECT_EQ(newRoot, shape.root);
    EXPECT_EQ(10u, shape.rootCount);
    EXPECT_EQ(1u, shape.usedSlots);
}

TEST_F(DeleteTest, MergesCascadeUpAndTheTreeLosesALevel) {
    // Three levels of minimal nodes: a merge of two leaves leaves their
    // parent with 4, which merges with its sibling, and the root runs empty.
    Shape half = node({leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5)});
    int n = 0;
    DbFile db = buildShape(node({half, half}), &n);
    Tree t;
    open(t, db);
    EXPECT_EQ(0, t.Delete(key(0).c_str()));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ(2, shape.height);
    EXPECT_EQ(10u, shape.rootCount);
    EXPECT_EQ(uint64_t(n - 1), shape.entries);
}

TEST_F(DeleteTest, InternalNodesBorrowWithTheirBranches) {
    // The second-level nodes hold 6 and 5 datums; a merge of leaves below
    // one of them makes it borrow through the root, a child moving along.
    Shape six = node({leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5)});
    Shape five = node({leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5)});
    for (bool fromRight : {true, false}) {
        SCOPED_TRACE(fromRight);
        int n = 0;
        DbFile db = buildShape(fromRight ? node({six, five}) : node({five, six}), &n);
        int victim = fromRight ? n - 1 : 0;
        Tree t;
        open(t, db);
        EXPECT_EQ(0, t.Delete(key(victim).c_str()));
        EXPECT_EQ(allBut(n, {victim}), walk(t));
        TreeShape shape;
        close(t, &shape);
        ASSERT_EQ(3u, shape.levels.size());
        EXPECT_EQ(1u, shape.rootCount);
        ASSERT_EQ(2u, shape.levels[1].size());
        EXPECT_EQ(5u, shape.levels[1][0].size());
        EXPECT_EQ(5u, shape.levels[1][1].size());
    }
}

TEST_F(DeleteTest, SuccessorTwoLevelsDownIsRemovedWithRepairs) {
    Shape half = node({leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5)});
    int n = 0;
    DbFile db = buildShape(node({half, half}), &n);
    int rootKey = 35;  // 6 leaves of 5 and 5 separators come before it
    Tree t;
    open(t, db);
    EXPECT_EQ(0, t.Delete(key(rootKey).c_str()));
    EXPECT_EQ(dataFor(rootKey + 1), t.find(key(rootKey + 1)));
    EXPECT_EQ(allBut(n, {rootKey}), walk(t));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ(uint64_t(n - 1), shape.entries);
}

TEST_F(DeleteTest, BranchesThatLeadNowhereFailWithoutHarm) {
    // A root whose right branch is 0.
    {
        DbFile db = buildShape(node({leaf(5), leaf(5)}));
        db.slots[0].node.branch[1] = 0;
        Tree t;
        open(t, db);
        EXPECT_EQ(-1, t.Delete(key(5).c_str()));  // its successor cannot be found
        EXPECT_EQ(228, t.dbGetLastError());
        EXPECT_EQ(dataFor(5), t.find(key(5)));
        EXPECT_EQ(-1, t.Delete(key(8).c_str()));  // the way down is missing
        EXPECT_EQ(228, t.dbGetLastError());
        t.closeBtDb(nullptr, 0);
    }
    // A root whose last branch names a free slot.
    {
        DbFile db = buildShape(node({leaf(5), leaf(5), leaf(5)}));
        db.slots[3] = Slot::freedNode(db.slots[3].node);
        Tree t;
        open(t, db);
        EXPECT_EQ(-1, t.Delete(key(11).c_str()));  // successor fetch fails
        EXPECT_NE(0, t.dbGetLastError());
        EXPECT_EQ(dataFor(11), t.find(key(11)));
        EXPECT_EQ(-1, t.Delete(key(14).c_str()));
        EXPECT_EQ(0, t.Delete(key(2).c_str()));  // the sound part still works
        t.closeBtDb(nullptr, 0);
    }
    // A leaf's sibling that is the root itself.
    {
        DbFile db = buildShape(node({leaf(5), leaf(5)}));
        db.slots[0].node.branch[1] = 1;
        Tree t;
        open(t, db);
        EXPECT_EQ(-1, t.Delete(key(7).c_str()));
        EXPECT_EQ(228, t.dbGetLastError());
        EXPECT_EQ(-1, t.Delete(key(1).c_str()));  // Restore meets the root as a sibling
        EXPECT_EQ(228, t.dbGetLastError());
        t.closeBtDb(nullptr, 0);
    }
    // A node below the root whose left branch is itself: the repair after
    // a delete from its right child, of its own datum's successor (5) or of
    // a key of that child (7), meets it as its own sibling.
    for (int k : {5, 7}) {
        DbFile db = buildShape(node({node({leaf(5), leaf(5)}), node({leaf(5), leaf(5)})}));
        db.slots[1].node.branch[0] = 2;
        Tree t;
        open(t, db);
        EXPECT_EQ(-1, t.Delete(key(k).c_str())) << k;
        EXPECT_EQ(228, t.dbGetLastError()) << k;
        t.closeBtDb(nullptr, 0);
    }
}

TEST_F(DeleteTest, DeletedLastNodeLeavesTheRestOfItsSlotUnwritten) {
    // The last leaf grows in memory past its slot, which grows with it, and
    // is merged away before it is ever written: only its 24-byte header
    // reaches the file, so the file may end inside that slot.  It still
    // reads back whole, and later nodes go behind the slot.
    int n = 0;
    Tree t;
    open(t, buildShape(node({leaf(5), leaf(5), leaf(5)}), &n, 2000));
    ASSERT_EQ(0, t.Insert((key(16) + u"x").c_str(), dataFor(99).data()));
    ASSERT_EQ(0, t.Delete(key(12).c_str()));
    ASSERT_EQ(0, t.Delete(key(13).c_str()));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ(2u, shape.levels[1].size());
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    EXPECT_EQ(size_t(n - 1), walk(t).size());
    for (int i = 100; i < 130; ++i) ASSERT_EQ(0, t.Insert(key(i).c_str(), dataFor(i).data()));
    close(t);
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    EXPECT_EQ(size_t(n - 1 + 30), walk(t).size());
    close(t);
}

TEST_F(DeleteTest, ANodeIsWrittenAsItStandsAndNothingBehindIt) {
    auto u32 = [](const Bytes& b, size_t at) {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
    };
    {
        // The merge removes the root's first separator: the branch behind
        // its last datum keeps its old value.
        Tree t;
        open(t, buildShape(node({leaf(5), leaf(5), leaf(6)})));
        EXPECT_EQ(0, t.Delete(key(8).c_str()));
        close(t);
        Bytes after;
        ASSERT_TRUE(readFile(path, &after));
        const size_t root = 2088;  // subscript 1, the first slot
        EXPECT_EQ(1u, after[root + 24]);
        EXPECT_EQ(4u, u32(after, root + 28 + 4 * 1));
        EXPECT_EQ(4u, u32(after, root + 28 + 4 * 2)) << "the branch behind the last datum is left as it was";
    }
    {
        // The last leaf, one key shorter, leaves the old bytes at the end of
        // its slot and the file's length as they were.
        DbFile db = buildShape(node({leaf(5), leaf(5), leaf(6)}));
        db.patch(db.image().size() - 1, Bytes{0xEE});  // the last key's last data byte
        Bytes before = db.image();
        Tree t;
        open(t, db);
        EXPECT_EQ(0, t.Delete(key(16).c_str()));
        close(t);
        Bytes after;
        ASSERT_TRUE(readFile(path, &after));
        ASSERT_EQ(before.size(), after.size());
        EXPECT_TRUE(std::equal(before.end() - 40, before.end(), after.end() - 40))
            << "the bytes behind the shrunken last node stay";
    }
}

TEST_F(DeleteTest, AMissRepairsUnderfullNodesUnlessThatWouldHideEntries) {
    // A tree written elsewhere may hold nodes of fewer than five keys.  A
    // delete that misses its key repairs the ones on its way back up, but
    // not with a merge that would leave the root without datums: on a miss
    // the root does not give way, and an empty root hides every entry.
    struct Case {
        const char* name;
        Shape shape;
        std::vector<Level> levels;  // empty: the file stays as it was
    };
    const Case cases[] = {
        {"merge-would-empty-the-root", node({leaf(3), leaf(5)}), {}},
        {"merge-under-a-root-of-two", node({leaf(3), leaf(5), leaf(6)}), {{{key(9)}}, {keys(0, 9), keys(10, 6)}}},
        {"borrow-from-the-right", node({leaf(3), leaf(7)}), {{{key(4)}}, {keys(0, 4), keys(5, 6)}}},
        {"merges-up-to-the-root", node({node({leaf(3), leaf(5)}), node({leaf(7), leaf(7)})}), {}},
        {"merge-then-borrow-above",
         node({node({leaf(3), leaf(5)}), node({leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5), leaf(5)})}),
         {{{key(15)}},
          {{key(9)}, {key(21), key(27), key(33), key(39), key(45)}},
          {keys(0, 9), keys(10, 5), keys(16, 5), keys(22, 5), keys(28, 5), keys(34, 5), keys(40, 5), keys(46, 5)}}},
        {"merge-then-merge-above",
         node({node({leaf(3), leaf(5)}), node({leaf(5), leaf(5)}), node({leaf(5), leaf(5)})}),
         {{{key(21)}},
          {{key(9), key(15)}, {key(27)}},
          {keys(0, 9), keys(10, 5), keys(16, 5), keys(22, 5), keys(28, 5)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int n = 0;
        DbFile db = buildShape(c.shape, &n);
        Tree t;
        open(t, db);
        EXPECT_EQ(1, t.Delete((key(1) + u"x").c_str()));
        EXPECT_EQ(0, t.dbGetLastError());
        EXPECT_EQ(keys(0, n), walk(t));
        for (int i = 0; i < n; i += 3) EXPECT_EQ(dataFor(i), t.find(key(i)));
        int rc = -1;
        t.closeBtDb(&rc, 0);
        ASSERT_EQ(0, rc);
        if (c.levels.empty()) {
            Bytes img;
            ASSERT_TRUE(readFile(path, &img));
            EXPECT_EQ(db.image(), img);
            continue;
        }
        TreeShape shape;
        for (const std::string& p : checkTreeFile(path, kDbClosed, &shape))
            EXPECT_NE(std::string::npos, p.find(" holds only ")) << p;  // underfull nodes may stay
        EXPECT_EQ(c.levels, shape.levels);
        EXPECT_EQ((uint64_t)n, shape.entries);
    }
    // A delete that finds its key repairs as always, the root giving way.
    Tree t;
    open(t, buildShape(node({leaf(3), leaf(5)})));
    EXPECT_EQ(0, t.Delete(key(0).c_str()));
    TreeShape shape;
    close(t, &shape);
    EXPECT_EQ(1, shape.height);
    EXPECT_EQ((Level{keys(1, 8)}), shape.levels[0]);
}

TEST_F(DeleteTest, RefusedWithoutAnOpenDatabase) {
    Tree t;
    EXPECT_EQ(-1, t.Delete(key(0).c_str()));
    EXPECT_EQ(22, t.dbGetLastError());
    open(t, buildShape(leaf(2)));
    EXPECT_EQ(-1, t.Delete(nullptr));
    EXPECT_EQ(22, t.dbGetLastError());
    close(t);
}
