// Search and walk over trees made by the test writer, including damaged
// node contents and branches that lead back up the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "dbwriter.h"
#include "jbbtreev.h"
#include "kvmem.h"
#include "platform.h"
#include "helpermode.h"
#include "readbuffer.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

std::string tempFile(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("jbb_walk_tests_" + std::to_string(plat::processId()));
    fs::create_directories(dir);
    return (dir / name).string();
}

class Walker : public bTree {
public:
    Walker() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override {
        keys.emplace_back(key);
        JournalRec r = JournalRec::fromBytes(data, 32);
        recs.push_back(r);
        maxAhead = std::max(maxAhead, nodesReadAhead());
        return stopAt != 0 && keys.size() == stopAt ? 7 : 0;
    }
    using bTree::ExitCleanup;
    using bTree::fetchPage;
    using bTree::indexArray;
    size_t cachedNodes() const {
        size_t n = 0;
        for (listCell* c = actList; c != nullptr; c = c->next) ++n;
        return n;
    }
    std::vector<std::u16string> keys;
    std::vector<JournalRec> recs;
    size_t stopAt = 0;
    size_t maxAhead = 0;  // the most nodes read ahead at a visit
};

std::vector<Entry> entriesFor(std::vector<std::u16string> keys) {
    std::vector<Entry> v;
    int64_t t = 1700000000;
    for (auto& k : keys) {
        Entry e;
        e.key = k;
        e.rec.inserted = t++;
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

std::vector<Entry> numbered(size_t n) {
    std::vector<std::u16string> keys;
    for (size_t i = 0; i < n; ++i)
        keys.push_back(u"\\\\srv\\share\\dir" + utf8ToUtf16(std::to_string(i * 7919 % 100003)));
    return entriesFor(keys);
}

// A tree of `height` levels over `entries`.
DbFile treeOf(const std::vector<Entry>& entries, int height, TreeInfo* info = nullptr) {
    TreeOptions opts;
    opts.height = height;
    return buildTree(entries, JournalInfo{}, opts, info);
}

// Writes the database and opens it.
void openDb(Walker& w, const DbFile& db, const std::string& name) {
    std::string path = tempFile(name);
    ASSERT_TRUE(writeFile(path, db.image()));
    ASSERT_EQ(0, w.openBtDb(path.c_str(), 0));
}

}  // namespace

TEST(EngineWalk, VisitsEveryEntryInKeyOrderAcrossLevels) {
    for (size_t n : {0u, 1u, 10u, 11u, 999u, 5000u}) {
        SCOPED_TRACE(n);
        std::vector<Entry> entries = numbered(n);
        TreeOptions opts;
        opts.freeSlots = 3;
        opts.slackEvery = 4;
        opts.gapEvery = 5;
        opts.seed = n + 3;
        Walker w;
        openDb(w, buildTree(entries, JournalInfo{}, opts), "order" + std::to_string(n) + ".jbbdb");
        ASSERT_EQ(0, w.WalkTree());
        ASSERT_EQ(entries.size(), w.keys.size());
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(entries[i].key, w.keys[i]);
            EXPECT_TRUE(entries[i].rec == w.recs[i]);
        }
        EXPECT_LE(w.cachedNodes(), 1u) << "a walk releases every node but the root";
        w.closeBtDb(nullptr, 1);
    }
}

