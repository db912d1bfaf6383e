// jbbtool rebuild: a damaged journal salvaged into a new one in one step.
// The new journal is sound, holds exactly what dump --salvage reads, under
// the old header; the old file is never changed, an existing new one is
// refused, and a header that cannot be read soundly is made up and said so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class JbbtoolRebuild : public ::testing::Test {
protected:
    RunResult tool(std::vector<std::string> args) {
        for (std::string& a : args)
            if (a[0] == '@') a = dir.file(a.substr(1));
        return runProgram(JBBTOOL_PATH, args, "", dir.path());
    }
    Bytes read(const std::string& name) {
        Bytes b;
        EXPECT_TRUE(readFile(dir.file(name), &b)) << name;
        return b;
    }
    // 400 entries in three levels under a header with every field set,
    // damaged: a leaf's magic destroyed, another leaf cut short, bytes
    // between slots and the counters wrong.
    DbFile damaged() {
        JournalInfo j;
        j.setServerNode("SRV", "NODE1");
        j.fileSystem = u"E:";
        j.maxSize = 1 << 20;
        TreeInfo info;
        TreeOptions o;
        o.height = 3;
        DbFile d = buildTree(journalEntries(400, 5), j, o, &info);
        d.ctrl.lastIndex = 0;
        d.findSlot(info.levels[2][0])->node.magic = 0x1234;
        d.findSlot(info.levels[2][3])->node.datums.resize(2);
        d.slots.insert(d.slots.begin() + 2, Slot::rawBytes(Bytes(100, 0x55)));
        return d;
    }
    TempDir dir;
};

TEST_F(JbbtoolRebuild, MakesASoundJournalOfWhatSalvageReadsUnderTheOldHeader) {
    ASSERT_TRUE(writeFile(dir.file("old.jbbdb"), damaged().image()));
    const Bytes old = read("old.jbbdb");
    RunResult salvage = tool({"dump", "--salvage", "@old.jbbdb"});
    ASSERT_EQ(salvage.status, 1) << salvage.err;

    for (const char* order : {"random", "key"}) {
        SCOPED_TRACE(order);
        const std::string name = std::string("new-") + order + ".jbbdb";
        RunResult r = tool({"rebuild", "--order", order, "@old.jbbdb", "@" + name});
        EXPECT_EQ(r.status, 1) << r.err;
        // Salvage's own words, then the one line of the result.
        EXPECT_NE(r.err.find("jbbtool rebuild: " + dir.file("old.jbbdb") + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(" entries written from "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("default"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("jbbtool rebuild: wrote " + dir.file(name) + " ("), 0u) << r.out;
        EXPECT_EQ(tool({"check", "--brief", "@" + name}).out, dir.file(name) + ": sound\n");
        // The same entries and the same control area, byte for byte.
        RunResult dump = tool({"dump", "@" + name});
        EXPECT_EQ(dump.status, 0) << dump.err;
        EXPECT_EQ(dump.out, salvage.out);
    }
    EXPECT_EQ(read("old.jbbdb"), old);

    // An existing NEW is refused without --force and left as it was; OLD
    // given as NEW is refused even with it.
    const Bytes made = read("new-key.jbbdb");
    RunResult r = tool({"rebuild", "@old.jbbdb", "@new-key.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool rebuild: " + dir.file("new-key.jbbdb") + " exists already (--force replaces it)\n");
    EXPECT_EQ(read("new-key.jbbdb"), made);
    r = tool({"rebuild", "--force", "@old.jbbdb", "@old.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool rebuild: " + dir.file("old.jbbdb") + " is also an input\n");
    EXPECT_EQ(read("old.jbbdb"), old);
    r = tool({"rebuild", "--force", "@old.jbbdb", "@new-key.jbbdb"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(tool({"dump", "@new-key.jbbdb"}).out, salvage.out);
}

TEST_F(JbbtoolRebuild, MakesUpOnlyTheFieldsItCannotReadAndSaysWhich) {
    // One implausible field, and a type that would have the viewer offer
    // the journal for deletion: those two are made up, the rest kept.
    DbFile d = damaged();
    JournalInfo j = d.ctrl.journal();
    j.type = 0;
    j.activation = -5;
    d.ctrl.setJournal(j);
    ASSERT_TRUE(writeFile(dir.file("zeroed.jbbdb"), d.image()));
    RunResult r = tool({"rebuild", "@zeroed.jbbdb", "@a.jbbdb"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string old = "jbbtool rebuild: " + dir.file("zeroed.jbbdb") + ": ";
    EXPECT_NE(r.err.find(old + "the control area's activation is implausible (not a time from 1980 to 2099); the "
                               "default 2024-01-15T08:30:00Z is used\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(old + "the control area's type is implausible (unformatted, yet the journal holds "
                               "entries); the default change (1) is used\n"),
              std::string::npos)
        << r.err;
    RunResult info = tool({"info", "--json", "@a.jbbdb"});
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* kept : {"\"type\":1,", "\"fileSystem\":\"E:\",\"server\":\"SRV\",\"node\":\"NODE1\"",
                             "\"activation\":1705307400,", "\"validation\":1262390400,", "\"maxSize\":1048576,"})
        EXPECT_NE(info.out.find(kept), std::string::npos) << kept << "\n" << info.out;

    // A control record that cannot be read: the whole area is made up.
    d.ctrl.magic = 0;
    ASSERT_TRUE(writeFile(dir.file("nomagic.jbbdb"), d.image()));
    r = tool({"rebuild", "@nomagic.jbbdb", "@b.jbbdb"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("jbbtool rebuild: " + dir.file("nomagic.jbbdb") +
                         ": no control area could be read; journal type change (1), file system C:, server \"\", "
                         "node \"\", activation 2024-01-15T08:30:00Z, validation 2024-01-15T09:30:00Z and state "
                         "valid (2) are defaults\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(tool({"check", "--brief", "@b.jbbdb"}).out, dir.file("b.jbbdb") + ": sound\n");
}

}  // namespace
