// Feeds arbitrary bytes to the reader behind `jbbtool trace`: as one file
// (plain trace file, wrapping trace file, log), and cut into the segments
// of a ring.
//
// Input: one byte k, then the bytes.  k = 0 or 1: one file.  k of 2 and
// more: a ring of (k % 8) + 2 segments, cut at every occurrence of the
// byte 0xFE (segments past the count are left out), with modification
// times taken from k.  Results do not matter; nothing may crash, hang, or
// read outside the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "tracereader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t k = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string out, why;
    if (k < 2) {
        tracereader::fileLines(bytes, &out, &why);
        return 0;
    }
    const size_t count = k % 8 + 2;
    std::vector<std::string> segments;
    std::vector<int64_t> times;
    size_t at = 0;
    while (segments.size() < count) {
        const size_t cut = bytes.find('\xFE', at);
        segments.push_back(bytes.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
        times.push_back((k >> (segments.size() % 8)) & 1);
        if (cut == std::string::npos) break;
        at = cut + 1;
    }
    for (const std::string& s : segments) {
        if (!tracereader::isWrappingFile(s)) return 0;
    }
    const size_t newest = tracereader::newestSegment(segments, times);
    for (size_t n = 1; n <= segments.size(); ++n) {
        out.clear();
        if (!tracereader::segmentLines(segments[(newest + n) % segments.size()], &out, &why)) break;
    }
    return 0;
}
