// Opens a hostile existing file as a trace file or as a log, writes a few
// lines and closes it: traceOpen on a wrapping file, a segment of a ring
// or a plain trace file, and the log open with errorLogWrite.
//
// Input: a choice byte c, a length byte n, then the file's bytes.  c % 4
// picks the kind (wrapping, segment ring, plain, log); the lines written
// are n % 5 + 1 texts of lengths drawn from the choice, the log's maximum
// is 256 + 16 * n bytes.  Besides crashes the target checks that the file
// never grows past its maximum and the wrap marker, or past one record
// longer than that (when it was no larger before), and that a file
// refused is left as it was.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lockhandle.h"
#include "logutils.h"
#include "nls.h"
#include "nlslog.h"
#include "platform.h"
#include "psthread.h"
#include "pstime.h"
#include "trace.h"
#include "tracefile.h"

namespace {

std::string folder() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/trace_open_fuzz.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        dir = tmpl;
    }
    return dir;
}

std::string readAll(const std::string& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

void writeAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

void resetTrace() {
    TraceControl* tc = traceInstallControl();
    traceClose(1);
    const psMutex keep = tc->controlMutex;
    *tc = TraceControl{};
    tc->controlMutex = keep;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0];
    const uint8_t n = data[1];
    const std::string dir = folder();
    const std::string path = dir + "/f";
    std::remove(path.c_str());
    std::remove((path + ".1").c_str());
    std::remove((path + ".2").c_str());
    const int kind = choice % 4;
    const std::string target = kind == 1 ? path + ".1" : path;
    writeAll(target, data + 2, size - 2);
    const std::string before = readAll(target);
    const int lines = n % 5 + 1;

    if (kind == 3) {
        const uint32_t maxBytes = 256 + 16u * n;
        if (nlsLock == nullptr) nlsLock = lockHandleCreate();
        const int rc = nlsLogOpen(&nlsErrorLog, path.c_str(), maxBytes);
        size_t longest = 0;  // a record longer than the log is written whole
        if (rc == 0) {
            for (int i = 0; i < lines; ++i) {
                const std::string text(static_cast<size_t>((choice >> 2) * (i + 1) * 7 % 700), 'a' + i);
                errorLogWrite(text.c_str());
                const size_t record = logHeaderLength + 2 * psDateTextSize + 3 + text.size() + sizeof logEndOfDataText;
                if (record > longest) longest = record;
            }
        }
        nlsLogClose(&nlsErrorLog);
        const std::string after = readAll(path);
        if (rc != 0 && !before.empty()) check(after == before);
        size_t limit = maxBytes + std::strlen(logWrapText);
        if (longest > limit) limit = longest;
        check(after.size() <= (before.size() > limit ? before.size() : limit));
        return 0;
    }

    resetTrace();
    TraceControl* tc = traceInstallControl();
    tc->wrapEnabled = kind == 2 ? 0 : 1;
    tc->maxSizeMB = tc->segmentSizeMB = tc->lastSegmentSizeMB = 1;
    tc->segmentCount = kind == 1 ? 2 : 0;
    tc->currentSegment = 1;
    const int rc = traceOpen(path.c_str(), 1);
    if (rc == 0) {
        for (int i = 0; i < lines; ++i) {
            const std::string text(static_cast<size_t>((choice >> 2) * (i + 1) * 97 % 9000), 'a' + i);
            tracePrintf("fuzz.cpp", 1, "%s\n", text.c_str());
        }
    }
    resetTrace();
    const std::string after = readAll(target);
    if (rc != 0 && !before.empty()) check(after == before);
    if (kind != 2) check(after.size() <= 1048576 + sizeof traceWrapMarker - 1 || after == before);
    return 0;
}
