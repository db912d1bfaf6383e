// How much two threads gain over one on this machine, for work like the
// viewer's reads: copies of 1.5 KiB from random places in a block far
// larger than the processor's caches.
//   cpupair
// Prints "SPEEDUP": the copies two threads make in a given time divided by
// the copies one thread makes in that time (2 at most).  On a virtual
// machine whose two processors the host runs on one core, or with another
// program busy, it is near 1, and a program that reads on two threads
// (the viewer) gains little; a run of the benchmark is read with it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr size_t kSourceBytes = size_t{256} << 20;
constexpr size_t kCopyBytes = 1536;
constexpr int kCopies = 60000;

// Copies kCopies pieces from random places of `src`; returns the seconds.
double copyRun(const uint8_t* src, uint32_t seed) {
    std::vector<uint8_t> dst(kCopyBytes * 64);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    uint64_t sum = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCopies; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        size_t at = (size_t)(x % (kSourceBytes - kCopyBytes)) & ~size_t{63};
        uint8_t* to = dst.data() + (size_t)(i % 64) * kCopyBytes;
        std::memcpy(to, src + at, kCopyBytes);
        sum += to[i % kCopyBytes];
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The sum keeps the copies from being optimised away.
    if (sum == 0xFFFFFFFFFFFFFFFFull) std::puts("");
    return s;
}

}  // namespace

int main() {
    std::vector<uint8_t> src(kSourceBytes);
    for (size_t i = 0; i < src.size(); i += 4096) src[i] = (uint8_t)i;  // every page is there
    // The median of a few rounds: each round takes a few milliseconds, and
    // the host's placement of the processors lasts seconds.
    std::vector<double> gains;
    for (int round = 0; round < 5; ++round) {
        double one = copyRun(src.data(), 1);
        double a = 0, b = 0;
        std::thread t([&] { b = copyRun(src.data(), 3); });
        a = copyRun(src.data(), 2);
        t.join();
        double two = std::max(a, b);
        gains.push_back(2 * one / two);
    }
    std::sort(gains.begin(), gains.end());
    std::printf("%.2f\n", gains[gains.size() / 2]);
    return 0;
}
