// jbbtool info and check --brief, the two answers for sweeps over many
// journals: the header of a sound, a damaged, a held-open and a foreign
// file (text byte for byte, JSON against its schema), and one line a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "platform.h"
#include "schemacheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class JbbtoolInfo : public ::testing::Test {
protected:
    RunResult tool(std::vector<std::string> args) {
        for (std::string& a : args)
            if (a[0] == '@') a = dir.file(a.substr(1));
        return runProgram(JBBTOOL_PATH, args, "", dir.path());
    }
    std::string put(const std::string& name, const Bytes& image) {
        EXPECT_TRUE(writeFile(dir.file(name), image));
        return dir.file(name);
    }
    // A journal of 200 entries with every field of its control area set.
    DbFile journal() {
        JournalInfo j;
        j.setServerNode("SRV", "NODE1");
        j.fileSystem = u"D:\\Daten";
        j.maxSize = 10485760;
        return buildTree(journalEntries(200, 7), j);
    }
    TempDir dir;
};

TEST_F(JbbtoolInfo, ShowsEveryFieldAndMarksTheImplausibleOnes) {
    const DbFile sound = journal();
    const Bytes soundImage = sound.image();
    put("sound.jbbdb", soundImage);
    const CtrlRec& c = sound.ctrl;
    RunResult r = tool({"info", "@sound.jbbdb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dir.file("sound.jbbdb") + ": " + std::to_string(soundImage.size()) +
                         " bytes\n"
                         "Control record\n"
                         "  magic            0xABCD\n"
                         "  version          2.2\n"
                         "  state            dbClosed (0)\n"
                         "  rootOffset       " +
                         std::to_string(c.rootOffset) + "\n  indexArraySize   " + std::to_string(c.indexArraySize) +
                         "\n  currentIXCount   " + std::to_string(c.currentIXCount) + "\n  lastIndex        " +
                         std::to_string(c.lastIndex) + "\n  lastNDRec        " + std::to_string(c.lastNDRec) +
                         "\n"
                         "  dbKeyLen         0\n"
                         "  dbDataLen        32\n"
                         "  padding          00000000\n"
                         "Journal control area\n"
                         "  type             change (1)\n"
                         "  fileSystem       \"D:\\\\Daten\"\n"
                         "  server           \"SRV\"\n"
                         "  node             \"NODE1\"\n"
                         "  serverNameLength 3\n"
                         "  activation       2010-01-01T00:00:00Z (1262304000)\n"
                         "  validation       2010-01-02T00:00:00Z (1262390400)\n"
                         "  state            valid (2)\n"
                         "  maxSize          10485760 bytes\n"
                         "  padding          00000000 00000000\n"
                         "result: every field plausible\n");

    // Damage to fields of both sections: each shown as it is, and marked.
    DbFile bad = journal();
    bad.ctrl.lastNDRec = 99999999;
    bad.ctrl.keyLen = 7;
    JournalInfo j = bad.ctrl.journal();
    j.activation = 0;
    j.type = 9;
    j.serverLen = 200;
    bad.ctrl.setJournal(j);
    put("bad.jbbdb", bad.image());
    r = tool({"info", "@bad.jbbdb"});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char* line :
         {"  lastNDRec        99999999  <- implausible: no slot can begin there in a file of ",
          "  dbKeyLen         7  <- implausible: expected 0 (keys of variable length)\n",
          "  type             9  <- implausible: an unknown journal type",
          "  activation       1970-01-01T00:00:00Z (0)  <- implausible: not a time from 1980 to 2099\n",
          "  serverNameLength 200  <- implausible: 200 bytes, but a NUL ends server and node after 8\n",
          "result: 5 implausible fields\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

    // Held open: read all the same, and said so; a file that is no journal
    // is refused in one line, and the exit status is the worst.
    DbFile open = journal();
    open.ctrl.state = kDbOpened;
    put("open.jbbdb", open.image());
    put("noise.jbbdb", Bytes(5000, 0x20));
    Bytes cut = soundImage;
    cut.resize(100);
    put("short.jbbdb", cut);
    r = tool({"info", "@open.jbbdb", "@noise.jbbdb", "@short.jbbdb", "@sound.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("  state            dbOpened (1)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result: every field plausible\n\n" + dir.file("sound.jbbdb") + ": "), std::string::npos);
    EXPECT_EQ(r.err, "jbbtool info: " + dir.file("open.jbbdb") +
                         " is marked open (dbOpened): the journal service may hold it, and what is read may be "
                         "changing\n"
                         "jbbtool info: " +
                         dir.file("noise.jbbdb") +
                         ": not a journal database: control record magic number is 0x2020, expected 0xABCD\n"
                         "jbbtool info: " +
                         dir.file("short.jbbdb") +
                         ": not a journal database: the file holds 100 bytes, fewer than a 2088-byte control "
                         "record\n");

    // The same as JSON, a line a journal, valid against its schema.
    r = tool({"info", "--json", "@sound.jbbdb", "@bad.jbbdb", "@open.jbbdb", "@noise.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"server\":\"SRV\",\"node\":\"NODE1\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"field\":\"journal.activation\",\"reason\":\"not a time from 1980 to 2099\"}"),
              std::string::npos);
    const std::string docs = put("info.json", Bytes(r.out.begin(), r.out.end()));
    RunResult s = tool({"schema", "info"});
    ASSERT_EQ(s.status, 0);
    SchemaCheck v = validateJson(put("info.schema.json", Bytes(s.out.begin(), s.out.end())), {docs}, dir.path());
    if (!v.ran) {
        if (std::getenv("CI") != nullptr && !plat::isWindows()) ADD_FAILURE() << v.report;
        GTEST_SKIP() << v.report;
    }
    EXPECT_TRUE(v.valid) << v.report;
}

TEST_F(JbbtoolInfo, CheckBriefGivesOneLineAFile) {
    put("sound.jbbdb", journal().image());
    DbFile d = journal();
    d.ctrl.lastIndex = 0;
    d.slots.insert(d.slots.begin() + 1, Slot::rawBytes(Bytes(100, 0x55)));
    put("damaged.jbbdb", d.image());
    RunResult r = tool({"check", "--brief", "@sound.jbbdb", "@damaged.jbbdb", "@missing.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, dir.file("sound.jbbdb") + ": sound\n" + dir.file("damaged.jbbdb") +
                         ": 3 findings (ctrl-field, slot-gap)\n");
    EXPECT_EQ(r.err, "jbbtool check: " + dir.file("missing.jbbdb") + ": No such file or directory\n");

    r = tool({"check", "--brief", "--quiet", "@sound.jbbdb", "@damaged.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, dir.file("damaged.jbbdb") + ": 3 findings (ctrl-field, slot-gap)\n");
    r = tool({"check", "--brief", "--json", "@sound.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
}

}  // namespace
