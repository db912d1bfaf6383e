// The viewer's size and elapsed-time texts at each of their edges.
#include <gtest/gtest.h>

#include <string>

#include "journal_report.h"

TEST(ReportText, SizesAndElapsedTimesAtTheirEdges) {
    char buf[64];
    EXPECT_STREQ(formatSize(0, buf), "0 Byte ");
    EXPECT_STREQ(formatSize(1, buf), "1 Byte ");
    EXPECT_STREQ(formatSize(1023, buf), "1023 Bytes");
    EXPECT_STREQ(formatSize(1024, buf), "1 KB (1024 Bytes)");
    EXPECT_STREQ(formatSize(65535, buf), "63 KB (65535 Bytes)");
    EXPECT_STREQ(formatSize(uint64_t{1} << 50, buf), "1 PB (1125899906842624 Bytes)");
    EXPECT_STREQ(formatSize(uint64_t{1} << 60, buf), "1024 PB (1152921504606846976 Bytes)");

    const struct {
        long ms;
        const char* text;
    } times[] = {
        {0, "< 1 ms"},        {1, "00:00:001"},     {999, "00:00:999"},   {1000, "00:01:000"},
        {59999, "00:59:999"}, {60000, "01:00:000"}, {61001, "01:01:001"}, {3599999, "59:59:999"},
    };
    for (const auto& t : times) EXPECT_STREQ(formatElapsed(buf, 1000, 1000 + t.ms), t.text) << t.ms;
}
