// Formatting a message text with the caller's arguments: the printf form
// and the ordered-insert form (nlsformat.h).
//
// Each conversion is formatted on its own, with the argument of the type
// that the conversion asks for, so that a text read from a file can never
// make the formatter take an argument as something it is not:
//  - printf form: a conversion that nlsScanConversion does not read (also a
//    positional one, or one over 40 characters) is copied as it stands and
//    takes no argument; %p and %n take their argument and show nothing;
//  - ordered form: a layout that nlsParseOrdered refuses is not formatted
//    at all (nothing is appended); each insert's value is taken by its
//    kind, and an insert whose conversion no length modifier makes fit
//    its kind shows empty (nlsform.h);
//  - star values are held to -30000..30000, so that no width or precision
//    pads beyond the message buffers; every formatted text is cut to the
//    room left in its buffer (the printf form's 25853 bytes, the insert
//    area's 25856, a piece's 8959);
//  - a wide text or character that the current locale cannot show has
//    each such character replaced by '_' before it is formatted.

#include <climits>
#include <cstring>
#include <cwchar>

#include "kvmem.h"
#include "msgcodepage.h"
#include "nls.h"
#include "nlsform.h"
#include "trace.h"

namespace {

const char kSource[] = "nlsinsert.cpp";

constexpr int kMaxStar = 30000;
constexpr size_t kMaxPrintfSpec = 40;

int clampStar(int v) { return v < -kMaxStar ? -kMaxStar : v > kMaxStar ? kMaxStar : v; }

bool showable(wchar_t c) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    return std::wcrtomb(bytes, c, &state) != static_cast<size_t>(-1);
}

