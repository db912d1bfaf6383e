// jbbview on a database that was created but never set up as a journal:
// after the report it asks whether to keep the file; only an answer line
// that does not begin with y or Y deletes it.
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

TEST_F(JustCreated, AnswersThatKeepTheFile) {
    const Bytes img = unformatted(1200);
    int n = 0;
    for (const char* answer : {"y\n", "Y\n", "yes\n", "Yes, keep it\n", "y"}) {
        SCOPED_TRACE(answer);
        const std::string name = "keep" + std::to_string(n++);
        ASSERT_TRUE(runWith(name, img, answer, 1200, img.size(), false));
        EXPECT_EQ(checkClosedAndUnchanged(img, s.path(name)), "");
        Bytes after;
        ASSERT_TRUE(readFile(s.path(name), &after));
        EXPECT_EQ(firstDifference(img, after), "");
    }
}

TEST_F(JustCreated, AnswersThatDeleteTheFile) {
    const Bytes img = unformatted(1200);
    int n = 0;
    for (const char* answer : {"n\n", "N\n", "no\n", "\n", " y\n", "\ty\n", "x\ny\n"}) {
        SCOPED_TRACE(answer);
        EXPECT_FALSE(runWith("del" + std::to_string(n++), img, answer, 1200, img.size(), false));
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
