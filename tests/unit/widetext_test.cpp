// strToWide at the length it cuts at: 8959 characters and a terminator in
// a destination of exactly 8960 units (on the heap, so that the sanitizers
// see a unit written past it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widetext.h"

TEST(StrToWide, CutsAtTheLastUnitItsDestinationHolds) {
    for (size_t chars : {size_t{8958}, size_t{8959}, size_t{8960}, size_t{9000}}) {
        SCOPED_TRACE(chars);
        std::string src(chars, 'n');
        for (size_t i = 0; i < chars; i += 97) src[i] = (char)('A' + i % 26);
        std::vector<char16_t> dst(wideTextUnits, u'\xFFFF');
        ASSERT_EQ(dst.data(), strToWide(dst.data(), src.c_str()));
        const size_t kept = chars < wideTextUnits - 1 ? chars : wideTextUnits - 1;
        EXPECT_EQ(std::u16string(src.begin(), src.begin() + (long)kept), std::u16string(dst.data()));
        EXPECT_EQ(0, dst[kept]);
        if (kept + 1 < wideTextUnits) {
            EXPECT_EQ(u'\xFFFF', dst[kept + 1]) << "nothing written after the end";
        }
    }
}
