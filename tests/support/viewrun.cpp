// Runs the viewer and composes its expected texts; see viewrun.h.
#include "viewrun.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform.h"

namespace fs = std::filesystem;

namespace testdb {

namespace {

std::string readAll(const fs::path& p) {
    Bytes b;
    if (!readFile(p.string(), &b)) return {};
    return std::string(b.begin(), b.end());
}

// A word for a POSIX shell: single quotes keep every byte but the single
// quote itself, which is closed, escaped and reopened.
std::string shellWord(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// A word for cmd.exe and the C run-time's argument parser.  In double
// quotes cmd.exe takes & | < > ^ ( ) and blanks literally; a run of
// backslashes is literal to the run-time unless a quote follows it, so the
// run before the closing quote is doubled.  A double quote, a percent sign
// (expanded by cmd.exe even inside quotes) and a line end cannot pass
// through cmd.exe unchanged: such a word leaves `*bad` true.
std::string cmdWord(const std::string& s, bool* bad) {
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : s) {
        if (c == '"' || c == '%' || c == '\n' || c == '\r') *bad = true;
        backslashes = c == '\\' ? backslashes + 1 : 0;
        q += c;
    }
    q.append(backslashes, '\\');
    return q + "\"";
}

std::string fmt(const char* f, unsigned long long v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

}  // namespace

// ---- TempDir ----

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path p = base / ("jbbtest-" + std::to_string(plat::processId()) + "-" + std::to_string(counter++) + "-" +
                             std::to_string(rd() % 100000));
        if (fs::create_directory(p)) {
            path_ = p;
            return;
        }
    }
}

TempDir::~TempDir() {
    if (std::getenv("JBB_KEEP_TEST_DIRS")) return;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (path_ / name).string(); }

// ---- running ----

std::string programPath(const std::string& path) {
    if (!plat::isWindows() || path.empty() || path[0] != '/') return path;
    std::string drive = "Z:" + path;
    for (char& c : drive) {
        if (c == '/') c = '\\';
    }
    return drive;
}

std::string normalizeOutput(const std::string& text) {
    if (!plat::isWindows()) return text;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string buildCommandLine(const std::string& exe, const std::vector<std::string>& args, const std::string& inFile,
                             const std::string& outFile, const std::string& errFile, const EnvList& env) {
    std::string cmd;
    if (!plat::isWindows()) {
        for (const auto& v : env) cmd += v.first + "=" + shellWord(v.second) + " ";
        cmd += shellWord(exe);
        for (const std::string& a : args) cmd += " " + shellWord(a);
        cmd += " <" + shellWord(inFile) + " >" + shellWord(outFile) + " 2>" + shellWord(errFile);
        return cmd;
    }
    // cmd.exe: each variable set for this command only (the interpreter ends
    // with it), then the program.  "set "N=V"" keeps V's blanks and specials.
    bool bad = false;
    for (const auto& v : env) cmd += "set " + cmdWord(v.first + "=" + v.second, &bad) + " && ";
    cmd += cmdWord(exe, &bad);
    for (const std::string& a : args) cmd += " " + cmdWord(a, &bad);
    cmd += " <" + cmdWord(inFile, &bad) + " >" + cmdWord(outFile, &bad) + " 2>" + cmdWord(errFile, &bad);
    if (bad) return "";
    // "cmd /c" drops the first and the last quote of a line that begins with
    // one; the extra pair keeps the words' own quotes.
    return "\"" + cmd + "\"";
}

bool argumentsPass(const std::vector<std::string>& args) {
    if (!plat::isWindows()) return true;
    bool bad = false;
    for (const std::string& a : args) cmdWord(a, &bad);
    return !bad;
}

RunResult runProgram(const std::string& exe, const std::vector<std::string>& args, const std::string& input,
                     const fs::path& workDir, const EnvList& env) {
    static std::atomic<unsigned> runNo{0};
    const std::string tag = "run" + std::to_string(runNo++);
    const fs::path in = workDir / (tag + ".in"), out = workDir / (tag + ".out"), err = workDir / (tag + ".err");
    RunResult r;
    const std::string cmd = buildCommandLine(programPath(exe), args, in.string(), out.string(), err.string(), env);
    if (cmd.empty()) {
        r.status = INT32_MIN;
        r.err = "the command interpreter cannot pass these words unchanged";
        return r;
    }
    writeFile(in.string(), Bytes(input.begin(), input.end()));
    r.status = plat::runCommand(cmd);
    // Status 9009 is cmd.exe's own "could not start the program": under
    // Wine it now and then fails so on a program that is there, before the
    // program ran at all.  Now and then the interpreter itself does not
    // start either: -1, and no output file, since cmd.exe makes the
    // redirections' files before it starts the program (a program of ours
    // that exits with -1 leaves them behind).  None of ours exits with
    // 9009, so such a run is tried again rather than failing the test on
    // the interpreter's account.
    auto neverRan = [&] {
        std::error_code ec;
        return r.status == 9009 || (r.status == -1 && !fs::exists(out, ec));
    };
    for (int again = 0; plat::isWindows() && neverRan() && again < 3; ++again) r.status = plat::runCommand(cmd);
    r.out = normalizeOutput(readAll(out));
    r.err = normalizeOutput(readAll(err));
    std::error_code ec;
    fs::remove(in, ec);
    fs::remove(out, ec);
    fs::remove(err, ec);
    return r;
}

ViewerSession::ViewerSession(const std::string& exe) : exe_(programPath(exe)) {}

std::string ViewerSession::put(const std::string& name, const Bytes& image) const {
    writeFile(path(name), image);
    return arg(name);
}

RunResult ViewerSession::run(const std::vector<std::string>& args, const std::string& input, const EnvList& env) const {
    return runProgram(exe_, args, input, dir_.path(), env);
}

// ---- expected texts ----

std::string baseName(const std::string& word) {
    size_t cut = word.rfind('\\');
    if (cut == std::string::npos) cut = word.rfind('/');
    return cut == std::string::npos ? word : word.substr(cut + 1);
}

std::string bannerText(const std::string& buildDate) {
    return "Quillstore\nJournal Database Viewing Utility\nVersion 6, Release 1, Level 1.0 090824B\n"
           "Last Update: " +
           buildDate + "\n\n";
}

std::string usageText(const std::string& b) {
    return "\n\nView ZEP Journal Database \n\nUsage: " + b +
           " jdbfile [i]\n\nSpecifiying i parameter will enter interactive mode.\n\nExamples:\n\n" + b +
           " c:\\zepjournal\\zepf__.jdb \n" + b + " c:\\zepjournal\\zepf__.jdb i\n\n";
}

std::string timeText(int64_t t) {
    if (t < 0 || t > 32535215999LL) return "(invalid time)";
    static const char* const days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int64_t dayNo = t / 86400, secs = t % 86400;
    // Civil date from a day count (proleptic Gregorian, era-based).
    const int64_t z = dayNo + 719468, era = z / 146097, doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %d", days[dayNo % 7], months[m - 1], static_cast<int>(d),
                  static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                  static_cast<int>(y));
    return buf;
}

