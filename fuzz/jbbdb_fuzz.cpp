// Feeds arbitrary bytes to the engine and to the viewer as a database file.
//
// Input: one byte n, then n bytes of request lines for the viewer's
// interactive mode, then the file image.  Each input is run through
//   - the engine, twice: a fixed sequence (probe, open, counting walk,
//     searches for keys the walk met and for made-up ones, deletes, close
//     with its writes, and a second open and walk of what was written),
//     then a sequence that the n request bytes choose, one operation a
//     byte: open, walk, search, delete, insert, close with or without its
//     writes, in any order, also on a closed handle and after failures;
//   - the viewer on a fresh copy: the report run, then the interactive run
//     with Del requests for keys the engine met, and the request lines as
//     standard input;
//   - jbbtool's check, stats, dump, dump --salvage, dump --prefix and get
//     on it.
// Results do not matter; nothing may crash, hang, or touch memory outside
// its buffers (the target is built with AddressSanitizer and
// UndefinedBehaviorSanitizer).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "jbbtreev.h"
#include "viewer.h"

namespace {

// Keys the walk met, at most a few.
class Probe : public bTree {
public:
    Probe() : bTree(32, 0) {}
    int visitEntry(const char16_t* key, const uint8_t*) override {
        if (keys.size() < 8) keys.emplace_back(key);
        return ++visits > 100000 ? 1 : 0;
    }
    std::vector<std::u16string> keys;
    size_t visits = 0;
};

std::string scratchBase() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/jbbfuzz-" + std::to_string(::getpid());
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::vector<std::u16string> runEngine(const std::string& path) {
    std::u16string wide(path.begin(), path.end());
    uint8_t record[2088];
    btDbReadCtrlRec(wide.c_str(), record);

    std::vector<std::u16string> keys;
    {
        Probe t;
        t.setOpenExistingOnly(true);
        if (t.openBtDb(path.c_str(), 0) != 0) return {};
        t.WalkTree();
        keys = t.keys;
        keys.push_back(u"");
        keys.push_back(u"\xffff\xffff");
        keys.push_back(u"C:\\");
        for (const std::u16string& k : keys) t.Search(k.c_str());
        for (size_t i = 0; i < keys.size(); i += 2) t.Delete(keys[i].c_str());
        int rc = 0;
        t.closeBtDb(&rc, 0);
    }
    Probe again;
    again.setOpenExistingOnly(true);
    if (again.openBtDb(path.c_str(), 0) == 0) {
        again.WalkTree();
        again.closeBtDb(nullptr, 1);
    }
    keys.resize(keys.size() - 3);  // the made-up ones
    if (keys.size() > 4) keys.resize(4);
    return keys;
}

// Copies the file image again: the operations write to it.
bool freshCopy(const std::string& path, const uint8_t* image, size_t size) { return writeFile(path, image, size); }

// A key made from input bytes, 1 to 8 units, some of them beyond ASCII.
std::u16string madeKey(const uint8_t* b, size_t n) {
    std::u16string k;
    for (size_t i = 0; i < n && k.size() < 8; ++i)
        k.push_back(b[i] % 3 == 0 ? char16_t(0x100 + b[i]) : char16_t('A' + b[i] % 26));
    if (k.empty()) k = u"K";
    return k;
}

// The sequence chosen by the request bytes.  Each byte picks an operation;
// the byte after it, where one is needed, picks the key.
void runChosen(const std::string& path, const uint8_t* ops, size_t n) {
    Probe t;
    t.setOpenExistingOnly(true);
    std::vector<std::u16string> pool = {u"", u"\xffff\xffff", u"C:\\"};
    uint8_t data[32];
    size_t steps = 0;
    for (size_t i = 0; i < n && steps < 48; ++i, ++steps) {
        const uint8_t op = ops[i] % 8;
        const uint8_t arg = i + 1 < n ? ops[i + 1] : 0;
        for (size_t j = 0; j < t.keys.size(); ++j) pool.push_back(t.keys[j]);
        t.keys.clear();
        const std::u16string& key = pool[arg % pool.size()];
        switch (op) {
            case 0:
                t.openBtDb(path.c_str(), 0);
                break;
            case 1:
                t.visits = 0;
                t.WalkTree();
                break;
            case 2:
                t.Search(key.c_str());
                ++i;
                break;
            case 3:
                t.Delete(key.c_str());
                ++i;
                break;
            case 4:
                std::memset(data, arg, sizeof data);
                t.Insert(key.c_str(), data);
                ++i;
                break;
            case 5: {
                std::memset(data, arg, sizeof data);
                const size_t len = 1 + arg % 8;
                t.Insert(madeKey(ops + i, std::min(len, n - i)).c_str(), data);
                ++i;
                break;
            }
            case 6: {
                int rc = 0;
                t.closeBtDb(&rc, 0);
                break;
            }
            default:
                t.closeBtDb(nullptr, 1);
                break;
        }
    }
    t.closeBtDb(nullptr, 0);
}

// Del requests for keys the engine met, each confirmed, ahead of the
// input's own request lines: several deletes, also after a failed one.
std::string deleteRequests(const std::vector<std::u16string>& keys) {
    std::string lines;
    for (const std::u16string& k : keys) {
        std::string narrow;
        bool plain = !k.empty();
        for (char16_t u : k) {
            if (u == 0 || u == u'\n' || u == u'\r' || u > 0xFF) plain = false;
            narrow.push_back(static_cast<char>(u));
        }
        if (plain) lines += "del " + narrow + "\ny\n";
    }
    return lines;
}

void runViewer(const std::string& base, const uint8_t* image, size_t size, const uint8_t* script, size_t scriptSize,
               bool interactive, const std::string& prefix) {
    const std::string path = base + ".jbbdb";
    const std::string input = base + ".in";
    std::vector<uint8_t> lines(prefix.begin(), prefix.end());
    lines.insert(lines.end(), script, script + scriptSize);
    if (!writeFile(path, image, size) || !writeFile(input, lines.data(), lines.size())) return;
    if (std::freopen(input.c_str(), "rb", stdin) == nullptr) return;
    std::string arg0 = "jbbview", arg1 = base, arg2 = "i";
    char* argv[] = {&arg0[0], &arg1[0], interactive ? &arg2[0] : nullptr, nullptr};
    viewerMain(interactive ? 3 : 2, argv);
    std::fflush(stdout);
}

// Runs jbbtool commands on the file (in place of the word FILE, else
// after the words), their reports (standard error included) thrown away.
void runTool(const std::string& path) {
    static const std::vector<std::vector<std::string>> kRuns = {
        {"check", "--json"},
        {"stats", "--json"},
        {"dump", "--salvage"},
        {"dump"},
        {"dump", "--prefix", "C:\\Users\\", "--since", "2020-01-01"},
        {"get", "FILE", "C:\\Users\\a", "%key ffff", "A"}};
    std::fflush(stderr);
    const int savedErr = ::dup(2);
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (devNull >= 0) ::dup2(devNull, 2);
    for (const auto& run : kRuns) {
        std::vector<std::string> words = run;
        auto file = std::find(words.begin(), words.end(), "FILE");
        if (file != words.end())
            *file = path;
        else
            words.push_back(path);
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        for (const jbbtool::Command* c = jbbtool::kCommands; c->name != nullptr; ++c)
            if (words[0] == c->name) c->run((int)words.size(), argv.data());
        std::fflush(stdout);
    }
    std::fflush(stderr);
    if (savedErr >= 0) {
        ::dup2(savedErr, 2);
        ::close(savedErr);
    }
    if (devNull >= 0) ::close(devNull);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The viewer's reports are not looked at.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t scriptSize = data[0];
    if (size < 1 + scriptSize) return 0;
    const uint8_t* script = data + 1;
    const uint8_t* image = script + scriptSize;
    const size_t imageSize = size - 1 - scriptSize;

    const std::string base = scratchBase();
    const std::string path = base + ".jbbdb";
    std::vector<std::u16string> met;
    if (writeFile(path, image, imageSize)) {
        runTool(path);
        met = runEngine(path);
    }
    if (freshCopy(path, image, imageSize)) runChosen(path, script, scriptSize);
    runViewer(base, image, imageSize, script, scriptSize, false, std::string());
    runViewer(base, image, imageSize, script, scriptSize, true, deleteRequests(met));
    std::remove(path.c_str());
    std::remove((base + ".in").c_str());
    return 0;
}
