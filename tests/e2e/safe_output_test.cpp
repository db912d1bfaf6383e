// Files the programs write (the page of stats --html, the repository of
// msgc, the journal of jbbgen) never destroy what stands at the name by
// mistake: an input, a link or a file of another kind is left byte for
// byte as it was, a file of the command's own kind is replaced whole, and
// a write that fails part-way leaves the old file and no new one behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../unit/file_limit.h"
#include "dbwriter.h"
#include "platform.h"
#include "viewrun.h"

using namespace testdb;
namespace fs = std::filesystem;

namespace {

// One program that writes a file: how to run it with a target, and a
// file of its own kind to replace.
struct Writer {
    const char* name;  // its messages begin "NAME: "
    std::function<std::vector<std::string>(const std::string& target)> args;
    const char* ownKind;  // a file of its kind, in the folder
    const char* notKind;  // "not ..." for a file of another kind, null when --force is given anyway
};

class SafeOutput : public ::testing::Test {
protected:
    void SetUp() override {
        RunResult g = gen({f("in.jbbdb"), "--count", "40", "--seed", "3"});
        ASSERT_EQ(g.status, 0) << g.err;
        std::string source;
        for (int i = 1; i <= 120; ++i)
            source += std::to_string(i) + " I \"message number " + std::to_string(i) + "\"\n";
        put("demo.msg", source);
        ASSERT_EQ(tool({"msgc", f("demo.msg"), f("own.rep")}).status, 0);
        ASSERT_EQ(tool({"stats", "--html", f("own.html"), f("in.jbbdb")}).status, 0);
        ASSERT_EQ(tool({"dump", f("in.jbbdb")}).status, 0);
        // jbbgen's input under a name jbbgen could be given as its output.
        put("dump.jbbdb", tool({"dump", f("in.jbbdb")}).out);
        ASSERT_EQ(gen({f("own.jbbdb"), "--count", "5"}).status, 0);
    }

    RunResult tool(const std::vector<std::string>& args) {
        return runProgram(programPath(JBBTOOL_PATH), args, "", dir.path());
    }
    RunResult gen(std::vector<std::string> args) {
        args.push_back("--quiet");
        return runProgram(programPath(JBBGEN_PATH), args, "", dir.path());
    }
    RunResult run(const Writer& w, const std::string& target) {
        const std::vector<std::string> a = w.args(target);
        return std::string(w.name) == "jbbgen" ? gen(a) : tool(a);
    }
    std::string f(const std::string& name) const { return dir.file(name); }
    void put(const std::string& name, const std::string& text) {
        ASSERT_TRUE(writeFile(f(name), Bytes(text.begin(), text.end())));
    }
    std::string bytes(const std::string& name) const {
        if (fs::is_directory(f(name))) return "(a folder)";
        Bytes b;
        return readFile(f(name), &b) ? std::string(b.begin(), b.end()) : std::string("(missing)");
    }
    // The names of the folder that no test made: new files left behind.
    std::string leftovers() const {
        std::string out;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().extension() == ".tmp") out += e.path().filename().string() + " ";
        return out;
    }
    // Makes `link` a link of the kind asked to `to`; false where the system
    // cannot make one (links under Wine).
    bool makeLink(bool symbolic, const std::string& to, const std::string& link) {
        std::error_code ec;
        if (symbolic)
            fs::create_symlink(f(to), f(link), ec);
        else
            fs::create_hard_link(f(to), f(link), ec);
        return !ec;
    }

    const std::vector<Writer> writers = {
        {"jbbtool stats",
         [this](const std::string& t) {
             return std::vector<std::string>{"stats", "--html", t, f("in.jbbdb")};
         },
         "own.html", "an HTML page"},
        {"jbbtool msgc",
         [this](const std::string& t) {
             return std::vector<std::string>{"msgc", f("demo.msg"), t};
         },
         "own.rep", "a message repository msgc wrote"},
        {"jbbgen",
         [this](const std::string& t) {
             return std::vector<std::string>{t, "--input", f("dump.jbbdb"), "--force"};
         },
         "own.jbbdb", nullptr},
    };
    TempDir dir;
};

}  // namespace

