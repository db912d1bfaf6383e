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
#include "tracefile.h"

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

bool startsWith(const std::string& b, size_t at, const char* text) {
    const size_t n = std::strlen(text);
    return at <= b.size() && b.size() - at >= n && b.compare(at, n, text) == 0;
}

// Length of "PREFIX<digits>\n\n" at `at`, or 0 when it is not there.
size_t numberedLine(const std::string& b, size_t at, const char* prefix) {
    if (!startsWith(b, at, prefix)) return 0;
    size_t i = at + std::strlen(prefix);
    const size_t digits = i;
    while (i < b.size() && b[i] >= '0' && b[i] <= '9') ++i;
    if (i == digits || !startsWith(b, i, "\n\n")) return 0;
    return i + 2 - at;
}

// A wrapping file's header is ours: magic, offset, maximum, one line of
// the fixed length and a blank line.  Sets the next-write offset.
bool wrappingHeader(const std::string& b, size_t* nextWrite) {
    if (b.size() < traceWrapHeaderLength || !startsWith(b, 0, traceMagic)) return false;
    if (b.find('\n') != traceWrapHeaderLength - 2 || b[traceWrapHeaderLength - 1] != '\n') return false;
    uint64_t v = 0;
    size_t i = traceMagicLength;
    const size_t end = traceMagicLength + traceOffsetField;
    for (; i < end && b[i] >= '0' && b[i] <= '9'; ++i) v = v * 10 + static_cast<uint64_t>(b[i] - '0');
    if (i == traceMagicLength) return false;
    for (; i < end; ++i)
        if (b[i] != ' ') return false;
    *nextWrite = static_cast<size_t>(v);
    return true;
}

enum class Mark { End, SegmentEnd, Other };

// The marker at the next-write offset and its length.
Mark markAt(const std::string& b, size_t at, size_t* length) {
    if (startsWith(b, at, traceCloseMarker)) {
        *length = sizeof traceCloseMarker - 1;
        return Mark::End;
    }
    if (startsWith(b, at, traceEndMarker)) {
        *length = sizeof traceEndMarker - 1;
        return Mark::End;
    }
    if (startsWith(b, at, traceSegmentEndPrefix)) {
        *length = 0;
        return Mark::SegmentEnd;
    }
    *length = 0;
    return Mark::Other;
}

// The lines of a wrapping file or segment, oldest first.
bool wrappingLines(const std::string& b, std::string* out, std::string* why) {
    size_t nextWrite = 0;
    if (!wrappingHeader(b, &nextWrite)) {
        *why = "not a trace file";
        return false;
    }
    if (nextWrite < traceWrapHeaderLength || nextWrite > b.size()) {
        *why = "the next-write offset " + std::to_string(nextWrite) + " in its header lies outside the file";
        return false;
    }
    size_t markLength = 0;
    if (markAt(b, nextWrite, &markLength) == Mark::End) {
        // Lines after the end marker, up to where the file wrapped, are the
        // oldest; the first of them was cut by the newest write.
        const size_t tailStart = nextWrite + markLength;
        const size_t wrapAt = b.find(traceWrapMarker, tailStart);
        if (wrapAt != std::string::npos) {
            const size_t cut = b.find('\n', tailStart);
            if (cut != std::string::npos && cut < wrapAt) out->append(b, cut + 1, wrapAt - cut - 1);
        }
    }
    size_t start = traceWrapHeaderLength;
    start += numberedLine(b, start, traceSegmentStartPrefix);
    if (start < nextWrite) out->append(b, start, nextWrite - start);
    return true;
}

// A plain trace file without its headers (one per open).
std::string plainLines(const std::string& b) {
    std::string out;
    size_t at = 0;
    while (at < b.size()) {
        if ((at == 0 || b[at - 1] == '\n') && startsWith(b, at, tracePlainHeaderStart)) {
            const size_t end = b.find(traceNewTrace, at);
            if (end != std::string::npos) {
                at = end + sizeof traceNewTrace - 1;
                continue;
            }
        }
        const size_t nl = b.find('\n', at);
        const size_t next = nl == std::string::npos ? b.size() : nl + 1;
        out.append(b, at, next - at);
        at = next;
    }
    return out;
}

