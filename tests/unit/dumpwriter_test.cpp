// The dump's name field: the fast writer of an entry line and nameField,
// which says how a name is shown and when it needs a %key line, agree on
// every kind of name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dumpwriter.h"
#include "journal.h"

namespace {

// The entry line(s) the writer gives for `key`.
std::string dumped(const std::u16string& key) {
    journalRec r{};
    r.action = 4;
    r.objectType = 1;
    testing::internal::CaptureStdout();
    {
        jbbtool::DumpWriter w(false);
        w.entry(key, reinterpret_cast<const uint8_t*>(&r), sizeof r);
        w.flush();
    }
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(DumpName, TheEntryLineShowsWhatNameFieldSays) {
    const std::vector<std::u16string> keys = {
        u"",
        u"a",
        u"abcdefgh",
        u"abcdefghi",
        u"abcdefg\x7F",
        u"abcdefgh\tx",
        std::u16string{0x01},
        std::u16string{'a', 0x9F},
        u"C:\\caf\u00E9\u20AC",
        std::u16string{0xD800, 0xDC00},
        std::u16string{0xD800, 0xE000},
        std::u16string{0xDBFF, 0xDFFF, 'x'},
        std::u16string{0xDC00},
        std::u16string{'a', 0xD800},
        std::u16string{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0xD800, 0xDBFF},
    };
    for (const std::u16string& key : keys) {
        std::string keyLine;
        const std::string shown = jbbtool::nameField(key, &keyLine);
        const std::string out = dumped(key);
        SCOPED_TRACE(out);
        ASSERT_GE(out.size(), shown.size() + 2);
        EXPECT_EQ(out.compare(out.size() - shown.size() - 2, std::string::npos, "\t" + shown + "\n"), 0);
        EXPECT_EQ(out.compare(0, keyLine.size(), keyLine), 0);
        EXPECT_EQ(keyLine.empty(), out.compare(0, 5, "%key ") != 0);
    }
    // A name of one character is plain; a pair is one character, half of one
    // is not.
    std::string keyLine;
    EXPECT_EQ(jbbtool::nameField(u"a", &keyLine), "a");
    EXPECT_EQ(keyLine, "");
    EXPECT_EQ(jbbtool::nameField(std::u16string{0xD800, 0xDC00}, &keyLine), "\xF0\x90\x80\x80");
    EXPECT_EQ(keyLine, "");
    jbbtool::nameField(std::u16string{0xD800, 0xE000}, &keyLine);
    EXPECT_EQ(keyLine, "%key d800e000\n");
    // DEL and the C1 controls are control characters; U+00A0 is not.
    EXPECT_EQ(jbbtool::nameField(u"a\x7F", &keyLine), "a\xEF\xBF\xBD");
    EXPECT_EQ(keyLine, "%key 0061007f\n");
    EXPECT_EQ(jbbtool::nameField(u"\x9F\xA0", &keyLine), "\xEF\xBF\xBD\xC2\xA0");
    EXPECT_EQ(keyLine, "%key 009f00a0\n");
}