std::string sizeText(uint64_t n) {
    if (n < 1024) return fmt("%llu Byte", n) + (n > 1 ? "s" : " ");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB"};
    int step = 1;
    while (step < 5 && n >= (1ULL << (10 * (step + 1)))) ++step;
    return fmt("%llu ", n >> (10 * step)) + units[step - 1] + fmt(" (%llu Bytes)", n);
}

std::string locatedText(const std::string& path, uint32_t state, uint16_t magic, uint8_t versMaj, uint8_t versMin,
                        uint16_t keyLen, uint16_t dataLen) {
    const char* stateName = state == 1 ? "dbOpened" : state == 0 ? "dbClosed" : "dbCorrupt";
    const std::string keyText = keyLen / 2 == 0 ? "Variable Length" : sizeText(keyLen / 2) + " Characters";
    char magicText[16];
    std::snprintf(magicText, sizeof magicText, "0x%04X", magic);
    return "\n\nLocated Database:\n   db  file      = '" + path + "'\n   db  state     = " + stateName +
           "\n   magic number  = " + magicText + "\n   btree version = " + std::to_string(versMaj) + "." +
           std::to_string(versMin) + "\n   key length    = " + keyText +
           "\n   data length   = " + std::to_string(dataLen) + " Bytes\n\n";
}

std::string locatedText(const std::string& path, const CtrlRec& c) {
    return locatedText(path, c.state, c.magic, c.versMaj, c.versMin, c.keyLen, c.dataLen);
}

std::string progressText(uint32_t count) {
    if (count == 0) return "";
    std::string s = "DB Entries Processed:        ";
    for (uint32_t k = 1000; k <= count; k += 1000) {
        std::string digits = std::to_string(k);
        s += std::string(digits.size(), '\b') + digits;
    }
    return s;
}

ReportFields reportFields(const CtrlRec& c, uint32_t entries, const std::string& name, uint64_t fileSize) {
    ReportFields f;
    f.versMaj = c.versMaj;
    f.versMin = c.versMin;
    f.appArea.assign(c.appArea.begin(), c.appArea.end());
    f.entries = entries;
    f.keyLen = c.keyLen;
    f.dataLen = c.dataLen;
    f.name = name;
    f.fileSize = fileSize;
    return f;
}

