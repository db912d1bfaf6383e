// Reading the printf conversions and the ordered-insert layout of message
// texts.  Nothing here trusts the text: every read is checked against the
// length the caller gives.

#include "nlsform.h"

#include <cstring>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Widths and precisions written into a text have at most this many digits,
// so that no conversion pads beyond what a message buffer holds.
constexpr int kMaxDigits = 5;

// Reads 1 to kMaxDigits digits at s[*i]; false when there are none or too many.
bool readNumber(const char* s, size_t avail, size_t* i, unsigned* value) {
    size_t j = *i;
    unsigned v = 0;
    while (j < avail && isDigit(s[j])) {
        if (j - *i == kMaxDigits) return false;
        v = v * 10 + static_cast<unsigned>(s[j] - '0');
        ++j;
    }
    if (j == *i) return false;
    *i = j;
    *value = v;
    return true;
}

// Reads an optional "N$" at s[*i] in positional mode.  False when the text
// there is digits without the '$' (the caller then reads them otherwise).
bool readPosition(const char* s, size_t avail, size_t* i, unsigned* pos) {
    size_t j = *i;
    unsigned v = 0;
    if (!readNumber(s, avail, &j, &v) || j >= avail || s[j] != '$' || v == 0) return false;
    *i = j + 1;
    *pos = v;
    return true;
}

}  // namespace

bool nlsScanConversion(const char* s, size_t avail, bool positional, NlsConversion* out) {
    NlsConversion c;
    if (avail < 2 || s[0] != '%') return false;
    size_t i = 1;
    if (s[1] == '%') {
        c.length = 2;
        c.conv = '%';
        c.type = NlsArgType::None;
        *out = c;
        return true;
    }
    if (positional) readPosition(s, avail, &i, &c.pos);
    while (i < avail && std::strchr("-+ #0", s[i]) != nullptr && s[i] != '\0') ++i;
    if (i < avail && s[i] == '*') {
        ++i;
        c.starWidth = true;
        ++c.stars;
        if (positional) readPosition(s, avail, &i, &c.widthPos);
    } else if (i < avail && isDigit(s[i])) {
        unsigned width = 0;
        if (!readNumber(s, avail, &i, &width)) return false;
    }
    if (i < avail && s[i] == '.') {
        ++i;
        if (i < avail && s[i] == '*') {
            ++i;
            c.starPrec = true;
            ++c.stars;
            if (positional) readPosition(s, avail, &i, &c.precPos);
        } else if (i < avail && isDigit(s[i])) {
            unsigned prec = 0;
            if (!readNumber(s, avail, &i, &prec)) return false;
        }
    }
    size_t lenChars = 0;
    // The 32-bit and 64-bit modifiers of texts written for Windows.
    bool sized = false;
    bool sized64 = false;
    if (i + 2 < avail && s[i] == 'I' &&
        ((s[i + 1] == '6' && s[i + 2] == '4') || (s[i + 1] == '3' && s[i + 2] == '2'))) {
        sized = true;
        sized64 = s[i + 1] == '6';
        for (int k = 0; k < 3; ++k) c.lenMod[lenChars++] = s[i++];
    }
    while (!sized && i < avail && lenChars < 2 && (s[i] == 'h' || s[i] == 'l')) {
        if (lenChars == 1 && s[i] != c.lenMod[0]) return false;  // "hl", "lh"
        c.lenMod[lenChars++] = s[i++];
    }
    if (i >= avail || s[i] == '\0') return false;
    c.conv = s[i++];
    c.length = i;
    c.modLength = static_cast<uint8_t>(lenChars);
    const bool none = lenChars == 0;
    const bool shortInt = none || c.lenMod[0] == 'h' || (sized && !sized64);
    const bool oneL = lenChars == 1 && c.lenMod[0] == 'l';
    switch (c.conv) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            c.type = shortInt ? NlsArgType::Int : oneL ? NlsArgType::Long : NlsArgType::LongLong;
            break;
        case 'c':
            if (!none && !oneL) return false;
            c.type = NlsArgType::Int;
            break;
        case 's':
            if (!none && !oneL) return false;
            c.type = oneL ? NlsArgType::WideText : NlsArgType::Text;
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (!none && !oneL) return false;
            c.type = NlsArgType::Double;
            break;
        case 'n':
        case 'p':
            c.type = NlsArgType::Refused;
            break;
        default:
            return false;
    }
    *out = c;
    return true;
}

