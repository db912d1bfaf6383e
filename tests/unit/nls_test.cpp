// The message repository through its entry points, on repository files
// written byte by byte here (independently of the message compiler): the
// index and record layout, identifiers, the cache, both text forms, the
// refusals, damaged files, the growing buffer, the code-page conversion
// and the global return code.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "GlobalRC.h"
#include "codepage.h"
#include "kvmem.h"
#include "lockhandle.h"
#include "msgcodepage.h"
#include "nls.h"
#include "nlsform.h"
#include "nlslog.h"
#include "pstime.h"
#include "tracefile.h"
#include "trace.h"
#include "platform.h"
#include "viewrun.h"

namespace {

using Text = std::string;

std::vector<std::string> shown;  // texts handed to the output function of code 6

void capture(const char16_t* text) { shown.push_back(plat::consoleText(text)); }

// One segment: header, response, text.
Text seg(bool more, int severity, const Text& response, const Text& text) {
    const unsigned v = (more ? 0x8000u : 0u) | (static_cast<unsigned>(severity) << 11) |
                       (static_cast<unsigned>(response.size()) << 8) | static_cast<unsigned>(text.size());
    return Text{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)} + response + text;
}

// A printf-form message of one segment.
Text printfRecord(int severity, const Text& text) { return seg(false, severity, "", "\x01" + text); }

// A repository image: index entries and records placed by hand.
struct Repo {
    Text bytes = Text(64, 'H');
    void at(size_t offset, const Text& data) {
        if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size(), '\0');
        bytes.replace(offset, data.size(), data);
    }
    void index(size_t offset, unsigned record) {
        at(offset, Text{static_cast<char>(record >> 8), static_cast<char>(record & 0xFF)});
    }
    // Message n (index at 2n + 62) in record r (at (r - 1) * 64).
    void put(unsigned n, unsigned r, const Text& record) {
        index(2 * n + 62, r);
        at((r - 1) * 64, record);
    }
};

// The ordered-insert text of `inserts` (stars, kind, spec), the order list
// and the pieces.
struct Ins {
    int stars;
    int kind;
    Text spec;
};
Text ordered(uint32_t mask, const std::vector<uint8_t>& order, const std::vector<Ins>& inserts,
             const std::vector<Text>& pieces, int count = -1) {
    Text t{'\0',
           static_cast<char>(mask >> 24),
           static_cast<char>(mask >> 16),
           static_cast<char>(mask >> 8),
           static_cast<char>(mask),
           static_cast<char>(count >= 0 ? count : static_cast<int>(inserts.size()))};
    for (uint8_t o : order) t.push_back(static_cast<char>(o));
    for (const Ins& i : inserts) {
        t.push_back(static_cast<char>(i.stars));
        t.push_back(static_cast<char>(i.kind));
        t += i.spec;
        t.push_back('\0');
    }
    for (const Text& p : pieces) {
        t += p;
        t.push_back('\0');
    }
    return t;
}

class Nls : public ::testing::Test {
protected:
    void TearDown() override {
        nlsClose();
        lockHandleFailNext(0, 0);
        globalRC = nullptr;
        shown.clear();
    }

    std::string write(const std::string& name, const Text& bytes) {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    void open(const Repo& repo, uint32_t cacheLimit = 32, const Repo* alternate = nullptr, bool codePage = false) {
        NlsSetup s;
        const std::string primary = write("primary.rep", repo.bytes);
        const std::string alt = alternate != nullptr ? write("alternate.rep", alternate->bytes) : "";
        s.repository = primary.c_str();
        s.repositoryName = "primary";
        s.alternate = alternate != nullptr ? alt.c_str() : nullptr;
        s.alternateName = "alternate";
        s.cacheLimit = cacheLimit;
        s.output[6] = capture;
        s.convertCodePage = codePage;
        s.errorLog = errorLog.empty() ? nullptr : errorLog.c_str();
        s.echoLog = echoLog.empty() ? nullptr : echoLog.c_str();
        s.logMaxBytes = logMax;
        ASSERT_EQ(nlsOpen(s), 0);
    }

    // nlGetMsg's text, or "<none>".
    static std::string get(uint32_t n, ...) {
        va_list ap;
        va_start(ap, n);
        char* text = nullptr;
        const int len = nlVGetMsg(&text, n, ap);
        va_end(ap);
        if (text == nullptr) {
            EXPECT_EQ(len, 0);
            return "<none>";
        }
        std::string s(text, static_cast<size_t>(len));
        EXPECT_EQ(std::strlen(text), static_cast<size_t>(len));
        kvFree(text, "nls_test", __LINE__);
        return s;
    }

    static std::vector<uint32_t> ring(nlsMsg* head) {
        std::vector<uint32_t> out;
        for (nlsMsg* m = head; m != nullptr;) {
            out.push_back(m->msgNum);
            m = m->next;
            if (m == head) break;
        }
        return out;
    }

    // The records of a log: the bytes between its header and the
    // end-of-data marker at the header's next-write offset.
    std::string newestRecords(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(b.compare(0, 13, "LOGHEADERREC "), 0);
        const size_t next = std::stoul(b.substr(13, 12));
        EXPECT_EQ(b.compare(next, 13, "\nEND OF DATA\n"), 0);
        return b.substr(26, next - 26);
    }

    testdb::TempDir dir;
    std::string errorLog, echoLog;  // paths of the logs open() sets up
    uint32_t logMax = 1048576;
};

// The date and time that begin a log line with the default formats.
const std::regex kStamp("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d ");

std::string unstamped(const std::string& log) { return std::regex_replace(log, kStamp, "<T>"); }

}  // namespace

TEST_F(Nls, IndexEntriesOfMessages1And32And33) {
    Repo r;
    r.index(64, 4);   // message 1
    r.index(126, 5);  // message 32
    r.index(128, 6);  // message 33
    r.at(192, printfRecord(0, "one"));
    r.at(256, printfRecord(0, "thirty-two"));
    r.at(320, printfRecord(0, "thirty-three"));
    open(r);
    EXPECT_EQ(ReadIndex(&nlsCtx, 1, 0), 4u);
    EXPECT_EQ(ReadIndex(&nlsCtx, 32, 0), 5u);
    EXPECT_EQ(ReadIndex(&nlsCtx, 33, 0), 6u);
    EXPECT_EQ(get(1), "one");
    EXPECT_EQ(get(32), "thirty-two");
    EXPECT_EQ(get(33), "thirty-three");
    EXPECT_TRUE(shown.empty());
}

