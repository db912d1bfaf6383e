#include "textout.h"

#include "format.h"
#include "journal.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace jbbtool {

namespace {

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Calls f(codePoint, unpaired) for each character of the key.
template <typename F>
void eachChar(const std::u16string& key, F f) {
    for (size_t i = 0; i < key.size(); ++i) {
        char16_t u = key[i];
        if (isHigh(u) && i + 1 < key.size() && isLow(key[i + 1])) {
            f(0x10000 + ((uint32_t)(u - 0xD800) << 10) + (uint32_t)(key[i + 1] - 0xDC00), false);
            ++i;
        } else {
            f((uint32_t)u, isHigh(u) || isLow(u));
        }
    }
}

void appendJsonChar(std::string& out, uint32_t c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c < 0x20 || c == 0x7F) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\u%04x", (unsigned)c);
        out += buf;
    } else {
        out += static_cast<char>(c);
    }
}

}  // namespace

std::string toUtf8(const std::u16string& key) {
    std::string out;
    out.reserve(key.size());
    eachChar(key, [&](uint32_t cp, bool unpaired) { appendUtf8(out, unpaired ? 0xFFFD : cp); });
    return out;
}

std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c >= 0x80)
            out += static_cast<char>(c);
        else
            appendJsonChar(out, c);
    }
    return out + "\"";
}

std::string jsonBytes(const std::string& bytes) {
    std::string out = "\"";
    auto cont = [&](size_t i) { return i < bytes.size() && ((unsigned char)bytes[i] & 0xC0) == 0x80; };
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char b = (unsigned char)bytes[i];
        const unsigned char b1 = i + 1 < bytes.size() ? (unsigned char)bytes[i + 1] : 0;
        size_t n = b < 0x80                                                                          ? 1
                   : b >= 0xC2 && b <= 0xDF                                                          ? 2
                   : b >= 0xE0 && b <= 0xEF && (b != 0xE0 || b1 >= 0xA0) && (b != 0xED || b1 < 0xA0) ? 3
                   : b >= 0xF0 && b <= 0xF4 && (b != 0xF0 || b1 >= 0x90) && (b != 0xF4 || b1 < 0x90) ? 4
                                                                                                     : 0;
        for (size_t k = 1; k < n; ++k)
            if (!cont(i + k)) n = 0;
        if (n == 0) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", b);
            out += esc;
            ++i;
        } else {
            const std::string j = jsonString(bytes.substr(i, n));  // escapes quotes and controls
            out.append(j, 1, j.size() - 2);
            i += n;
        }
    }
    return out + "\"";
}

std::string jsonString(const std::u16string& key) {
    std::string out = "\"";
    eachChar(key, [&](uint32_t cp, bool unpaired) {
        if (unpaired) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%04x", (unsigned)cp);
            out += buf;
        } else if (cp < 0x80) {
            appendJsonChar(out, cp);
        } else {
            appendUtf8(out, cp);
        }
    });
    return out + "\"";
}

std::string hexBytes(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[p[i] >> 4];
        out[2 * i + 1] = kDigits[p[i] & 15];
    }
    return out;
}

namespace {

// YYYY-MM-DDT of a day counted from 0000-01-01 (proleptic Gregorian) up
// to the end of year 9999, at `text` (11 bytes).  In 32-bit unsigned
// arithmetic, which every such day fits and which divides fastest: the
// count begins 400 years (one whole cycle of the calendar) before year 0,
// so that no day of it is negative.
void civilDate(uint32_t daysFromYear0, char* text) {
    const uint32_t z = daysFromYear0 + 146097 - 60;  // from 0000-03-01, one cycle earlier
    const uint32_t era = z / 146097;
    const uint32_t doe = z - era * 146097;
    const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    uint32_t y = yoe + era * 400;
    const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const uint32_t mp = (5 * doy + 2) / 153;
    const uint32_t d = doy - (153 * mp + 2) / 5 + 1;
    const uint32_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    y -= 400;
    for (int i = 3; i >= 0; --i, y /= 10) text[i] = (char)('0' + y % 10);
    text[4] = '-';
    text[5] = (char)('0' + m / 10);
    text[6] = (char)('0' + m % 10);
    text[7] = '-';
    text[8] = (char)('0' + d / 10);
    text[9] = (char)('0' + d % 10);
    text[10] = 'T';
}

// HH:MM:SSZ of `secs` into the day, at `out` (9 bytes).
void putClock(char* out, uint32_t secs) {
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::memcpy(out, kPairs + 2 * (secs / 3600), 2);
    out[2] = ':';
    std::memcpy(out + 3, kPairs + 2 * (secs / 60 % 60), 2);
    out[5] = ':';
    std::memcpy(out + 6, kPairs + 2 * (secs % 60), 2);
    out[8] = 'Z';
}

// -62167219200 is 0000-01-01T00:00:00Z, 253402300799 is
// 9999-12-31T23:59:59Z: the times a four-digit year can show.
constexpr int64_t kFirstTime = -62167219200ll, kLastTime = 253402300799ll;

}  // namespace

std::string utcText(int64_t t) {
    std::string s;
    appendUtcText(s, t);
    return s;
}

void appendUtcText(std::string& out, int64_t t) {
    char buf[kUtcTextMax];
    out.append(buf, (size_t)(putUtcText(buf, t) - buf));
}

char* putUtcText(char* out, int64_t t) {
    if (t < kFirstTime || t > kLastTime) return std::to_chars(out, out + kUtcTextMax, t).ptr;
    const uint64_t u = (uint64_t)(t - kFirstTime);
    civilDate((uint32_t)(u / 86400), out);
    putClock(out + 11, (uint32_t)(u % 86400));
    return out + 20;
}

std::string magicText(uint16_t magic) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", (unsigned)magic);
    return buf;
}

const char* stateWord(uint32_t state) {
    switch (state) {
        case dbClosed:
            return "dbClosed";
        case dbOpened:
            return "dbOpened";
        case dbCorrupt:
            return "dbCorrupt";
        default:
            return nullptr;
    }
}

const char* actionText(uint32_t action) {
    switch (action) {
        case 1:
            return "rename-old";
        case 2:
            return "rename-new";
        case 3:
            return "delete";
        case 4:
            return "create";
        case 5:
            return "change-attribute";
        case 6:
            return "modify";
        case 11:
            return "delete-restore";
        default:
            return nullptr;
    }
}

const char* objectTypeWord(uint32_t type) {
    return type == objectFile ? "file" : type == objectDirectory ? "directory" : nullptr;
}

std::string codeText(const char* name, uint64_t code) {
    return name != nullptr ? std::string(name) + " (" + std::to_string(code) + ")" : std::to_string(code);
}

std::string jsonName(const char* name) { return name != nullptr ? jsonString(std::string(name)) : "null"; }

std::string countText(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace jbbtool
