// Standard output through the console's wide-character output: what a
// console shows of outPrintf's text with names from outName, and plain
// bytes when standard output is redirected.  No test has a console (CTest
// redirects standard output, and Wine gives the tests none), so the
// console's units are checked here and the redirected output of the real
// programs by the end-to-end tests.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "platform.h"
#include "platform_internal.h"  // the console form itself

namespace {

using plat::wchar16;
using plat::detail::consoleUnits;
using plat::detail::markedName;

std::u16string unitsOf(const std::string& text) { return consoleUnits(text.data(), text.size()); }

// Bytes as the "C" locale takes them on both platforms: byte N is U+00NN.
std::u16string widened(const std::string& bytes) {
    std::u16string out;
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

class ConsoleOutTest : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, "C"); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

}  // namespace

TEST_F(ConsoleOutTest, RedirectedOutputKeepsTheLocaleText) {
    EXPECT_FALSE(plat::stdoutIsWideConsole()) << "a pipe or file is no console";
    const wchar16 name[] = {u'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00, 0xDC00, 0};
    EXPECT_EQ(plat::outName(name), plat::consoleText(name));
    EXPECT_EQ(plat::outName(name, 2), plat::consoleText(name, 2));
}

// Every character of a name reaches the console, whatever the locale can
// show: Greek, a surrogate pair, the marker bytes and a newline inside the
// name; narrow text around it comes from the locale, LF becomes CR LF.
TEST_F(ConsoleOutTest, ConsoleShowsNamesWholeBetweenLocaleText) {
    const wchar16 name[] = {u'D', 0x0394, 0xD83D, 0xDE00, 0xDC00, 0x000E, u'7', 0x000F, u'\n', u'z', 0};
    std::string text = "caf\xE9 [" + markedName(name, SIZE_MAX) + "] " + markedName(name, 2) + "\n";
    text.append("a\0b", 3);
    EXPECT_EQ(unitsOf(text),
              u"caf\u00E9 [D\u0394\U0001F600?\x0E"
              u"7\x0F\r\nz] D\u0394\r\na" +
                  std::u16string(1, 0) + u"b");
    EXPECT_EQ(unitsOf(markedName(name, 0)), u"") << "an empty name";
}

TEST_F(ConsoleOutTest, BytesThatAreNoWholeMarkedNameStayText) {
    const std::string texts[] = {
        "x\x0E",      // a start at the end
        "\x0E\x0Fy",  // no count
        "\x0E"
        "5\x0F"
        "abc",  // a count beyond the end
        "\x0E"
        "12x",  // no end of the count
        "\x0E"
        "1234567890\x0F",  // a count too long to be one
    };
    for (const std::string& t : texts) {
        EXPECT_EQ(unitsOf(t), widened(t)) << t;
    }
    // A whole form whose text is no UTF-8 shows U+FFFD for each bad byte.
    EXPECT_EQ(unitsOf("\x0E"
                      "3\x0F"
                      "\xC3(\xF0"),
              u"\uFFFD(\uFFFD");
    EXPECT_EQ(unitsOf("\x0E"
                      "2\x0F"
                      "\xC0\xAF"),
              u"\uFFFD\uFFFD")
        << "an overlong form";
}

// On Windows the narrow text is the ANSI code page's (1252 under Wine).
TEST_F(ConsoleOutTest, NarrowTextComesFromTheUserCodePage) {
    if (!plat::isWindows()) GTEST_SKIP() << "the ANSI code page is Windows'";
    plat::selectUserLocale();
    EXPECT_EQ(unitsOf("caf\xE9 \x80\n"), u"caf\u00E9 \u20AC\r\n");
}

// UTF-8 written in pieces: however the text is cut, a sequence cut by the
// end of one write is completed by the next and the console shows the same
// units; bytes that start no valid sequence (a lone continuation byte, an
// overlong form, an encoded surrogate, a sequence broken off) show as
// U+FFFD, and so does a sequence still cut short when the output ends.
TEST_F(ConsoleOutTest, Utf8InPiecesShowsAsWrittenWhole) {
    const std::string text =
        "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\n"  // e acute, a CJK character, a surrogate pair
        "\x80\xC0\xAF\xED\xA0\x80\xE4\xB8"
        "b"          // six bad bytes, then a broken-off sequence
        "\xF0\x9F";  // cut short at the end
    const std::u16string shown =
        u"a\u00E9\u4E2D\U0001F600\r\n" + std::u16string(8, 0xFFFD) + u"b" + std::u16string(2, 0xFFFD);
    for (size_t cut1 = 0; cut1 <= text.size(); ++cut1) {
        for (size_t cut2 = cut1; cut2 <= text.size(); ++cut2) {
            plat::detail::Utf8Stream s;
            std::u16string got = s.units(text.data(), cut1);
            got += s.units(text.data() + cut1, cut2 - cut1);
            got += s.units(text.data() + cut2, text.size() - cut2);
            got += s.finish();
            ASSERT_EQ(got, shown) << "cut at " << cut1 << " and " << cut2;
        }
    }
    plat::detail::Utf8Stream s;
    EXPECT_EQ(s.units("x\xF0\x9F", 3), u"x") << "the cut sequence waits";
    EXPECT_EQ(s.units("\x98", 1), u"");
    EXPECT_EQ(s.units("\x80y", 2), u"\U0001F600y");
    EXPECT_EQ(s.finish(), u"") << "nothing held back";
    // The least and the last code point of each length; one below the least
    // of four bytes is overlong.
    plat::detail::Utf8Stream edges;
    EXPECT_EQ(edges.units("\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 13),
              u"\u0080\u0800\U00010000\U0010FFFF");
    EXPECT_EQ(edges.units("\xF0\x8F\xBF\xBF", 4), std::u16string(4, 0xFFFD));
}
