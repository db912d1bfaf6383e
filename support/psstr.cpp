// Text routines (see psstr.h).

#include "psstr.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "platform.h"

namespace {

size_t prefixAtCharBoundary(const std::string& s, size_t cap) { return psCharBoundary(s.data(), s.size(), cap); }

// Converts `text` to UTF-16 (at most psMaxConvertChars units); false when
// it is not valid multibyte text.
bool toWide(const char* text, std::u16string* out) {
    std::u16string buf(psWideBufferUnits, u'\0');
    const size_t n = plat::narrowToUtf16(&buf[0], text, psMaxConvertChars);
    if (n == static_cast<size_t>(-1)) return false;
    buf.resize(n);
    *out = buf;
    return true;
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Steps through `text` one character at a time, calling `visit` with the
// character's first byte and its wide value; false when the text is not
// valid multibyte text.
template <typename Visit>
bool forEachChar(const char* text, Visit visit) {
    std::mbstate_t st{};
    const size_t len = std::strlen(text);
    size_t pos = 0;
    while (pos < len) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, text + pos, len - pos, &st);
        if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
        if (!visit(text + pos, wc)) return true;
        pos += n;
    }
    return true;
}

wchar_t wideOf(char c) {
    const wint_t w = std::btowc(static_cast<unsigned char>(c));
    return w == WEOF ? static_cast<wchar_t>(static_cast<unsigned char>(c)) : static_cast<wchar_t>(w);
}

}  // namespace

size_t psCharBoundary(const char* s, size_t len, size_t cap) {
    if (len <= cap) return len;
    std::mbstate_t st{};
    size_t pos = 0;
    while (pos < len) {
        const size_t n = std::mbrlen(s + pos, len - pos, &st);
        if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) break;
        if (pos + n > cap) break;
        pos += n;
    }
    return pos;
}

char* psWideToNarrow(char* dst, const char16_t* src) {
    const std::string text = plat::consoleText(src);
    const size_t n = prefixAtCharBoundary(text, psMaxConvertChars);
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
    return dst;
}

char* psStrCpy(char* dst, const char* src) {
    if (src == nullptr) return nullptr;
    return std::strcpy(dst, src);
}

char* psStrNCpy(char* dst, const char* src, size_t n) { return std::strncpy(dst, src, n); }

char* psStrCat(char* dst, const char* src) { return std::strcat(dst, src); }

char* psStrCatW(char* dst, const char16_t* src) {
    const std::string text = plat::consoleText(src);
    const size_t n = prefixAtCharBoundary(text, psMaxAppendBytes);
    const size_t at = std::strlen(dst);
    std::memcpy(dst + at, text.data(), n);
    dst[at + n] = '\0';
    return dst;
}

int psWideCmp(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int psWideNarrowCmp(const char16_t* w, const char* n) {
    std::u16string wn;
    if (!toWide(n, &wn)) wn.clear();
    return psWideCmp(w, wn.c_str());
}

int psStrICmp(const char* a, const char* b) {
    if (b == nullptr) return a == nullptr ? 0 : 1;
    if (a == nullptr) return -1;
    std::u16string wa, wb;
    if (!toWide(a, &wa) || !toWide(b, &wb)) return sign(std::strcmp(a, b));
    size_t i = 0;
    for (;; ++i) {
        const char16_t ca = i < wa.size() ? plat::charUpperW(wa[i]) : u'\0';
        const char16_t cb = i < wb.size() ? plat::charUpperW(wb[i]) : u'\0';
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

const char* psStrStr(const char* text, const char* find) {
    if (text == nullptr || find == nullptr || *text == '\0' || *find == '\0') return nullptr;
    return std::strstr(text, find);
}

const char* psStrChr(const char* text, char c) {
    if (text == nullptr) return nullptr;
    const wchar_t want = wideOf(c);
    const char* found = nullptr;
    forEachChar(text, [&](const char* at, wchar_t wc) {
        if (wc != want) return true;
        found = at;
        return false;
    });
    return found;
}

const char* psStrRChr(const char* text, char c, int* rc) {
    *rc = 0;
    if (text == nullptr) return nullptr;
    const wchar_t want = wideOf(c);
    const char* found = nullptr;
    if (!forEachChar(text, [&](const char* at, wchar_t wc) {
            if (wc == want) found = at;
            return true;
        })) {
        *rc = psErrConversion;
        return nullptr;
    }
    return found;
}
