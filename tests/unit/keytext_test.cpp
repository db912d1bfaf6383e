// Names as jbbtool takes them: UTF-8, or "%key" and UTF-16 units in
// hexadecimal digits of either case.
#include <gtest/gtest.h>

#include <string>

#include "keytext.h"

TEST(KeyText, Utf8OrHexadecimalUnits) {
    struct Row {
        const char* text;
        bool ok;
        std::u16string key;
    } rows[] = {
        {"C:\\a b", true, u"C:\\a b"},
        {"%key 0041", true, u"A"},
        {"%key 00ff00FFabcdABCD", true, std::u16string{0xFF, 0xFF, 0xABCD, 0xABCD}},
        {"%key 09af09AFd800", true, std::u16string{0x09AF, 0x09AF, 0xD800}},
        {"%key 0f0F", true, std::u16string{0x0F0F}},
        {"%key 004", false, u""},
        {"%key 00g1", false, u""},
        {"%key 00G1", false, u""},
        {"%key 0000", false, u""},
        {"%key", true, u"%key"},  // a name, not the hexadecimal form
        {"\xC3", false, u""},
    };
    for (const Row& r : rows) {
        std::u16string key = u"junk";
        std::string why;
        EXPECT_EQ(r.ok, jbbtool::keyFromText(r.text, &key, &why)) << r.text;
        if (r.ok) {
            EXPECT_EQ(r.key, key) << r.text;
        } else {
            EXPECT_FALSE(why.empty()) << r.text;
        }
    }
}