TEST_F(Nls, SegmentsJoinAndTheSeverityDecidesTheIdentifier) {
    Repo r;
    r.put(106, 10, seg(true, 6, "", "\x01Message index ") + seg(false, 6, "", "not found for %u."));
    r.put(2, 11, printfRecord(8, "a log line"));
    r.put(3, 12, printfRecord(0, "zero"));
    r.put(4, 13, printfRecord(1, "one"));
    r.put(5, 14, printfRecord(2, "two"));
    r.put(6, 15, printfRecord(4, "information"));
    r.put(12345, 400, printfRecord(7, "severe"));
    r.put(7, 16, printfRecord(3, "k"));
    r.put(8, 17, printfRecord(5, "w"));
    r.put(9, 18,
          seg(true, 0, "YN",
              "\x01"
              "answer ") +
              seg(false, 9, "", "please"));
    for (int code = 9; code <= 15; ++code) r.put(20 + code, 20 + code, printfRecord(code, "x"));
    open(r);
    EXPECT_EQ(get(106, 77u), "QLX0106E Message index not found for 77.");
    EXPECT_EQ(get(2), "a log line");
    EXPECT_EQ(get(3), "zero");
    EXPECT_EQ(get(4), "one");
    EXPECT_EQ(get(5), "two");
    EXPECT_EQ(get(6), "QLX0006I information");
    EXPECT_EQ(get(12345), "QLX2345S severe");
    EXPECT_EQ(get(7), "QLX0007K k");
    EXPECT_EQ(get(8), "QLX0008W w");
    // The identifier goes where the first segment of its severity begins.
    EXPECT_EQ(get(9), "answer QLX0009A please");
    for (int code = 9; code <= 15; ++code) {
        EXPECT_EQ(get(20 + code), "QLX00" + std::to_string(20 + code) + "ABCDFGH"[code - 9] + " x") << code;
    }
    EXPECT_EQ(nlGetSeverity(106), 6);
    EXPECT_EQ(nlGetSeverity(9), 9);  // the last segment's
    const nlsMsg* m = nlFindMsg(&nlsCtx, 9);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->response, "YN");
    EXPECT_EQ(nlGetSeverity(1), -1);
    EXPECT_TRUE(shown.size() == 1 && shown[0] == "QLX0106E Message index not found for message 1.\n");
}

