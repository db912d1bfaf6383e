// jbbview on damaged databases: every value read from the file is checked
// before use, so a damaged file ends the run with an engine error message
// and status -1, never a crash, a hang or a rewritten file.
#include <gtest/gtest.h>

#include <functional>

#include "dbreader.h"
#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class Damaged : public ::testing::Test {
protected:
    void SetUp() override {
        TreeOptions o;
        o.height = 3;
        o.freeSlots = 2;
        o.spareSubscripts = 2;
        base_ = buildTree(journalEntries(300, 13), JournalInfo(), o, &info_);
        ASSERT_EQ(info_.levels.size(), 3u);
        for (const Slot& sl : base_.slots)
            if (sl.isFree()) freeSub_ = sl.slotSubscript();
        for (uint32_t sub = 1; sub < base_.ctrl.currentIXCount; ++sub)
            if (!base_.findSlot(sub)) spareSub_ = sub;
    }

    // Node `sub` of the base tree in `db`.
    static Node& node(DbFile& db, uint32_t sub) { return db.findSlot(sub)->node; }
    uint32_t root() const { return info_.root; }
    uint32_t inner() const { return info_.levels[1][1]; }
    uint32_t leaf() const { return info_.levels[2][3]; }

    // Damages a copy of the base tree with `damage`, runs the viewer on it and
    // expects an engine failure.  The slots must be untouched afterwards;
    // `wholeFile` also demands the control record unchanged.
    void expectFailure(const std::string& name, const std::function<void(DbFile&)>& damage, bool wholeFile = false) {
        DbFile db = base_;
        damage(db);
        expectFailureOn(name, db.image(), wholeFile);
    }

    void expectFailureOn(const std::string& name, const Bytes& img, bool wholeFile = false) {
        SCOPED_TRACE(name);
        const std::string arg = s.put(name, img);
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.err, "");
        const std::string path = s.path(name);
        const std::string head = headText(date, path) + locatedText(path, CtrlRec::fromBytes(img.data())) +
                                 "Opening and Intializing DB ...\n";
        EXPECT_EQ(r.out.substr(0, head.size()), head);
        const bool openFailed =
            r.out.find("\n\nUnable to open Journal Database file '" + path + "', rc=") != std::string::npos;
        const bool walkFailed = r.out.find("Initial database scan failed: errno = ") != std::string::npos;
        EXPECT_TRUE(openFailed || walkFailed) << r.out;

        Bytes after;
        ASSERT_TRUE(readFile(path, &after));
        if (wholeFile) {
            EXPECT_EQ(firstDifference(img, after), "");
        } else {
            ASSERT_EQ(after.size(), img.size());
            EXPECT_EQ(firstDifference(Bytes(img.begin() + 2088, img.end()), Bytes(after.begin() + 2088, after.end())),
                      "");
        }
    }

    DbFile base_;
    TreeInfo info_;
    uint32_t freeSub_ = 0;
    uint32_t spareSub_ = 0;
    ViewerSession s{JBBVIEW_PATH};
    const std::string date = JBB_BUILD_DATE;
};

}  // namespace

TEST_F(Damaged, SlotWithBadMagicNumberMarksTheFileCorrupt) {
    DbFile db = base_;
    node(db, leaf()).magic = 0xCDAB0000;
    const Bytes img = db.image();
    const std::string arg = s.put("badslot", img);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, -1);
    const std::string path = s.path("badslot");
    EXPECT_EQ(r.out, headText(date, path) + locatedText(path, db.ctrl) +
                         "Opening and Intializing DB ...\n\n\nUnable to open Journal Database file '" + path +
                         "', rc=228\n\n");
    DbContents after = readDbFile(path);
    EXPECT_EQ(after.ctrl.state, kDbCorrupt);
    EXPECT_EQ(after.fileSize, img.size());

    // From now on the probe refuses it.
    r = s.run({arg});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, headText(date, path) + "\n\nCorrupt database detected. \n\n");
}