// Formats one value with `spec` and its star values; returns the count
// written to dst (at most cap - 1, terminated), 0 when cap is 0.
template <class T>
size_t formatValue(char* dst, size_t cap, const char* spec, int stars, const int* star, T value) {
    if (cap == 0) return 0;
    int n;
    switch (stars) {
        case 0:
            n = std::snprintf(dst, cap, spec, value);
            break;
        case 1:
            n = std::snprintf(dst, cap, spec, star[0], value);
            break;
        default:
            n = std::snprintf(dst, cap, spec, star[0], star[1], value);
            break;
    }
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

// Room for a specification with its length modifier normalised.
constexpr size_t kSpecRoom = kMaxPrintfSpec + 4;

struct Stars {
    int count = 0;
    int value[2] = {0, 0};
};

Stars takeStars(const NlsConversion& c, NlsArgs& args) {
    Stars st;
    st.count = c.stars < 2 ? c.stars : 2;
    for (int k = 0; k < st.count; ++k) st.value[k] = clampStar(args.nextInt());
    return st;
}

size_t showEmpty(char* dst, size_t cap) {
    if (cap > 0) dst[0] = '\0';
    return 0;
}

// The length modifier that passes the value of `c` as its type fetches
// it, whatever the text wrote (I64 becomes ll, I32 nothing); h and hh
// stay, since they take an int too.
const char* modifierFor(const NlsConversion& c) {
    switch (c.type) {
        case NlsArgType::Int:
            if (c.conv == 'c') return c.lenMod[0] == 'l' ? "l" : "";
            return c.lenMod[0] == 'h' ? c.lenMod : "";
        case NlsArgType::Long:
            return "l";
        case NlsArgType::LongLong:
            return "ll";
        case NlsArgType::Double:
            return c.lenMod;
        case NlsArgType::WideText:
            return "l";
        default:
            return "";
    }
}

// Takes the value of conversion `c` (its stars already taken) from `args`
// as its type asks and formats it with `spec`, its length modifier set to
// what that type passes, into dst (capacity cap).
size_t formatTaken(char* dst, size_t cap, const char* spec, const NlsConversion& c, const Stars& st, NlsArgs& args) {
    // (A specification too long for fmt leaves it empty: the value is still
    // taken, and shows nothing.)
    char fmt[kSpecRoom];
    nlsWithModifier(spec, c, modifierFor(c), fmt, sizeof fmt);
    const int* star = st.value;
    switch (c.type) {
        case NlsArgType::None:
            return formatValue(dst, cap, "%s", 0, star, "%");
        case NlsArgType::Int: {
            int v = args.nextInt();
            if (c.conv == 'c' && c.lenMod[0] == 'l' && !showable(static_cast<wchar_t>(v))) v = '_';
            return formatValue(dst, cap, fmt, st.count, star, v);
        }
        case NlsArgType::Long:
            return formatValue(dst, cap, fmt, st.count, star, args.nextLong());
        case NlsArgType::LongLong:
            return formatValue(dst, cap, fmt, st.count, star, args.nextLongLong());
        case NlsArgType::Double:
            return formatValue(dst, cap, fmt, st.count, star, args.nextDouble());
        case NlsArgType::Text: {
            const char* v = args.nextText();
            return formatValue(dst, cap, fmt, st.count, star, v != nullptr ? v : "(null)");
        }
        case NlsArgType::WideText: {
            const wchar_t* v = args.nextWideText();
            if (v == nullptr) v = L"(null)";
            const size_t len = std::wcslen(v);
            auto* copy = static_cast<wchar_t*>(kvMalloc((len + 1) * sizeof(wchar_t), kSource, __LINE__));
            if (copy == nullptr) return showEmpty(dst, cap);
            for (size_t i = 0; i <= len; ++i) copy[i] = (i == len || showable(v[i])) ? v[i] : L'_';
            const size_t n = formatValue(dst, cap, fmt, st.count, star, static_cast<const wchar_t*>(copy));
            kvFree(copy, kSource, __LINE__);
            return n;
        }
        case NlsArgType::Refused:
            args.nextText();
            return showEmpty(dst, cap);
    }
    return 0;
}

// Takes the star values and the value of conversion `c` from `args` and
// formats them with `spec` into dst (capacity cap).
size_t formatConversion(char* dst, size_t cap, const char* spec, const NlsConversion& c, NlsArgs& args) {
    const Stars st = takeStars(c, args);
    return formatTaken(dst, cap, spec, c, st, args);
}

// A 64-bit value handed to a character conversion: taken as 64 bits,
// formatted as the int it holds.
class Int64AsInt : public NlsArgs {
public:
    explicit Int64AsInt(NlsArgs& args) : args_(args) {}
    int nextInt() override { return static_cast<int>(args_.nextLongLong()); }
    long nextLong() override { return static_cast<long>(args_.nextLongLong()); }
    long long nextLongLong() override { return args_.nextLongLong(); }
    double nextDouble() override { return static_cast<double>(args_.nextLongLong()); }
    const char* nextText() override { return args_.nextText(); }
    const wchar_t* nextWideText() override { return args_.nextWideText(); }

private:
    NlsArgs& args_;
};

// One insert of an ordered text: its star values, then its value taken by
// its kind, whatever its conversion asks for, and formatted with the
// conversion made to take what the kind passes.  An insert that cannot be
// made safe takes its value and shows empty.
size_t formatInsert(char* dst, size_t cap, const NlsInsert& ins, NlsArgs& args) {
    const Stars st = takeStars(ins.conv, args);
    NlsConversion c = ins.conv;
    const bool integer = nlsIntegerConversion(c.conv);
    switch (ins.kind) {
        case kNlsKindText:
            if (c.type == NlsArgType::Text || c.type == NlsArgType::WideText) {
                return formatTaken(dst, cap, ins.format, c, st, args);
            }
            args.nextText();
            return showEmpty(dst, cap);
        case kNlsKindInt:
        case kNlsKindInt2:
            if (integer) {
                c.type = NlsArgType::Int;
                c.lenMod[0] = '\0';
            }
            if (c.type == NlsArgType::Int) return formatTaken(dst, cap, ins.format, c, st, args);
            args.nextInt();
            return showEmpty(dst, cap);
        default:  // kNlsKindInt64
            if (integer) {
                c.type = NlsArgType::LongLong;
                return formatTaken(dst, cap, ins.format, c, st, args);
            }
            if (c.type == NlsArgType::Int) {  // a character
                Int64AsInt narrowed(args);
                return formatTaken(dst, cap, ins.format, c, st, narrowed);
            }
            args.nextLongLong();
            return showEmpty(dst, cap);
    }
}

// The printf form: text[0..len) without the form byte; stops at a NUL.
void formatPrintf(nlsBuffer* buf, const char* text, size_t len, NlsArgs& args) {
    const void* nul = std::memchr(text, '\0', len);
    if (nul != nullptr) len = static_cast<size_t>(static_cast<const char*>(nul) - text);
    char* out = static_cast<char*>(kvMalloc(kNlsPrintfBufferSize, kSource, __LINE__));
    if (out == nullptr) return;
    const size_t room = kNlsPrintfBufferSize - 1;
    size_t pos = 0;
    for (size_t i = 0; i < len && pos < room;) {
        NlsConversion c;
        if (text[i] != '%' || !nlsScanConversion(text + i, len - i, false, &c) || c.length >= kMaxPrintfSpec) {
            out[pos++] = text[i++];
            continue;
        }
        char spec[kMaxPrintfSpec];
        std::memcpy(spec, text + i, c.length);
        spec[c.length] = '\0';
        pos += formatConversion(out + pos, room + 1 - pos, spec, c, args);
        i += c.length;
    }
    out[pos] = '\0';
    buf->append(out, 0);
    kvFree(out, kSource, __LINE__);
}

// A literal piece of an ordered text: cut to its buffer (8958 bytes and
// the terminator) and code-page converted whatever the switch (nlsform.h
// says why).
void appendPiece(nlsBuffer* buf, const char* piece, size_t len) {
    char* copy = static_cast<char*>(kvMalloc(kNlsPieceBufferSize, kSource, __LINE__));
    if (copy == nullptr) return;
    if (len > kNlsPieceBufferSize - 1) len = kNlsPieceBufferSize - 1;
    std::memcpy(copy, piece, len);
    copy[len] = '\0';
    convertMessageText(copy);
    buf->append(copy, 0);
    kvFree(copy, kSource, __LINE__);
}

void formatOrdered(nlsContext* ctx, nlsBuffer* buf, const char* text, size_t len, NlsArgs& args) {
    NlsOrdered o;
    const char* why = nullptr;
    if (!nlsParseOrdered(text, len, &o, &why)) {
        const TraceLocation loc{kSource, __LINE__};
        tracePoint(&loc, traceFlag_NLS, "nlOrderInsert: text not formatted: %s.\n", why);
        return;
    }
    char* area = ctx->insertArea;
    size_t used = 0;
    const char* start[kNlsMaxInserts];
    for (int j = 0; j < o.count; ++j) {
        const NlsInsert& ins = o.insert[o.order[j]];
        const size_t cap = kNlsInsertAreaSize - used;
        if (cap == 0) {
            // The area is full: the value is still taken, and shows empty.
            char scratch[1];
            formatInsert(scratch, 0, ins, args);
            start[o.order[j]] = "";
            continue;
        }
        start[o.order[j]] = area + used;
        used += formatInsert(area + used, cap, ins, args) + 1;
    }
    if (o.pieceLen[0] == 0) {
        buf->append("", 0);
    } else {
        appendPiece(buf, o.piece[0], o.pieceLen[0]);
    }
    for (int k = 0; k < o.count; ++k) {
        buf->append(start[k], 0);
        if (o.pieceLen[k + 1] > 0) appendPiece(buf, o.piece[k + 1], o.pieceLen[k + 1]);
    }
}

}  // namespace

