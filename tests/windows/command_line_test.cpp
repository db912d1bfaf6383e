// The test harness's command lines (tests/support/viewrun.cpp): words with
// blanks and the command interpreters' special characters, and environment
// settings, reach the viewer unchanged, through a POSIX shell on Linux and
// through cmd.exe on Windows.
#include <gtest/gtest.h>

#include "dbwriter.h"
#include "viewrun.h"

using namespace testdb;

TEST(CommandLine, SpecialCharactersReachTheViewerUnchanged) {
    // Characters that may stand in a file name on both platforms.  The
    // viewer repeats the name it was given in its not-found message.
    ViewerSession s{JBBVIEW_PATH};
    const char* const names[] = {"two  blanks",        "and&ampersand", "caret^(parens)",     "semi;comma,eq=",
                                 "quote'back`dollar$", "bang!hash#at@", "[brackets]{braces}~"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string arg = s.arg(name);
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.out, headText(JBB_BUILD_DATE, arg + ".jbbdb") + "\n\nSpecified database file '" + arg +
                             ".jbbdb' not found. \n\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, EnvironmentSettingsReachTheViewer) {
    // TZ moves the report's local times on both platforms; the other setting
    // would break the command line if its value were not quoted.
    ViewerSession s{JBBVIEW_PATH};
    const std::string arg = s.put("zone", buildTree(journalEntries(3, 7), JournalInfo()).image());
    RunResult r = s.run({arg}, "", {{"JBB_TEST_NOTE", "a & b | c > d ^ (e) 'f'"}, {"TZ", "EST5"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("     Journal Activation Date Thu Dec 31 19:00:00 2009\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}
