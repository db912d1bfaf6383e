#include "jbbgen_text.h"

#include <cstdio>

namespace jbbgen {

bool utf8ToUtf16(const std::string& in, std::u16string* out, std::string* why) {
    out->clear();
    out->reserve(in.size());
    const size_t n = in.size();
    for (size_t i = 0; i < n;) {
        const auto b0 = static_cast<uint8_t>(in[i]);
        uint32_t cp;
        size_t len;
        uint32_t least;  // smallest code point of this length (no overlong forms)
        if (b0 < 0x80) {
            out->push_back(static_cast<char16_t>(b0));
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1F;
            len = 2;
            least = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0F;
            len = 3;
            least = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07;
            len = 4;
            least = 0x10000;
        } else {
            *why = "invalid UTF-8 at byte " + std::to_string(i + 1);
            return false;
        }
        if (n - i < len) {
            *why = "cut-off UTF-8 sequence at byte " + std::to_string(i + 1);
            return false;
        }
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<uint8_t>(in[i + k]);
            if ((b & 0xC0) != 0x80) {
                *why = "invalid UTF-8 at byte " + std::to_string(i + 1);
                return false;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *why = "invalid UTF-8 at byte " + std::to_string(i + 1);
            return false;
        }
        if (cp < 0x10000) {
            out->push_back(static_cast<char16_t>(cp));
        } else {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
        i += len;
    }
    return true;
}

bool parseUnsigned(const std::string& s, uint64_t max, uint64_t* out) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (max - d) / 10) return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

int64_t utcSeconds(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 of a civil date: years counted from March, so
    // that the leap day is the last day of its year.
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string utcTimeText(int64_t t) {
    // Days to a civil date (proleptic Gregorian), by 400-year eras.
    const int64_t days = (t >= 0 ? t : t - 86399) / 86400, secs = t - days * 86400;
    const int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buf[160];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)year, (long long)month,
                  (long long)day, (long long)(secs / 3600), (long long)(secs / 60 % 60), (long long)(secs % 60));
    return buf;
}

namespace {

// The digits at s[pos, pos+count) as a number; false unless all are digits.
bool digitsAt(const std::string& s, size_t pos, size_t count, int* out) {
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool parseTime(const std::string& s, int64_t* out) {
    if (s.empty()) return false;
    if (s.size() >= 19 && s[4] == '-') {
        std::string t = s;
        if (t.size() == 20 && (t[19] == 'Z' || t[19] == 'z')) t.pop_back();
        if (t.size() != 19 || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':')
            return false;
        int y, mo, d, h, mi, se;
        if (!digitsAt(t, 0, 4, &y) || !digitsAt(t, 5, 2, &mo) || !digitsAt(t, 8, 2, &d) || !digitsAt(t, 11, 2, &h) ||
            !digitsAt(t, 14, 2, &mi) || !digitsAt(t, 17, 2, &se))
            return false;
        static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || se > 59) return false;
        const int monthDays = kMonthDays[mo - 1] + (mo == 2 && isLeapYear(y) ? 1 : 0);
        if (d > monthDays) return false;
        *out = utcSeconds(y, mo, d, h, mi, se);
        return true;
    }
    const bool negative = s[0] == '-';
    uint64_t v;
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (!parseUnsigned(negative ? s.substr(1) : s, limit, &v)) return false;
    *out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

std::string normalizeWord(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c >= 'A' && c <= 'Z') {
            r.push_back(static_cast<char>(c - 'A' + 'a'));
        } else if (c == ' ' || c == '_') {
            r.push_back('-');
        } else {
            r.push_back(c);
        }
    }
    return r;
}

bool parseKeywordOrNumber(const std::string& v, const std::vector<std::pair<const char*, uint32_t>>& names,
                          uint32_t* out) {
    const std::string w = normalizeWord(v);
    for (const auto& n : names) {
        if (w == n.first) {
            *out = n.second;
            return true;
        }
    }
    uint64_t num;
    if (!parseUnsigned(v, UINT32_MAX, &num)) return false;
    *out = static_cast<uint32_t>(num);
    return true;
}

}  // namespace jbbgen
