// Names as jbbtool takes them (UTF-8, or "%key" and UTF-16 units in
// hexadecimal digits of either case), and text as its JSON writes it.
#include <gtest/gtest.h>

#include <string>

#include "keytext.h"
#include "textout.h"

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

TEST(JsonText, ControlCharactersAreEscapedAndWellFormedUtf8Kept) {
    EXPECT_EQ(jbbtool::jsonString(std::string("\x1F \x7F~")), "\"\\u001f \\u007f~\"");
    EXPECT_EQ(jbbtool::jsonString(std::string("\x01\t")), "\"\\u0001\\t\"");
    // The last code point of two UTF-8 bytes and the first of three.
    EXPECT_EQ(jbbtool::jsonString(std::u16string{0x7FF, 0x800}), "\"\xDF\xBF\xE0\xA0\x80\"");
    // The last code point UTF-8 has, and one past it.
    EXPECT_EQ(jbbtool::jsonBytes("\xF4\x8F\xBF\xBF"), "\"\xF4\x8F\xBF\xBF\"");
    EXPECT_EQ(jbbtool::jsonBytes("\xF0\x90\x80\x80"), "\"\xF0\x90\x80\x80\"");
    EXPECT_NE(jbbtool::jsonBytes("\xF4\x90\x80\x80"), "\"\xF4\x90\x80\x80\"");
    EXPECT_NE(jbbtool::jsonBytes("\xF0\x8F\xBF\xBF"), "\"\xF0\x8F\xBF\xBF\"");
}
