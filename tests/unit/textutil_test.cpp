// Text and time helpers, the class tables and class specifications.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>

#include <cstring>
#include <string>
#include <vector>

#include "pkfile.h"
#include "psstr.h"
#include "pstime.h"
#include "traceclasses.h"
#include "tracespec.h"

namespace {

DateTime7 pack(int year, int month, int day, int hour, int minute, int second) {
    return DateTime7{static_cast<uint8_t>(year >> 8), static_cast<uint8_t>(year), static_cast<uint8_t>(month),
                     static_cast<uint8_t>(day),       static_cast<uint8_t>(hour), static_cast<uint8_t>(minute),
                     static_cast<uint8_t>(second)};
}

std::string on() {
    std::string names;
    for (int i = 0; i < traceClassCount; ++i)
        if (*traceClassTable[i].flag) names += std::string(names.empty() ? "" : " ") + traceClassTable[i].name;
    return names;
}

void allOff() {
    for (int i = 0; i < traceClassCount; ++i) *traceClassTable[i].flag = 0;
}

int apply(const char* spec, std::string* bad = nullptr) {
    std::string word;
    const int rc = traceApplyClassSpec(spec, &word);
    if (bad != nullptr) *bad = word;
    return rc;
}

std::u16string wideFormat(const char16_t* fmt, ...) {
    char16_t out[256];
    va_list ap;
    va_start(ap, fmt);
    pkWideVFormat(out, sizeof out / sizeof out[0], fmt, ap);
    va_end(ap);
    return out;
}

// The classes on before any test ran: read while the test program starts,
// before any code could set a flag.
const std::string kOnAtStart = [] {
    std::string on;
    for (int i = 0; i < traceClassCount; ++i)
        if (*traceClassTable[i].flag != 0) on += std::string(on.empty() ? "" : " ") + traceClassTable[i].name;
    return on;
}();

}  // namespace

TEST(QuotedToken, QuotesBlanksAndLimits) {
    struct Case {
        const char* text;
        int rc;
        const char* token;
        const char* rest;
    } cases[] = {
        {"'my trace.out'", 0, "my trace.out", ""},  {"  \"a b\" next", 0, "a b", "next"},
        {"plain next", 0, "plain", "next"},         {"key='a b' next", 0, "key='a b'", "next"},
        {"it's fine", 0, "it's", "fine"},           {"'unclosed", pkErrQuote, "", nullptr},
        {"'closed'x", pkErrQuote, "", nullptr},     {"key='open", pkErrQuote, "", nullptr},
        {"key='a'b", pkErrQuote, "", nullptr},      {"end'", pkErrQuote, "", nullptr},
        {"key=value next", 0, "key=value", "next"}, {"key=\"a b\" next", 0, "key=\"a b\"", "next"},
    };
    for (const Case& c : cases) {
        const char* p = c.text;
        std::string token = "junk";
        EXPECT_EQ(pkQuotedToken(&p, &token), c.rc) << c.text;
        EXPECT_EQ(token, c.token) << c.text;
        EXPECT_STREQ(p, c.rest != nullptr ? c.rest : c.text) << c.text;
    }
    const std::string longest(pkMaxTokenBytes, 'x');
    const std::string tooLong = "'" + std::string(pkMaxTokenBytes + 1, 'x');  // also unclosed
    const char* p = longest.c_str();
    std::string token;
    EXPECT_EQ(pkQuotedToken(&p, &token), 0);
    p = tooLong.c_str();
    EXPECT_EQ(pkQuotedToken(&p, &token), pkErrTooLong);
    EXPECT_EQ(token, "");
}