TEST_F(Nls, ACacheOfTwoEvictsTheLeastRecentlyUsed) {
    Repo r;
    for (unsigned n = 1; n <= 3; ++n) r.put(n, 2 + n, printfRecord(0, "m" + std::to_string(n)));
    open(r, 2);
    EXPECT_EQ(get(1), "m1");
    EXPECT_EQ(get(2), "m2");
    EXPECT_EQ(ring(nlsCtx.primaryCache), (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(get(1), "m1");
    EXPECT_EQ(ring(nlsCtx.primaryCache), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(get(3), "m3");
    EXPECT_EQ(ring(nlsCtx.primaryCache), (std::vector<uint32_t>{3, 1}));
    // The ring is linked both ways.
    EXPECT_EQ(nlsCtx.primaryCache->prev->msgNum, 1u);
    EXPECT_EQ(nlsCtx.primaryCache->prev->next, nlsCtx.primaryCache);
}

// With a limit of 2 an eviction of the most recent message would pass as
// well; with 3 only the least recently used one is right.
TEST_F(Nls, ACacheOfThreeEvictsTheLeastRecentlyUsed) {
    Repo r;
    for (unsigned n = 1; n <= 4; ++n) r.put(n, 2 + n, printfRecord(0, "m" + std::to_string(n)));
    open(r, 3);
    for (unsigned n : {1, 2, 3, 1}) EXPECT_EQ(get(n), "m" + std::to_string(n));
    EXPECT_EQ(ring(nlsCtx.primaryCache), (std::vector<uint32_t>{1, 3, 2}));
    EXPECT_EQ(get(4), "m4");
    EXPECT_EQ(ring(nlsCtx.primaryCache), (std::vector<uint32_t>{4, 1, 3}));
    EXPECT_EQ(nlsCtx.primaryCache->prev->msgNum, 3u);
}

TEST_F(Nls, TheAlternateRepositoryStandsInAndItsRingIsUsedOnRequest) {
    Repo primary;
    primary.put(1, 3, printfRecord(0, "primary one"));
    primary.index(2 * 9 + 62, 0);
    Repo alternate;
    alternate.put(1, 3, printfRecord(0, "alternate one"));
    alternate.put(7, 4, printfRecord(0, "alternate seven"));
    open(primary, 32, &alternate);
    EXPECT_EQ(get(1), "primary one");
    EXPECT_EQ(get(7), "alternate seven");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "QLX0106E Message index not found for message 7.\n");
    shown.clear();
    nlsCtx.alternateFlag = 1;
    EXPECT_EQ(get(1), "alternate one");
    EXPECT_EQ(nlsCtx.alternateFlag, 0u);  // one lookup only
    EXPECT_EQ(ring(nlsCtx.alternateCache), (std::vector<uint32_t>{1}));
    // Missing from both: reported once for each.
    EXPECT_EQ(get(9), "<none>");
    EXPECT_EQ(shown, (std::vector<std::string>{"QLX0106E Message index not found for message 9.\n",
                                               "QLX0106E Message index not found for message 9.\n"}));
    shown.clear();
    EXPECT_EQ(get(400), "<none>");  // beyond the end of both
    EXPECT_EQ(shown.back(), "QLX0105E Error trying to read index for message 400 from repository 'alternate'.\n");
}

TEST_F(Nls, DamagedRepositoriesGiveTheirMessageAndNoText) {
    struct Case {
        const char* name;
        Text bytes;
        const char* expected;
    };
    std::vector<Case> cases;
    cases.push_back({"shorter than the index entry", Text(65, '\0'),
                     "QLX0105E Error trying to read index for message 1 from repository 'primary'.\n"});
    {
        Repo r;
        r.index(64, 100);
        cases.push_back({"record past the end", r.bytes,
                         "QLX0107E Error trying to read header for message 1 from repository 'primary'.\n"});
    }
    {
        Repo r;
        r.put(1, 3, printfRecord(0, "truncated text"));
        r.bytes.resize(r.bytes.size() - 3);
        cases.push_back({"truncated in the text", r.bytes,
                         "QLX0108E Error trying to read text for message 1 from repository 'primary'.\n"});
    }
    {
        Repo r;
        r.put(1, 3, seg(false, 0, "", ""));
        r.at(200, "x");
        cases.push_back({"text length 0", r.bytes,
                         "QLX0108E Error trying to read text for message 1 from repository 'primary'.\n"});
    }
    {
        Repo r;
        r.put(1, 3, seg(false, 0, "RESP", "\x01t").substr(0, 4));
        cases.push_back({"truncated in the response", r.bytes,
                         "QLX0119E Error trying to read response string for message 1 from repository 'primary'.\n"});
    }
    {
        Repo r;
        r.put(1, 3,
              seg(true, 0, "",
                  "\x01"
                  "chain"));
        cases.push_back({"chain runs off the file", r.bytes,
                         "QLX0107E Error trying to read header for message 1 from repository 'primary'.\n"});
    }
    {
        Repo r;
        Text chain;
        for (int i = 0; i < 120; ++i) chain += seg(true, 0, "", Text(255, 'x'));
        r.put(1, 3, chain + seg(false, 0, "", "end"));
        cases.push_back({"texts beyond the text buffer", r.bytes,
                         "QLX0108E Error trying to read text for message 1 from repository 'primary'.\n"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repo r;
        r.bytes = c.bytes;
        open(r);
        EXPECT_EQ(get(1, "a", "b"), "<none>");
        EXPECT_EQ(shown, std::vector<std::string>{c.expected});
        shown.clear();
        nlsClose();
    }
}

TEST_F(Nls, OrderedInsertsPlaceTheCallersArgumentsByTheOrderList) {
    Repo r;
    // The caller's first argument is insert 1, its second insert 0.
    r.put(1, 3, seg(false, 0, "", ordered(0, {1, 0}, {{0, 0, "%s"}, {0, 1, "%d"}}, {"A[", "] B[", "]"})));
    // Stars come before each value; a 64-bit insert; a wide text.
    r.put(2, 5,
          seg(false, 6, "",
              ordered(0x4, {2, 0, 1}, {{2, 1, "%*.*d"}, {0, 3, "%lld"}, {1, 0, "%-*s"}}, {"", "|", "|", "|"})));
    // No inserts at all (a count of -1 counts as 0).
    r.put(3, 7, seg(false, 0, "", ordered(0, {}, {}, {"just text"}, 0xFF)));
    open(r);
    EXPECT_EQ(get(1, 42, "x"), "A[x] B[42]");
    EXPECT_EQ(get(2, 6, L"wide", 6, 3, 7, 1099511627776LL), "QLX0002E    007|1099511627776|wide  |");
    EXPECT_EQ(get(3), "just text");
}

TEST_F(Nls, AWideCharacterTheLocaleCannotShowBecomesAnUnderscore) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    Repo r;
    r.put(1, 3, seg(false, 0, "", ordered(0x3, {0, 1}, {{0, 0, "%s"}, {0, 1, "%c"}}, {"<", "|", ">"})));
    r.put(2, 5, printfRecord(0, "<%ls|%lc>"));
    open(r);
    EXPECT_EQ(get(1, L"a\u4E2Db", static_cast<wint_t>(0x4E2D)), "<a_b|_>");
    EXPECT_EQ(get(2, L"a\u4E2Db", static_cast<wint_t>(L'z')), "<a_b|z>");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(Nls, RefusedInsertLayoutsFormatNothing) {
    struct Case {
        const char* name;
        Text text;
    };
    std::vector<Ins> eleven(11, Ins{0, 1, "%d"});
    const std::vector<Case> cases = {
        {"more than 10 inserts", ordered(0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, eleven, std::vector<Text>(12, "p"))},
        {"an order list naming no insert", ordered(0, {0, 5}, {{0, 1, "%d"}, {0, 1, "%d"}}, {"a", "b", "c"})},
        {"an order list naming one insert twice", ordered(0, {1, 1}, {{0, 1, "%d"}, {0, 1, "%d"}}, {"a", "b", "c"})},
        {"a specification over 8 characters", ordered(0, {0}, {{0, 1, "%-100.50d"}}, {"a", "b"})},
        {"star count not the conversion's", ordered(0, {0}, {{1, 1, "%d"}}, {"a", "b"})},
        {"a kind above 3", ordered(0, {0}, {{0, 4, "%d"}}, {"a", "b"})},
        {"two conversions in one specification", ordered(0, {0}, {{0, 1, "%d%d"}}, {"a", "b"})},
        {"missing pieces", ordered(0, {0}, {{0, 1, "%d"}}, {})},
        {"a specification that runs off the text", ordered(0, {0}, {}, {}, 1) + Text{'\0', '\1', '%', 'd'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Repo r;
        r.put(1, 3, seg(false, 0, "", c.text));
        r.put(2, 4, seg(false, 6, "", c.text));
        open(r);
        EXPECT_EQ(get(1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11), "<none>");
        EXPECT_EQ(get(2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11), "QLX0002E ");
        nlsClose();
    }
    EXPECT_TRUE(shown.empty());
}

// A conversion that does not fit its insert's kind is made to take what
// the kind passes; one that cannot be made safe shows empty.  Either way
// the other insert and the pieces stand.
TEST_F(Nls, InsertsWhoseConversionAndKindDisagreeCostOnlyThemselves) {
    Repo r;
    const std::vector<Ins> odd = {
        {0, 1, "%ld"},   {0, 1, "%lld"}, {0, 2, "%I64d"}, {0, 1, "%hd"}, {1, 1, "%*ld"}, {0, 3, "%d"}, {0, 3, "%ld"},
        {0, 3, "%I64x"}, {0, 3, "%c"},   {0, 1, "%s"},    {0, 0, "%d"},  {0, 1, "%f"},   {0, 0, "%p"}, {0, 0, "%n"},
    };
    for (size_t k = 0; k < odd.size(); ++k) {
        // The odd insert comes second in the text and first among the arguments.
        r.put(static_cast<unsigned>(k + 1), static_cast<unsigned>(3 + k),
              seg(false, 0, "", ordered(0, {1, 0}, {{0, 0, "%s"}, odd[k]}, {"<", "|", ">"})));
    }
    open(r);
    EXPECT_EQ(get(1, -5, "ok"), "<ok|-5>");
    EXPECT_EQ(get(2, 7, "ok"), "<ok|7>");
    EXPECT_EQ(get(3, 7, "ok"), "<ok|7>");
    EXPECT_EQ(get(4, 65537, "ok"), "<ok|65537>");  // as the 32 bits the kind passes
    EXPECT_EQ(get(5, 4, 7, "ok"), "<ok|   7>");
    EXPECT_EQ(get(6, 1099511627776LL, "ok"), "<ok|1099511627776>");
    EXPECT_EQ(get(7, -1099511627776LL, "ok"), "<ok|-1099511627776>");
    EXPECT_EQ(get(8, 1099511627776LL, "ok"), "<ok|10000000000>");
    EXPECT_EQ(get(9, static_cast<long long>('A'), "ok"), "<ok|A>");
    EXPECT_EQ(get(10, 5, "ok"), "<ok|>");
    EXPECT_EQ(get(11, "text", "ok"), "<ok|>");
    EXPECT_EQ(get(12, 5, "ok"), "<ok|>");
    EXPECT_EQ(get(13, "text", "ok"), "<ok|>");
    EXPECT_EQ(get(14, "text", "ok"), "<ok|>");
    EXPECT_TRUE(shown.empty());
}

// A piece is copied into a buffer of 8959 bytes: at most 8958 of it stand,
// converted from code page 850.
TEST_F(Nls, LiteralPiecesAreCutToTheirBuffer) {
    Repo r;
    const size_t lengths[] = {8958, 8959, 9000};
    for (unsigned k = 0; k < 3; ++k) {
        const Text piece = Text(lengths[k] - 1, 'p') + "\x82";
        const Text text = ordered(0, {}, {}, {piece});
        Text record;
        for (size_t at = 0; at < text.size(); at += 255) {
            record += seg(at + 255 < text.size(), 0, "", text.substr(at, 255));
        }
        r.put(k + 1, 3 + 200 * k, record);
    }
    open(r);
    EXPECT_EQ(get(1), Text(8957, 'p') + "\xE9");
    EXPECT_EQ(get(2), Text(8958, 'p'));
    EXPECT_EQ(get(3), Text(8958, 'p'));
}

TEST_F(Nls, PrintfFormTakesEachArgumentAsItsConversionAsks) {
    Repo r;
    r.put(1, 3, printfRecord(0, "%5.2f|%*d|%-3c|%lld|%%|%p|%1$s|%s|%ls|%hd"));
    r.put(2, 4, printfRecord(0, "%*d|%.*s"));
    r.put(3, 5, seg(false, 0, "", Text("\x02not a form")));
    r.put(4, 6, printfRecord(0, "%I64d|%I32x|%-5I64x|"));
    open(r);
    // The sizes of texts written for Windows.
    EXPECT_EQ(get(4, 1099511627776LL, 255, 16LL), "1099511627776|ff|10   |");
    char pointer[32];
    std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(nullptr));
    EXPECT_EQ(get(1, 3.14159, 4, 7, 'x', 1099511627776LL, static_cast<void*>(nullptr), "t", L"w", 65537),
              std::string(" 3.14|   7|x  |1099511627776|%|") + pointer + "|%1$s|t|w|1");
    // A field wider than the buffer is cut to it.
    EXPECT_EQ(get(2, 2000000000, 1, 3, "abcdef"), std::string(kNlsPrintfBufferSize - 1, ' '));
    EXPECT_EQ(get(2, -3, 1, 3, "abcdef"), "1  |abc");
    EXPECT_EQ(get(3), "<none>");
}

// What the platform's own snprintf makes of `format`, cut where the printf
// form's buffer cuts it.
std::string platformText(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, format, ap);
    std::string out(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, again);
    va_end(again);
    va_end(ap);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (out.size() > kNlsPrintfBufferSize - 1) out.resize(kNlsPrintfBufferSize - 1);
    return out;
}

// Every conversion through the C-argument interface, each followed by a
// %s that shows whether it took exactly its own arguments, against the
// platform's snprintf of the same text (%I64d against %lld where the
// run-time does not know it).  Fields wider than the buffer are cut to it.
TEST_F(Nls, PrintfFormFormatsEveryConversionAsTheRunTimeDoes) {
    struct Case {
        const char* spec;
        std::function<std::string(uint32_t)> ours;
        std::function<std::string()> platform;
    };
#ifdef _WIN32
#define JBB_I64 "%I64d|%s"
#else
#define JBB_I64 "%lld|%s"
#endif
#define JBB_CASE(spec, platformSpec, ...)                                 \
    Case {                                                                \
        spec, [](uint32_t n) { return get(n, __VA_ARGS__, "end"); },      \
            [] { return platformText(platformSpec, __VA_ARGS__, "end"); } \
    }
    static int anchor = 0;
    const std::vector<Case> cases = {
        JBB_CASE("%zu|%s", "%zu|%s", static_cast<size_t>(123456789012345ULL)),
        JBB_CASE("%jd|%s", "%jd|%s", static_cast<intmax_t>(-9007199254740993LL)),
        JBB_CASE("%td|%s", "%td|%s", static_cast<ptrdiff_t>(-42)),
        JBB_CASE("%hhu|%s", "%hhu|%s", 300),
        JBB_CASE("%#llx|%s", "%#llx|%s", 0xDEADBEEFCAFEULL),
        JBB_CASE("%.1Lf|%s", "%.1Lf|%s", 2.25L),
        JBB_CASE("%p|%s", "%p|%s", static_cast<void*>(&anchor)),
        JBB_CASE("%*d|%s", "%*d|%s", 7, -12),
        JBB_CASE("%-*.*s|%s", "%-*.*s|%s", -9, 3, "abcdef"),
        JBB_CASE("%-08.3f|%s", "%-08.3f|%s", 3.14159),
        JBB_CASE("%I64d|%s", JBB_I64, 1099511627776LL),
        JBB_CASE("%+.3e|%s", "%+.3e|%s", 12345.678),
        JBB_CASE("%ls|%s", "%ls|%s", L"wide"),
        JBB_CASE("%5.3s%%|%s", "%5.3s%%|%s", "abcdef"),
        JBB_CASE("%100000d|%s", "%100000d|%s", 5),
        JBB_CASE("%-100000s|%s", "%-100000s|%s", "left"),
        JBB_CASE("%0100000.2f|%s", "%0100000.2f|%s", -1.5),
        JBB_CASE("%80000.70000d|%s", "%80000.70000d|%s", 5),
        JBB_CASE("%#80000.70000g|%s", "%#80000.70000g|%s", 1.0 / 3),
    };
#undef JBB_CASE
#undef JBB_I64
    Repo r;
    for (size_t k = 0; k < cases.size(); ++k) {
        r.put(static_cast<unsigned>(k + 1), static_cast<unsigned>(3 + k), printfRecord(0, cases[k].spec));
    }
    open(r);
    for (size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].spec);
        const std::string ours = cases[k].ours(static_cast<uint32_t>(k + 1));
        const std::string theirs = cases[k].platform();
        ASSERT_EQ(ours.size(), theirs.size());
        EXPECT_EQ(ours, theirs);
    }
    // A width beyond what the run-time takes is padding as far as the
    // buffer reaches, and costs no more than the buffer.
    Repo wide;
    wide.put(1, 3, printfRecord(0, "%99999999999d|%s"));
    open(wide);
    EXPECT_EQ(get(1, 5, "end"), std::string(kNlsPrintfBufferSize - 1, ' '));
}

// An ordered insert's specification without a conversion shows as printf
// shows it, and still takes its arguments.
TEST_F(Nls, AnOrderedSpecificationWithoutAConversionIsShownAsItStands) {
    Repo r;
    r.put(1, 3, seg(false, 0, "", ordered(0, {0, 1}, {{0, 1, "abc"}, {0, 0, "%s"}}, {"<", "|", ">"})));
    r.put(2, 4, seg(false, 0, "", ordered(0, {0, 1}, {{1, 3, "50%%"}, {0, 0, "%s"}}, {"<", "|", ">"})));
    open(r);
    EXPECT_EQ(get(1, 7, "next"), "<abc|next>");
    EXPECT_EQ(get(2, 3, 1LL << 40, "next"), "<50%|next>");
    // A text of neither form formats to nothing, even one laid out as an
    // ordered text after its first byte: the message has no text.
    Text neither = ordered(0, {0}, {{0, 0, "%s"}}, {"<", ">"});
    neither[0] = '\x02';
    Repo other;
    other.put(1, 3, seg(false, 0, "", neither));
    open(other);
    EXPECT_EQ(get(1, 7, "next"), "<none>");
}

// nlOutputMsg hands its output function what strToWide makes of the
// text: at most 8959 characters, and for a text the locale refuses as
// many characters of the conversion's error text as the text had bytes.
TEST_F(Nls, OutputTextIsConvertedAsPathsAndKeysAre) {
    Repo r;
    open(r);
    for (size_t chars : {size_t{8958}, size_t{8959}, size_t{9000}}) {
        SCOPED_TRACE(chars);
        shown.clear();
        nlOutputMsg(6, std::string(chars, 'm').c_str());
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], std::string(chars < 8959 ? chars : 8959, 'm'));
    }
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "C.UTF-8") != nullptr || std::setlocale(LC_ALL, ".UTF-8") != nullptr) {
        char16_t probe[4];
        if (plat::narrowToUtf16(probe, "\xFF", 3) == static_cast<size_t>(-1)) {
            for (const char* text : {"\xFF"
                                     "ab",
                                     "abc\xFF"
                                     "defghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP"}) {
                shown.clear();
                nlOutputMsg(6, text);
                ASSERT_EQ(shown.size(), 1u);
                EXPECT_EQ(shown[0], std::string("Conversion error - invalid source!").substr(0, std::strlen(text)));
            }
        }
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(Nls, TextsAreConvertedFrom850To1252WhenAsked) {
    Repo r;
    r.put(1, 3, printfRecord(0, "caf\x82 %s"));
    r.put(2, 4, seg(false, 0, "", ordered(0, {0}, {{0, 0, "%s"}}, {"\x82:", ":\xC9"})));
    open(r, 32, nullptr, true);
    EXPECT_EQ(get(1, "\x82"), "caf\xE9 \x82");  // inserts are the caller's, as given
    EXPECT_EQ(get(2, "\x82"), "\xE9:\x82:?");   // 850's box corner is not in 1252
    // Without the switch the printf form stays as it is; the pieces of an
    // ordered text are converted all the same.
    nlsClose();
    open(r);
    EXPECT_EQ(get(1, "x"), "caf\x82 x");
    EXPECT_EQ(get(2, "x"), "\xE9:x:?");
}

TEST(LockHandle, TheOwnerMayTakeItAgain) {
    LockHandle* h = lockHandleCreate();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(lockHandle(h), 0);
    EXPECT_EQ(lockHandle(h), 0);
    EXPECT_EQ(unlockHandle(h), 0);
    EXPECT_EQ(unlockHandle(h), 0);
    int other = -2;
    std::thread([&] { other = lockHandle(h) + unlockHandle(h); }).join();
    EXPECT_EQ(other, 0);
    lockHandleDestroy(h);
    EXPECT_EQ(lockHandle(nullptr), -1);
}

TEST_F(Nls, SetupRefusesWhatItCannotUse) {
    NlsSetup s;
    EXPECT_EQ(nlsOpen(s), 22);
    const std::string missing = dir.file("missing.rep");
    s.repository = missing.c_str();
    EXPECT_EQ(nlsOpen(s), 942);
    Repo r;
    const std::string present = write("present.rep", r.bytes);
    s.repository = present.c_str();
    s.alternate = missing.c_str();
    EXPECT_EQ(nlsOpen(s), 942);
    EXPECT_EQ(nlsLock, nullptr);  // nothing stays open
    s.alternate = nullptr;
    s.prefix = "TOOLONGX";
    EXPECT_EQ(nlsOpen(s), 22);
    s.prefix = "AB";
    s.cacheLimit = 0;
    ASSERT_EQ(nlsOpen(s), 0);
    EXPECT_EQ(nlsCtx.cacheLimit, 1u);
    EXPECT_STREQ(nlsCtx.prefix, "AB");
    EXPECT_STREQ(nlsCtx.reposName, present.c_str());
}

TEST(NlsWithoutSetup, FindsNothing) {
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(nlGetMsg(&text, 361), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(nlGetSeverity(361), 6);
}

TEST(NlsCharBuffer, GrowsInStepsOf4096Bytes) {
    const auto blockSize = [](const void* p) {
        KvMemHeader h;
        std::memcpy(&h, static_cast<const unsigned char*>(p) - sizeof h, sizeof h);
        return h.recordedSize - kvBlockOverhead;
    };
    nlsCharBuffer b;
    EXPECT_EQ(b.capacity, 4u);
    EXPECT_EQ(blockSize(b.buffer), 4096u);
    const Text chunk(4095, 'a');
    EXPECT_EQ(b.append(chunk.c_str(), 0), 4095u);  // needs exactly 4096
    EXPECT_EQ(b.capacity, 4u);
    EXPECT_EQ(blockSize(b.buffer), 4096u);
    EXPECT_EQ(b.append("b", 0), 4096u);  // needs 4097
    EXPECT_EQ(b.capacity, 8u);
    EXPECT_EQ(blockSize(b.buffer), 8192u);
    EXPECT_EQ(b.append(chunk.c_str(), 0), 8191u);  // needs 8192: fits
    EXPECT_EQ(b.capacity, 8u);
    EXPECT_EQ(b.append("xyz", 2), 8193u);  // needs 8194; a count takes that many
    EXPECT_EQ(b.capacity, 12u);
    EXPECT_EQ(blockSize(b.buffer), 12288u);
    EXPECT_EQ(std::string(b.buffer + 8191), "xy");
    EXPECT_EQ(b.charSize(), 1);
}

TEST(CodePage, AllBytesOf850BecomeTheSame1252BytesOnEveryPlatform) {
    Text all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    const Text expected = Text(all, 0, 127) +
                          "\xC7\xFC\xE9\xE2\xE4\xE0\xE5\xE7\xEA\xEB\xE8\xEF\xEE\xEC\xC4\xC5\xC9"
                          "\xE6\xC6\xF4\xF6\xF2\xFB\xF9\xFF\xD6\xDC\xF8\xA3\xD8\xD7\x83\xE1"
                          "\xED\xF3\xFA\xF1\xD1\xAA\xBA\xBF\xAE\xAC\xBD\xBC\xA1\xAB\xBB\x3F"
                          "\x3F\x3F\x3F\x3F\xC1\xC2\xC0\xA9\x3F\x3F\x3F\x3F\xA2\xA5\x3F\x3F"
                          "\x3F\x3F\x3F\x3F\x3F\xE3\xC3\x3F\x3F\x3F\x3F\x3F\x3F\x3F\xA4\xF0"
                          "\xD0\xCA\xCB\xC8\x3F\xCD\xCE\xCF\x3F\x3F\x3F\x3F\xA6\xCC\x3F\xD3"
                          "\xDF\xD4\xD2\xF5\xD5\xB5\xFE\xDE\xDA\xDB\xD9\xFD\xDD\xAF\xB4\xAD"
                          "\xB1\x3F\xBE\xB6\xA7\xF7\xB8\xB0\xA8\xB7\xB9\xB3\xB2\x3F\xA0";
    ASSERT_EQ(expected.size(), 255u);
    Text text = all;
    ASSERT_EQ(convertMessageText(&text[0]), 0);
    EXPECT_EQ(text, expected);
    // The pages as given: the same page leaves the text alone, an unknown
    // one is refused with the text unchanged.
    text = all;
    EXPECT_TRUE(plat::convertCodePage(&text[0], 850, 850));
    EXPECT_EQ(text, all);
    EXPECT_FALSE(plat::convertCodePage(&text[0], 850, 59999));
    EXPECT_EQ(text, all);
    targetCodePageOverrideOn = 1;
    targetCodePageOverride = 850;
    EXPECT_EQ(convertMessageText(&text[0]), 0);
    EXPECT_EQ(text, all);
    targetCodePageOverrideOn = 0;
    targetCodePageOverride = 0;
}

TEST_F(Nls, GlobalReturnCodeClassifiesAndOnlyRises) {
    // Message n has severity code n - 1 (0 to 15); message 17 does not exist.
    Repo r;
    for (int code = 0; code < 16; ++code) r.put(code + 1, code + 3, printfRecord(code, "x"));
    r.put(1228, 20, printfRecord(6, "listed as a warning"));
    open(r);
    const int32_t byCode[16] = {0, 0, 0, 12, 0, 8, 12, 12, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int code = 0; code < 16; ++code) EXPECT_EQ(globalRCClassify(code + 1), byCode[code]) << code;
    EXPECT_EQ(globalRCClassify(17), 0);  // not found
    for (int n : {326, 1228, 5823, 14987}) EXPECT_EQ(globalRCClassify(n), 4) << n;
    EXPECT_EQ(globalRCClassify(9999), 12);
    EXPECT_EQ(globalRCClassify(2046), 12);
    msg2046RcOverride = 1;
    msg2046Rc = 0;
    EXPECT_EQ(globalRCClassify(2046), 8);
    msg2046Rc = 4;
    EXPECT_EQ(globalRCClassify(2046), 4);
    msg2046RcOverride = 0;
    msg2046Rc = 0;

    GlobalRC g;
    EXPECT_EQ(g.set(1228), 1);
    EXPECT_EQ(g.rc, 4);
    EXPECT_EQ(g.rcMacroMax, 4);
    EXPECT_EQ(g.rcMax, 4);
    EXPECT_EQ(g.set(1228), 0);
    EXPECT_EQ(g.set(6), 1);  // code 5
    EXPECT_EQ(g.rc, 8);
    EXPECT_EQ(g.set(7), 1);  // code 6
    EXPECT_EQ(g.set(1228), 0);
    EXPECT_EQ(g.set(1), 0);
    EXPECT_EQ(g.rc, 12);
    EXPECT_EQ(g.rcMacroMax, 12);
    EXPECT_EQ(g.rcMax, 12);
}

TEST_F(Nls, GlobalReturnCodeLockFailuresAreShownOnceAndNotCounted) {
    Repo r;
    r.put(9999, 400, printfRecord(6, "%s:%d: %s\n"));
    open(r);
    GlobalRC g;
    globalRC = &g;
    lockHandleFailNext(1, 0);
    EXPECT_EQ(g.set(1228), 0);
    EXPECT_EQ(g.rc, 0);
    lockHandleFailNext(0, 1);
    EXPECT_EQ(g.set(1228), 0);
    EXPECT_EQ(g.rc, 4);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0].find("QLX9999E GlobalRC:"), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find(": Unable to acquire global rc mutex\n"), std::string::npos) << shown[0];
    EXPECT_NE(shown[1].find(": Unable to release global rc mutex\n"), std::string::npos) << shown[1];
    // The repository's own lock: 6 when it cannot be taken, -1 when it
    // cannot be released; 9999 is then displayed and counted.
    lockHandleFailNext(1, 0);
    EXPECT_EQ(nlGetSeverity(9999), 6);
    lockHandleFailNext(0, 1);
    EXPECT_EQ(nlGetSeverity(9999), -1);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].rfind("QLX9999E nls.cpp:", 0), 0u) << shown[2];
    EXPECT_NE(shown[2].find(": Unable to release NLS mutex\n"), std::string::npos) << shown[2];
    EXPECT_EQ(g.rc, 12);
}

