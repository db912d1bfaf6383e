// Reading the printf conversions and the ordered-insert layout of message
// texts.  Nothing here trusts the text: every read is checked against the
// length the caller gives.

#include "nlsform.h"

#include <cstring>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at s[*i] (at least one), held to kNlsNumberCeiling.
bool readNumber(const char* s, size_t avail, size_t* i, uint64_t* value) {
    size_t j = *i;
    uint64_t v = 0;
    while (j < avail && isDigit(s[j])) {
        v = v * 10 + static_cast<uint64_t>(s[j] - '0');
        if (v > kNlsNumberCeiling) v = kNlsNumberCeiling;
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
    uint64_t v = 0;
    if (!readNumber(s, avail, &j, &v) || j >= avail || s[j] != '$' || v == 0 || v > 0xFFFF) return false;
    *i = j + 1;
    *pos = static_cast<unsigned>(v);
    return true;
}

uint8_t flagBit(char f) {
    switch (f) {
        case '-':
            return kNlsFlagLeft;
        case '+':
            return kNlsFlagPlus;
        case ' ':
            return kNlsFlagSpace;
        case '#':
            return kNlsFlagAlt;
        case '0':
            return kNlsFlagZero;
        default:
            return 0;
    }
}

// Reads the length modifier at s[*i] into c.
void readModifier(const char* s, size_t avail, size_t* i, NlsConversion* c) {
    size_t n = 0;
    const size_t at = *i;
    if (at + 2 < avail && s[at] == 'I' &&
        ((s[at + 1] == '6' && s[at + 2] == '4') || (s[at + 1] == '3' && s[at + 2] == '2'))) {
        n = 3;  // the 32-bit and 64-bit modifiers of texts written for Windows
    } else if (at + 1 < avail && (s[at] == 'h' || s[at] == 'l') && s[at + 1] == s[at]) {
        n = 2;
    } else if (at < avail && std::strchr("hljztL", s[at]) != nullptr && s[at] != '\0') {
        n = 1;
    }
    std::memcpy(c->lenMod, s + at, n);
    c->lenMod[n] = '\0';
    c->modLength = static_cast<uint8_t>(n);
    *i = at + n;
}

bool isMod(const NlsConversion& c, const char* m) { return std::strcmp(c.lenMod, m) == 0; }

// The type that conversion c (its modifier read) takes; false when the
// modifier does not go with the conversion.
bool typeOf(NlsConversion* c) {
    const bool none = c->modLength == 0;
    switch (c->conv) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
        case 'n':
            if (none || isMod(*c, "hh") || isMod(*c, "h") || isMod(*c, "I32")) {
                c->type = NlsArgType::Int;
            } else if (isMod(*c, "l")) {
                c->type = NlsArgType::Long;
            } else if (isMod(*c, "ll") || isMod(*c, "I64") || isMod(*c, "L")) {
                c->type = NlsArgType::LongLong;
            } else if (isMod(*c, "j")) {
                c->type = NlsArgType::IntMax;
            } else if (isMod(*c, "z")) {
                c->type = NlsArgType::Size;
            } else {
                c->type = NlsArgType::PtrDiff;  // t
            }
            if (c->conv == 'n') c->type = NlsArgType::Refused;
            return true;
        case 'c':
            if (!none && !isMod(*c, "l") && !isMod(*c, "h")) return false;
            c->type = NlsArgType::Int;
            return true;
        case 's':
            if (!none && !isMod(*c, "l") && !isMod(*c, "h")) return false;
            c->type = isMod(*c, "l") ? NlsArgType::WideText : NlsArgType::Text;
            return true;
        case 'C':
        case 'S':
            // The wide character and wide text of a narrow format.
            if (!none) return false;
            std::memcpy(c->lenMod, "l", 2);
            c->outConv = c->conv == 'C' ? 'c' : 's';
            c->type = c->conv == 'C' ? NlsArgType::Int : NlsArgType::WideText;
            return true;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (!none && !isMod(*c, "l") && !isMod(*c, "L")) return false;
            c->type = isMod(*c, "L") ? NlsArgType::LongDouble : NlsArgType::Double;
            return true;
        case 'p':
            if (!none) return false;
            c->type = NlsArgType::Pointer;
            return true;
        default:
            return false;
    }
}

// True when `spec` holds no conversion: no % but those of %%.
bool literalSpec(const char* spec) {
    for (const char* p = spec; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] != '%') return false;
        ++p;
    }
    return true;
}

}  // namespace

bool nlsScanConversion(const char* s, size_t avail, bool positional, NlsConversion* out) {
    NlsConversion c;
    if (avail < 2 || s[0] != '%') return false;
    size_t i = 1;
    if (s[1] == '%') {
        c.length = 2;
        c.conv = c.outConv = '%';
        c.type = NlsArgType::None;
        *out = c;
        return true;
    }
    if (positional) readPosition(s, avail, &i, &c.pos);
    while (i < avail && flagBit(s[i]) != 0) c.flags |= flagBit(s[i++]);
    if (i < avail && s[i] == '*') {
        ++i;
        c.starWidth = true;
        ++c.stars;
        if (positional) readPosition(s, avail, &i, &c.widthPos);
    } else if (i < avail && isDigit(s[i])) {
        c.hasWidth = readNumber(s, avail, &i, &c.width);
    }
    if (i < avail && s[i] == '.') {
        ++i;
        if (i < avail && s[i] == '*') {
            ++i;
            c.starPrec = true;
            ++c.stars;
            if (positional) readPosition(s, avail, &i, &c.precPos);
        } else {
            c.hasPrec = true;
            if (i < avail && isDigit(s[i])) readNumber(s, avail, &i, &c.prec);
        }
    }
    readModifier(s, avail, &i, &c);
    if (i >= avail || s[i] == '\0') return false;
    c.conv = c.outConv = s[i++];
    c.length = i;
    if (!typeOf(&c)) return false;
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
        ins.literal = literalSpec(used);
        if (!ins.literal && (!nlsScanConversion(used, usedLen, false, &ins.conv) || ins.conv.length != usedLen)) {
            *why = "an insert specification is not one conversion";
            return false;
        }
        if (ins.stars > 2 || (!ins.literal && ins.stars != ins.conv.stars)) {
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
