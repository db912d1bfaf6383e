// Running the viewer executable from tests, and the texts it is expected
// to print.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "dbwriter.h"

namespace testdb {

struct RunResult {
    int status = 0;   // the program's exit status (-1 for exit(-1))
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

// A fresh folder under the system's temporary folder; removed with its
// contents when the object goes (kept when JBB_KEEP_TEST_DIRS is set, for
// looking at a failed run).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as the program is given it.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Environment variables set for one run only, NAME and value.
using EnvList = std::vector<std::pair<std::string, std::string>>;

// The one place that turns a program, its arguments, its extra environment
// and the three redirections into a command line for the system's command
// interpreter: a POSIX shell, or cmd.exe on Windows.  On Windows it is
// empty when a word holds a character cmd.exe would change (" % or a line
// end).
std::string buildCommandLine(const std::string& exe, const std::vector<std::string>& args, const std::string& inFile,
                             const std::string& outFile, const std::string& errFile, const EnvList& env = {});

// The path by which a Windows program reaches the program `path`: under
// Wine a POSIX path from the build (/work/x) is Z:\work\x.  Elsewhere, and
// for any other path, `path` itself.
std::string programPath(const std::string& path);

// What the program wrote, with the CR LF line ends of a Windows text-mode
// stream turned into LF, so that both platforms compare to the same texts.
// Unchanged on other systems.
std::string normalizeOutput(const std::string& text);

// Runs `exe` with `args`, standard input read from a file holding `input`
// (empty: no input at all), standard output and error caught in files in
// `workDir` (both passed through normalizeOutput).  A program that could
// not be started, or that was killed, gives status INT32_MIN.
RunResult runProgram(const std::string& exe, const std::vector<std::string>& args, const std::string& input,
                     const std::filesystem::path& workDir, const EnvList& env = {});

// False when runProgram cannot pass `args` to a program unchanged: on
// Windows a word with a double quote, a percent sign or a line end, which
// cmd.exe changes.  Tests skip such cases there.
bool argumentsPass(const std::vector<std::string>& args);

// A temporary folder with databases in it and the viewer to run on them.
class ViewerSession {
public:
    // `exe` as programPath() gives it.
    explicit ViewerSession(const std::string& exe);

    const std::string& exe() const { return exe_; }
    const TempDir& dir() const { return dir_; }
    // The argument that names database `name` (without the extension).
    std::string arg(const std::string& name) const { return dir_.file(name); }
    // The database file of `name`: the argument with ".jbbdb" appended.
    std::string path(const std::string& name) const { return dir_.file(name) + ".jbbdb"; }
    // Writes database `name` and returns its argument.
    std::string put(const std::string& name, const Bytes& image) const;
    RunResult run(const std::vector<std::string>& args, const std::string& input = "", const EnvList& env = {}) const;

private:
    std::string exe_;
    TempDir dir_;
};

// ---- Expected texts ----

// The part of a command word after its last '\', else after its last '/'.
std::string baseName(const std::string& word);

std::string bannerText(const std::string& buildDate);
std::string usageText(const std::string& base);

// "Www Mmm DD hh:mm:ss YYYY" in UTC (no newline), or "(invalid time)" for
// times before 1970 or after 3000-12-31 23:59:59.
std::string timeText(int64_t t);

// The size text of a byte count: "2 Bytes", "1 KB (1536 Bytes)", ...
std::string sizeText(uint64_t n);

// The Located Database block (with the blank line that ends it).
std::string locatedText(const std::string& path, uint32_t state, uint16_t magic, uint8_t versMaj, uint8_t versMin,
                        uint16_t keyLen, uint16_t dataLen);
std::string locatedText(const std::string& path, const CtrlRec& c);

// What the counting walk prints for `count` entries.
std::string progressText(uint32_t count);

constexpr uint32_t kUnknownCount = 0xFFFFFFFF;

struct ReportFields {
    uint8_t versMaj = 2;
    uint8_t versMin = 2;
    Bytes appArea;  // 2048 bytes
    uint32_t entries = 0;
    uint16_t keyLen = 0;
    uint16_t dataLen = kJournalRecSize;
    std::string name;  // the argument as given
    uint64_t fileSize = 0;
};
ReportFields reportFields(const CtrlRec& c, uint32_t entries, const std::string& name, uint64_t fileSize);

// The "Journal Database Information" report with the entry count line.
std::string reportText(const ReportFields& f);

// Banner and the line announcing the probe of `path`.
std::string headText(const std::string& buildDate, const std::string& path);

// The output of a run that opens the database in `path` (control record
// `c` as the probe and the open see it), counts `entries`, and reports the
// argument `name` and the file size; the walk time masked as "<T>".
std::string countedRunText(const std::string& buildDate, const std::string& path, const std::string& name,
                           const CtrlRec& c, uint32_t entries, uint64_t fileSize);

// The output of a run on a database in the open state.
std::string openStateRunText(const std::string& buildDate, const std::string& path, const std::string& name,
                             const CtrlRec& c, uint64_t fileSize);

const char* const kOpeningText =
    "Opening and Intializing DB ...\n\nCounting Database Entries (walking thru entire db) ...\n\n";
const char* const kJustCreatedQuestion = "This database is in \"just-created\" state, do you want to keep it (Y/N)? ";
const char* const kNoAnswerText = "\nNo answer was read; the database was kept.\n";

// Replaces the value on the walk time line by "<T>" when it has the form
// "< 1 ms" or NN:NN:NNN; anything else is left for the comparison to show.
std::string maskWalkTime(const std::string& out);
const char* const kWalkTimeLine = "\nTotal DB Walk Time   : <T>\n\n";

}  // namespace testdb
