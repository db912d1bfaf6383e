// The order of keys: code unit by code unit, each UTF-16 unit taken as an
// unsigned 16-bit number, up to the first difference or the end of both;
// a key that is a proper prefix of another is the smaller.  No case
// folding, no locale.  The engine orders its trees with it, and every
// reader that checks or merges keys uses the same function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Compares the NUL-terminated key `target` with a NUL-terminated key stored
// at `stored`, which may lie at an odd address inside a node image.
// Negative, 0 or positive as target is below, equal to or above it.
inline int compareKeys(const char16_t* target, const uint8_t* stored) {
    for (;; ++target, stored += 2) {
        uint16_t a = static_cast<uint16_t>(*target);
        uint16_t b;
        std::memcpy(&b, stored, sizeof b);
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

// The same for two keys stored at possibly odd addresses.
inline int compareKeys(const uint8_t* a, const uint8_t* b) {
    for (;; a += 2, b += 2) {
        uint16_t x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// The same for two keys held as NUL-terminated UTF-16 strings.
inline int compareKeys(const char16_t* a, const char16_t* b) {
    return compareKeys(a, reinterpret_cast<const uint8_t*>(b));
}

// The same order for two keys of known lengths (in units, terminators not
// counted), stored at possibly odd addresses: eight (or four) units are
// compared at a time, which matters to readers that compare every neighbouring pair
// of a large file's keys.
inline int compareKeyUnits(const uint8_t* a, size_t aUnits, const uint8_t* b, size_t bUnits) {
    const size_t n = aUnits < bUnits ? aUnits : bUnits;
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(x, y)) != 0xFFFF) break;
    }
#endif
    for (; i + 4 <= n; i += 4) {
        uint64_t x, y;
        std::memcpy(&x, a + 2 * i, sizeof x);
        std::memcpy(&y, b + 2 * i, sizeof y);
        if (x != y) break;
    }
    for (; i < n; ++i) {
        uint16_t x, y;
        std::memcpy(&x, a + 2 * i, sizeof x);
        std::memcpy(&y, b + 2 * i, sizeof y);
        if (x != y) return x < y ? -1 : 1;
    }
    return aUnits == bUnits ? 0 : aUnits < bUnits ? -1 : 1;
}
