#include "keytext.h"

#include "jbbgen_text.h"

namespace jbbtool {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool keyFromText(const std::string& text, std::u16string* key, std::string* why) {
    static const std::string kKeyWord = "%key ";
    key->clear();
    if (text.compare(0, kKeyWord.size(), kKeyWord) != 0) {
        if (jbbgen::utf8ToUtf16(text, key, why)) return true;
        *why = "not UTF-8: " + *why;
        return false;
    }
    const std::string hex = text.substr(kKeyWord.size());
    if (hex.size() % 4 != 0) {
        *why = "bad %key: expected UTF-16 units, 4 hexadecimal digits each";
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 4) {
        uint32_t u = 0;
        for (size_t k = i; k < i + 4; ++k) {
            const int d = hexDigit(hex[k]);
            if (d < 0) {
                *why = "bad %key: expected UTF-16 units, 4 hexadecimal digits each";
                return false;
            }
            u = u << 4 | (uint32_t)d;
        }
        if (u == 0) {
            *why = "bad %key: a name holds no 0 unit";
            return false;
        }
        *key += (char16_t)u;
    }
    return true;
}

}  // namespace jbbtool
