// jbbtool trace FILE: the lines of a trace file in the order they were
// written, without the header and the structural markers (layouts in
// tracefile.h).  A wrapped file is read from the oldest surviving line
// after its end marker round to the newest; the base name of a segment
// ring reads its segments from the oldest.  An error log or an echo log
// (a wrapping log file) is read the same way: its records from the oldest
// surviving one, without the header and the markers.  --raw prints the
// bytes as they stand.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "command.h"
#include "platform.h"
#include "traceargs.h"
#include "tracereader.h"

namespace {

const char kName[] = "trace";
constexpr size_t kMaxSegments = 100000;

bool readWhole(const std::string& path, std::string* out, std::string* why) {
    FILE* f = plat::openBinary(path.c_str(), "rb");
    if (f == nullptr) {
        *why = plat::errnoText(errno);
        return false;
    }
    try {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        *why = "too large to read into memory";
        return false;
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) *why = "read error";
    return !bad;
}

struct Segment {
    std::string path;
    std::string bytes;
};

// The segments BASE.1, BASE.2, ... in ring order from the oldest.
bool readRing(const std::string& base, std::vector<Segment>* ring, std::string* why) {
    std::vector<Segment> found;
    for (size_t k = 1; k <= kMaxSegments; ++k) {
        Segment s;
        s.path = base + "." + std::to_string(k);
        int64_t size;
        if (!plat::fileSize(s.path.c_str(), &size)) break;
        if (!readWhole(s.path, &s.bytes, why)) {
            *why = s.path + ": " + *why;
            return false;
        }
        if (!tracereader::isWrappingFile(s.bytes)) {
            *why = s.path + ": not a trace file";
            return false;
        }
        found.push_back(std::move(s));
    }
    if (found.empty()) return false;
    // The newest segment is the one still open or closed last: it ends in
    // an end marker; among several (left by an earlier run), the latest.
    std::vector<std::string> bytes;
    std::vector<int64_t> times;
    for (Segment& s : found) {
        int64_t t = 0;
        plat::fileModified(s.path.c_str(), &t);
        times.push_back(t);
        bytes.push_back(std::move(s.bytes));
    }
    const size_t newest = tracereader::newestSegment(bytes, times);
    for (size_t i = 0; i < found.size(); ++i) found[i].bytes = std::move(bytes[i]);
    for (size_t n = 1; n <= found.size(); ++n) ring->push_back(std::move(found[(newest + n) % found.size()]));
    return true;
}

// The lines are the writing program's narrow text, in the user's locale.
void write(const std::string& s) { plat::outWriteNarrow(s.data(), s.size()); }

int run(int argc, char** argv) {
    bool raw = false;
    std::string path;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg == "--raw") {
            raw = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            return jbbtool::usageError(kName, "unknown option '%s'", arg.c_str());
        } else if (!path.empty()) {
            return jbbtool::usageError(kName, "more than one file given");
        } else {
            path = arg;
        }
    }
    if (path.empty()) return jbbtool::usageError(kName, "no trace file given");
    plat::selectUserLocale();  // how a console shows the lines

    std::vector<Segment> files;
    std::string why;
    int64_t size;
    if (plat::fileSize(path.c_str(), &size) && !plat::isDirectory(path.c_str())) {
        Segment s{path, {}};
        if (!readWhole(path, &s.bytes, &why)) {
            std::fprintf(stderr, "jbbtool trace: cannot read %s: %s\n", path.c_str(), why.c_str());
            return jbbtool::kExitUsage;
        }
        files.push_back(std::move(s));
    } else if (!readRing(path, &files, &why)) {
        if (why.empty()) why = plat::isDirectory(path.c_str()) ? "a directory" : "no such file or segment ring";
        std::fprintf(stderr, "jbbtool trace: cannot read %s: %s\n", path.c_str(), why.c_str());
        return jbbtool::kExitUsage;
    }

    std::string out;
    for (const Segment& s : files) {
        if (raw) {
            write(s.bytes);
            continue;
        }
        out.clear();
        const bool ok = files.size() == 1 ? tracereader::fileLines(s.bytes, &out, &why)
                                          : tracereader::segmentLines(s.bytes, &out, &why);
        if (!ok) {
            plat::outFlush();
            std::fprintf(stderr, "jbbtool trace: %s: %s\n", s.path.c_str(), why.c_str());
            return jbbtool::kExitUsage;
        }
        write(out);
    }
    plat::outFlush();
    return jbbtool::kExitSound;
}

void help(FILE* out) {
    std::fprintf(out,
                 "Usage: jbbtool trace [--raw] FILE\n"
                 "\n"
                 "Prints the lines of the trace file FILE in the order they were written,\n"
                 "without its header and markers.  A file that wrapped is printed from its\n"
                 "oldest surviving line on (the line its newest write cut short is left\n"
                 "out); for the base name of a segment ring (FILE.1, FILE.2, ...) the\n"
                 "segments are read from the oldest.  An error log or an echo log (a file\n"
                 "that begins with LOGHEADERREC) is printed the same way, from its oldest\n"
                 "surviving record.\n"
                 "\n"
                 "  --raw    print the file's bytes as they stand\n"
                 "\n"
                 "Every jbbtool command also takes the trace options:\n\n%s"
                 "\n"
                 "Exit status: 0 printed, 2 usage error, unreadable file, or not a trace file.\n",
                 traceargs::helpText());
}

}  // namespace

namespace jbbtool {
extern const Command kTraceCommand = {kName, "print a trace file's lines in the order written", run, help};
}  // namespace jbbtool