TEST_F(Nls, AFailingLockShowingAMissing9999NeitherRecursesNorCounts) {
    Repo r;
    r.put(1, 3, printfRecord(0, "one"));
    r.index(2 * 9999 + 62, 0);
    open(r);
    GlobalRC g;
    globalRC = &g;
    // The lock fails; showing 9999 fails too (it is not in the repository),
    // and that failure is counted through set() again.
    lockHandleFailNext(1, 0);
    EXPECT_EQ(g.set(1228), 0);
    EXPECT_EQ(g.rc, 0);
    EXPECT_EQ(shown, std::vector<std::string>{"QLX0106E Message index not found for message 9999.\n"});
    // A lookup failure is counted as 9999.
    EXPECT_EQ(get(5), "<none>");
    EXPECT_EQ(g.rc, 12);
}

TEST_F(Nls, TheErrorLogKeepsDatedLinesWithinItsSizeAndWraps) {
    Repo r;
    r.put(1, 3, printfRecord(6, "failed %d"));
    r.put(2, 4, printfRecord(4, "informational\n"));
    r.put(361, 5, printfRecord(2, "engine: "));
    errorLog = dir.file("error.log");
    logMax = 300;
    open(r);
    GlobalRC g;
    globalRC = &g;
    nlDisplayMsg(2);  // severity I: not for the error log
    EXPECT_EQ(unstamped(newestRecords(errorLog)), "");
    EXPECT_EQ(traceErrPrintf("src", 7, 0, "report %d\n", 5), 0);
    EXPECT_EQ(tracePlusErrPrintf("src", 8, 0, "bad node %d\n", 6), 0);
    EXPECT_EQ(errorLogWrite("no newline"), 30);
    EXPECT_EQ(unstamped(newestRecords(errorLog)), "<T>report 5\n<T>engine: bad node 6\n<T>no newline\n");
    for (int k = 0; k < 12; ++k) {
        nlDisplayMsg(1, k);
        int64_t size = 0;
        ASSERT_TRUE(plat::fileSize(errorLog.c_str(), &size));
        ASSERT_LE(size, 300);
    }
    EXPECT_EQ(g.rc, 12);
    ASSERT_EQ(shown.size(), 12u);
    EXPECT_EQ(shown.back(), "QLX0001E failed 11");
    EXPECT_EQ(unstamped(newestRecords(errorLog)),
              "<T>QLX0001E failed 9\n<T>QLX0001E failed 10\n<T>QLX0001E failed 11\n");
    std::ifstream in(errorLog, std::ios::binary);
    const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(b.size(), 300u);
    const size_t wrap = b.find("\nContinued at beginning of file\n");
    ASSERT_NE(wrap, std::string::npos);
    EXPECT_EQ(b.substr(wrap + 32), std::string(300 - wrap - 32 - 2, ' ') + "*\n");
    EXPECT_NE(b.find("failed 8\n", 100), std::string::npos);  // older records before the wrap

    // A text longer than the log can hold is written whole, with a newline.
    EXPECT_EQ(errorLogWrite(std::string(1000, 'x').c_str()), 1020);
    EXPECT_EQ(unstamped(newestRecords(errorLog)), "<T>" + std::string(1000, 'x') + "\n");

    // Too small a log is refused; a log the setup cannot open fails it.
    nlsClose();
    NlsSetup s;
    const std::string repo = dir.file("primary.rep");
    s.repository = repo.c_str();
    s.errorLog = errorLog.c_str();
    s.logMaxBytes = 255;
    EXPECT_EQ(nlsOpen(s), 22);
    s.logMaxBytes = 300;
    s.echoLog = errorLog.c_str();
    EXPECT_EQ(nlsOpen(s), 22);
    const std::string nowhere = dir.file("missing/echo.log");
    s.echoLog = nowhere.c_str();
    EXPECT_EQ(nlsOpen(s), 942);
    EXPECT_EQ(nlsErrorLog.enabled, 0u);
    EXPECT_EQ(errorLogWrite("after"), 0);
}

