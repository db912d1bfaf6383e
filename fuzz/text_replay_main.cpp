// Runs a fuzz target over texts (message sources, printf-form texts)
// without a fuzzing engine:
//
//   NAME_replay [--mutations N] TEXT...
//   NAME_replay --saved INPUT...
//
// Each text is fed to the target as it stands, then N times changed at a
// few places chosen by a fixed seed (bytes overwritten, the file cut
// short or lengthened, or one of the characters that mean something in
// such a text put in), so that a run is the same every time.  --saved
// runs inputs as they stand.  An input that breaks a promise is written
// to the target's finding file in the current directory before the run
// aborts.  The target names itself, its characters and its finding file
// (kReplayName, kReplaySignificant, kReplayFinding).
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "replay_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern const char kReplayName[];
extern const char kReplaySignificant[];
extern const char kReplayFinding[];

namespace {

const std::vector<uint8_t>* current = nullptr;

void keepFinding(int sig) {
    if (current != nullptr) {
        if (FILE* f = std::fopen(kReplayFinding, "wb")) {
            std::fwrite(current->data(), 1, current->size(), f);
            std::fclose(f);
        }
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void run(const std::vector<uint8_t>& input) {
    current = &input;
    LLVMFuzzerTestOneInput(input.data(), input.size());
    current = nullptr;
}

void mutate(std::vector<uint8_t>& text, std::mt19937& rng) {
    const size_t significant = std::strlen(kReplaySignificant);
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes && !text.empty(); ++c) {
        if (rng() % 2 == 0) {
            const size_t at = rng() % (text.size() + 1);
            text.insert(text.begin() + static_cast<long>(at),
                        static_cast<uint8_t>(kReplaySignificant[rng() % significant]));
        } else if (!changeAt(text, rng, text.size())) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const ReplayArgs args = parseReplayArgs(argc, argv, 0);
    const long mutations = args.mutations;
    const bool saved = args.saved;
    const std::vector<const char*>& files = args.files;
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s_replay [--mutations N] TEXT...\n       %s_replay --saved INPUT...\n",
                     kReplayName, kReplayName);
        return 2;
    }
    std::signal(SIGABRT, keepFinding);
    std::mt19937 rng(20261209);
    size_t runs = 0;
    for (const char* file : files) {
        std::vector<uint8_t> text;
        if (!readFile(file, &text)) {
            std::fprintf(stderr, "%s_replay: cannot read %s\n", kReplayName, file);
            return 1;
        }
        run(text);
        ++runs;
        if (saved) continue;
        for (long m = 0; m < mutations; ++m) {
            std::vector<uint8_t> changed = text;
            mutate(changed, rng);
            run(changed);
            ++runs;
        }
    }
    std::fprintf(stderr, "%s_replay: %zu inputs run\n", kReplayName, runs);
    return 0;
}
