// The vector scans of keys (btree/keyunits.h) against their scalar forms
// and against the key order spelt out unit by unit, at every length up to
// several vector blocks, at every alignment within 16 bytes, with the
// terminator, a surrogate or the first difference at every place.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "keyorder.h"
#include "keyunits.h"

namespace {

constexpr size_t kMaxUnits = 40;  // five vector blocks

// Stores units at byte offset `at` of a buffer with room behind them, so
// that a scan reading too far meets other bytes, not the end.
struct Placed {
    std::vector<uint8_t> bytes;
    const uint8_t* p;
    Placed(const std::vector<uint16_t>& units, size_t at, uint8_t filler) : bytes(at + 2 * units.size() + 64, filler) {
        for (size_t i = 0; i < units.size(); ++i) std::memcpy(&bytes[at + 2 * i], &units[i], 2);
        p = bytes.data() + at;
    }
};

std::vector<uint16_t> randomUnits(std::mt19937& rng, size_t n) {
    std::vector<uint16_t> v(n);
    for (uint16_t& u : v) {
        u = (uint16_t)(rng() % 0xFFFF + 1);
        if ((u & 0xF800) == 0xD800) u ^= 0x4000;  // no surrogate unless placed
    }
    return v;
}

TEST(KeyUnits, ScanFindsTheTerminatorAndSurrogatesAsTheScalarFormDoes) {
    std::mt19937 rng(17);
    for (size_t len = 0; len <= kMaxUnits; ++len)
        for (size_t at = 0; at < 16; ++at)
            for (size_t zero = 0; zero <= len; ++zero)            // len: no terminator among them
                for (size_t sur = 0; sur <= len + 1; sur += 3) {  // past len: no surrogate
                    std::vector<uint16_t> u = randomUnits(rng, len);
                    if (sur < len) u[sur] = (uint16_t)(0xD800 + rng() % 0x800);
                    if (zero < len) u[zero] = 0;
                    const Placed k(u, at, 0);
                    bool vs = false, ss = true;
                    const size_t v = scanKeyUnits(k.p, len, &vs);
                    const size_t s = keyunits::scanScalar(k.p, len, &ss);
                    ASSERT_EQ(v, zero) << "len " << len << " at " << at;
                    ASSERT_EQ(s, zero);
                    ASSERT_EQ(vs, ss) << "len " << len << " at " << at << " zero " << zero << " sur " << sur;
                    ASSERT_EQ(vs, sur < zero);
                }
}

TEST(KeyUnits, CommonUnitsAndTheOrderAgreeWithTheScalarFormsAtEveryAlignment) {
    std::mt19937 rng(5);
    for (size_t len = 0; len <= kMaxUnits; ++len)
        for (size_t atA = 0; atA < 16; ++atA)
            for (size_t atB = 0; atB < 16; atB += 3)
                for (size_t diff = 0; diff <= len; ++diff) {  // len: equal
                    std::vector<uint16_t> a = randomUnits(rng, len), b = a;
                    if (diff < len) {
                        // Above 0x8000 on one side: a signed comparison orders it wrongly.
                        a[diff] = (uint16_t)(0x8000 + rng() % 0x7FFF);
                        b[diff] = (uint16_t)(rng() % 0x7FFF + 1);
                        if (rng() & 1) std::swap(a[diff], b[diff]);
                    }
                    const Placed x(a, atA, 0x11), y(b, atB, 0x22);
                    ASSERT_EQ(commonKeyUnits(x.p, y.p, len), diff) << "len " << len;
                    ASSERT_EQ(keyunits::commonScalar(x.p, y.p, len), diff);
                    const int want = diff == len ? 0 : a[diff] < b[diff] ? -1 : 1;
                    ASSERT_EQ(compareKeyUnits(x.p, len, y.p, len), want) << "len " << len << " diff " << diff;
                    // A proper prefix comes first, whatever follows it.
                    if (diff == len && len > 0) {
                        ASSERT_EQ(compareKeyUnits(x.p, len - 1, y.p, len), -1);
                        ASSERT_EQ(compareKeyUnits(x.p, len, y.p, len - 1), 1);
                    }
                }
}

}  // namespace
