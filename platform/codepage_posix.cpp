// Code-page conversion with the C library's iconv ("CP850", "CP1252"):
// one character at a time, so that a character the target page lacks
// becomes '?' and the rest of the text is still converted.

#include <iconv.h>

#include <cstring>
#include <string>

#include "codepage.h"

namespace plat {

namespace {

class Converter {
public:
    Converter(unsigned from, unsigned to) {
        const std::string f = "CP" + std::to_string(from);
        const std::string t = "CP" + std::to_string(to);
        toWide_ = iconv_open("UTF-32LE", f.c_str());
        fromWide_ = iconv_open(t.c_str(), "UTF-32LE");
    }
    ~Converter() {
        if (ok(toWide_)) iconv_close(toWide_);
        if (ok(fromWide_)) iconv_close(fromWide_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ready() const { return ok(toWide_) && ok(fromWide_); }

    // The target page's bytes for source byte b (at most 4); 0 when the
    // target lacks its character or the source has none for it.
    size_t convert(unsigned char b, char* out) {
        char in[1] = {static_cast<char>(b)};
        char wide[8];
        char* ip = in;
        size_t il = 1;
        char* wp = wide;
        size_t wl = sizeof wide;
        iconv(toWide_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(toWide_, &ip, &il, &wp, &wl) == static_cast<size_t>(-1) || il != 0) return 0;
        char* rp = wide;
        size_t rl = sizeof wide - wl;
        char* op = out;
        size_t ol = 4;
        iconv(fromWide_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(fromWide_, &rp, &rl, &op, &ol) == static_cast<size_t>(-1) || rl != 0) return 0;
        return static_cast<size_t>(op - out);
    }

private:
    static bool ok(iconv_t c) { return c != reinterpret_cast<iconv_t>(-1); }
    iconv_t toWide_;
    iconv_t fromWide_;
};

}  // namespace

bool convertCodePage(char* text, unsigned from, unsigned to) {
    if (from == to) return true;
    Converter conv(from, to);
    if (!conv.ready()) return false;
    const size_t room = std::strlen(text);
    size_t written = 0;
    for (size_t i = 0; i < room && written < room; ++i) {
        char bytes[4];
        size_t n = conv.convert(static_cast<unsigned char>(text[i]), bytes);
        if (n == 0) {
            bytes[0] = '?';
            n = 1;
        }
        if (n > room - written) break;
        std::memcpy(text + written, bytes, n);
        written += n;
    }
    text[written] = '\0';
    return true;
}

}  // namespace plat
