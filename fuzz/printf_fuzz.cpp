// Formats arbitrary bytes as a printf-form message text (nlOrderInsert)
// with one fixed argument list whose types follow the text: the target
// reads the text's conversions and serves, in order, star values as int
// and each value as the type its conversion names, drawn from fixed
// values (extremes, NaN, long and odd texts).  It holds the formatter to:
//  - every argument is taken as the type the text names for its place,
//    stars before their value, none skipped and none beyond the list;
//  - all of them are taken unless the buffer is full;
//  - the result is a terminated text of the length returned, within the
//    printf form's buffer.
// Besides crashes and the sanitizers' reports, a broken promise aborts.
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nls.h"
#include "nlsform.h"

// For the driver without a fuzzing engine (text_replay_main.cpp).
extern const char kReplayName[] = "printf";
extern const char kReplaySignificant[] = "%*.-+ #0123456789hljztLI64$scdiouxXeEfFgGaApnSC";
extern const char kReplayFinding[] = "printf-finding.txt";

namespace {

[[noreturn]] void broken(const char* what, size_t at) {
    std::fprintf(stderr, "printf_fuzz: %s (argument %zu)\n", what, at);
    std::abort();
}

// What the text asks for, in order, read as the formatter reads it.  A
// character is marked as such (NlsArgType::None), so that it is given no
// NUL, which would end the text early.
std::vector<NlsArgType> wanted(const char* text, size_t len) {
    std::vector<NlsArgType> out;
    for (size_t i = 0; i < len && text[i] != '\0';) {
        NlsConversion c;
        if (text[i] != '%' || !nlsScanConversion(text + i, len - i, false, &c)) {
            ++i;
            continue;
        }
        i += c.length;
        if (c.type == NlsArgType::None) continue;
        for (int k = 0; k < c.stars; ++k) out.push_back(NlsArgType::Int);
        if (c.outConv == 'c') {
            out.push_back(NlsArgType::None);
        } else {
            out.push_back(c.type == NlsArgType::Refused ? NlsArgType::Pointer : c.type);
        }
    }
    return out;
}

class FixedArgs : public NlsArgs {
public:
    explicit FixedArgs(std::vector<NlsArgType> types) : types_(std::move(types)) {}

    int nextInt() override {
        if (next_ < types_.size() && types_[next_] == NlsArgType::None) {
            static const int c[] = {'A', 0x4E2D, 300, -1, 0xDFFF};
            return c[take(NlsArgType::None) % 5];
        }
        static const int v[] = {0, -1, 7, INT_MAX, INT_MIN, 'A', 300, 0x4E2D, -30001, 100000};
        return v[take(NlsArgType::Int) % 10];
    }
    long nextLong() override {
        static const long v[] = {0, -1, LONG_MAX, LONG_MIN, 65537};
        return v[take(NlsArgType::Long) % 5];
    }
    long long nextLongLong() override {
        static const long long v[] = {0, -1, LLONG_MAX, LLONG_MIN, 1LL << 40};
        return v[take(NlsArgType::LongLong) % 5];
    }
    intmax_t nextIntMax() override {
        static const intmax_t v[] = {0, INTMAX_MIN, INTMAX_MAX, -9007199254740993LL};
        return v[take(NlsArgType::IntMax) % 4];
    }
    size_t nextSize() override {
        static const size_t v[] = {0, SIZE_MAX, 5, 123456789012345ULL};
        return v[take(NlsArgType::Size) % 4];
    }
    ptrdiff_t nextPtrDiff() override {
        static const ptrdiff_t v[] = {0, PTRDIFF_MIN, PTRDIFF_MAX, -42};
        return v[take(NlsArgType::PtrDiff) % 4];
    }
    double nextDouble() override {
        static const double v[] = {0.0, -1.5, DBL_MAX, 5e-324, NAN, -INFINITY, 1.0 / 3};
        return v[take(NlsArgType::Double) % 7];
    }
    long double nextLongDouble() override {
        static const long double v[] = {0.0L, LDBL_MAX, LDBL_MIN / 3, -2.25L, static_cast<long double>(NAN)};
        return v[take(NlsArgType::LongDouble) % 5];
    }
    const char* nextText() override {
        static const std::string longText(30000, 'L');
        static const char* const v[] = {"", "text", "%s%n%d", "\xC9\x82 bytes", nullptr, longText.c_str()};
        return v[take(NlsArgType::Text) % 6];
    }
    const wchar_t* nextWideText() override {
        static const wchar_t* const v[] = {L"", L"wide", L"a\u4E2Db", nullptr, L"\xDFFF odd"};
        return v[take(NlsArgType::WideText) % 5];
    }
    bool nextPointer(const void** p) override {
        static const int anchor = 0;
        *p = take(NlsArgType::Pointer) % 2 == 0 ? nullptr : &anchor;
        return true;
    }

    size_t taken() const { return next_; }
    size_t count() const { return types_.size(); }

private:
    size_t take(NlsArgType t) {
        if (next_ >= types_.size()) broken("an argument taken beyond the list", next_);
        if (types_[next_] != t) broken("an argument taken as another type than its conversion names", next_);
        return next_++;
    }
    std::vector<NlsArgType> types_;
    size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool localeSet = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    (void)localeSet;
    if (size > 4096) return 0;
    std::string text(1, static_cast<char>(kNlsFormPrintf));
    text.append(reinterpret_cast<const char*>(data), size);
    FixedArgs args(wanted(text.data() + 1, text.size() - 1));
    nlsCharBuffer buf;
    const uint32_t length = nlOrderInsert(&nlsCtx, &buf, text.data(), text.size(), args);
    if (buf.buffer == nullptr) return 0;  // no memory
    if (length != buf.length || std::strlen(buf.buffer) != length) broken("a length that is not the text's", 0);
    if (length > kNlsPrintfBufferSize - 1) broken("a text longer than the buffer", 0);
    if (length < kNlsPrintfBufferSize - 1 && args.taken() != args.count()) {
        broken("arguments left over with room in the buffer", args.taken());
    }
    return 0;
}
