// Standard output through the console's wide-character output: outPrintf,
// outName, and the console form of their text; UTF-8 text written in
// pieces (outWriteUtf8) and narrow text written whole (outWriteNarrow).
// What differs between the platforms (whether standard output is such a
// console, and writing to it) comes from the platform file.

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform.h"
#include "platform_internal.h"

namespace plat {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUnits(uint32_t cp, std::u16string* out) {
    if (cp < 0x10000) {
        *out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        *out += static_cast<char16_t>(0xD800 | (cp >> 10));
        *out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Narrow text of the current locale, which may hold 0 bytes.
void decodeNarrow(const char* s, size_t size, std::u16string* out) {
    std::string piece;
    std::u16string units;
    for (size_t i = 0; i <= size;) {
        size_t end = i;
        while (end < size && s[end] != '\0') ++end;
        piece.assign(s + i, end - i);
        units.resize(piece.size());  // never more units than bytes
        const size_t n = narrowToUtf16(units.data(), piece.c_str(), units.size());
        if (n == static_cast<size_t>(-1) || n > units.size()) {
            out->append(piece.size(), kReplacement);
        } else {
            out->append(units, 0, n);
        }
        if (end < size) *out += u'\0';
        i = end + 1;
    }
}

// The units as a text-mode stream puts them on the console: CR LF for LF.
std::u16string withCarriageReturns(const std::u16string& shown) {
    std::u16string out;
    out.reserve(shown.size());
    for (char16_t u : shown) {
        if (u == u'\n') out += u'\r';
        out += u;
    }
    return out;
}

// What outWriteUtf8 holds back between writes.
detail::Utf8Stream& stdoutStream() {
    static detail::Utf8Stream stream;
    return stream;
}

// Parses a marked name at text[at] (a kNameStart byte): true with the
// offset and size of its UTF-8 text when the bytes there form one.
bool parseMarkedName(const char* text, size_t size, size_t at, size_t* body, size_t* length) {
    size_t i = at + 1;
    size_t n = 0;
    size_t digits = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9' && digits < 9) {
        n = n * 10 + static_cast<size_t>(text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || i >= size || text[i] != detail::kNameEnd || n > size - i - 1) {
        return false;
    }
    *body = i + 1;
    *length = n;
    return true;
}

}  // namespace

namespace detail {

size_t decodeUtf8(const char* text, size_t size, bool final, std::u16string* out) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        const unsigned char b = s[i];
        size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (!final && len > size - i) {
            // Cut short by the end when every byte after the first so far
            // continues it: the next piece completes it (or shows it bad).
            size_t k = i + 1;
            while (k < size && (s[k] & 0xC0) == 0x80) ++k;
            if (k == size) return i;
        }
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
        for (size_t k = 1; len != 0 && k < len; ++k) {
            if (i + k >= size || (s[i + k] & 0xC0) != 0x80) {
                len = 0;
            } else {
                cp = (cp << 6) | (s[i + k] & 0x3Fu);
            }
        }
        static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (len == 0 || cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *out += kReplacement;
            ++i;
            continue;
        }
        appendUnits(cp, out);
        i += len;
    }
    return size;
}

std::u16string Utf8Stream::units(const char* text, size_t size) {
    std::u16string shown;
    if (held_.empty()) {
        const size_t done = decodeUtf8(text, size, false, &shown);
        held_.assign(text + done, size - done);
    } else {
        held_.append(text, size);
        const size_t done = decodeUtf8(held_.data(), held_.size(), false, &shown);
        held_.erase(0, done);
    }
    return withCarriageReturns(shown);
}

std::u16string Utf8Stream::finish() {
    std::u16string shown;
    decodeUtf8(held_.data(), held_.size(), true, &shown);
    held_.clear();
    return withCarriageReturns(shown);
}

std::string markedName(const wchar16* src, size_t units) {
    std::string utf8;
    for (size_t i = 0; src != nullptr && i < units && src[i] != 0;) {
        const size_t n = charUnits(src, i, units);
        if (n == 0) {
            utf8 += '?';
            ++i;
            continue;
        }
        uint32_t cp = src[i];
        if (n == 2) cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00u);
        appendUtf8(cp, &utf8);
        i += n;
    }
    return kNameStart + std::to_string(utf8.size()) + kNameEnd + utf8;
}

std::u16string consoleUnits(const char* text, size_t size) {
    std::u16string shown;
    size_t runStart = 0;
    for (size_t i = 0; i < size;) {
        size_t body = 0;
        size_t length = 0;
        if (text[i] == kNameStart && parseMarkedName(text, size, i, &body, &length)) {
            decodeNarrow(text + runStart, i - runStart, &shown);
            decodeUtf8(text + body, length, true, &shown);
            i = body + length;
            runStart = i;
        } else {
            ++i;
        }
    }
    decodeNarrow(text + runStart, size - runStart, &shown);
    return withCarriageReturns(shown);
}

}  // namespace detail

std::string outName(const wchar16* src, size_t units) {
    return stdoutIsWideConsole() ? detail::markedName(src, units) : consoleText(src, units);
}

namespace {

// vprintf() to standard output where it is no wide console; else the text
// formatted and handed to `write`.
template <typename Write>
int printTo(Write write, const char* fmt, va_list ap) {
    if (!stdoutIsWideConsole()) return std::vprintf(fmt, ap);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    if (n < 0) {
        va_end(again);
        return n;
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), fmt, again);
    va_end(again);
    text.resize(static_cast<size_t>(n));
    return write(text) ? n : -1;
}

}  // namespace

int outPrintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = printTo(
        [](const std::string& text) {
            return detail::writeConsoleUnits(detail::consoleUnits(text.data(), text.size()));
        },
        fmt, ap);
    va_end(ap);
    return n;
}

int outPrintfUtf8(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = printTo([](const std::string& text) { return outWriteUtf8(text.data(), text.size()); }, fmt, ap);
    va_end(ap);
    return n;
}

bool outWriteUtf8(const char* text, size_t size) {
    if (!stdoutIsWideConsole()) return std::fwrite(text, 1, size, stdout) == size;
    return detail::writeConsoleUnits(stdoutStream().units(text, size));
}

bool outWriteNarrow(const char* text, size_t size) {
    if (!stdoutIsWideConsole()) return std::fwrite(text, 1, size, stdout) == size;
    std::u16string shown;
    decodeNarrow(text, size, &shown);
    return detail::writeConsoleUnits(stdoutStream().finish() + withCarriageReturns(shown));
}

bool outFlush() {
    if (stdoutIsWideConsole()) {
        const std::u16string rest = stdoutStream().finish();
        if (!rest.empty() && !detail::writeConsoleUnits(rest)) return false;
    }
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

}  // namespace plat
