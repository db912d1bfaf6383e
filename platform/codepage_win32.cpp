// Code-page conversion with the platform's code-page services: the source
// page to UTF-16, then UTF-16 to the target page without best-fit
// substitutes, '?' for a character the target page lacks.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <vector>

#include "codepage.h"

namespace plat {

bool convertCodePage(char* text, unsigned from, unsigned to) {
    if (from == to) return true;
    CPINFO info;
    if (!GetCPInfo(from, &info) || !GetCPInfo(to, &info)) return false;
    const size_t room = std::strlen(text);
    size_t written = 0;
    for (size_t i = 0; i < room && written < room; ++i) {
        wchar_t wide[2];
        const int w = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text + i, 1, wide, 2);
        char bytes[8];
        int n = 0;
        BOOL usedDefault = FALSE;
        if (w > 0) {
            n = WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide, w, bytes, sizeof bytes, "?", &usedDefault);
        }
        if (n <= 0 || usedDefault) {
            bytes[0] = '?';
            n = 1;
        }
        if (static_cast<size_t>(n) > room - written) break;
        std::memcpy(text + written, bytes, static_cast<size_t>(n));
        written += static_cast<size_t>(n);
    }
    text[written] = '\0';
    return true;
}

}  // namespace plat