TEST_F(Nls, TheEchoLogDatesOnlyTheStartsOfLines) {
    Repo r;
    r.put(1, 3, printfRecord(4, "part one, "));
    r.put(2, 4, printfRecord(6, "part two\n"));
    r.put(3, 5, printfRecord(0, "plain\n"));
    r.put(11025, 6, printfRecord(4, "never echoed\n"));
    echoLog = dir.file("echo.log");
    open(r);
    nlDisplayMsg(1);
    nlDisplayMsg(2);
    nlDisplayMsg(11025);
    nlDisplayMsg(3);
    nlDisplayMsg(1);
    const std::string expected = "<T>QLX0001I part one, QLX0002E part two\n<T>plain\n<T>QLX0001I part one, ";
    EXPECT_EQ(unstamped(newestRecords(echoLog)), expected);
    // Opened again, the log goes on with the line its last record left open.
    open(r);
    nlDisplayMsg(2);
    EXPECT_EQ(unstamped(newestRecords(echoLog)), expected + "QLX0002E part two\n");
}

namespace {

// The wrapping logs' layout, rule by rule, on bytes in memory: the header
// with the next-write offset, records after it, the end-of-data marker
// after the newest one, and the wrap marker and its padding where a record
// would not fit.  Dates and times are the fixed texts the test sets.
struct LogModel {
    std::string bytes;
    uint32_t maxBytes = 0;
    size_t pos = 0;
    bool lineStart = true;
    int wraps = 0;
    const std::string stamp = "2026-12-07 14:19:40 ";