uint32_t nlOrderInsert(nlsContext* ctx, nlsBuffer* buf, const char* text, size_t len, NlsArgs& args) {
    if (len > 0 && static_cast<uint8_t>(text[0]) == kNlsFormPrintf) {
        formatPrintf(buf, text + 1, len - 1, args);
    } else if (len > 0 && static_cast<uint8_t>(text[0]) == kNlsFormOrdered) {
        formatOrdered(ctx, buf, text, len, args);
    }
    const TraceLocation loc{kSource, __LINE__};
    tracePoint(&loc, traceFlag_NLS, "return from nlOrderInsert (char), msgLen %d:\n", static_cast<int>(buf->length));
    return buf->length;
}

// ---- Arguments of a variadic call -------------------------------------------

NlsVaArgs::NlsVaArgs(va_list ap) { va_copy(ap_, ap); }
NlsVaArgs::~NlsVaArgs() { va_end(ap_); }
int NlsVaArgs::nextInt() { return va_arg(ap_, int); }
long NlsVaArgs::nextLong() { return va_arg(ap_, long); }
long long NlsVaArgs::nextLongLong() { return va_arg(ap_, long long); }
double NlsVaArgs::nextDouble() { return va_arg(ap_, double); }
const char* NlsVaArgs::nextText() { return va_arg(ap_, const char*); }
const wchar_t* NlsVaArgs::nextWideText() { return va_arg(ap_, const wchar_t*); }
