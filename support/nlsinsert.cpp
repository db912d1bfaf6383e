// Formatting a message text with the caller's arguments: the printf form
// and the ordered-insert form (nlsformat.h).
//
// Each conversion is formatted on its own, with the argument of the type
// that the conversion asks for, so that every conversion takes exactly its
// own arguments and the next one gets its own:
//  - printf form: every C99 conversion (flags, widths and precisions of
//    any length, *, the modifiers hh h l ll j z t L) and the I32 and I64
//    modifiers of Windows texts; a % that begins no conversion (also a
//    positional one) is copied as it stands and takes no argument; %p
//    shows its pointer as the run-time shows it; %n takes its pointer and
//    writes nothing through it;
//  - ordered form: a layout that nlsParseOrdered refuses is not formatted
//    at all (nothing is appended); each insert's value is taken by its
//    kind, and an insert whose conversion no length modifier makes fit
//    its kind shows empty (nlsform.h); a specification without a
//    conversion shows as printf shows it;
//  - a field is cut at the room left in its buffer (the printf form's
//    25853 bytes, the insert area's 25856, a piece's 8959).  A field far
//    wider than that room is formatted only as far as it shows: what is
//    cut off is never padded nor computed (see fieldSpec);
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

// A number's precision beyond this is formatted as this, and the field
// made as long as the longer precision makes it.  Above every length
// that matters to what shows: the buffers, and the exact decimal digits
// of any double or long double (about 16,500).
constexpr long long kPrecisionFormatted = 65536;

bool showable(wchar_t c) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    return std::wcrtomb(bytes, c, &state) != static_cast<size_t>(-1);
}

// One value taken from the arguments, as it is handed to the run-time's
// formatter.  type None: nothing is shown.
struct Value {
    NlsArgType type = NlsArgType::None;
    int i = 0;
    long l = 0;
    long long ll = 0;
    double d = 0;
    long double ld = 0;
    const char* s = nullptr;
    const wchar_t* ws = nullptr;
    const void* p = nullptr;
};

// snprintf of `spec` with the value; its result (negative on failure).
int printValue(char* dst, size_t cap, const char* spec, const Value& v) {
    switch (v.type) {
        case NlsArgType::Int:
            return std::snprintf(dst, cap, spec, v.i);
        case NlsArgType::Long:
            return std::snprintf(dst, cap, spec, v.l);
        case NlsArgType::LongLong:
            return std::snprintf(dst, cap, spec, v.ll);
        case NlsArgType::Double:
            return std::snprintf(dst, cap, spec, v.d);
        case NlsArgType::LongDouble:
            return std::snprintf(dst, cap, spec, v.ld);
        case NlsArgType::Text:
            return std::snprintf(dst, cap, spec, v.s);
        case NlsArgType::WideText:
            return std::snprintf(dst, cap, spec, v.ws);
        case NlsArgType::Pointer:
            return std::snprintf(dst, cap, spec, v.p);
        default:
            return -1;
    }
}

// The length modifier that hands the run-time a value of v's type.
const char* modifierFor(const NlsConversion& c, NlsArgType type) {
    switch (type) {
        case NlsArgType::Int:
            if (c.outConv == 'c') return c.lenMod[0] == 'l' ? "l" : "";
            return c.lenMod[0] == 'h' ? c.lenMod : "";  // h and hh take an int too
        case NlsArgType::Long:
            return "l";
        case NlsArgType::LongLong:
            return "ll";
        case NlsArgType::LongDouble:
            return "L";
        case NlsArgType::WideText:
            return "l";
        default:
            return "";
    }
}

// Writes "%[flags][width][.prec]mod conv" (width, prec negative: none).
void buildSpec(char* out, size_t cap, const NlsConversion& c, uint8_t flags, long long width, long long prec,
               const char* mod) {
    char f[6];
    size_t n = 0;
    const char kFlagChars[] = "-+ #0";
    for (int k = 0; k < 5; ++k)
        if ((flags & (1u << k)) != 0) f[n++] = kFlagChars[k];
    f[n] = '\0';
    char w[24] = "";
    char p[24] = "";
    if (width >= 0) std::snprintf(w, sizeof w, "%lld", width);
    if (prec >= 0) std::snprintf(p, sizeof p, ".%lld", prec);
    std::snprintf(out, cap, "%%%s%s%s%s%c", f, w, p, mod, c.outConv);
}