bool nlsKindFeeds(uint8_t kind, const NlsConversion& c) {
    switch (kind) {
        case kNlsKindText:
            return c.type == NlsArgType::Text || c.type == NlsArgType::WideText;
        case kNlsKindInt:
        case kNlsKindInt2:
            return c.type == NlsArgType::Int;
        case kNlsKindInt64:
            return c.type == NlsArgType::LongLong;
        default:
            return false;
    }
}

bool nlsIntegerConversion(char conv) { return std::strchr("diouxX", conv) != nullptr && conv != '\0'; }

size_t nlsWithModifier(const char* spec, const NlsConversion& c, const char* mod, char* out, size_t cap) {
    const size_t modLen = std::strlen(mod);
    const size_t keep = c.length - 1 - c.modLength;  // up to the old modifier
    if (c.length == 0 || keep + modLen + 2 > cap) {
        if (cap > 0) out[0] = '\0';
        return 0;
    }
    std::memcpy(out, spec, keep);
    std::memcpy(out + keep, mod, modLen);
    out[keep + modLen] = c.conv;
    out[keep + modLen + 1] = '\0';
    return keep + modLen + 1;
}

bool nlsParseOrdered(const char* text, size_t len, NlsOrdered* out, const char** why) {
    NlsOrdered o;
    if (len < 6 || text[0] != static_cast<char>(kNlsFormOrdered)) {
        *why = "the insert layout is shorter than its fixed part";
        return false;
    }
    const auto* u = reinterpret_cast<const unsigned char*>(text);
    o.mask = (static_cast<uint32_t>(u[1]) << 24) | (static_cast<uint32_t>(u[2]) << 16) |
             (static_cast<uint32_t>(u[3]) << 8) | u[4];
    const int n = static_cast<signed char>(u[5]);
    o.count = n < 0 ? 0 : n;
    if (o.count > kNlsMaxInserts) {
        *why = "more than 10 inserts";
        return false;
    }
    size_t pos = 6;
    if (len - pos < static_cast<size_t>(o.count)) {
        *why = "the order list runs past the text";
        return false;
    }
    bool named[kNlsMaxInserts] = {};
    for (int j = 0; j < o.count; ++j) {
        const uint8_t i = u[pos++];
        if (i >= o.count || named[i]) {
            *why = "the order list does not name every insert once";
            return false;
        }
        named[i] = true;
        o.order[j] = i;
    }
    for (int i = 0; i < o.count; ++i) {
        NlsInsert& ins = o.insert[i];
        if (len - pos < 2) {
            *why = "an insert descriptor runs past the text";
            return false;
        }
        ins.stars = u[pos];
        ins.kind = u[pos + 1];
        pos += 2;
        const void* nul = std::memchr(text + pos, '\0', len - pos);
        if (nul == nullptr) {
            *why = "an insert specification runs past the text";
            return false;
        }
        const size_t specLen = static_cast<size_t>(static_cast<const char*>(nul) - (text + pos));
        if (specLen > static_cast<size_t>(kNlsMaxSpec)) {
            *why = "an insert specification is longer than 8 characters";
            return false;
        }
        std::memcpy(ins.spec, text + pos, specLen);
        ins.spec[specLen] = '\0';
        pos += specLen + 1;
        ins.wide = i < 32 && ((o.mask >> i) & 1u) != 0;
        char* used = ins.format;
        std::memcpy(used, ins.spec, specLen + 1);
        if (ins.wide && specLen > 0 && (used[specLen - 1] == 's' || used[specLen - 1] == 'c')) {
            used[specLen] = used[specLen - 1];
            used[specLen - 1] = 'l';
            used[specLen + 1] = '\0';
        }
        const size_t usedLen = std::strlen(used);
        if (!nlsScanConversion(used, usedLen, false, &ins.conv) || ins.conv.length != usedLen) {
            *why = "an insert specification is not one conversion";
            return false;
        }
        if (ins.stars > 2 || ins.stars != ins.conv.stars) {
            *why = "an insert's star count differs from its specification";
            return false;
        }
        if (ins.kind > kNlsKindInt64) {
            *why = "an insert's kind is not one of 0 to 3";
            return false;
        }
    }
    for (int k = 0; k <= o.count; ++k) {
        if (pos > len || (pos == len && k < o.count)) {
            *why = "a piece of literal text is missing";
            return false;
        }
        const void* nul = std::memchr(text + pos, '\0', len - pos);
        const size_t pieceLen =
            nul == nullptr ? len - pos : static_cast<size_t>(static_cast<const char*>(nul) - (text + pos));
        if (nul == nullptr && k < o.count) {
            *why = "a piece of literal text runs past the text";
            return false;
        }
        o.piece[k] = text + pos;
        o.pieceLen[k] = pieceLen;
        pos += pieceLen + 1;
    }
    *out = o;
    return true;
}
