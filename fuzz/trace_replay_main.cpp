// Runs a trace-file fuzz target (trace_reader_fuzz.cpp or
// trace_open_fuzz.cpp) without a fuzzing engine:
//
//   trace_replay [--mutations N]
//   trace_replay --saved INPUT...
//
// The inputs are trace files and logs made here as the library writes
// them (wrapped or not, with LF and CR LF headers, a segment ring, a plain
// trace file, a log, foreign bytes), each with a few leading choice bytes,
// then N changed copies of them at places chosen by a fixed seed, so that
// a run is the same every time.  --saved runs inputs as they stand.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "replay_common.h"
#include "tracefile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string wrapHeader(size_t nextWrite, unsigned maxMB, bool crlf) {
    char head[160];
    std::snprintf(head, sizeof head, "ZEP Trace   %-12u%-10u Quillstore 6.1.1.00 090824B Build date: %s%s",
                  static_cast<unsigned>(nextWrite), maxMB, traceBuildDate, crlf ? "\r\n\r\n" : "\n\n");
    return head;
}

// A wrapped trace file: newest lines, end marker, oldest lines, wrap marker.
std::string wrappedTrace(bool crlf) {
    std::string lines;
    for (int i = 0; i < 20; ++i) lines += "line " + std::to_string(i) + " of the trace\n";
    const size_t start = wrapHeader(0, 1, crlf).size();
    std::string b = wrapHeader(start + lines.size(), 1, crlf) + lines + traceEndMarker;
    return b + "ine 3 of an older pass\nline 4 of an older pass\n" + traceWrapMarker;
}

std::string logFile(bool crlf) {
    std::string records = "12/09/2026 04:07:15 QLX0106E Message index not found for message 42.\n";
    records += "12/09/2026 04:07:16 second record\n";
    const size_t start = crlf ? logHeaderLength + 1 : logHeaderLength;
    char head[40];
    std::snprintf(head, sizeof head, logHeaderFormat, static_cast<unsigned long>(start + records.size()));
    std::string b = std::string(head) + (crlf ? "\r\n" : "\n") + records + logEndOfDataText + "\n";
    return b + "older record cut\n" + logWrapText + std::string(40, ' ') + "*\n";
}

std::vector<std::string> seeds() {
    std::vector<std::string> s;
    s.push_back(wrappedTrace(false));
    s.push_back(wrappedTrace(true));
    const std::string seg1 = wrapHeader(0, 1, false);
    std::string ring = wrapHeader(seg1.size() + 33 + 10, 1, false) + "Continued from end of segment 2\n\nsome line\n" +
                       traceSegmentEndPrefix + "2\n\n";
    ring += '\xFE';
    ring += wrapHeader(seg1.size() + 10, 1, false) + "last line\n" + traceEndMarker;
    s.push_back(ring);
    s.push_back(std::string("ZEP Trace   Quillstore 6.1.1.00 090824B\nBuild Date: ") + traceBuildDate +
                "\nBEGINNING NEW TRACE\n\nUnicode Client\nline\n");
    s.push_back(logFile(false));
    s.push_back(logFile(true));
    s.push_back(std::string("JB\x00\x01 a journal, or any other file", 33));
    s.push_back("");
    return s;
}

void run(uint8_t a, uint8_t b, const std::string& image) {
    std::vector<uint8_t> in;
    in.push_back(a);
    in.push_back(b);
    in.insert(in.end(), image.begin(), image.end());
    LLVMFuzzerTestOneInput(in.data(), in.size());
}

}  // namespace

int main(int argc, char** argv) {
    const ReplayArgs args = parseReplayArgs(argc, argv, 2000);
    const long mutations = args.mutations;
    const bool saved = args.saved;
    const std::vector<const char*>& files = args.files;
    size_t runs = 0;
    if (saved) {
        for (const char* file : files) {
            std::vector<uint8_t> image;
            if (!readFile(file, &image)) {
                std::fprintf(stderr, "trace_replay: cannot read %s\n", file);
                return 1;
            }
            LLVMFuzzerTestOneInput(image.data(), image.size());
            ++runs;
        }
        std::fprintf(stderr, "trace_replay: %zu inputs run\n", runs);
        return 0;
    }
    // Choice bytes: every kind of each target (the reader's one file and
    // rings; the open's wrapping, ring, plain and log), lines of several
    // lengths.
    const uint8_t choices[][2] = {{0, 0},  {1, 3},   {2, 7},  {3, 200},  {4, 1},
                                  {5, 17}, {6, 255}, {7, 64}, {0x9D, 4}, {0xFE, 9}};
    const std::vector<std::string> images = seeds();
    for (const std::string& image : images) {
        for (const auto& c : choices) {
            run(c[0], c[1], image);
            ++runs;
        }
    }
    std::mt19937 rng(20261209);
    for (long m = 0; m < mutations; ++m) {
        std::vector<uint8_t> changed(images[static_cast<size_t>(m) % images.size()].begin(),
                                     images[static_cast<size_t>(m) % images.size()].end());
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes && !changed.empty(); ++c) {
            const size_t limit = rng() % 2 == 0 && changed.size() > 64 ? 64 : changed.size();
            if (!changeAt(changed, rng, limit)) break;
        }
        const auto& c = choices[static_cast<size_t>(rng() % (sizeof choices / sizeof choices[0]))];
        run(c[0], c[1], std::string(changed.begin(), changed.end()));
        ++runs;
    }
    std::fprintf(stderr, "trace_replay: %zu inputs run\n", runs);
    return 0;
}