// Nodes of very different sizes: the buffers a walk releases serve its
// later reads ahead, and none may be given a node larger than its room.
TEST(EngineWalk, NodesOfEverySizeReadBackWhole) {
    std::vector<std::u16string> keys;
    for (size_t i = 0; i < 4000; ++i) {
        const size_t len = (i * 7919) % 13 == 0 ? 2000 + (i * 31) % 9000 : 1 + (i * 17) % 60;
        std::u16string k = utf8ToUtf16(std::to_string(100000 + i));
        k.append(len, (char16_t)(u'a' + i % 26));
        keys.push_back(k);
    }
    std::vector<Entry> entries = entriesFor(keys);
    for (uint64_t seed : {1u, 2u}) {
        SCOPED_TRACE(seed);
        TreeOptions opts;
        opts.seed = seed;
        Walker w;
        openDb(w, buildTree(entries, JournalInfo{}, opts), "sizes" + std::to_string(seed) + ".jbbdb");
        ASSERT_EQ(0, w.WalkTree());
        ASSERT_EQ(entries.size(), w.keys.size());
        for (size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(entries[i].key, w.keys[i]) << i;
        EXPECT_EQ(0u, w.nodesReadAhead());
        w.closeBtDb(nullptr, 1);
    }
}

TEST(EngineWalk, CallbackResultStopsTheWalk) {
    Walker w;
    openDb(w, buildTree(numbered(300), JournalInfo{}), "stop.jbbdb");
    w.stopAt = 3;
    EXPECT_EQ(7, w.WalkTree());
    EXPECT_EQ(3u, w.keys.size());
    w.closeBtDb(nullptr, 1);
}

TEST(EngineSearch, FindsStoredDataByExactKey) {
    std::vector<Entry> entries =
        entriesFor({u"ab", u"abc", u"B", u"a", u"\u00e9t\u00e9", u"C:\\x y", u"\U0001F600", u"z"});
    for (int height : {1, 2}) {
        std::vector<Entry> many = entries;
        if (height == 2) {
            for (auto& e : numbered(80)) many.push_back(e);
            sortEntries(many);
        }
        TreeOptions opts;
        opts.height = height;
        Walker w;
        openDb(w, buildTree(many, JournalInfo{}, opts), "search" + std::to_string(height) + ".jbbdb");
        for (const Entry& e : many) {
            uint8_t* data = w.Search(e.key.c_str());
            ASSERT_NE(nullptr, data) << utf16ToUtf8(e.key);
            EXPECT_TRUE(e.rec == JournalRec::fromBytes(data, 32));
        }
        for (const char16_t* absent : {u"A", u"abcd", u"aa", u"\u00e9", u"zz", u"C:\\x"}) {
            EXPECT_EQ(nullptr, w.Search(absent));
            EXPECT_EQ(0, w.dbGetLastError());
        }
        EXPECT_EQ(nullptr, w.Search(u""));
        EXPECT_EQ(nullptr, w.Search(nullptr));
        EXPECT_LE(w.cachedNodes(), 8u);
        w.closeBtDb(nullptr, 1);
    }
}

TEST(EngineCache, FetchChecksItsSubscript) {
    Walker w;
    openDb(w, buildTree(numbered(50), JournalInfo{}), "fetch.jbbdb");
    EXPECT_EQ(nullptr, w.fetchPage(0));
    EXPECT_EQ(0, w.dbGetLastError());
    EXPECT_EQ(failedNode(), w.fetchPage(-3));
    EXPECT_EQ(btErrInvalid, w.dbGetLastError());
    EXPECT_EQ(failedNode(), w.fetchPage((int)w.controlRecord().currentIXCount));
    w.closeBtDb(nullptr, 1);
}

// Damaged node contents: the walk fails with the corruption error instead
// of reading past a node buffer.
TEST(EngineWalk, DamagedNodeContentsAreRefused) {
    struct Case {
        const char* name;
        void (*damage)(Node&);
    };
    const Case cases[] = {
        {"count", [](Node& n) { n.count = 11; }},
        {"count-past-datums", [](Node& n) { n.count = (uint16_t)(n.datums.size() + 1); }},
        {"nkl-zero", [](Node& n) { n.datums[1].nkl = 0; }},
        {"nkl-past-node", [](Node& n) { n.datums.back().nkl = 4000; }},
        {"dataoffset", [](Node& n) { n.datums[0].dataOffset = 3000; }},
        {"dataoffset-small", [](Node& n) { n.datums[0].dataOffset = 1; }},
        {"no-terminator", [](Node& n) { n.datums[2].terminateKey = false; }},
        {"nodesize", [](Node& n) { n.nodeSize = (uint32_t)n.imageSize() - 10; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreeOptions opts;
        opts.height = 2;
        TreeInfo info;
        DbFile db = buildTree(numbered(120), JournalInfo{}, opts, &info);
        uint32_t leaf = info.levels[1][1];
        Slot* s = db.findSlot(leaf);
        ASSERT_NE(nullptr, s);
        c.damage(s->node);
        Walker w;
        openDb(w, db, std::string("damaged-") + c.name + ".jbbdb");
        int rc = w.WalkTree();
        EXPECT_EQ(btErrWalkFetch, rc);
        EXPECT_TRUE(w.dbGetLastError() == btErrCorrupt || w.dbGetLastError() == btErrShortTransfer)
            << w.dbGetLastError();
        w.closeBtDb(nullptr, 1);
    }
}

TEST(EngineWalk, BranchesLeadingBackUpAreRefused) {
    TreeInfo info;
    std::vector<Entry> entries = numbered(800);
    DbFile db = treeOf(entries, 3, &info);
    // A leaf-level node of the middle level points back to the root, and a
    // middle node points at itself.
    Slot* mid = db.findSlot(info.levels[1][0]);
    ASSERT_NE(nullptr, mid);
    mid->node.branch[1] = info.root;
    Slot* mid2 = db.findSlot(info.levels[1][1]);
    mid2->node.branch[0] = info.levels[1][1];
    Walker w;
    openDb(w, db, "cycle.jbbdb");
    EXPECT_EQ(btErrWalkFetch, w.WalkTree());
    EXPECT_EQ(btErrCorrupt, w.dbGetLastError());
    // It stopped at the loop: no entry was visited twice.
    ASSERT_FALSE(w.keys.empty());
    for (size_t i = 1; i < w.keys.size(); ++i) ASSERT_LT(w.keys[i - 1], w.keys[i]) << i;
    // The same for a loop behind a datum of a node the root's second
    // branch leads to.
    {
        DbFile db2 = treeOf(entries, 3, &info);
        db2.findSlot(info.levels[1][1])->node.branch[1] = info.root;
        Walker w2;
        openDb(w2, db2, "cycle2.jbbdb");
        EXPECT_EQ(btErrWalkFetch, w2.WalkTree());
        ASSERT_FALSE(w2.keys.empty());
        for (size_t i = 1; i < w2.keys.size(); ++i) ASSERT_LT(w2.keys[i - 1], w2.keys[i]) << i;
        w2.closeBtDb(nullptr, 1);
    }
    // A search that follows the looping branch fails instead of recursing.
    w.SetDbErrno(0);
    uint8_t* found = w.Search(entries[0].key.c_str());
    (void)found;
    w.closeBtDb(nullptr, 1);
}

TEST(EngineWalk, SharedSubtreesCannotMultiplyTheWalk) {
    // Every branch of every internal node names the same child: a walk that
    // followed them all would visit 11^depth nodes.
    TreeOptions opts;
    opts.height = 4;
    TreeInfo info;
    DbFile db = buildTree(numbered(3000), JournalInfo{}, opts, &info);
    for (int level = 0; level + 1 < (int)info.levels.size(); ++level) {
        for (uint32_t s : info.levels[level]) {
            Slot* slot = db.findSlot(s);
            for (int b = 0; b <= (int)slot->node.datums.size(); ++b) slot->node.branch[b] = info.levels[level + 1][0];
        }
    }
    Walker w;
    openDb(w, db, "shared.jbbdb");
    EXPECT_NE(0, w.WalkTree());
    EXPECT_EQ(btErrCorrupt, w.dbGetLastError());
    w.closeBtDb(nullptr, 1);
}

TEST(EngineSearch, ReadsAtMostOneNodePerLevel) {
    TreeOptions opts;
    opts.height = 4;
    std::vector<Entry> entries = numbered(3000);
    Walker w;
    openDb(w, buildTree(entries, JournalInfo{}, opts), "levels.jbbdb");
    // The root is in memory after the open; every other level costs at most
    // one read, and a key found in the root none.
    for (size_t i = 0; i < entries.size(); i += 97) {
        uint64_t before = w.nodesRead();
        ASSERT_NE(nullptr, w.Search(entries[i].key.c_str()));
        EXPECT_LE(w.nodesRead() - before, 3u);
    }
    uint64_t before = w.nodesRead();
    EXPECT_EQ(nullptr, w.Search(u"~ not there"));
    EXPECT_LE(w.nodesRead() - before, 3u);
    // A walk reads every node exactly once, the root too (its flush drops it).
    before = w.nodesRead();
    ASSERT_EQ(0, w.WalkTree());
    EXPECT_EQ(entries.size(), w.keys.size());
    uint64_t nodes = w.controlRecord().currentIXCount - 1;
    EXPECT_EQ(nodes, w.nodesRead() - before);
    w.closeBtDb(nullptr, 1);
}

// The cache's rule: each node read drops one node nobody holds, and a walk
// frees each node as it leaves it.  What a walk reads ahead stays outside
// the cache and goes when the walk ends, stopped or whole.
TEST(EngineCache, WalksAndSearchesLeaveWhatTheCacheRuleLeaves) {
    std::vector<Entry> entries = numbered(3000);
    const int64_t blocksBefore = kvBlocksInUse();
    {
        Walker w;
        openDb(w, treeOf(entries, 4), "rule.jbbdb");
        EXPECT_EQ(1u, w.nodesInMemory()) << "the root";
        for (size_t stopAt : {5u, 1500u, 0u}) {
            SCOPED_TRACE(stopAt);
            w.keys.clear();
            w.stopAt = stopAt;
            EXPECT_EQ(stopAt == 0 ? 0 : 7, w.WalkTree());
            EXPECT_EQ(stopAt == 0 ? entries.size() : stopAt, w.keys.size());
            EXPECT_EQ(1u, w.nodesInMemory());
            EXPECT_EQ(0u, w.nodesReadAhead());
            EXPECT_GT(w.maxAhead, 0u) << "the walk reads ahead";
            // The smallest key lies in the leftmost leaf: the root and one path.
            ASSERT_NE(nullptr, w.Search(entries[0].key.c_str()));
            EXPECT_EQ(4u, w.nodesInMemory());
        }
        // Every later node read drops an older unheld one.
        for (size_t i = 0; i < entries.size(); i += 97) {
            ASSERT_NE(nullptr, w.Search(entries[i].key.c_str()));
            EXPECT_EQ(4u, w.nodesInMemory());
        }
        w.closeBtDb(nullptr, 1);
    }
    EXPECT_EQ(blocksBefore, kvBlocksInUse()) << "the walks left memory behind";
}

TEST(EngineCache, ANodeReadBeforeAFailedPurgeStaysLoadedAndHeld) {
    TreeInfo info;
    std::vector<Entry> entries = numbered(300);
    Walker w;
    openDb(w, treeOf(entries, 3, &info), "purge.jbbdb");
    ASSERT_NE(nullptr, w.Search(entries[0].key.c_str()));
    // A node the search left in memory goes bad; the purge after the next
    // read meets it and fails.
    diskNode* bad = w.indexArray[info.levels[1][0]].node;
    ASSERT_NE(nullptr, bad);
    bad->nodeData.info.nodeMagic = 0;
    uint32_t loc = info.levels[2].back();
    EXPECT_EQ(failedNode(), w.fetchPage((int)loc));
    EXPECT_EQ(btErrCorrupt, w.dbGetLastError());
    EXPECT_EQ(occupied, w.indexArray[loc].state);
    ASSERT_NE(nullptr, w.indexArray[loc].node);
    EXPECT_EQ(loc, w.indexArray[loc].node->nodeData.info.ixaSubscript);
    bad->nodeData.info.nodeMagic = nodeMagicNumber;
    w.ExitCleanup();
    EXPECT_EQ(clean, w.indexArray[loc].state);
    w.closeBtDb(nullptr, 1);
}

TEST(EngineCache, ANodeGoneBadInMemoryClosesTheFileCorrupt) {
    std::vector<Entry> entries = numbered(300);
    TreeInfo info;
    Walker w;
    openDb(w, treeOf(entries, 3, &info), "flushbad.jbbdb");
    ASSERT_NE(nullptr, w.Search(entries[0].key.c_str()));
    diskNode* bad = w.indexArray[info.levels[1][0]].node;
    ASSERT_NE(nullptr, bad);
    bad->nodeData.info.nodeMagic = 0;
    int rc = 0;
    w.closeBtDb(&rc, 0);
    EXPECT_EQ(btErrCorrupt, rc);
    Bytes img;
    ASSERT_TRUE(readFile(tempFile("flushbad.jbbdb"), &img));
    EXPECT_EQ(kDbCorrupt, CtrlRec::fromBytes(img.data()).state);
}

// The read-ahead buffer's table: nodes whose subscripts share a home cell
// stay findable whatever was taken before them.
TEST(EngineCache, ReadAheadBufferFindsEachNodeWhateverWasTakenBefore) {
    ReadAheadBuffer rb;
    std::mt19937 rng(11);
    std::map<uint32_t, diskNode*> held;
    while (held.size() < 400) {
        const uint32_t loc = 1 + rng() % 5000;
        if (held.count(loc) != 0) continue;
        auto* buf = static_cast<diskNode*>(kvMalloc(ReadAheadBuffer::allocBytesFor(100), "test", __LINE__));
        ASSERT_NE(nullptr, buf);
        buf->allocSize = 100;
        ASSERT_TRUE(rb.put(loc, buf)) << loc;
        held[loc] = buf;
    }
    EXPECT_FALSE(rb.put(held.begin()->first, held.begin()->second)) << "held already";
    std::vector<uint32_t> order;
    for (const auto& h : held) order.push_back(h.first);
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t i = 0; i < 300; ++i) {
        diskNode* buf = rb.take(order[i]);
        ASSERT_EQ(held[order[i]], buf) << i;
        kvFree(buf, "test", __LINE__);
        held.erase(order[i]);
        EXPECT_EQ(nullptr, rb.peek(order[i]));
        for (const auto& h : held) ASSERT_EQ(h.second, rb.peek(h.first)) << "after taking " << i;
    }
    EXPECT_EQ(held.size(), rb.nodes());
    rb.clear();
    EXPECT_EQ(0u, rb.nodes());
    EXPECT_EQ(nullptr, rb.peek(held.begin()->first));

    // Its bounds: 8 MiB of images, and 484 nodes (four batches of 121).
    EXPECT_TRUE(rb.roomFor(uint64_t{8} << 20));
    EXPECT_FALSE(rb.roomFor((uint64_t{8} << 20) + 1));
    auto put = [&](uint32_t loc, uint64_t bytes) {
        auto* buf = static_cast<diskNode*>(kvMalloc(ReadAheadBuffer::allocBytesFor(100), "test", __LINE__));
        buf->allocSize = bytes;
        const bool kept = rb.put(loc, buf);
        if (!kept) kvFree(buf, "test", __LINE__);
        return kept;
    };
    EXPECT_TRUE(put(1, uint64_t{4} << 20));
    EXPECT_TRUE(put(2, uint64_t{4} << 20));
    EXPECT_FALSE(put(3, 1));
    rb.clear();
    for (uint32_t loc = 1; loc <= 484; ++loc) ASSERT_TRUE(put(loc, 100)) << loc;
    EXPECT_FALSE(put(485, 100));
    rb.clear();
}

// In a tree of five levels the walk reads the leaves under the next
// parent of parents while it goes through the one before, on the second
// thread where there is one, else when it comes to them.  Either way every
// entry comes once and in order, every node is read once, a damaged node
// among those read ahead is still reported, and a walk stopped anywhere
// leaves nothing read ahead behind.
TEST(EngineWalk, LeavesReadBehindTheWalkComeInOrderAndGoWhenItEnds) {
    std::vector<Entry> entries = numbered(20000);
    TreeOptions opts;
    opts.height = 5;
    opts.freeSlots = 7;
    TreeInfo info;
    DbFile db = buildTree(entries, JournalInfo{}, opts, &info);
    ASSERT_EQ(5, info.height);
    DbFile damaged = db;
    // A leaf under the third node of the level above the parents of leaves.
    const uint32_t parent = info.levels[2][2];
    const uint32_t leaf = damaged.findSlot(damaged.findSlot(parent)->node.branch[0])->node.branch[1];
    damaged.findSlot(leaf)->node.datums[1].nkl = 0;
    const int64_t blocksBefore = kvBlocksInUse();
    for (int helper : {1, 0}) {
        SCOPED_TRACE(helper);
        ReadHelperMode mode(helper);
        {
            Walker w;
            openDb(w, db, "behind" + std::to_string(helper) + ".jbbdb");
            const uint64_t before = w.nodesRead();
            ASSERT_EQ(0, w.WalkTree());
            ASSERT_EQ(entries.size(), w.keys.size());
            for (size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(entries[i].key, w.keys[i]) << i;
            EXPECT_GT(w.batchesBegunAhead(), 0u);
            EXPECT_EQ(w.controlRecord().currentIXCount - 1 - opts.freeSlots, w.nodesRead() - before);
            for (size_t stopAt : {1u, 777u, 5000u, 12345u, 19999u}) {
                SCOPED_TRACE(stopAt);
                w.keys.clear();
                w.stopAt = stopAt;
                EXPECT_EQ(7, w.WalkTree());
                EXPECT_EQ(stopAt, w.keys.size());
                EXPECT_EQ(1u, w.nodesInMemory());
                EXPECT_EQ(0u, w.nodesReadAhead());
            }
            w.closeBtDb(nullptr, 1);
        }
        {
            Walker w;
            openDb(w, damaged, "behind-damaged" + std::to_string(helper) + ".jbbdb");
            EXPECT_EQ(btErrWalkFetch, w.WalkTree());
            EXPECT_EQ(btErrCorrupt, w.dbGetLastError());
            ASSERT_FALSE(w.keys.empty());
            for (size_t i = 0; i < w.keys.size(); ++i) ASSERT_EQ(entries[i].key, w.keys[i]) << i;
            EXPECT_EQ(0u, w.nodesReadAhead());
            w.closeBtDb(nullptr, 1);
        }
    }
    EXPECT_EQ(blocksBefore, kvBlocksInUse()) << "the walks left memory behind";
}

TEST(EngineSearch, ANodeCutOffByAShorterFileIsAShortTransfer) {
    std::vector<Entry> entries = numbered(800);
    TreeInfo info;
    Walker w;
    openDb(w, treeOf(entries, 3, &info), "short.jbbdb");
    // The file loses its last bytes, the end of the last slot's node,
    // after the open.
    const std::string path = tempFile("short.jbbdb");
    std::error_code ec;
    fs::resize_file(path, fs::file_size(path) - 10, ec);
    if (ec) GTEST_SKIP() << "the open file cannot be cut here: " << ec.message();
    // Every key: the one in the cut node fails with the short transfer.
    size_t failed = 0;
    for (const Entry& e : entries) {
        if (w.Search(e.key.c_str()) == nullptr) {
            ++failed;
            EXPECT_EQ(btErrShortTransfer, w.dbGetLastError());
        }
    }
    EXPECT_GT(failed, 0u);
    w.closeBtDb(nullptr, 1);
}