// True when a number's field grows by one character with each unit of
// precision beyond kPrecisionFormatted (every digit is printed); %g
// without # drops its trailing zeros, so it stops growing.
bool growsWithPrecision(const NlsConversion& c) {
    if (std::strchr("diouxXeEfFaA", c.outConv) != nullptr) return true;
    return (c.outConv == 'g' || c.outConv == 'G') && (c.flags & kNlsFlagAlt) != 0;
}

size_t showEmpty(char* dst, size_t cap) {
    if (cap > 0) dst[0] = '\0';
    return 0;
}

struct Stars {
    int count = 0;
    int value[2] = {0, 0};
};

Stars takeStars(int count, NlsArgs& args) {
    Stars st;
    st.count = count < 2 ? count : 2;
    for (int k = 0; k < st.count; ++k) st.value[k] = args.nextInt();
    return st;
}

// Formats the value v with the conversion c and its star values into dst
// (capacity cap); the count written, at most cap - 1.
//
// The run-time pads a field as wide as it is told, and fails on one over
// INT_MAX, so a field wider than the room is formatted only as far as it
// shows.  Padding beyond the room would only be cut, so at most cap + 1
// of it is asked for; a number's precision above kPrecisionFormatted
// changes only characters beyond the room, so it is formatted with that
// precision while the padding is reckoned from the field's true length.
size_t formatField(char* dst, size_t cap, const NlsConversion& c, const Stars& st, const Value& v) {
    if (cap == 0 || v.type == NlsArgType::None) return showEmpty(dst, cap);
    uint8_t flags = c.flags;
    long long width = -1;
    long long prec = -1;
    int next = 0;
    if (c.starWidth && next < st.count) {
        const long long w = st.value[next++];
        if (w < 0) flags |= kNlsFlagLeft;
        width = w < 0 ? -w : w;
    } else if (c.hasWidth) {
        width = static_cast<long long>(c.width);
    }
    if (c.starPrec && next < st.count) {
        if (st.value[next] >= 0) prec = st.value[next];
    } else if (c.hasPrec) {
        prec = static_cast<long long>(c.prec);
    }
    const bool text = v.type == NlsArgType::Text || v.type == NlsArgType::WideText;
    long long beyond = 0;                        // precision not formatted
    if (text && prec > INT_MAX) prec = INT_MAX;  // no text is that long
    if (!text && prec > kPrecisionFormatted) {
        beyond = growsWithPrecision(c) ? prec - kPrecisionFormatted : 0;
        prec = kPrecisionFormatted;
    }
    const char* mod = modifierFor(c, v.type);
    char spec[80];
    if (width > static_cast<long long>(cap) || (width > 0 && beyond > 0)) {
        buildSpec(spec, sizeof spec, c, flags, -1, prec, mod);
        const int formatted = printValue(nullptr, 0, spec, v);
        if (formatted < 0) return showEmpty(dst, cap);
        long long pad = width - (formatted + beyond);
        if (pad > static_cast<long long>(cap) + 1) pad = static_cast<long long>(cap) + 1;
        width = pad > 0 ? formatted + pad : -1;
    }
    buildSpec(spec, sizeof spec, c, flags, width, prec, mod);
    const int n = printValue(dst, cap, spec, v);
    if (n < 0) return showEmpty(dst, cap);
    return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

// A wide text with every character the locale cannot show replaced by
// '_', in a block from kvMalloc (null when there is no memory).
wchar_t* showableCopy(const wchar_t* v) {
    const size_t len = std::wcslen(v);
    auto* copy = static_cast<wchar_t*>(kvMalloc((len + 1) * sizeof(wchar_t), kSource, __LINE__));
    if (copy == nullptr) return nullptr;
    for (size_t i = 0; i <= len; ++i) copy[i] = (i == len || showable(v[i])) ? v[i] : L'_';
    return copy;
}

// Formats v, whose wide text (if any) is shown through showableCopy.
size_t formatShown(char* dst, size_t cap, const NlsConversion& c, const Stars& st, Value v) {
    if (v.type == NlsArgType::Int && c.outConv == 'c' && c.lenMod[0] == 'l' && !showable(static_cast<wchar_t>(v.i))) {
        v.i = '_';
    }
    if (v.type != NlsArgType::WideText) return formatField(dst, cap, c, st, v);
    wchar_t* copy = showableCopy(v.ws != nullptr ? v.ws : L"(null)");
    if (copy == nullptr) return showEmpty(dst, cap);
    v.ws = copy;
    const size_t n = formatField(dst, cap, c, st, v);
    kvFree(copy, kSource, __LINE__);
    return n;
}

// Takes the value of a printf-form conversion by the type it names.
Value takeValue(const NlsConversion& c, NlsArgs& args) {
    Value v;
    v.type = c.type;
    switch (c.type) {
        case NlsArgType::Int:
            v.i = args.nextInt();
            break;
        case NlsArgType::Long:
            v.l = args.nextLong();
            break;
        case NlsArgType::LongLong:
            v.ll = args.nextLongLong();
            break;
        case NlsArgType::IntMax:
            v.type = NlsArgType::LongLong;
            v.ll = static_cast<long long>(args.nextIntMax());
            break;
        case NlsArgType::Size:
            v.type = NlsArgType::LongLong;
            v.ll = static_cast<long long>(args.nextSize());
            break;
        case NlsArgType::PtrDiff:
            v.type = NlsArgType::LongLong;
            v.ll = static_cast<long long>(args.nextPtrDiff());
            break;
        case NlsArgType::Double:
            v.d = args.nextDouble();
            break;
        case NlsArgType::LongDouble:
            v.ld = args.nextLongDouble();
            break;
        case NlsArgType::Text:
            v.s = args.nextText();
            if (v.s == nullptr) v.s = "(null)";
            break;
        case NlsArgType::WideText:
            v.ws = args.nextWideText();
            break;
        case NlsArgType::Pointer:
            if (!args.nextPointer(&v.p)) v.type = NlsArgType::None;
            break;
        case NlsArgType::Refused:  // %n: its pointer is taken, never written through
            args.nextPointer(&v.p);
            v.type = NlsArgType::None;
            break;
        case NlsArgType::None:
            break;
    }
    return v;
}

// A specification without a conversion, as printf shows it: %% as %.
size_t showLiteral(char* dst, size_t cap, const char* spec) {
    if (cap == 0) return 0;
    size_t n = 0;
    for (const char* p = spec; *p != '\0' && n + 1 < cap; ++p) {
        if (*p == '%') ++p;  // the first of %% (nlsParseOrdered lets no other % through)
        dst[n++] = *p;
    }
    dst[n] = '\0';
    return n;
}

// One insert of an ordered text: its star values, then its value taken by
// its kind, whatever its conversion asks for, and formatted with the
// conversion made to take what the kind passes.  An insert that cannot be
// made safe takes its value and shows empty.
size_t formatInsert(char* dst, size_t cap, const NlsInsert& ins, NlsArgs& args) {
    const Stars st = takeStars(ins.stars, args);
    NlsConversion c = ins.conv;
    Value v;
    switch (ins.kind) {
        case kNlsKindText:
            if (c.type == NlsArgType::Text) {
                v.type = c.type;
                v.s = args.nextText();
                if (v.s == nullptr) v.s = "(null)";
            } else if (c.type == NlsArgType::WideText) {
                v.type = c.type;
                v.ws = args.nextWideText();
            } else {
                args.nextText();
            }
            break;
        case kNlsKindInt:
        case kNlsKindInt2:
            v.i = args.nextInt();
            if (nlsIntegerConversion(c.conv)) c.lenMod[0] = '\0';
            if (nlsIntegerConversion(c.conv) || c.type == NlsArgType::Int) v.type = NlsArgType::Int;
            break;
        default:  // kNlsKindInt64
            v.ll = args.nextLongLong();
            if (nlsIntegerConversion(c.conv)) {
                v.type = NlsArgType::LongLong;
            } else if (c.type == NlsArgType::Int) {  // a character
                v.type = NlsArgType::Int;
                v.i = static_cast<int>(v.ll);
            }
            break;
    }
    if (ins.literal) return showLiteral(dst, cap, ins.format);
    return formatShown(dst, cap, c, st, v);
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
        if (text[i] != '%' || !nlsScanConversion(text + i, len - i, false, &c)) {
            out[pos++] = text[i++];
            continue;
        }
        i += c.length;
        if (c.type == NlsArgType::None) {  // %%
            out[pos++] = '%';
            continue;
        }
        const Stars st = takeStars(c.stars, args);
        pos += formatShown(out + pos, room + 1 - pos, c, st, takeValue(c, args));
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
long double NlsVaArgs::nextLongDouble() { return va_arg(ap_, long double); }
intmax_t NlsVaArgs::nextIntMax() { return va_arg(ap_, intmax_t); }
size_t NlsVaArgs::nextSize() { return va_arg(ap_, size_t); }
ptrdiff_t NlsVaArgs::nextPtrDiff() { return va_arg(ap_, ptrdiff_t); }
bool NlsVaArgs::nextPointer(const void** p) {
    *p = va_arg(ap_, const void*);
    return true;
}
