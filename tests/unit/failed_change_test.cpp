// A handle after a change that failed on a damaged file: a change that
// failed before it touched a node leaves the handle fully usable; one that
// failed part-way makes the handle refuse further changes and close the
// file as dbCorrupt, while searches go on.  No write lands outside the
// file's node slots, whatever a slot length says.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "file_limit.h"
#include "jbbtreev.h"
#include "kvmem.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class Tree : public bTree {
public:
    Tree() : bTree(32, 0) {}
};

// Eleven entries: a root with one datum over two leaves of five, the
// fewest a leaf may hold, so that any delete from a leaf must rebalance.
struct TwoLeaves {
    std::vector<Entry> entries = journalEntries(11, 5);
    TreeInfo info;
    DbFile db;

    TwoLeaves() {
        TreeOptions o;
        o.height = 2;
        db = buildTree(entries, JournalInfo{}, o, &info);
    }
    // Gives the first datum of the right leaf a length past its node: the
    // leaf fails its checks whenever it is read.
    void damageRightLeaf() {
        Slot* s = db.findSlot(info.levels[1][1]);
        ASSERT_NE(nullptr, s);
        s->node.datums[0].nkl = 0xFFFF;
    }
};

uint32_t stateOnDisk(const std::string& path) {
    Bytes img;
    if (!readFile(path, &img) || img.size() < kCtrlRecSize) return 0xFFFFFFFFu;
    return CtrlRec::fromBytes(img.data()).state;
}

}  // namespace

// A handle open on the two-leaf tree whose right leaf is damaged.
class DamagedLeaf : public ::testing::Test {
protected:
    void SetUp() override {
        t2.damageRightLeaf();
        ASSERT_TRUE(writeFile(path, t2.db.image()));
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    }
    const uint8_t* record() const { return rec.data(); }

    TempDir dir;
    const std::string path = dir.file("j.jbbdb");
    TwoLeaves t2;
    Tree t;
    Bytes rec = t2.entries[0].rec.bytes();
};

TEST_F(DamagedLeaf, AChangeThatTouchedNoNodeLeavesTheHandleUsable) {
    // The key lies in the damaged leaf: the descent fails before anything
    // changes.
    EXPECT_EQ(-1, t.Delete(t2.entries[8].key.c_str()));
    EXPECT_EQ(btErrCorrupt, t.dbGetLastError());
    // The handle goes on: a miss, and an insertion into the sound leaf.
    EXPECT_EQ(1, t.Delete(u"A"));
    EXPECT_EQ(0, t.Insert(u"A", record()));
    int rc = -1;
    t.closeBtDb(&rc, 0);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(kDbClosed, stateOnDisk(path));
}

TEST_F(DamagedLeaf, AChangeThatFailedPartWayRefusesChangesAndClosesCorrupt) {
    // Removed from the left leaf, which then must borrow from or merge with
    // the damaged right one: the change fails after it began.
    EXPECT_EQ(-1, t.Delete(t2.entries[1].key.c_str()));
    EXPECT_EQ(btErrCorrupt, t.dbGetLastError());
    // Every later change is refused and touches nothing.
    EXPECT_EQ(-1, t.Delete(t2.entries[2].key.c_str()));
    EXPECT_EQ(btErrCorrupt, t.dbGetLastError());
    EXPECT_EQ(-1, t.Insert(u"A", record()));
    EXPECT_EQ(btErrCorrupt, t.dbGetLastError());
    // Searches still read the nodes in memory.
    EXPECT_NE(nullptr, t.Search(t2.entries[3].key.c_str()));
    t.closeBtDb(nullptr, 0);
    EXPECT_EQ(kDbCorrupt, stateOnDisk(path));

    // The probe now refuses the file.
    std::u16string wide(path.begin(), path.end());
    uint8_t ctrl[kCtrlRecSize];
    EXPECT_EQ(btErrCorrupt, btDbReadCtrlRec(wide.c_str(), ctrl));
}

TEST(FailedChange, NoWriteLandsFarPastTheEndOfTheFile) {
    const int64_t blocksBefore = kvBlocksInUse();
    TempDir dir;
    const std::string path = dir.file("j.jbbdb");
    // One full leaf as the root, in a last slot that claims a terabyte.
    std::vector<Entry> entries = journalEntries(10, 9);
    DbFile db = buildTree(entries, JournalInfo{});
    ASSERT_EQ(1u, db.slots.size());
    db.slots[0].node.slotLength = uint64_t{1} << 40;
    const Bytes image = db.image();
    ASSERT_TRUE(writeFile(path, image));

    {
        Tree t;
        ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
        // The eleventh key splits the root; the new nodes would go behind
        // the last slot.
        EXPECT_EQ(-1, t.Insert(u"A", entries[0].rec.bytes().data()));
        EXPECT_EQ(btErrCorrupt, t.dbGetLastError());
        t.closeBtDb(nullptr, 0);
    }
    Bytes after;
    ASSERT_TRUE(readFile(path, &after));
    EXPECT_LT(after.size(), image.size() + 4096);
    EXPECT_EQ(kDbCorrupt, stateOnDisk(path));
    EXPECT_EQ(blocksBefore, kvBlocksInUse()) << "the failed split left memory behind";
}

TEST(FailedChange, WritesTheFileRefusesAreFailures) {
    TempDir dir;
    const std::string path = dir.file("j.jbbdb");
    TwoLeaves t2;
    ASSERT_TRUE(writeFile(path, t2.db.image()));
    Tree t;
    ASSERT_EQ(0, t.openBtDb(path.c_str(), 0));
    {
        // Room for the control record and none for a node.
        FileSizeLimit limit(kCtrlRecSize);
        if (!limit.active()) GTEST_SKIP() << "no file size limit on this platform";
        // The left leaf merges with the right one and the root runs empty:
        // every node write of the change fails.
        EXPECT_EQ(-1, t.Delete(t2.entries[1].key.c_str()));
        EXPECT_NE(0, t.dbGetLastError());
    }
    {
        FileSizeLimit limit(16);
        EXPECT_EQ(-1, t.WriteCtrlRec());
        EXPECT_NE(0, t.dbGetLastError());
    }
    t.closeBtDb(nullptr, 0);
}