TEST(TextRoutines, ComparesAndSearches) {
    EXPECT_EQ(psStrICmp("stdout", "STDOUT"), 0);
    EXPECT_EQ(psStrICmp("a", "B"), -1);
    EXPECT_EQ(psStrICmp("b", "A"), 1);
    EXPECT_EQ(psStrICmp("x", nullptr), 1);
    EXPECT_EQ(psStrICmp(nullptr, nullptr), 0);
    EXPECT_EQ(psStrICmp(nullptr, "x"), -1);
    EXPECT_EQ(wideFormat(u"%.0s|%.2s|%5.1s|%-3s|%c", u"abc", u"abc", u"abc", u"x", int{u'z'}), u"|ab|    a|x  |z");
    EXPECT_EQ(psWideCmp(u"abc", u"abd"), -1);
    EXPECT_EQ(psWideNarrowCmp(u"abc", "abc"), 0);
    EXPECT_EQ(psStrCpy(nullptr, nullptr), nullptr);
    const char text[] = "a/b/c";
    int rc = -1;
    EXPECT_EQ(psStrChr(text, '/'), text + 1);
    EXPECT_EQ(psStrRChr(text, '/', &rc), text + 3);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(psStrStr(text, ""), nullptr);
    EXPECT_EQ(psStrStr(text, "b/"), text + 2);
    char buf[32] = "x=";
    EXPECT_STREQ(psStrCatW(buf, u"wide"), "x=wide");
    char narrow[psMaxConvertChars + 1];
    const std::u16string huge(psMaxConvertChars + 50, u'w');
    EXPECT_EQ(std::strlen(psWideToNarrow(narrow, huge.c_str())), psMaxConvertChars);
}

TEST(DateTexts, DefaultFormatsAndTheFallback) {
    const DateTime7 dt = pack(2026, 12, 7, 14, 19, 40);
    char date[psDateTextSize], time[psDateTextSize];
    psDateText(&dt, date);
    psTimeText(&dt, time);
    EXPECT_STREQ(date, "12/07/2026");
    EXPECT_STREQ(time, "14:19:40");

    // Out of range for the run-time: the fallback formatter.
    const DateTime7 bad = pack(2026, 13, 7, 25, 61, 99);
    psDateText(&bad, date);
    psTimeText(&bad, time);
    EXPECT_STREQ(date, "13/07/2026");
    EXPECT_STREQ(time, "01:61:99");

    char out[64];
    const DateTime7 evening = pack(12345, 1, 2, 21, 5, 6);
    EXPECT_EQ(psFallbackFormat(&evening, "%Y %y %m %d %H %I %p %M %S %%", out, sizeof out), 33u);
    EXPECT_STREQ(out, "2345 45 01 02 21 09 P.M. 05 06 %%");
    const DateTime7 midnight = pack(2026, 1, 2, 0, 0, 0);
    psFallbackFormat(&midnight, "%I %p", out, 4);
    EXPECT_STREQ(out, "12 ");

    // A short date text gets two blanks.
    std::strcpy(psDateFormat, "%y%m");
    psDateText(&dt, date);
    std::strcpy(psDateFormat, "%m/%d/%Y");
    EXPECT_STREQ(date, "2612  ");
    // The longest date text there is room for: 15 characters.
    std::strcpy(psDateFormat, "%Y-%m-%dT%H%M");
    psDateText(&dt, date);
    std::strcpy(psDateFormat, "%m/%d/%Y");
    EXPECT_STREQ(date, "2026-12-07T1419");
    // In range, the run-time formats the text: its PM, not the fallback's
    // P.M.
    std::strcpy(psTimeFormat, "%I %p");
    psTimeText(&dt, time);
    std::strcpy(psTimeFormat, "%H:%M:%S");
    EXPECT_STREQ(time, "02 PM");

    DateTime7 packed;
    psPackTime(1796653180, &packed);  // 2026-12-07 14:19:40 UTC (tests run with TZ=UTC)
    EXPECT_EQ(std::memcmp(&packed, &dt, sizeof dt), 0);
    // Milliseconds multiplied by 1000.
    const int64_t before =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    unsigned long msTimes1000 = 1;
    psNowMs(&packed, &msTimes1000);
    const int64_t after =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_EQ(msTimes1000 % 1000, 0u);
    EXPECT_LT(msTimes1000, 1000000u);
    if (before / 1000 == after / 1000) {  // the same second throughout
        EXPECT_GE(msTimes1000 / 1000, static_cast<unsigned long>(before % 1000));
        EXPECT_LE(msTimes1000 / 1000, static_cast<unsigned long>(after % 1000));
    }
}

