// Scans over UTF-16LE key units stored at any address (keys inside node
// images), for the key order and for readers that look at every key of a
// large file.  The one home of the vector code: eight units are tested at
// once where the processor has SSE2 (every x86-64 one), and the scalar
// forms below, which finish every scan, are the reference that the vector
// forms must agree with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace keyunits {

inline uint16_t load1(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t load4(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The scalar forms, from unit `from` on (the vector forms hand over their
// tail to them).
inline size_t scanScalar(const uint8_t* p, size_t max, bool* surrogate, size_t from = 0, bool sur = false) {
    size_t i = from;
    for (; i < max; ++i) {
        const uint16_t u = load1(p + 2 * i);
        if (u == 0) break;
        sur = sur || (u & 0xF800) == 0xD800;
    }
    *surrogate = sur;
    return i;
}
inline size_t commonScalar(const uint8_t* a, const uint8_t* b, size_t n, size_t from = 0) {
    size_t i = from;
    for (; i + 4 <= n; i += 4)
        if (load4(a + 2 * i) != load4(b + 2 * i)) break;
    while (i < n && load1(a + 2 * i) == load1(b + 2 * i)) ++i;
    return i;
}

}  // namespace keyunits

// The number of units before the first 0 among the `max` units at p (or
// `max` when there is none), and whether a surrogate (0xD800-0xDFFF) lies
// among them: one pass over a key for both.
inline size_t scanKeyUnits(const uint8_t* p, size_t max, bool* surrogate) {
    size_t i = 0;
    bool sur = false;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_set1_epi16((short)0xF800), lead = _mm_set1_epi16((short)0xD800);
    for (; i + 8 <= max; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
        const unsigned z = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
        unsigned s = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, top), lead));
        if (z != 0) {
            const unsigned at = (unsigned)__builtin_ctz(z);  // byte of the first 0 unit
            s &= (1u << at) - 1;
            *surrogate = sur || s != 0;
            return i + at / 2;
        }
        sur = sur || s != 0;
    }
#endif
    return keyunits::scanScalar(p, max, surrogate, i, sur);
}

// The number of leading units that the n units at a and at b share.
inline size_t commonKeyUnits(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * i));
        const unsigned same = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(x, y));
        if (same != 0xFFFF) return i + (unsigned)__builtin_ctz(~same & 0xFFFF) / 2;
    }
#endif
    return keyunits::commonScalar(a, b, n, i);
}
