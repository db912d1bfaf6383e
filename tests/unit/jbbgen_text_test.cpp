// jbbgen's text helpers: dates both ways across leap days, eras and 1970,
// every month's last day, and the UTF-8 it takes for names.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "jbbgen_text.h"

using namespace jbbgen;

TEST(JbbgenText, DatesReadAndWrittenAcrossLeapDaysAndEras) {
    struct Row {
        const char* text;
        int64_t seconds;
    } rows[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"1969-12-31T23:59:59Z", -1},
        {"2000-02-29T00:00:00Z", 951782400},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"2024-03-01T00:00:00Z", 1709251200},
        {"2023-12-31T12:30:45Z", 1704025845},
        {"2100-03-01T00:00:00Z", 4107542400},
        {"1600-02-29T00:00:00Z", -11670998400},
        {"1992-01-01T00:00:00Z", 694224000},
        {"0000-02-29T00:00:00Z", -62162121600},
        {"0000-03-01T00:00:00Z", -62162035200},
        {"2026-10-31T00:00:00Z", 1793404800},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(utcTimeText(r.seconds), r.text) << r.seconds;
        int64_t t = 0;
        EXPECT_TRUE(parseTime(r.text, &t)) << r.text;
        EXPECT_EQ(t, r.seconds) << r.text;
        std::string plain = r.text;
        plain.pop_back();  // without the Z
        EXPECT_TRUE(parseTime(plain, &t) && t == r.seconds) << plain;
    }
    // The last day of every month, and one past it.
    const int last[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; ++m) {
        char day[32], past[32];
        std::snprintf(day, sizeof day, "2023-%02d-%02dT00:00:00", m, last[m - 1]);
        std::snprintf(past, sizeof past, "2023-%02d-%02dT00:00:00", m, last[m - 1] + 1);
        int64_t t = 0;
        EXPECT_TRUE(parseTime(day, &t)) << day;
        EXPECT_FALSE(parseTime(past, &t)) << past;
    }
    int64_t t = 0;
    for (const char* bad : {"2023-02-29T00:00:00", "1900-02-29T00:00:00", "2023-13-01T00:00:00", "2023-00-10T00:00:00",
                            "2023-01-00T00:00:00", "2023-01-01T24:00:00", "2023-01-01T23:60:00", "2023-01-01T23:59:60",
                            "2023-01-01T23:59:5x", "2023-01-01T23:59:59Q", "2023-01-01X23:59:59"})
        EXPECT_FALSE(parseTime(bad, &t)) << bad;
    EXPECT_TRUE(parseTime("2023-01-01 23:59:59", &t));
    EXPECT_EQ(t, 1672617599);
    EXPECT_TRUE(parseTime("-5", &t));
    EXPECT_EQ(t, -5);
}

TEST(JbbgenText, NamesAreWellFormedUtf8) {
    std::u16string out;
    std::string why;
    EXPECT_TRUE(utf8ToUtf16("a\x7F\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80", &out, &why)) << why;
    EXPECT_EQ(out, (std::u16string{u'a', 0x7F, 0x80, 0x800, 0xD800, 0xDC00}));
    for (const char* bad : {"\x80", "a\xBF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC2"})
        EXPECT_FALSE(utf8ToUtf16(bad, &out, &why)) << bad;
}