TEST(TraceClasses, TablesAsListed) {
    EXPECT_STREQ(traceClassTable[0].name, "ERROR");
    EXPECT_STREQ(traceClassTable[traceClassCount - 1].name, "FMDB");
    EXPECT_EQ(traceClassTable[traceClassCount].name, nullptr);
    EXPECT_EQ(traceAggregateTable[traceAggregateCount].name, nullptr);
    int kinds = 0;
    for (int i = 0; i < traceClassCount; ++i) {
        kinds += traceClassTable[i].kind;
        for (int j = 0; j < i; ++j) EXPECT_NE(traceClassTable[i].flag, traceClassTable[j].flag);
        if (std::strcmp(traceClassTable[i].name, "BTREEDB") == 0) {
            EXPECT_EQ(traceClassTable[i].flag, &traceFlag_BTREEDB);
        }
    }
    EXPECT_EQ(kinds, 5);
    for (const char* tag : traceClientTags) EXPECT_EQ(std::strlen(tag), 14u) << tag;
    EXPECT_EQ(kOnAtStart, "") << "every class is off until a specification turns it on";
}

TEST(TraceClasses, SpecificationsExpandAggregates) {
    allOff();
    EXPECT_EQ(apply("btreedb, Memory"), 0);
    EXPECT_EQ(on(), "MEMORY BTREEDB");

    allOff();
    EXPECT_EQ(apply("ALL_PROC -VERBDETAIL"), 0);  // aggregates of aggregates
    EXPECT_EQ(on(),
              "DIROPS FILEOPS INCR SESSION TXN POLICY VERBADMIN VERBINFO SESSVERB FIOATTRIBS OFSFILENAME PFM "
              "PFM_DETAIL C2C");

    allOff();
    EXPECT_EQ(apply("ALL -BTREEDB -ALL_SESS"), 0);
    EXPECT_EQ(traceFlag_BTREEDB, 0);
    EXPECT_EQ(traceFlag_SESSION, 0);
    EXPECT_EQ(traceFlag_C2C, 0);
    EXPECT_EQ(traceFlag_FMDB, 1);
    EXPECT_EQ(traceFlag_ERROR, 1);

    allOff();
    EXPECT_EQ(apply("DEVELOP"), 0);  // SERVICE, which is ALL with exclusions, without TIMESTAMP
    EXPECT_EQ(traceFlag_TIMESTAMP, 0);
    EXPECT_EQ(traceFlag_NLS, 0);
    EXPECT_EQ(traceFlag_BTREEDB, 0);
    EXPECT_EQ(traceFlag_GENERAL, 1);
    EXPECT_EQ(apply("-SERVICE"), 0);  // everything SERVICE switches on goes off again
    EXPECT_EQ(on(), "");

    allOff();
    EXPECT_EQ(apply("ALL_FMDB"), 0);  // a member that names no class is skipped
    EXPECT_EQ(on(), "FMDBNPDB FMDBFSDB FMDB");

    std::string bad;
    EXPECT_EQ(apply("BTREEDB NOSUCH MEMORY", &bad), -1);
    EXPECT_EQ(bad, "NOSUCH");
    EXPECT_EQ(on(), "FMDBNPDB FMDBFSDB FMDB");  // unchanged
    EXPECT_EQ(apply("-", &bad), -1);
    allOff();
}

// One conversion handles at most 8959 characters: pinned just below, at
// and past that limit (a wide buffer of 8960 units, a narrow one of 8960
// bytes).
TEST(TextRoutines, ConversionsStopAt8959Characters) {
    for (const size_t n : {size_t{8958}, size_t{8959}, size_t{9000}}) {
        SCOPED_TRACE(n);
        const size_t kept = n < psMaxConvertChars ? n : psMaxConvertChars;
        const std::u16string wide(n, u'w');
        std::vector<char> narrow(psMaxConvertChars + 1, 'x');
        EXPECT_EQ(std::string(psWideToNarrow(narrow.data(), wide.c_str())), std::string(kept, 'w'));
        // A narrow text is compared as its first 8959 characters.
        const std::string text(n, 'w');
        EXPECT_EQ(psWideNarrowCmp(std::u16string(kept, u'w').c_str(), text.c_str()), 0);
        EXPECT_EQ(psWideNarrowCmp(wide.c_str(), text.c_str()), n > psMaxConvertChars ? 1 : 0);
        std::string other = text;
        other.back() = 'v';
        EXPECT_EQ(psStrICmp(text.c_str(), other.c_str()), n > psMaxConvertChars ? 0 : 1);
    }
}
