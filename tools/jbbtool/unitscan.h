// Word-at-a-time scans over UTF-16LE units stored at any address (keys
// inside node images), for readers that look at every key of a large
// file.  Four units are tested at once; the exact place is then found
// unit by unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jbbtool {

namespace unitscan {

constexpr uint64_t kLow = 0x0001000100010001ull;
constexpr uint64_t kHigh = 0x8000800080008000ull;

inline uint64_t load4(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint16_t load1(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// Non-zero when one of the four 16-bit lanes of v is 0.
inline uint64_t zeroLane(uint64_t v) { return (v - kLow) & ~v & kHigh; }

}  // namespace unitscan

// The number of units before the first 0 among the `max` units at p, or
// `max` when there is none.
inline size_t unitsBeforeNul(const uint8_t* p, size_t max) {
    size_t i = 0;
    for (; i + 4 <= max; i += 4)
        if (unitscan::zeroLane(unitscan::load4(p + 2 * i)) != 0) break;
    for (; i < max; ++i)
        if (unitscan::load1(p + 2 * i) == 0) return i;
    return max;
}

// True when one of the `units` units at p is a surrogate (0xD800-0xDFFF).
inline bool anySurrogate(const uint8_t* p, size_t units) {
    size_t i = 0;
    for (; i + 4 <= units; i += 4) {
        uint64_t v = (unitscan::load4(p + 2 * i) & 0xF800F800F800F800ull) ^ 0xD800D800D800D800ull;
        if (unitscan::zeroLane(v) != 0) return true;
    }
    for (; i < units; ++i)
        if ((unitscan::load1(p + 2 * i) & 0xF800) == 0xD800) return true;
    return false;
}

// The number of leading units that the n units at a and at b share.
inline size_t commonUnits(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        if (unitscan::load4(a + 2 * i) != unitscan::load4(b + 2 * i)) break;
    while (i < n && unitscan::load1(a + 2 * i) == unitscan::load1(b + 2 * i)) ++i;
    return i;
}

}  // namespace jbbtool
