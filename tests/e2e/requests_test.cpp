// Interactive sessions: Find, Del with each kind of answer, List and Quit,
// compared byte for byte (request times masked), and the file afterwards.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "dbreader.h"
#include "dbwriter.h"
#include "treecheck.h"
#include "viewrun.h"

using namespace testdb;

namespace {

const char* const kHelp =
    "Enter request on a single line, in the following format:\n\n\t\tReq-Type [Entry-key]\n\n"
    "Req-type may be one of the following:\n\tDel\tDelete a row from the database. The fully-qualified\n"
    "\t\tcase sensitive file name is required.\n\tFind\tFind the entry whose key is the argument\n"
    "\tList\tPrint all the entries to stdout. No arguments\n\t\tare required.\n\tQuit\n";
const char* const kPrompt = "Please enter your request: ";
const char* const kDelQuestion =
    "This operation can lead to a corrupted database if the journal daemon service is also running.\n\n"
    "Are you sure you want to delete this record?(y/n): ";

std::string maskRequestTimes(const std::string& out) {
    static const std::regex times("(Total (Query|Delete) Time: )(< 1 ms|[0-9]{2,}:[0-9]{2}:[0-9]{3})");
    return std::regex_replace(out, times, "$1<T>");
}

std::string recordBlock(const Entry& e) {
    return "-----------------------------------------\n   Object Name  : " + utf16ToUtf8(e.key) +
           "\n   Action       : Create\n   Object Type  : File\n   Inserted     : " + timeText(e.rec.inserted) +
           "\n   Object Time  : " + timeText(e.rec.objectTime) + "\n-----------------------------------------\n\n";
}

std::vector<Entry> journalOf(size_t n) {
    std::vector<Entry> v;
    for (size_t i = 0; i < n; ++i) {
        Entry e;
        e.key = utf8ToUtf16("C:\\Data\\Reports\\q" + std::to_string(1000 + i) + " final.xlsx");
        e.rec.action = 4;
        e.rec.objectType = 1;
        e.rec.inserted = 1700000000 + (int64_t)i * 61;
        e.rec.objectTime = 1690000000 + (int64_t)i * 17;
        v.push_back(e);
    }
    sortEntries(v);
    return v;
}

}  // namespace

TEST(Requests, FindDeleteAndQuitSession) {
    ViewerSession s{JBBVIEW_PATH};
    std::vector<Entry> entries = journalOf(60);
    DbFile db = buildTree(entries, JournalInfo{});
    std::string arg = s.put("j", db.image());
    const std::string k0 = utf16ToUtf8(entries[0].key), k1 = utf16ToUtf8(entries[1].key),
                      k2 = utf16ToUtf8(entries[2].key), k3 = utf16ToUtf8(entries[3].key);
    std::string input = "  FIND " + k0 + "  \r\n" +  // case, blanks and a CR around the key
                        "del " + k1 + "\ny\n" +      // confirmed: the line end is read as an empty request
                        "find " + k1 + "\n" +        // gone now
                        "find  \n" +                 // a key of one blank is no key
                        "del C:\\nothing\ny\n" +     // not stored
                        "del " + k2 + "\nn\n" +      // declined
                        "del " + k3 + "\n\n" +       // a bare Enter declines and leaves nothing behind
                        "delete " + k3 + "\n" +      // not a request word: ignored
                        "quit now\n";
    RunResult r = s.run({arg, "i"}, input);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);

    std::string expected = countedRunText(JBB_BUILD_DATE, s.path("j"), arg, db.ctrl, 60, db.image().size());
    expected += kHelp;
    expected += std::string(kPrompt) + "\n\nLocated Journal Database Record:\n\n" + recordBlock(entries[0]) +
                "\nTotal Query Time: <T>\n\n";
    expected += std::string(kPrompt) + kDelQuestion + "Deletion of key \"" + k1 + "\" completed.\n" +
                "\nTotal Delete Time: <T>\n\n" + kPrompt;
    expected += std::string(kPrompt) + "Your key \"" + k1 + "\" was not found in the database\n" +
                "\nTotal Query Time: <T>\n\n";
    expected += std::string(kPrompt) + "Your key \"\" was not found in the database\n" + "\nTotal Query Time: <T>\n\n";
    expected += std::string(kPrompt) + kDelQuestion + "Key C:\\nothing not found in the database.\n" +
                "\nTotal Delete Time: <T>\n\n" + kPrompt;
    expected += std::string(kPrompt) + kDelQuestion + kPrompt;
    expected += std::string(kPrompt) + kDelQuestion;
    expected += std::string(kPrompt) + kPrompt;
    EXPECT_EQ(expected, maskRequestTimes(maskWalkTime(r.out)));

    // The deletion reached the file, which is closed and sound.
    EXPECT_EQ("", joinProblems(checkTreeFile(s.path("j"))));
    DbContents c = readDbFile(s.path("j"));
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(kDbClosed, c.ctrl.state);
    ASSERT_EQ(59u, c.entries.size());
    for (const auto& kd : c.entries) EXPECT_NE(entries[1].key, kd.first);
}

TEST(Requests, DeletingEveryEntryThenListing) {
    ViewerSession s{JBBVIEW_PATH};
    std::vector<Entry> entries = journalOf(12);
    JournalInfo journal;
    journal.type = kJournalIncremental;
    DbFile db = buildTree(entries, journal);
    std::string arg = s.put("inc", db.image());
    std::string input = "list\n";
    for (const Entry& e : entries) input += "del " + utf16ToUtf8(e.key) + "\ny";
    input += "\nlist\n";  // the counting walk saw entries: List still prints its heading
    // End of input instead of quit: the loop ends as Quit does.
    RunResult r = s.run({arg, "i"}, input);
    ASSERT_EQ(0, r.status) << r.err;
    std::string out = maskRequestTimes(maskWalkTime(r.out));
    std::string listing = "\nList of Incremental Needed Directories:\n\n";
    for (const Entry& e : entries) listing += "\t" + utf16ToUtf8(e.key) + "\n";
    listing += "\n";
    EXPECT_NE(std::string::npos, out.find(std::string(kPrompt) + listing)) << out;
    EXPECT_NE(std::string::npos,
              out.find(std::string(kPrompt) + "\nList of Incremental Needed Directories:\n\n\n" + kPrompt))
        << out;
    size_t completed = 0;
    for (size_t at = out.find("\" completed.\n"); at != std::string::npos; at = out.find("\" completed.\n", at + 1))
        ++completed;
    EXPECT_EQ(entries.size(), completed);

    DbContents c = readDbFile(s.path("inc"));
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(kDbClosed, c.ctrl.state);
    EXPECT_TRUE(c.entries.empty());
    EXPECT_EQ(kJournalIncremental, c.ctrl.journal().type);
    EXPECT_EQ("", joinProblems(checkTreeFile(s.path("inc"))));
}
