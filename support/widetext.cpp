#include "widetext.h"

#include <cstring>

#include "platform.h"

char16_t* strToWide(char16_t* dst, const char* src) {
    size_t n = plat::narrowToUtf16(dst, src, wideTextUnits - 1);
    if (n == (size_t)-1) {
        static const char16_t message[] = u"Conversion error - invalid source!";
        size_t len = std::strlen(src);
        size_t keep = len < 34 ? len : 34;
        std::memcpy(dst, message, keep * sizeof(char16_t));
        dst[keep] = 0;
        return dst;
    }
    dst[n] = 0;
    return dst;
}
