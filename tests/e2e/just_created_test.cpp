// jbbview on a database that was created but never set up as a journal:
// after the report it asks whether to keep the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbreader.h"
#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

class JustCreated : public ::testing::Test {
protected:
    // Runs on `image` with `input` on standard input; checks the output up to
    // the question (and the no-answer note when `noAnswer`), and returns
    // whether the file is still there.
    bool runWith(const std::string& name, const Bytes& image, const std::string& input, uint32_t entries,
                 uint64_t reportedSize, bool noAnswer) {
        const std::string arg = s.put(name, image);
        RunResult r = s.run({arg}, input);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(maskWalkTime(r.out),
                  countedRunText(date, s.path(name), arg, CtrlRec::fromBytes(image.data()), entries, reportedSize) +
                      kJustCreatedQuestion + (noAnswer ? kNoAnswerText : ""));
        return fs::exists(s.path(name));
    }

    static Bytes unformatted(size_t entries) {
        JournalInfo j;
        j.type = kJournalUnformatted;
        j.setServerNode("SERVER", "NODE1");  // not shown for this type
        TreeOptions o;
        o.freeSlots = 3;
        o.slackEvery = 5;
        return buildTree(journalEntries(entries, 11), j, o).image();
    }

    ViewerSession s{JBBVIEW_PATH};
    const std::string date = JBB_BUILD_DATE;
};

}  // namespace

// An empty database is kept only on an answer beginning with y or Y; one
// whose tree holds entries is deleted only on an answer beginning with n
// or N, so that an empty line, a name read from a script's list or a
// stray blank keeps every entry.  No answer at all keeps either.
TEST_F(JustCreated, AnswersThatKeepTheFile) {
    const struct {
        size_t entries;
        const char* answer;
    } cases[] = {
        {0, "y\n"},       {0, "Y\n"},      {0, "yes\n"}, {0, "Yes, keep it\n"}, {0, "y"},       {1200, "y\n"},
        {1200, "Y\n"},    {1200, "yes\n"}, {1200, "\n"}, {1200, "C\n"},         {1200, " n\n"}, {1200, "\tN\n"},
        {1200, "x\nn\n"}, {1200, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.entries) + " entries, answer '" + c.answer + "'");
        const Bytes img = unformatted(c.entries);
        const std::string name = "keep" + std::to_string(n++);
        ASSERT_TRUE(runWith(name, img, c.answer, c.entries, img.size(), *c.answer == '\0'));
        EXPECT_EQ(checkClosedAndUnchanged(img, s.path(name)), "");
        Bytes after;
        ASSERT_TRUE(readFile(s.path(name), &after));
        EXPECT_EQ(firstDifference(img, after), "");
    }
}

TEST_F(JustCreated, AnswersThatDeleteTheFile) {
    const struct {
        size_t entries;
        const char* answer;
    } cases[] = {
        {0, "n\n"},    {0, "N\n"}, {0, "no\n"},   {0, "\n"},     {0, " y\n"},    {0, "\ty\n"},
        {0, "x\ny\n"}, {0, "C\n"}, {1200, "n\n"}, {1200, "N\n"}, {1200, "no\n"}, {1200, "n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.entries) + " entries, answer '" + c.answer + "'");
        const Bytes img = unformatted(c.entries);
        EXPECT_FALSE(runWith("del" + std::to_string(n++), img, c.answer, c.entries, img.size(), false));
    }
}

TEST_F(JustCreated, NoInputAtAllKeepsTheFile) {
    const Bytes img = unformatted(30);
    ASSERT_TRUE(runWith("noinput", img, "", 30, img.size(), true));
    EXPECT_EQ(checkClosedAndUnchanged(img, s.path("noinput")), "");
}

TEST_F(JustCreated, FreshlyCreatedControlRecord) {
    // What the service leaves after creating a database and closing it at
    // once: a control record with a zero application area and no slot.  The
    // counting walk writes the empty root, so the report shows 2160 bytes.
    CtrlRec c;
    c.appArea.fill(0);
    const Bytes img = c.bytes();
    ASSERT_TRUE(runWith("fresh-kept", img, "Y\n", 0, 2160, false));
    DbContents after = readDbFile(s.path("fresh-kept"));
    ASSERT_TRUE(after.ok) << after.error;
    EXPECT_EQ(after.fileSize, 2160u);
    EXPECT_EQ(after.ctrl.state, kDbClosed);
    EXPECT_EQ(after.ctrl.journal().type, kJournalUnformatted);

    EXPECT_FALSE(runWith("fresh-deleted", img, "n\n", 0, 2160, false));
}