// Each target that must stay: its bytes are compared before and after.
TEST_F(SafeOutput, RefusedTargetsAreLeftAsTheyAre) {
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        struct Case {
            std::string target;  // name in the folder
            std::string why;     // the line after "NAME: "
        };
        std::vector<Case> cases;
        // The input itself, named otherwise than the command was given it.
        const std::string input = std::string(w.name) == "jbbtool stats"  ? "in.jbbdb"
                                  : std::string(w.name) == "jbbtool msgc" ? "demo.msg"
                                                                          : "dump.jbbdb";
        cases.push_back({input, "@ is also an input"});
        if (w.notKind != nullptr)
            cases.push_back({"own.jbbdb", std::string("@: not ") + w.notKind + ", left as it is"});
        const std::string stem = std::string(w.name).substr(std::string(w.name).rfind(' ') + 1);
        // Names that jbbgen takes as they are (with the extension).  The
        // hard link is to a copy: the file of its own kind keeps one link.
        fs::copy_file(f(w.ownKind), f(stem + "-copy"));
        if (makeLink(false, stem + "-copy", stem + "-hard.jbbdb"))
            cases.push_back({stem + "-hard.jbbdb", "@: a file with more than one hard link, left as it is"});
        if (makeLink(true, w.ownKind, stem + "-sym.jbbdb"))
            cases.push_back({stem + "-sym.jbbdb", "@: a symbolic link, left as it is"});
        fs::create_directory(f(stem + "-dir.jbbdb"));
        cases.push_back({stem + "-dir.jbbdb", std::string(w.name) == "jbbgen"
                                                  ? "@ is a directory"
                                                  : "@: not a regular file, left as it is"});

        for (const Case& c : cases) {
            SCOPED_TRACE(c.target);
            const std::string before = bytes(c.target), ownBefore = bytes(w.ownKind);
            std::string target = f(c.target);
            if (c.target == input) target = f(".") + plat::pathSeparator() + c.target;
            const RunResult r = run(w, target);
            std::string why = c.why;
            why.replace(why.find('@'), 1, target);
            EXPECT_EQ(r.status, 2) << r.out;
            EXPECT_EQ(r.err, std::string(w.name) + ": " + why + "\n");
            EXPECT_EQ(bytes(c.target), before);
            EXPECT_EQ(bytes(w.ownKind), ownBefore);
            EXPECT_EQ(leftovers(), "");
        }
    }
}

// A file of the command's own kind is replaced, and so is any other
// regular file with --force; "-" is standard output, byte for byte what
// the file gets.
TEST_F(SafeOutput, OwnKindIsReplacedAndDashIsStandardOutput) {
    const std::string page = bytes("own.html"), repo = bytes("own.rep");
    put("own.html",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html "
        "xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\"><head><meta charset=\"UTF-8\"/><title>jbbtool "
        "stats</title> an older page");
    put("own.rep", "JBB message repository 1\n an older repository");
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        const RunResult r = run(w, f(w.ownKind));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(leftovers(), "");
    }
    EXPECT_EQ(bytes("own.html"), page);
    EXPECT_EQ(bytes("own.rep"), repo);
    EXPECT_EQ(tool({"dump", f("own.jbbdb")}).out, bytes("dump.jbbdb"));

    for (const char* name : {"stats-forced", "msgc-forced"}) {
        put(name, "notes of mine");
        const bool stats = std::string(name) == "stats-forced";
        const RunResult r = stats ? tool({"stats", "--html", f(name), "--force", f("in.jbbdb")})
                                  : tool({"msgc", "--force", f("demo.msg"), f(name)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(bytes(name), stats ? page : repo);
    }

    RunResult r = tool({"stats", "--html", "-", f("in.jbbdb")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, page);
    r = tool({"msgc", f("demo.msg"), "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, repo);
    EXPECT_EQ(bytes("-"), "(missing)");
}

// Under a file-size limit the new file cannot be written whole: the old
// one stays as it was and the new one is gone.
TEST_F(SafeOutput, AWriteThatFailsPartWayLeavesTheOldFile) {
    if (plat::isWindows()) GTEST_SKIP() << "no file-size limit on Windows";
    const std::string page = bytes("own.html"), repo = bytes("own.rep"), journal = bytes("own.jbbdb");
    FileSizeLimit limit(2048);
    ASSERT_TRUE(limit.active());
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        const RunResult r = run(w, f(w.ownKind));
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
        EXPECT_EQ(leftovers(), "");
    }
    EXPECT_EQ(bytes("own.html"), page);
    EXPECT_EQ(bytes("own.rep"), repo);
    EXPECT_EQ(bytes("own.jbbdb"), journal);
}