    void put(const std::string& s) {
        if (bytes.size() < pos + s.size()) bytes.resize(pos + s.size());
        bytes.replace(pos, s.size(), s);
        pos += s.size();
    }
    size_t next() const { return std::stoul(bytes.substr(13, 12)); }
    void setNext() {
        const size_t at = pos;
        char header[32];
        std::snprintf(header, sizeof header, "LOGHEADERREC %-12lu", static_cast<unsigned long>(at));
        pos = 0;
        put(header);
        pos = at;
        put(std::string(logEndOfDataText) + "\n");
        pos = at;
    }
    void create(uint32_t max) {
        maxBytes = max;
        bytes.clear();
        pos = 0;
        put(std::string(logHeaderLength - 1, ' ') + "\n");
        setNext();
    }
    // Room for a record of `length` bytes: the wrap when it would not fit.
    void makeRoom(size_t length) {
        pos = next();
        const long long projected = static_cast<long long>(std::strlen(logEndOfDataText) + length + pos + 1);
        const long long room = static_cast<long long>(maxBytes) - static_cast<long long>(std::strlen(logWrapText)) - 1;
        if (projected <= room) return;
        ++wraps;
        put(logWrapText);
        const long long rest = static_cast<long long>(maxBytes) - static_cast<long long>(pos);
        if (rest == 1) put("\n");
        if (rest >= 2) put(std::string(static_cast<size_t>(rest - 2), ' ') + "*\n");
        pos = logHeaderLength;
    }
    // The longest text that fits without a wrap.
    size_t fitting() const {
        if (next() + 66 + stamp.size() > maxBytes) return 0;
        return maxBytes - std::strlen(logWrapText) - 1 - std::strlen(logEndOfDataText) - 1 - next() - stamp.size();
    }
    void error(const std::string& text) {
        makeRoom(stamp.size() + text.size());
        put(stamp + text);
        if (text.empty() || text.back() != '\n') put("\n");
        setNext();
    }
    void echo(const std::string& text) {
        makeRoom(stamp.size() + text.size());
        put(lineStart ? stamp + text : text);
        lineStart = !text.empty() && text.back() == '\n';
        setNext();
    }
};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Fixed date and time texts for the length of a test.
struct FixedStamp {
    FixedStamp() {
        std::strcpy(psDateFormat, "2026-12-07");
        std::strcpy(psTimeFormat, "14:19:40");
    }
    ~FixedStamp() {
        std::strcpy(psDateFormat, "%m/%d/%Y");
        std::strcpy(psTimeFormat, "%H:%M:%S");
    }
};

}  // namespace

