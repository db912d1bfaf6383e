// The order of keys: code unit by code unit, each UTF-16 unit taken as an
// unsigned 16-bit number, up to the first difference or the end of both;
// a key that is a proper prefix of another is the smaller.  No case
// folding, no locale.  The engine orders its trees with it, and every
// reader that checks or merges keys uses the same function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "keyunits.h"

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

// The same for two keys held as NUL-terminated UTF-16 strings.
inline int compareKeys(const char16_t* a, const char16_t* b) {
    return compareKeys(a, reinterpret_cast<const uint8_t*>(b));
}

// The same order for two keys of known lengths (in units, terminators not
// counted), stored at possibly odd addresses: the shared units are found
// eight at a time (keyunits.h), which matters to readers that compare
// every neighbouring pair of a large file's keys.
inline int compareKeyUnits(const uint8_t* a, size_t aUnits, const uint8_t* b, size_t bUnits) {
    const size_t n = aUnits < bUnits ? aUnits : bUnits;
    const size_t i = commonKeyUnits(a, b, n);
    if (i < n) return keyunits::load1(a + 2 * i) < keyunits::load1(b + 2 * i) ? -1 : 1;
    return aUnits == bUnits ? 0 : aUnits < bUnits ? -1 : 1;
}