// A wrapping log file's header: "LOGHEADERREC ", the offset, blanks, a
// newline.  Sets the next-write offset.
bool logHeader(const std::string& b, size_t* nextWrite) {
    const size_t tag = sizeof "LOGHEADERREC " - 1;
    if (b.size() < logHeaderLength || !startsWith(b, 0, "LOGHEADERREC ") || b[logHeaderLength - 1] != '\n') {
        return false;
    }
    uint64_t v = 0;
    size_t i = tag;
    for (; i < logHeaderLength - 1 && b[i] >= '0' && b[i] <= '9'; ++i) v = v * 10 + static_cast<uint64_t>(b[i] - '0');
    if (i == tag) return false;
    for (; i < logHeaderLength - 1; ++i)
        if (b[i] != ' ') return false;
    *nextWrite = static_cast<size_t>(v);
    return true;
}

// The records of a log file, oldest first.  Records older than the newest
// ones follow the end-of-data marker up to the wrap marker; the first of
// them was cut by the newest write and is left out.
bool logLines(const std::string& b, std::string* out, std::string* why) {
    size_t nextWrite = 0;
    logHeader(b, &nextWrite);
    if (nextWrite < logHeaderLength || nextWrite > b.size()) {
        *why = "the next-write offset " + std::to_string(nextWrite) + " in its header lies outside the file";
        return false;
    }
    const size_t markEnd = nextWrite + sizeof logEndOfDataText - 1;
    if (startsWith(b, nextWrite, logEndOfDataText) && startsWith(b, markEnd, "\n")) {
        const size_t wrapAt = b.find(logWrapText, markEnd + 1);
        const size_t cut = b.find('\n', markEnd + 1);
        if (wrapAt != std::string::npos && cut != std::string::npos && cut < wrapAt) {
            out->append(b, cut + 1, wrapAt - cut - 1);
            // A record cut short by the wrap ends without its newline.
            if (!out->empty() && out->back() != '\n') out->push_back('\n');
        }
    }
    out->append(b, logHeaderLength, nextWrite - logHeaderLength);
    return true;
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
        size_t nextWrite = 0;
        if (!wrappingHeader(s.bytes, &nextWrite)) {
            *why = s.path + ": not a trace file";
            return false;
        }
        found.push_back(std::move(s));
    }
    if (found.empty()) return false;
    // The newest segment is the one still open or closed last: it ends in
    // an end marker; among several (left by an earlier run), the latest.
    size_t newest = 0;
    int64_t newestTime = INT64_MIN;
    bool newestEnds = false;
    for (size_t i = 0; i < found.size(); ++i) {
        size_t nextWrite = 0, length = 0;
        wrappingHeader(found[i].bytes, &nextWrite);
        const bool ends = nextWrite <= found[i].bytes.size() && markAt(found[i].bytes, nextWrite, &length) == Mark::End;
        int64_t t = 0;
        plat::fileModified(found[i].path.c_str(), &t);
        if ((ends && !newestEnds) || (ends == newestEnds && t > newestTime)) {
            newest = i;
            newestTime = t;
            newestEnds = ends;
        }
    }
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
        size_t logNext = 0;
        if (files.size() == 1 && startsWith(s.bytes, 0, tracePlainHeaderStart)) {
            out = plainLines(s.bytes);
        } else if (files.size() == 1 && logHeader(s.bytes, &logNext)) {
            if (!logLines(s.bytes, &out, &why)) {
                std::fprintf(stderr, "jbbtool trace: %s: %s\n", s.path.c_str(), why.c_str());
                return jbbtool::kExitUsage;
            }
        } else if (!wrappingLines(s.bytes, &out, &why)) {
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