// Both logs against the model, byte for byte after every record: records
// that just fit, one byte too long, one longer than the whole log,
// continued echo lines, and a log continued under a lower maximum.
TEST_F(Nls, LogsAreLaidOutByteForByteAsTheWrappingRulesSay) {
    const FixedStamp fixed;
    Repo r;
    errorLog = dir.file("error.log");
    echoLog = dir.file("echo.log");
    logMax = 300;
    open(r);
    LogModel err, echo;
    err.create(300);
    echo.create(300);
    ASSERT_EQ(fileBytes(errorLog), err.bytes);
    auto writeError = [&](const std::string& text) {
        errorLogWrite(text.c_str());
        err.error(text);
        ASSERT_EQ(fileBytes(errorLog), err.bytes) << "after a text of " << text.size();
    };
    writeError("short");
    writeError(std::string(err.fitting(), 'f'));  // just fits
    EXPECT_EQ(err.wraps, 0);
    EXPECT_EQ(fileBytes(errorLog).size(), 300u - std::strlen(logWrapText));
    writeError("x");
    EXPECT_EQ(err.wraps, 1);
    writeError(std::string(err.fitting() - 1, 'n') + "\n");  // fits with its own newline
    EXPECT_EQ(err.wraps, 1);
    writeError("y");
    writeError(std::string(err.fitting() + 1, 'o'));  // one byte too long
    EXPECT_EQ(err.wraps, 3);
    writeError(std::string(1000, 'w'));  // longer than the log: whole
    writeError("after the long one");
    EXPECT_EQ(err.wraps, 5);
    EXPECT_GT(err.bytes.size(), 1000u);

    auto writeEcho = [&](const std::string& text) {
        echoLogWrite(text.c_str());
        echo.echo(text);
        ASSERT_EQ(fileBytes(echoLog), echo.bytes) << "after '" << text << "'";
    };
    for (int k = 0; k < 14; ++k) {
        const std::string text = std::string(static_cast<size_t>(7 * k % 40 + 1), static_cast<char>('a' + k));
        writeEcho(k % 3 == 2 ? text + "\n" : text);
    }
    writeEcho("\n");
    writeEcho("begun ");
    const int wrapped = echo.wraps;
    writeEcho(std::string(echo.fitting(), 'c'));  // a continued line that just fits
    EXPECT_EQ(echo.wraps, wrapped);
    writeEcho("\n");
    writeEcho("begun ");
    const int before = echo.wraps;
    writeEcho(std::string(echo.fitting() + 1, 'd'));  // one byte too long
    EXPECT_EQ(echo.wraps, before + 1);
    EXPECT_GT(before, wrapped);
    EXPECT_GE(echo.wraps, 3);

    // Continued with a lower maximum: wrapped at the next record, and the
    // bytes beyond the new maximum stay.
    logMax = 600;
    nlsClose();
    std::remove(errorLog.c_str());
    open(r);
    err.create(600);
    for (int k = 0; k < 8; ++k) writeError("record " + std::to_string(k) + std::string(30, '.'));
    EXPECT_EQ(err.wraps, 5);
    logMax = 300;
    nlsClose();
    open(r);
    err.maxBytes = 300;
    const size_t longer = err.bytes.size();
    ASSERT_GT(longer, 300u);
    writeError("under the lower maximum");
    EXPECT_EQ(err.wraps, 6);
    EXPECT_GE(err.bytes.size(), longer);
}