TEST_F(Damaged, RootThatCannotBeLoadedIs942AndTheFileStaysAsItWas) {
    const std::pair<const char*, std::function<void(Node&)>> cases[] = {
        {"rootcount11", [](Node& n) { n.count = 11; }},
        {"rootnkl", [](Node& n) { n.datums[0].nkl = 0x8000; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        DbFile db = base_;
        c.second(node(db, root()));
        const Bytes img = db.image();
        const std::string arg = s.put(c.first, img);
        const std::string path = s.path(c.first);
        // Not marked corrupt: a second run meets the same root.
        for (int run = 0; run < 2; ++run) {
            RunResult r = s.run({arg});
            EXPECT_EQ(r.status, -1);
            EXPECT_EQ(r.out, headText(date, path) + locatedText(path, db.ctrl) +
                                 "Opening and Intializing DB ...\n\n\nUnable to open Journal Database file '" + path +
                                 "', rc=942\n\n");
            Bytes after;
            ASSERT_TRUE(readFile(path, &after));
            EXPECT_EQ(firstDifference(img, after), "");
        }
    }
}

TEST_F(Damaged, NodeCounts) {
    expectFailure("leafcount11", [&](DbFile& db) { node(db, leaf()).count = 11; });
    expectFailure("leafcount200", [&](DbFile& db) { node(db, leaf()).count = 200; });
    expectFailure("rootcount65535", [&](DbFile& db) { node(db, root()).count = 0xFFFF; });
    expectFailure("innercount11", [&](DbFile& db) { node(db, inner()).count = 11; });
}

TEST_F(Damaged, DatumLengthsAndOffsets) {
    expectFailure("nkl0", [&](DbFile& db) { node(db, leaf()).datums[1].nkl = 0; });
    expectFailure("nkl2", [&](DbFile& db) { node(db, leaf()).datums[0].nkl = 2; });
    expectFailure("nklpastnode", [&](DbFile& db) { node(db, leaf()).datums.back().nkl = 0xFFFF; });
    expectFailure("nklinroot", [&](DbFile& db) { node(db, root()).datums[0].nkl = 0x8000; });
    expectFailure("dataoffsetpast", [&](DbFile& db) { node(db, leaf()).datums[2].dataOffset = 0xFFF0; });
    expectFailure("dataoffsetshort", [&](DbFile& db) {
        Datum& d = node(db, leaf()).datums.back();
        d.dataOffset = static_cast<uint16_t>(d.size() - 2 - 8);  // 8 bytes left for 32
    });
}

TEST_F(Damaged, KeyWithoutTerminator) {
    // The last datum of a leaf: its key runs to the end of the datum and the
    // node without a 0 unit.
    expectFailure("unterminated", [&](DbFile& db) {
        Datum& d = node(db, leaf()).datums.back();
        d.terminateKey = false;
        d.data.assign(32, 0x41);
        d.dataOffset = static_cast<uint16_t>(2 + 2 * d.key.size());
    });
}

TEST_F(Damaged, DataLengthLargerThanTheDatums) {
    expectFailure("datalen64", [&](DbFile& db) { db.ctrl.dataLen = 64; });
}

TEST_F(Damaged, NodeSizes) {
    expectFailure("nodesize40", [&](DbFile& db) { node(db, leaf()).nodeSize = 40; });
    expectFailure("nodesize0", [&](DbFile& db) { node(db, leaf()).nodeSize = 0; });
    expectFailure("rootnodesize71", [&](DbFile& db) { node(db, root()).nodeSize = 71; });
    // Far past the file: must not be read (nor allocated) as a node.
    expectFailure("nodesizehuge", [&](DbFile& db) { node(db, leaf()).nodeSize = 0x7FFFFFF0; });
}

TEST_F(Damaged, BranchCycles) {
    expectFailure("rootselfloop", [&](DbFile& db) { node(db, root()).branch[0] = root(); });
    expectFailure("innertoroot", [&](DbFile& db) {
        Node& n = node(db, inner());
        n.branch[n.datums.size()] = root();
    });
    expectFailure("leafbacktoroot", [&](DbFile& db) {
        // The leaf turns into an inner node; its second child is the root, from
        // which the way down leads to this node again.
        Node& n = node(db, leaf());
        for (size_t i = 0; i <= n.datums.size(); ++i) n.branch[i] = i % 2 ? root() : inner();
    });
}

TEST_F(Damaged, BranchesThatNameNoNode) {
    expectFailure("branchpastcount", [&](DbFile& db) { node(db, inner()).branch[2] = db.ctrl.currentIXCount; });
    expectFailure("branchhuge", [&](DbFile& db) { node(db, root()).branch[1] = 0xFFFFFFF0; });
    expectFailure("branchtofree", [&](DbFile& db) { node(db, inner()).branch[2] = freeSub_; });
    expectFailure("branchtospare", [&](DbFile& db) { node(db, inner()).branch[1] = spareSub_; });
    expectFailure("missingbranch", [&](DbFile& db) {
        Node& n = node(db, inner());
        n.branch[n.datums.size()] = 0;
    });
}

TEST_F(Damaged, SlotHeaders) {
    expectFailure("subscript0", [&](DbFile& db) { node(db, leaf()).subscript = 0; });
    expectFailure("subscriptpastarray", [&](DbFile& db) { node(db, leaf()).subscript = db.ctrl.indexArraySize + 3; });
    expectFailure("subscripthuge", [&](DbFile& db) { node(db, leaf()).subscript = 0xFFFFFFFF; });
    expectFailure("slotlength0", [&](DbFile& db) { node(db, leaf()).slotLength = 0; });
    expectFailure("slotlength10", [&](DbFile& db) { node(db, inner()).slotLength = 10; });
    // The file ends inside its last slot.
    Bytes img = base_.image();
    img.resize(img.size() - 9);
    expectFailureOn("truncated", img);
}

TEST_F(Damaged, CountersThatDoNotFitTheFile) {
    expectFailure("countpastarray", [&](DbFile& db) { db.ctrl.currentIXCount = 100000; });
    expectFailure("rootpastcount", [&](DbFile& db) { db.ctrl.rootOffset = db.ctrl.currentIXCount; });
    expectFailure("root0", [&](DbFile& db) { db.ctrl.rootOffset = 0; });
    expectFailure("roothuge", [&](DbFile& db) { db.ctrl.rootOffset = 0xFFFFFFFF; });
    // Counters that say "empty" in front of slots: refused, nothing written.
    expectFailure(
        "emptycounters",
        [&](DbFile& db) {
            db.ctrl.indexArraySize = 0;
            db.ctrl.currentIXCount = 0;
        },
        true);
}
