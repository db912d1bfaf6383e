// jbbview's command line and the control-record probe: usage, the path
// built from the argument, and every message for a file that cannot be
// shown.  A refused file is never changed.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbreader.h"
#include "dbwriter.h"
#include "platform.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

class Probe : public ::testing::Test {
protected:
    // Runs the viewer on database `name` holding `image` and expects the
    // probe's message `msg` after the head, status -1 and the file as it was.
    void expectRefused(const std::string& name, const Bytes& image, const std::string& msg) {
        SCOPED_TRACE(name);
        const std::string arg = s.put(name, image);
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.out, headText(date, s.path(name)) + msg);
        EXPECT_EQ(r.err, "");
        Bytes after;
        ASSERT_TRUE(readFile(s.path(name), &after));
        EXPECT_EQ(firstDifference(image, after), "");
    }

    ViewerSession s{JBBVIEW_PATH};
    const std::string date = JBB_BUILD_DATE;
};

const char* const kNotReadText = "\n\nError reading control record. \n\n";
const char* const kBadMagicText = "\n\nCorrupt database control record detected. \n\n";
const char* const kCorruptText = "\n\nCorrupt database detected. \n\n";
const char* const kDownlevelText = "\n\nError 224 opening or reading database. \n\n";

Bytes smallJournal() { return buildTree(journalEntries(20), JournalInfo()).image(); }

}  // namespace

TEST_F(Probe, NoArgumentPrintsTheUsageOnStandardError) {
    RunResult r = s.run({});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, bannerText(date));
    EXPECT_EQ(r.err, usageText(baseName(s.exe())));
}

TEST_F(Probe, UsageNamesTheProgramByItsBaseName) {
    // Started as .../bin/viewer the text names "viewer"; a word with a
    // backslash is cut after its last backslash, before any slash is looked at.
    fs::create_directories(s.dir().path() / "bin");
    fs::create_directories(s.dir().path() / "a");
    // Windows starts a program file only through a name with an extension;
    // typed without it (bin\viewer for bin\viewer.exe) the name reaches the
    // program as typed.
    const std::string plain = (s.dir().path() / "bin" / "viewer").string();
    const std::string backslashed = (s.dir().path() / "a\\viewer.exe").string();
    for (const std::string& copy : {plain, backslashed}) {
        SCOPED_TRACE(copy);
        const std::string file = copy == plain && plat::isWindows() ? copy + ".exe" : copy;
        fs::copy_file(s.exe(), file);
        fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
        RunResult r = runProgram(copy, {}, "", s.dir().path());
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.out, bannerText(date));
        EXPECT_EQ(r.err, usageText(copy == plain ? "viewer" : "viewer.exe"));
    }
}

TEST_F(Probe, MissingFileIsNotFound) {
    RunResult r = s.run({s.arg("absent")});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, headText(date, s.path("absent")) + "\n\nSpecified database file '" + s.path("absent") +
                         "' not found. \n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(s.path("absent")));
}

TEST_F(Probe, DirectoryOfThatNameCannotBeOpened) {
    fs::create_directory(s.path("folder"));
    RunResult r = s.run({s.arg("folder")});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, headText(date, s.path("folder")) + "\n\nError opening database. \n\n");
    EXPECT_TRUE(fs::is_directory(s.path("folder")));
}

TEST_F(Probe, ArgumentEndingInExtensionGetsItAgain) {
    // x.jbbdb names the file x.jbbdb.jbbdb; a file called x.jbbdb is not it.
    const Bytes img = smallJournal();
    writeFile(s.dir().file("x.jbbdb.jbbdb"), img);
    writeFile(s.dir().file("y.jbbdb"), img);
    const std::string arg = s.dir().file("x.jbbdb");
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskWalkTime(r.out),
              countedRunText(date, arg + ".jbbdb", arg, CtrlRec::fromBytes(img.data()), 20, img.size()));
    EXPECT_EQ(checkClosedAndUnchanged(img, arg + ".jbbdb"), "");

    const std::string yArg = s.dir().file("y.jbbdb");
    r = s.run({yArg});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out,
              headText(date, yArg + ".jbbdb") + "\n\nSpecified database file '" + yArg + ".jbbdb' not found. \n\n");
}

TEST_F(Probe, ArgumentLengthLimit) {
    // 1273 bytes are accepted (the file is then looked for); 1274 are refused
    // before anything is probed.
    std::string arg = s.dir().file("");
    while (arg.size() < 1273) arg += (arg.size() % 100 == 0 ? '/' : 'd');
    arg.back() = 'x';
    ASSERT_EQ(arg.size(), 1273u);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out,
              headText(date, arg + ".jbbdb") + "\n\nSpecified database file '" + arg + ".jbbdb' not found. \n\n");

    r = s.run({arg + "y"});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, bannerText(date) + "\n\nDatabase name is too long: at most 1273 bytes are allowed.\n\n");
    EXPECT_EQ(r.err, "");
}

// Names far past the limit, at the length where the wide form of a name
// would be cut (8959 characters and one either side, and more): refused as
// too long before any buffer holds them, and nothing is made in the folder.
TEST_F(Probe, NamesAtTheWideTextLimitAreRefusedAsTooLong) {
#ifdef _WIN32
    GTEST_SKIP() << "cmd.exe, which starts the viewer here, takes command lines of at most 8191 characters";
#endif
    for (size_t chars : {size_t{8958}, size_t{8959}, size_t{9000}}) {
        SCOPED_TRACE(chars);
        std::string arg = s.dir().file("");
        while (arg.size() < chars) arg += 'n';
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.out, bannerText(date) + "\n\nDatabase name is too long: at most 1273 bytes are allowed.\n\n");
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(fs::is_empty(s.dir().path()));
    }
}

TEST_F(Probe, ShortFilesCannotBeRead) {
    const Bytes full = smallJournal();
    expectRefused("empty", {}, kNotReadText);
    expectRefused("one", {0xCD}, kNotReadText);
    expectRefused("almost", Bytes(full.begin(), full.begin() + 2087), kNotReadText);
}

TEST_F(Probe, BadMagicNumberWinsOverEverythingElse) {
    Bytes img = smallJournal();
    img[0] = 0xAB;  // 0xABCD stored big-endian
    img[1] = 0xCD;
    expectRefused("bigendian", img, kBadMagicText);

    putU32(img, 4, kDbCorrupt);
    expectRefused("badmagic-corrupt", img, kBadMagicText);

    putU16(img, 0, 0);
    putU8(img, 2, 1);
    expectRefused("zero-magic-old-version", img, kBadMagicText);
}

TEST_F(Probe, CorruptStateIsRefusedBeforeTheVersion) {
    Bytes img = smallJournal();
    putU32(img, 4, kDbCorrupt);
    expectRefused("corrupt", img, kCorruptText);
    putU8(img, 3, 1);  // version 2.1 as well
    expectRefused("corrupt-21", img, kCorruptText);
}

TEST_F(Probe, OtherVersionsAreRefused) {
    const struct { uint8_t maj, min; } versions[] = {{2, 1}, {3, 2}, {2, 3}, {1, 0}};
    for (const auto& v : versions) {
        Bytes img = smallJournal();
        putU8(img, 2, v.maj);
        putU8(img, 3, v.min);
        expectRefused("v" + std::to_string(v.maj) + std::to_string(v.min), img, kDownlevelText);
    }
    // Also when the database is marked open.
    Bytes img = smallJournal();
    putU8(img, 3, 1);
    putU32(img, 4, kDbOpened);
    expectRefused("open-21", img, kDownlevelText);
}