std::string reportText(const ReportFields& f) {
    const uint8_t* a = f.appArea.data();
    const uint32_t type = getU32(a);
    const int64_t activation = static_cast<int64_t>(getU64(a + 8));
    const int64_t validation = static_cast<int64_t>(getU64(a + 16));
    const uint32_t state = getU32(a + 24);
    const uint64_t maxSize = getU64(a + 32);
    const size_t serverLen = a[40];

    std::string server, node, stateText, validText;
    if (type == 1) {
        if (a[41] == 0) {
            server = node = "(not set)";
        } else {
            for (size_t i = 0; i < serverLen && 41 + i < kAppAreaSize && a[41 + i]; ++i)
                server += static_cast<char>(a[41 + i]);
            for (size_t i = serverLen; i < 129 && a[41 + i]; ++i) node += static_cast<char>(a[41 + i]);
        }
        stateText = state == 2 ? "Valid" : state == 1 ? "Incremental in Progress" : "Not Valid";
        validText = state == 2 ? timeText(validation) + "\n" : "(not set)\n";
    } else {
        server = node = stateText = "N/A";
        validText = "N/A\n";
    }
    std::u16string fsName;
    for (size_t off = 170; off + 1 < kAppAreaSize && getU16(a + off); off += 2) fsName.push_back(getU16(a + off));
    const std::string keyText = f.keyLen == 0 ? "Variable Length" : sizeText(f.keyLen) + " Characters";
    const char* typeText = type == 0 ? "Unformatted" : type == 1 ? "Change Journal" : "Incremental Needed";

    std::string s = "\n\nJournal Database Information:\n\n     Btree Database Version  " + std::to_string(f.versMaj) +
                    "." + std::to_string(f.versMin) + "\n     Database File           " + f.name +
                    ".jbbdb\n     Database File Disk Size " + sizeText(f.fileSize) + "\n     Journal  File System    " +
                    utf16ToUtf8(fsName) + "\n     Journal  Key length     " + keyText +
                    "\n     Journal  Data length    " + std::to_string(f.dataLen) +
                    " Bytes\n     Journal Activation Date " + timeText(activation) + "\n     Journal Validation Date " +
                    validText + "     Maximum Journal Size    " + (maxSize == 0 ? "Unlimited" : sizeText(maxSize)) +
                    "\n     Journal Type            " + typeText + "\n     Journal State           " + stateText +
                    "\n     Valid for Server        " + server + "\n     Valid for Node          " + node + "\n";
    if (f.entries == kUnknownCount)
        s += "     Number of DB Entries    unknown\n\n";
    else
        s += "     Number of DB Entries    " + std::to_string(f.entries) + "\n\n";
    return s;
}

std::string headText(const std::string& buildDate, const std::string& path) {
    return bannerText(buildDate) + "\n\nReading control record for database '" + path + "' ...";
}

std::string countedRunText(const std::string& buildDate, const std::string& path, const std::string& name,
                           const CtrlRec& c, uint32_t entries, uint64_t fileSize) {
    return headText(buildDate, path) + locatedText(path, c) + kOpeningText + progressText(entries) +
           reportText(reportFields(c, entries, name, fileSize)) + kWalkTimeLine;
}

std::string openStateRunText(const std::string& buildDate, const std::string& path, const std::string& name,
                             const CtrlRec& c, uint64_t fileSize) {
    return headText(buildDate, path) + locatedText(path, c) +
           "\n\nThe specified database is currently in the open state.\n\n"
           "Only control record information can be displayed.\n\n" +
           reportText(reportFields(c, kUnknownCount, name, fileSize));
}

std::string maskWalkTime(const std::string& out) {
    static const std::string label = "\nTotal DB Walk Time   : ";
    size_t at = out.find(label);
    if (at == std::string::npos) return out;
    const size_t from = at + label.size();
    const size_t end = out.find('\n', from);
    if (end == std::string::npos) return out;
    const std::string value = out.substr(from, end - from);
    bool ok = value == "< 1 ms";
    if (!ok) {
        // NN:NN:NNN, the minutes possibly wider.
        size_t c1 = value.find(':');
        ok = c1 != std::string::npos && c1 >= 2 && value.size() == c1 + 7 && value[c1 + 3] == ':';
        for (size_t i = 0; ok && i < value.size(); ++i)
            if (i != c1 && i != c1 + 3 && (value[i] < '0' || value[i] > '9')) ok = false;
    }
    if (!ok) return out;
    return out.substr(0, from) + "<T>" + out.substr(end);
}

}  // namespace testdb
