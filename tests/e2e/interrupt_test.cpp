// Ctrl-C during the counting walk of a large journal: the walk stops, the
// journal type is put back, the database is closed and the file is left
// exactly as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "child_process.h"
#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;

TEST(Interrupt, CtrlCDuringTheCountClosesTheJournalUnchanged) {
    if (!plat::ChildProcess::supported()) GTEST_SKIP() << "no way to interrupt a child here";
    TempDir dir;
    std::vector<Entry> entries;
    entries.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        Entry e;
        e.key = utf8ToUtf16("D:\\archive\\year" + std::to_string(2000 + i % 20) + "\\item" + std::to_string(i));
        e.rec.inserted = 1600000000 + i;
        entries.push_back(e);
    }
    sortEntries(entries);
    JournalInfo journal;
    journal.setServerNode("SERVER", "NODE1");
    TreeOptions opts;
    opts.freeSlots = 10;
    std::string base = dir.file("big");
    ASSERT_TRUE(writeFile(base + ".jbbdb", buildTree(entries, journal, opts).image()));
    Bytes before;
    ASSERT_TRUE(readFile(base + ".jbbdb", &before));
    ASSERT_TRUE(writeFile(dir.file("stdin.txt"), Bytes{}));

    plat::ChildProcess child;
    ASSERT_TRUE(child.start(JBBVIEW_PATH, {base}, dir.file("stdin.txt"), dir.file("stderr.txt")));
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool open = true;
    // The first progress count shows that the walk is running.
    while (open && out.find("DB Entries Processed:") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        open = child.read(out, 100);
    ASSERT_NE(std::string::npos, out.find("DB Entries Processed:")) << out;
    ASSERT_TRUE(child.interrupt());
    while (child.read(out, 1000)) {
    }
    int status = child.wait();

    if (out.find("Number of DB Entries") != std::string::npos)
        GTEST_SKIP() << "the walk ended before the interrupt arrived";
    EXPECT_EQ(-1, status);
    const std::string message = "\n\nInterrupted: counting stopped, the database was closed unchanged.\n";
    ASSERT_GE(out.size(), message.size());
    EXPECT_EQ(message, out.substr(out.size() - message.size()));
    Bytes after;
    ASSERT_TRUE(readFile(base + ".jbbdb", &after));
    EXPECT_TRUE(before == after) << "the journal must be closed and unchanged";
}
