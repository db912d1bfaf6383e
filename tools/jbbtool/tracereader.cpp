// Reading the support library's trace files and logs (layouts in
// tracefile.h) back into their lines in the order written: what
// `jbbtool trace` prints.  The bytes may be anything: every offset read
// from a header is checked against the bytes at hand.
#include "tracereader.h"

#include <cstdint>
#include <cstring>

#include "tracefile.h"

namespace tracereader {

namespace {

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
// the fixed length and a blank line, with LF or CR LF line ends.  Sets the
// next-write offset and where the data starts.
bool wrappingHeader(const std::string& b, size_t* nextWrite, size_t* dataStart) {
    if (b.size() < traceWrapHeaderLength || !startsWith(b, 0, traceMagic)) return false;
    const size_t lf = b.find('\n');
    if (lf == traceWrapHeaderLength - 2 && b[traceWrapHeaderLength - 1] == '\n') {
        *dataStart = traceWrapHeaderLength;
    } else if (lf == traceWrapHeaderLength - 1 && b[lf - 1] == '\r' && startsWith(b, lf + 1, "\r\n")) {
        *dataStart = traceWrapHeaderLength + 2;
    } else {
        return false;
    }
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
bool wrappingLinesOf(const std::string& b, std::string* out, std::string* why) {
    size_t nextWrite = 0, dataStart = 0;
    if (!wrappingHeader(b, &nextWrite, &dataStart)) {
        *why = "not a trace file";
        return false;
    }
    if (nextWrite < dataStart || nextWrite > b.size()) {
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
    size_t start = dataStart;
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
// newline (LF or CR LF).  Sets the next-write offset and where the
// records start.
bool logHeader(const std::string& b, size_t* nextWrite, size_t* dataStart) {
    const size_t tag = sizeof "LOGHEADERREC " - 1;
    if (b.size() < logHeaderLength || !startsWith(b, 0, "LOGHEADERREC ")) return false;
    if (b[logHeaderLength - 1] == '\n') {
        *dataStart = logHeaderLength;
    } else if (b[logHeaderLength - 1] == '\r' && startsWith(b, logHeaderLength, "\n")) {
        *dataStart = logHeaderLength + 1;
    } else {
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
bool logLinesOf(const std::string& b, std::string* out, std::string* why) {
    size_t nextWrite = 0, dataStart = 0;
    if (!logHeader(b, &nextWrite, &dataStart)) {
        *why = "not a log file";
        return false;
    }
    if (nextWrite < dataStart || nextWrite > b.size()) {
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
    out->append(b, dataStart, nextWrite - dataStart);
    return true;
}

}  // namespace

bool isWrappingFile(const std::string& b) {
    size_t nextWrite = 0, dataStart = 0;
    return wrappingHeader(b, &nextWrite, &dataStart);
}

bool segmentEnds(const std::string& b) {
    size_t nextWrite = 0, dataStart = 0, length = 0;
    if (!wrappingHeader(b, &nextWrite, &dataStart)) return false;
    return nextWrite <= b.size() && markAt(b, nextWrite, &length) == Mark::End;
}

size_t newestSegment(const std::vector<std::string>& segments, const std::vector<int64_t>& times) {
    size_t newest = 0;
    int64_t newestTime = INT64_MIN;
    bool newestEnds = false;
    for (size_t i = 0; i < segments.size(); ++i) {
        const bool ends = segmentEnds(segments[i]);
        const int64_t t = i < times.size() ? times[i] : 0;
        if ((ends && !newestEnds) || (ends == newestEnds && t > newestTime)) {
            newest = i;
            newestTime = t;
            newestEnds = ends;
        }
    }
    return newest;
}

bool segmentLines(const std::string& bytes, std::string* out, std::string* why) {
    return wrappingLinesOf(bytes, out, why);
}

bool fileLines(const std::string& bytes, std::string* out, std::string* why) {
    size_t logNext = 0, logStart = 0;
    if (startsWith(bytes, 0, tracePlainHeaderStart)) {
        *out = plainLines(bytes);
        return true;
    }
    if (logHeader(bytes, &logNext, &logStart)) return logLinesOf(bytes, out, why);
    return wrappingLinesOf(bytes, out, why);
}

}  // namespace tracereader
