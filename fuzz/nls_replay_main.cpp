// Runs the message repository's fuzz target without a fuzzing engine:
//
//   nls_replay [--mutations N] REPOSITORY...
//   nls_replay --saved INPUT...
//
// Each repository is fed to the target with a few fixed choice scripts,
// then N times changed at a few places chosen by a fixed seed (bytes
// overwritten, the file cut short or lengthened), so that a run is the
// same every time.  --saved runs inputs already in the target's format.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "replay_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const std::vector<uint8_t>& script, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> in(1 + script.size() + image.size());
    in[0] = static_cast<uint8_t>(script.size());
    std::copy(script.begin(), script.end(), in.begin() + 1);
    std::copy(image.begin(), image.end(), in.begin() + 1 + static_cast<long>(script.size()));
    LLVMFuzzerTestOneInput(in.data(), in.size());
}

// Changes the index and the first records more often than the rest.
void mutate(std::vector<uint8_t>& image, std::mt19937& rng) {
    if (image.empty()) return;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
        const size_t limit = rng() % 2 == 0 ? std::min<size_t>(image.size(), 1024) : image.size();
        if (!changeAt(image, rng, limit)) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const ReplayArgs args = parseReplayArgs(argc, argv, 0);
    const long mutations = args.mutations;
    const bool saved = args.saved;
    const std::vector<const char*>& files = args.files;
    if (files.empty()) {
        std::fprintf(stderr, "usage: nls_replay [--mutations N] REPOSITORY...\n       nls_replay --saved INPUT...\n");
        return 2;
    }
    const std::vector<std::vector<uint8_t>> scripts = {
        {},
        {0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01},
        {0x87, 0x80, 0x01, 0x27, 0x0F, 0xFF, 0x7F, 0x03, 0x09, 0x00, 0x05},
        {0x03, 0x7F, 0xFF, 0xFF, 0x00, 0x80, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
    };
    std::mt19937 rng(20261209);
    size_t runs = 0;
    for (const char* file : files) {
        std::vector<uint8_t> image;
        if (!readFile(file, &image)) {
            std::fprintf(stderr, "nls_replay: cannot read %s\n", file);
            return 1;
        }
        if (saved) {
            LLVMFuzzerTestOneInput(image.data(), image.size());
            ++runs;
            continue;
        }
        for (const auto& s : scripts) {
            run(s, image);
            ++runs;
        }
        for (long m = 0; m < mutations; ++m) {
            std::vector<uint8_t> changed = image;
            mutate(changed, rng);
            run(scripts[static_cast<size_t>(m) % scripts.size()], changed);
            ++runs;
        }
    }
    std::fprintf(stderr, "nls_replay: %zu inputs run\n", runs);
    return 0;
}
