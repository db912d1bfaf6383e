// jbbtool as an administrator runs it over a server's journals: several
// files in one run with the worst exit status, hints for names given
// without the extension, files that are no journal, and the same figures
// in the text, JSON and HTML reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "dbwriter.h"
#include "platform.h"
#include "viewrun.h"

using namespace testdb;

namespace {

class JbbtoolFiles : public ::testing::Test {
protected:
    // The tool on files of the temporary folder: an argument that begins
    // with '@' is the name of such a file.
    RunResult tool(std::vector<std::string> args) {
        for (std::string& a : args)
            if (a[0] == '@') a = dir.file(a.substr(1));
        return runProgram(JBBTOOL_PATH, args, "", dir.path());
    }
    void put(const std::string& name, const Bytes& image) { ASSERT_TRUE(writeFile(dir.file(name), image)); }
    void gen(const std::string& name, const std::string& count) {
        RunResult g =
            runProgram(JBBGEN_PATH, {dir.file(name), "--count", count, "--seed", "4", "--no-progress"}, "", dir.path());
        ASSERT_EQ(g.status, 0) << g.err;
    }
    // What the tool says of a file of the folder.
    std::string f(const std::string& name) { return dir.file(name); }
    // The path as a JSON string holds it: Windows' backslashes escaped.
    std::string jf(const std::string& name) {
        std::string out;
        for (char c : f(name)) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out;
    }
    TempDir dir;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The number after `member` (as "\"entries\":") in a JSON text.
std::string number(const std::string& json, const std::string& member, size_t from = 0) {
    size_t at = json.find(member, from);
    if (at == std::string::npos) return "missing " + member;
    at += member.size();
    size_t end = json.find_first_not_of("-0123456789", at);
    return json.substr(at, end - at);
}

// A sound journal, a damaged one, one missing and one that is noise: each
// file is reported on in turn, the exit status is the worst of them, and
// --quiet leaves out the sound ones.
TEST_F(JbbtoolFiles, SeveralFilesReportEachAndExitWithTheWorst) {
    gen("sound", "300");
    TreeOptions o;
    o.height = 2;
    DbFile d = buildTree(journalEntries(100, 3), JournalInfo(), o);
    d.ctrl.lastIndex = 0;
    put("damaged.jbbdb", d.image());
    put("noise.jbbdb", Bytes(5000, 0xCD));

    RunResult r = tool({"check", "@sound.jbbdb", "@damaged.jbbdb", "@missing.jbbdb", "@sound.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool check: " + f("missing.jbbdb") + ": No such file or directory\n");
    EXPECT_EQ(r.out.find(f("sound.jbbdb") + ": "), 0u) << r.out;
    EXPECT_NE(r.out.find("result: sound\n\n" + f("damaged.jbbdb") + ": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result: 1 finding in 1 class\n\n" + f("sound.jbbdb") + ": "), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "result: sound\n"), 2u);
    EXPECT_EQ(tool({"check", "@sound.jbbdb", "@damaged.jbbdb"}).status, 1);
    EXPECT_EQ(tool({"check", "@sound.jbbdb", "@sound.jbbdb"}).status, 0);

    r = tool({"check", "--quiet", "@sound.jbbdb", "@damaged.jbbdb", "@noise.jbbdb", "@sound.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find(f("sound.jbbdb")), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(f("damaged.jbbdb") + ": "), 0u) << r.out;
    EXPECT_EQ(r.out.find(f("noise.jbbdb")), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "jbbtool check: " + f("noise.jbbdb") +
                         ": not a journal database: control record magic number is 0xCDCD, expected 0xABCD\n");
    EXPECT_EQ(tool({"check", "--quiet", "@sound.jbbdb"}).out, "");

    // JSON: a line per file, each naming its file.
    r = tool({"check", "--json", "--quiet", "@damaged.jbbdb", "@sound.jbbdb", "@noise.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.out, "\n"), 1u) << r.out;
    EXPECT_EQ(r.out.find("{\"schema\":\"jbbtool.check/3\",\"file\":\"" + jf("damaged.jbbdb") + "\","), 0u) << r.out;

    // stats: noise is no journal (1), a missing file is worse (2).
    r = tool({"stats", "--json", "@sound.jbbdb", "@noise.jbbdb", "@damaged.jbbdb"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(count(r.out, "\n"), 2u) << r.out;
    EXPECT_EQ(r.out.find("{\"schema\":\"jbbtool.stats/2\",\"file\":\"" + jf("sound.jbbdb") + "\","), 0u) << r.out;
    EXPECT_NE(r.out.find("\n{\"schema\":\"jbbtool.stats/2\",\"file\":\"" + jf("damaged.jbbdb") + "\","),
              std::string::npos);
    r = tool({"stats", "@missing.jbbdb", "@sound.jbbdb", "@noise.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.find(f("sound.jbbdb") + "\nControl record\n"), 0u) << r.out;
    EXPECT_EQ(tool({"stats", "@sound.jbbdb", "@sound.jbbdb"}).status, 0);

    // The page is one file's.
    r = tool({"stats", "--html", "@p.html", "@sound.jbbdb", "@damaged.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("jbbtool stats: --html writes the page of one file, found 2\n"), std::string::npos) << r.err;
    // dump and diff stay single.
    EXPECT_EQ(tool({"dump", "@sound.jbbdb", "@sound.jbbdb"}).status, 2);
}

// A journal named without its extension gets a hint from every command
// that opens one; a name with no such journal beside it gets none.
TEST_F(JbbtoolFiles, NamesWithoutTheExtensionGetAHint) {
    gen("C-drive", "50");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"check", "@C-drive"},
                                               {"check", "--json", "@C-drive.jbbdb", "@C-drive"},
                                               {"stats", "@C-drive"},
                                               {"dump", "@C-drive"},
                                               {"dump", "--salvage", "@C-drive"},
                                               {"diff", "@C-drive.jbbdb", "@C-drive"}}) {
        SCOPED_TRACE(args[0] + " " + args.back());
        RunResult r = tool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "jbbtool " + args[0] + ": " + f("C-drive") + ": No such file; did you mean " + f("C-drive") +
                             ".jbbdb?\n");
    }
    RunResult r = tool({"check", "@D-drive"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool check: " + f("D-drive") + ": No such file or directory\n");
    // A name that is there, as a directory, is no journal named short.
    gen("E-drive", "5");
    std::filesystem::create_directory(f("E-drive"));
    r = tool({"check", "@E-drive"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "jbbtool check: " + f("E-drive") + ": is a directory\n");
}

// check, stats, dump and diff refuse a file that is no journal in check's words,
// with exit status 1 and no report.
TEST_F(JbbtoolFiles, FilesThatAreNoJournalAreSaidToBeSo) {
    gen("j", "20");
    put("noise.jbbdb", Bytes(5000, 0xCD));
    put("short.jbbdb", Bytes(1000, 0));
    RunResult r = tool({"stats", "@noise.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "jbbtool stats: " + f("noise.jbbdb") +
                         ": not a journal database: control record magic number is 0xCDCD, expected 0xABCD\n");
    // check too, and on a text file or one too short for a control record.
    put("notes.txt", Bytes(3000, 'x'));
    for (const char* name : {"noise.jbbdb", "short.jbbdb", "notes.txt"}) {
        for (const char* form : {"--quiet", "--json"}) {
            r = tool({"check", form, std::string("@") + name});
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_EQ(r.out, "") << name;
            EXPECT_EQ(r.err.rfind("jbbtool check: " + f(name) + ": not a journal database: ", 0), 0u) << r.err;
            EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        }
    }
    r = tool({"stats", "--json", "@short.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "jbbtool stats: " + f("short.jbbdb") +
                  ": not a journal database: the file holds 1000 bytes, fewer than a 2088-byte control record\n");
    r = tool({"dump", "@noise.jbbdb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("jbbtool dump: " + f("noise.jbbdb") +
                         ": not a journal database: control record magic number is 0xCDCD"),
              std::string::npos)
        << r.err;
    r = tool({"diff", "@j.jbbdb", "@short.jbbdb"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("jbbtool diff: " + f("short.jbbdb") + ": not a journal database: the file holds 1000 bytes"),
              std::string::npos)
        << r.err;
}

// The same journal through stats' text, JSON and page and check's JSON:
// the figures agree and each is shown one way (magic 0xABCD, a state or a
// code by name and number, times in UTC, counts as whole numbers), and
// every bar and map segment of the page has a title with its figures.
TEST_F(JbbtoolFiles, TextJsonAndPageShowTheSameFiguresTheSameWay) {
    gen("j", "3000");
    const RunResult text = tool({"stats", "@j.jbbdb"});
    ASSERT_EQ(text.status, 0) << text.err;
    RunResult json = tool({"stats", "--json", "@j.jbbdb"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string& js = json.out;
    RunResult page = tool({"stats", "--html", "@p.html", "@j.jbbdb"});
    ASSERT_EQ(page.status, 0) << page.err;
    EXPECT_EQ(page.out, "") << "only the page, unless asked for the report too";
    EXPECT_EQ(tool({"stats", "--html", "@p2.html", "--text", "@j.jbbdb"}).out, text.out);
    EXPECT_EQ(tool({"stats", "--html", "@p3.html", "--json", "@j.jbbdb"}).out, json.out);
    EXPECT_EQ(tool({"stats", "--json", "--text", "@j.jbbdb"}).status, 2);
    Bytes bytes;
    ASSERT_TRUE(readFile(f("p.html"), &bytes));
    const std::string html(bytes.begin(), bytes.end());
    auto row = [](const std::string& name, const std::string& value) {
        return "<tr><td class=\"name\">" + name + "</td><td>" + value + "</td></tr>";
    };

    // The control record.
    EXPECT_NE(js.find("\"control\":{\"magic\":\"0xABCD\",\"versionMajor\":2,\"versionMinor\":2,\"state\":0,"
                      "\"stateName\":\"dbClosed\","),
              std::string::npos)
        << js;
    EXPECT_NE(text.out.find("  magic 0xABCD, version 2.2, state dbClosed (0), rootOffset " +
                            number(js, "\"rootOffset\":") + ","),
              std::string::npos)
        << text.out;
    EXPECT_NE(html.find(row("magic", "0xABCD")), std::string::npos);
    EXPECT_NE(html.find(row("state", "dbClosed (0)")), std::string::npos);
    EXPECT_NE(tool({"check", "--json", "@j.jbbdb"})
                  .out.find("\"magic\":\"0xABCD\",\"versionMajor\":2,"
                            "\"versionMinor\":2,\"state\":0,\"stateName\":\"dbClosed\""),
              std::string::npos);

    // Sizes and counts.
    const std::string entries = number(js, "\"entries\":", js.find("\"damaged\":")), depth = number(js, "\"depth\":"),
                      nodes = number(js, "\"nodes\":"), free = number(js, "\"freeSlots\":");
    EXPECT_EQ(entries, "3000");
    EXPECT_NE(text.out.find("Tree\n  depth " + depth + ", " + entries + " entries\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(" slots: " + nodes + " nodes, " + free + " free ("), std::string::npos) << text.out;
    for (const auto& f :
         {std::make_pair("entries", entries), std::make_pair("depth", depth), std::make_pair("nodes", nodes),
          std::make_pair("free slots", free), std::make_pair("bytes", number(js, "\"fileSize\":")),
          std::make_pair("directories", number(js, "\"directories\":"))})
        EXPECT_NE(html.find(row(f.first, f.second)), std::string::npos) << f.first << " " << f.second;

    // Actions and object types: by name and code, keyed alike.
    const std::regex codeCount("\\{\"code\":([0-9]+),\"name\":\"([a-z-]+)\",\"entries\":([0-9]+)\\}");
    size_t codes = 0;
    for (std::sregex_iterator m(js.begin(), js.end(), codeCount), e; m != e; ++m, ++codes) {
        const std::string shown = (*m)[2].str() + " (" + (*m)[1].str() + ")";
        EXPECT_TRUE(std::regex_search(
            text.out,
            std::regex("\n  " + std::regex_replace(shown, std::regex("[()]"), "\\$&") + " +" + (*m)[3].str() + "\n")))
            << shown;
        EXPECT_NE(html.find(row(shown, (*m)[3].str())), std::string::npos) << shown;
    }
    EXPECT_EQ(codes, 9u) << "7 actions and 2 object types in " << js;

    // Times in UTC, labelled so.
    const std::string oldest = number(js, "\"oldest\":"), newest = number(js, "\"newest\":");
    const std::regex utc(
        "\"inserted\":\\{\"oldest\":-?[0-9]+,\"newest\":-?[0-9]+,\"oldestUtc\":\"([^\"]+)\","
        "\"newestUtc\":\"([^\"]+)\"\\}");
    std::smatch t;
    ASSERT_TRUE(std::regex_search(js, t, utc)) << js;
    EXPECT_NE(text.out.find("Times (UTC)\n  inserted " + t[1].str() + " to " + t[2].str() + "\n"), std::string::npos);
    EXPECT_NE(html.find(row("inserted (UTC)", t[1].str() + " to " + t[2].str())), std::string::npos);
    EXPECT_NE(oldest, newest);

    // Every bar and map segment has its title; counts are whole numbers.
    EXPECT_EQ(count(html, "<rect "), count(html, "</title></rect>") + count(html, "<svg "));
    const std::regex title("<title>([^<]*)</title>");
    size_t titles = 0;
    for (std::sregex_iterator m(html.begin(), html.end(), title), e; m != e; ++m, ++titles) {
        const std::string figures = std::regex_replace((*m)[1].str(), std::regex("\\([0-9.]+%\\)"), "");
        EXPECT_FALSE(std::regex_search(figures, std::regex("[0-9]\\.[0-9]"))) << (*m)[1].str();
    }
    EXPECT_GT(titles, 100u);
    EXPECT_NE(html.find("<title>offset 2088 to "), std::string::npos);
    const std::regex axis("font-size=\"10\">([^<]*)</text>");
    for (std::sregex_iterator m(html.begin(), html.end(), axis), e; m != e; ++m)
        EXPECT_FALSE(std::regex_search((*m)[1].str(), std::regex("^[0-9]+\\.[0-9]"))) << (*m)[1].str();
}

}  // namespace
