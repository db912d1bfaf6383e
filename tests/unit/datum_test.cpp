// The datum operations on a node's buffer: the bytes they move, the sizes
// they keep in step (node and index entry), and the buffer growth that
// moves the node.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "jbbtreev.h"
#include "kvmem.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class Tree : public bTree {
public:
    Tree() : bTree(32, 0) {}
    using bTree::dbCalloc;
    using bTree::extendNode;
    using bTree::indexArray;
    using bTree::InsertDatum;
    using bTree::RemoveDatum;
    using bTree::rootP;
};

// An opaque datum of `n` bytes: nkl, dataOffset 6, the one-unit key
// `tag` with its terminator, then `n` - 8 bytes of `tag`.
Bytes datum(size_t n, char16_t tag) {
    Bytes d(n, static_cast<uint8_t>(tag));
    putU16(d, 0, static_cast<uint16_t>(n));
    putU16(d, 2, 6);
    putU16(d, 4, tag);
    putU16(d, 6, 0);
    return d;
}

// The datums of a node as byte strings, in order.
std::vector<Bytes> datums(const diskNode* p) {
    std::vector<Bytes> v;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(&p->nodeData) + 72;
    for (int i = 0; i < p->nodeData.count; ++i) {
        size_t n = getU16(d);
        v.emplace_back(d, d + n);
        d += n;
    }
    return v;
}

class DatumTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, t.openBtDb(dir.file("datum.jbbdb").c_str(), 1)); }
    void TearDown() override { t.closeBtDb(nullptr, 1); }

    TempDir dir;
    Tree t;
};

}  // namespace

TEST_F(DatumTest, InsertsAtAnyPositionAndKeepsSizesInStep) {
    diskNode* root = t.rootP;
    uint32_t s = root->nodeData.info.ixaSubscript;
    ASSERT_EQ(0, t.InsertDatum(&root, 0, datum(40, u'b').data()));
    ASSERT_EQ(0, t.InsertDatum(&root, 1, datum(60, u'c').data()));  // appended
    ASSERT_EQ(0, t.InsertDatum(&root, 0, datum(100, u'a').data()));
    EXPECT_EQ((std::vector<Bytes>{datum(100, u'a'), datum(40, u'b'), datum(60, u'c')}), datums(root));
    EXPECT_EQ(3, root->nodeData.count);
    EXPECT_EQ(272u, root->nodeData.info.nodeSize);
    EXPECT_EQ(272u, t.indexArray[s].nodeSize);
    ASSERT_EQ(0, t.InsertDatum(&root, 2, datum(10, u'x').data()));
    EXPECT_EQ((std::vector<Bytes>{datum(100, u'a'), datum(40, u'b'), datum(10, u'x'), datum(60, u'c')}), datums(root));
}

TEST_F(DatumTest, RemovesFirstMiddleAndLast) {
    diskNode* root = t.rootP;
    uint32_t s = root->nodeData.info.ixaSubscript;
    for (char16_t c : {u'a', u'b', u'c', u'd'})
        ASSERT_EQ(0, t.InsertDatum(&root, root->nodeData.count, datum(20 + 10 * (c - u'a'), c).data()));
    t.RemoveDatum(&root, 3);  // the last: nothing moves
    EXPECT_EQ((std::vector<Bytes>{datum(20, u'a'), datum(30, u'b'), datum(40, u'c')}), datums(root));
    t.RemoveDatum(&root, 0);  // the others move down
    EXPECT_EQ((std::vector<Bytes>{datum(30, u'b'), datum(40, u'c')}), datums(root));
    t.RemoveDatum(&root, 1);
    t.RemoveDatum(&root, 0);
    EXPECT_EQ(0, root->nodeData.count);
    EXPECT_EQ(72u, root->nodeData.info.nodeSize);
    EXPECT_EQ(72u, t.indexArray[s].nodeSize);
}

TEST_F(DatumTest, NewNodeTakesDatumsUntilItsBufferIsFull) {
    // 25340 bytes less the allocSize field and the header leave 25260.
    diskNode* p = t.dbCalloc("datum_test", __LINE__, 25340);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(25332u, p->allocSize);
    std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(t.indexArray),
                                reinterpret_cast<uint8_t*>(t.indexArray) + 2 * sizeof(indexNode));
    diskNode* original = p;
    ASSERT_EQ(0, t.InsertDatum(&p, 0, datum(25000, u'a').data()));
    ASSERT_EQ(0, t.InsertDatum(&p, 1, datum(260, u'b').data()));
    EXPECT_EQ(original, p);
    EXPECT_EQ(25332u, p->allocSize);
    ASSERT_EQ(0, t.InsertDatum(&p, 2, datum(8, u'c').data()));  // one byte too many: grows
    EXPECT_EQ(25332u + 25340u, p->allocSize);
    EXPECT_EQ((std::vector<Bytes>{datum(25000, u'a'), datum(260, u'b'), datum(8, u'c')}), datums(p));
    // A node without a subscript leaves the index array alone.
    EXPECT_EQ(before, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(t.indexArray),
                                           reinterpret_cast<uint8_t*>(t.indexArray) + 2 * sizeof(indexNode)));
    kvFree(p, "datum_test", __LINE__);
}

TEST_F(DatumTest, GrowthMovesTheNodeAndEveryoneFollows) {
    // A node read from disk has no room to spare: its first insertion
    // grows it, and the root pointer and the index entry follow.
    ASSERT_EQ(0, t.Insert(u"C:\\one", datum(32, u'z').data()));
    int rc = -1;
    t.closeBtDb(&rc, 0);
    ASSERT_EQ(0, rc);
    ASSERT_EQ(0, t.openBtDb(dir.file("datum.jbbdb").c_str(), 0));
    diskNode* root = t.rootP;
    uint32_t s = root->nodeData.info.ixaSubscript;
    EXPECT_EQ(uint64_t(root->nodeData.info.nodeSize), root->allocSize);
    ASSERT_EQ(0, t.InsertDatum(&root, 0, datum(12, u'a').data()));
    EXPECT_EQ(t.rootP, root);
    EXPECT_EQ(t.indexArray[s].node, root);
    EXPECT_EQ(uint64_t(root->nodeData.info.nodeSize) - 12 + 25340, root->allocSize);
}

TEST_F(DatumTest, DatumLargerThanOneGrowthStepExtendsTwice) {
    diskNode* root = t.rootP;
    ASSERT_EQ(0, t.InsertDatum(&root, 0, datum(20000, u'a').data()));
    uint64_t alloc = root->allocSize;
    // 5260 bytes are left; the next 32766 need two steps of 25340.
    ASSERT_EQ(0, t.InsertDatum(&root, 0, datum(32766, u'b').data()));
    EXPECT_EQ(alloc + 2 * 25340, root->allocSize);
    EXPECT_EQ(t.rootP, root);
    EXPECT_EQ((std::vector<Bytes>{datum(32766, u'b'), datum(20000, u'a')}), datums(root));
    // An explicit extension keeps the datums and moves the root pointer too.
    ASSERT_EQ(0, t.extendNode(&root));
    EXPECT_EQ(alloc + 3 * 25340, root->allocSize);
    EXPECT_EQ(t.rootP, root);
    EXPECT_EQ(2u, datums(root).size());
}