TEST(NlsScan, PositionsRunFromOneTo65535) {
    struct Row {
        const char* spec;
        bool positional;
        bool ok;
        unsigned pos;
    } rows[] = {
        {"%1$d", true, true, 1},  {"%65535$d", true, true, 65535}, {"%65536$d", true, false, 0},
        {"%0$d", true, false, 0}, {"%1$d", false, false, 0},       {"%12d", true, true, 0},
    };
    for (const Row& r : rows) {
        NlsConversion c;
        EXPECT_EQ(r.ok, nlsScanConversion(r.spec, std::strlen(r.spec), r.positional, &c)) << r.spec;
        if (r.ok) {
            EXPECT_EQ(r.pos, c.pos) << r.spec;
            EXPECT_EQ(std::strlen(r.spec), c.length) << r.spec;
        }
    }
}

TEST(NlsScan, OrderedLayoutsAreReadOrRefusedWithTheirReason) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        const char* why;  // null: read
    } rows[] = {
        {"\0\0\0\0\0\2\1\0"s
         "\0\0%s\0"s
         "\0\1%d\0"s
         "<\0|\0>"s,
         nullptr},
        {"\0\0\0\0\0\1\0"s
         "\2\1%*.*d\0"s
         "a\0b"s,
         nullptr},
        {"\0\0\0\0\0\1\0"s
         "\3\1%%\0"s
         "a\0b"s,
         "an insert's star count differs from its specification"},
        {"\0\0\0\0\0\1\0"s
         "\0\4%d\0"s
         "a\0b"s,
         "an insert's kind is not one of 0 to 3"},
        {"\0\0\0\0\0\1\0"s
         "\0\0%s\0"s
         "a"s,
         "a piece of literal text runs past the text"},
        {"\0\0\0\0\0\2\0\0"s, "the order list does not name every insert once"},
        {"\0\0\0\0\0\13"s, "more than 10 inserts"},
    };
    for (const auto& r : rows) {
        NlsOrdered o;
        const char* why = nullptr;
        const bool ok = nlsParseOrdered(r.text.data(), r.text.size(), &o, &why);
        EXPECT_EQ(ok, r.why == nullptr) << (why != nullptr ? why : "read");
        if (r.why != nullptr && why != nullptr) {
            EXPECT_STREQ(why, r.why);
        }
    }
}
