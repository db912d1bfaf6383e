// Runs the fuzz target without a fuzzing engine, for builds and machines
// that have none (the sanitizer build of the tests uses it):
//
//   jbbdb_replay [--mutations N] [--corpus DIR] JOURNAL.jbbdb...
//   jbbdb_replay --saved INPUT...
//   jbbdb_replay --fault-while-quiet
//
// Each journal image is fed to the target with a fixed set of request
// lines, then N times changed at a few places chosen by a fixed seed
// (bytes overwritten or flipped, the file cut short or lengthened), so
// that a run is the same every time.  --corpus also writes each unchanged
// input, in the target's format, into DIR as a seed for a fuzzing engine.
// --saved runs inputs already in the target's format as they stand: the
// findings of earlier fuzzing runs, kept as regression inputs.
//
// Under the sanitizers their reports go to the standard error the driver
// started with, even while the target sends jbbtool's own reports to
// /dev/null, and the input that failed is named after the report.
// --fault-while-quiet makes such a fault on purpose, to show that the
// report gets through (exit status 77 in a build without sanitizers).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "replay_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// The sanitizers' runtime, where the build has one.
extern "C" __attribute__((weak)) void __sanitizer_set_report_fd(void* fd);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)(void));

namespace {

// The input being run, named when a sanitizer ends the process, on the
// standard error the driver started with.
std::string current;
int reportFd = 2;

void nameFailedInput() {
    const std::string line = "jbbdb_replay: the input that failed: " + current + "\n";
    if (::write(reportFd, line.data(), line.size()) < 0) return;
}

// Sends the sanitizers' reports to the standard error of now; false in a
// build without sanitizers.
bool keepReportsVisible() {
    if (__sanitizer_set_report_fd == nullptr) return false;
    const int fd = ::dup(2);
    if (fd >= 0) {
        reportFd = fd;
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    }
    if (__sanitizer_set_death_callback != nullptr) __sanitizer_set_death_callback(nameFailedInput);
    return true;
}

// A read past a heap block while standard error goes to /dev/null, as it
// does while the target runs jbbtool.
int faultWhileQuiet() {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 2);
    volatile size_t size = 4;  // unknown to the compiler, which would refuse the read
    volatile char* block = new char[size];
    const char past = block[size];
    delete[] block;
    return past == 0 ? 1 : 2;
}

const char kRequests[] = "list\nfind C:\\x\nfind\ndel C:\\\nn\nfrobnicate\nq\n";

std::vector<uint8_t> input(const std::vector<uint8_t>& image) {
    const size_t n = sizeof kRequests - 1;
    std::vector<uint8_t> in(1 + n + image.size());
    in[0] = static_cast<uint8_t>(n);
    std::memcpy(in.data() + 1, kRequests, n);
    if (!image.empty()) std::memcpy(in.data() + 1 + n, image.data(), image.size());
    return in;
}

// A few changes at places that matter more often than not: the control
// record, the first slots, and anywhere.
void mutate(std::vector<uint8_t>& image, std::mt19937& rng) {
    if (image.empty()) return;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
        size_t limit = image.size();
        switch (rng() % 3) {
            case 0:
                limit = std::min<size_t>(limit, 2088);
                break;
            case 1:
                limit = std::min<size_t>(limit, 2088 + 4096);
                break;
            default:
                break;
        }
        if (!changeAt(image, rng, limit)) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    long mutations = 0;
    const char* corpus = nullptr;
    bool saved = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
            mutations = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--fault-while-quiet") == 0) {
            if (!keepReportsVisible()) {
                std::fprintf(stderr, "jbbdb_replay: no sanitizer in this build\n");
                return 77;
            }
            current = "--fault-while-quiet";
            return faultWhileQuiet();
        } else if (std::strcmp(argv[i], "--saved") == 0) {
            saved = true;
        } else if (std::strcmp(argv[i], "--corpus") == 0 && i + 1 < argc) {
            corpus = argv[++i];
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr,
                     "usage: jbbdb_replay [--mutations N] [--corpus DIR] JOURNAL.jbbdb...\n"
                     "       jbbdb_replay --saved INPUT...\n"
                     "       jbbdb_replay --fault-while-quiet\n");
        return 2;
    }
    keepReportsVisible();
    LLVMFuzzerInitialize(&argc, &argv);
    if (saved) {
        for (const char* file : files) {
            current = file;
            std::vector<uint8_t> in;
            if (!readFile(file, &in)) {
                std::fprintf(stderr, "jbbdb_replay: cannot read %s\n", file);
                return 1;
            }
            LLVMFuzzerTestOneInput(in.data(), in.size());
        }
        std::fprintf(stderr, "jbbdb_replay: %zu saved inputs run\n", files.size());
        return 0;
    }
    std::mt19937 rng(20261208);
    size_t runs = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        std::vector<uint8_t> image;
        if (!readFile(files[f], &image)) {
            std::fprintf(stderr, "jbbdb_replay: cannot read %s\n", files[f]);
            return 1;
        }
        std::vector<uint8_t> in = input(image);
        if (corpus != nullptr) {
            std::string out = std::string(corpus) + "/seed" + std::to_string(f);
            FILE* s = std::fopen(out.c_str(), "wb");
            if (s == nullptr || std::fwrite(in.data(), 1, in.size(), s) != in.size() || std::fclose(s) != 0) {
                std::fprintf(stderr, "jbbdb_replay: cannot write %s\n", out.c_str());
                return 1;
            }
        }
        current = files[f];
        LLVMFuzzerTestOneInput(in.data(), in.size());
        ++runs;
        for (long m = 0; m < mutations; ++m) {
            current = std::string(files[f]) + ", change " + std::to_string(m + 1) + " of --mutations";
            std::vector<uint8_t> changed = image;
            mutate(changed, rng);
            std::vector<uint8_t> cin = input(changed);
            LLVMFuzzerTestOneInput(cin.data(), cin.size());
            ++runs;
        }
    }
    std::fprintf(stderr, "jbbdb_replay: %zu inputs run\n", runs);
    return 0;
}
