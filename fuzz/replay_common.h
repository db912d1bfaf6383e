// What the drivers that run fuzz targets without a fuzzing engine share:
// reading an input file, and one change of an image at a place chosen by
// a seeded generator (so that a run is the same every time).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

inline bool readFile(const char* path, std::vector<uint8_t>* out) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Changes `image` (not empty) at a place below `limit`: a bit flipped, a
// byte set to 0, 0xFF or anything, the file cut there, or bytes appended.
// False when the file was cut (further changes would be out of place).
inline bool changeAt(std::vector<uint8_t>& image, std::mt19937& rng, size_t limit) {
    const size_t at = rng() % limit;
    switch (rng() % 6) {
        case 0:
            image[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            image[at] = 0;
            break;
        case 2:
            image[at] = 0xFF;
            break;
        case 3:
            image[at] = static_cast<uint8_t>(rng());
            break;
        case 4:
            image.resize(at);
            return false;
        default:
            image.resize(image.size() + 1 + rng() % 512, static_cast<uint8_t>(rng()));
            break;
    }
    return true;
}

// The command line the drivers share: `--mutations N` (changes made of
// each input), `--saved` (run inputs as they stand), and input files.
struct ReplayArgs {
    long mutations = 0;
    bool saved = false;
    std::vector<const char*> files;
};

inline ReplayArgs parseReplayArgs(int argc, char** argv, long defaultMutations) {
    ReplayArgs a;
    a.mutations = defaultMutations;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
            a.mutations = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--saved") == 0) {
            a.saved = true;
        } else {
            a.files.push_back(argv[i]);
        }
    }
    return a;
}
