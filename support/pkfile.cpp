// File-name and format helpers (see pkfile.h).

#include "pkfile.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform.h"

int pkQualifyFileName(const char* name, std::string* out) {
    out->clear();
    if (plat::hasDirectoryPart(name)) return 0;
    std::string dir;
    if (!plat::currentDirectory(&dir, pkMaxNameChars)) return -1;
    while (*name == ' ') ++name;
    *out = dir + plat::pathSeparator() + name;
    return 0;
}

int pkQuotedToken(const char** pos, std::string* out) {
    out->clear();
    const char* p = *pos;
    while (*p == ' ' || *p == '\t') ++p;
    const char* begin = p;
    const char* end = nullptr;   // one past the token
    const char* next = nullptr;  // where the position moves to
    bool quoteFault = false;
    if (*p == '\'' || *p == '"') {
        const char* close = std::strchr(p + 1, *p);
        begin = p + 1;
        if (close == nullptr) {
            end = begin + std::strlen(begin);
            quoteFault = true;
        } else {
            end = close;
            const char after = close[1];
            if (after != ' ' && after != '\0') quoteFault = true;
            next = after == '\0' ? close + 1 : close + 2;
        }
    } else {
        const char* q = p;
        while (*q != '\0' && *q != ' ' && !quoteFault) {
            if ((*q == '\'' || *q == '"') && q > p && q[-1] == '=') {
                const char* close = std::strchr(q + 1, *q);
                if (close == nullptr) {
                    q += std::strlen(q);
                    quoteFault = true;
                    break;
                }
                q = close + 1;
                if (*q != ' ' && *q != '\0') quoteFault = true;
                break;
            }
            if ((*q == '\'' || *q == '"') && q[1] == '\0') quoteFault = true;
            ++q;
        }
        if (!quoteFault) {
            while (*q != '\0' && *q != ' ') ++q;
        }
        end = q;
        next = *q == '\0' ? q : q + 1;
    }
    if (static_cast<size_t>(end - begin) > pkMaxTokenBytes) return pkErrTooLong;
    if (quoteFault) return pkErrQuote;
    out->assign(begin, end);
    *pos = next;
    return 0;
}

namespace {

// Appends to a bounded UTF-16 buffer, dropping what does not fit.
class WideOut {
public:
    WideOut(char16_t* out, size_t cap) : out_(out), cap_(cap) {}
    void put(char16_t c) {
        if (n_ + 1 < cap_) out_[n_++] = c;
    }
    void ascii(const char* s, size_t len) {
        for (size_t i = 0; i < len; ++i) put(static_cast<unsigned char>(s[i]));
    }
    void pad(size_t count) {
        for (size_t i = 0; i < count; ++i) put(u' ');
    }
    size_t finish() {
        out_[n_] = 0;
        return n_;
    }

private:
    char16_t* out_;
    size_t cap_;
    size_t n_ = 0;
};

// Field widths and precisions above this are taken as this.
constexpr int kMaxField = 4096;

int readNumber(const char16_t** f) {
    long v = 0;
    while (**f >= u'0' && **f <= u'9') {
        v = v * 10 + (**f - u'0');
        if (v > kMaxField) v = kMaxField;
        ++*f;
    }
    return static_cast<int>(v);
}

enum class Len { None, hh, h, l, ll, j, z, t, L };

}  // namespace

size_t pkWideVFormat(char16_t* out, size_t cap, const char16_t* fmt, va_list ap) {
    WideOut w(out, cap);
    va_list args;
    va_copy(args, ap);
    for (const char16_t* f = fmt; *f != 0;) {
        if (*f != u'%') {
            w.put(*f++);
            continue;
        }
        const char16_t* start = f++;
        std::string flags;
        while (*f == u'-' || *f == u'+' || *f == u' ' || *f == u'#' || *f == u'0') flags += static_cast<char>(*f++);
        int width = -1;
        if (*f == u'*') {
            width = va_arg(args, int);
            if (width < 0) {
                flags += '-';
                width = width == INT32_MIN ? kMaxField : -width;
            }
            if (width > kMaxField) width = kMaxField;
            ++f;
        } else if (*f >= u'0' && *f <= u'9') {
            width = readNumber(&f);
        }
        int precision = -1;
        if (*f == u'.') {
            ++f;
            if (*f == u'*') {
                precision = va_arg(args, int);
                if (precision > kMaxField) precision = kMaxField;
                ++f;
            } else {
                precision = readNumber(&f);
            }
        }
        Len len = Len::None;
        const char* lenText = "";
        if (*f == u'h') {
            ++f;
            len = Len::h, lenText = "h";
            if (*f == u'h') ++f, len = Len::hh, lenText = "hh";
        } else if (*f == u'l') {
            ++f;
            len = Len::l, lenText = "l";
            if (*f == u'l') ++f, len = Len::ll, lenText = "ll";
        } else if (*f == u'j') {
            ++f, len = Len::j, lenText = "j";
        } else if (*f == u'z') {
            ++f, len = Len::z, lenText = "z";
        } else if (*f == u't') {
            ++f, len = Len::t, lenText = "t";
        } else if (*f == u'L' || *f == u'I') {
            // I64 and friends are not taken: treat as unknown below.
            if (*f == u'L') ++f, len = Len::L, lenText = "L";
        }
        const char16_t conv = *f;
        if (conv == 0) {  // a lone % at the end
            for (const char16_t* c = start; c < f; ++c) w.put(*c);
            break;
        }
        ++f;
        const bool left = flags.find('-') != std::string::npos;
        if (conv == u'%') {
            w.put(u'%');
            continue;
        }
        if (conv == u's' || conv == u'c') {
            const char16_t* s = nullptr;
            char16_t one[2] = {0, 0};
            size_t units = 0;
            if (conv == u'c') {
                one[0] = static_cast<char16_t>(va_arg(args, int));
                s = one;
                units = 1;
            } else {
                s = va_arg(args, const char16_t*);
                if (s == nullptr) s = u"(null)";
                while (s[units] != 0 && (precision < 0 || units < static_cast<size_t>(precision))) ++units;
            }
            const size_t padding = width > 0 && static_cast<size_t>(width) > units ? width - units : 0;
            if (!left) w.pad(padding);
            for (size_t i = 0; i < units; ++i) w.put(s[i]);
            if (left) w.pad(padding);
            continue;
        }
        std::string spec = "%" + flags;
        if (width >= 0) spec += std::to_string(width);
        if (precision >= 0) spec += "." + std::to_string(precision);
        spec += lenText;
        spec += static_cast<char>(conv);
        char buf[kMaxField + 512];
        int n = -1;
        switch (conv) {
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o':
                switch (len) {
                    case Len::l:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long));
                        break;
                    case Len::ll:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long long));
                        break;
                    case Len::j:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, intmax_t));
                        break;
                    case Len::z:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, size_t));
                        break;
                    case Len::t:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, ptrdiff_t));
                        break;
                    default:
                        n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, int));
                        break;
                }
                break;
            case u'e':
            case u'E':
            case u'f':
            case u'F':
            case u'g':
            case u'G':
            case u'a':
            case u'A':
                if (len == Len::L) {
                    n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long double));
                } else {
                    n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, double));
                }
                break;
            case u'p':
                n = std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, void*));
                break;
            case u'n':
                (void)va_arg(args, void*);
                n = 0;
                break;
            default:  // not a conversion: shown as written
                for (const char16_t* c = start; c < f; ++c) w.put(*c);
                continue;
        }
        if (n > 0) w.ascii(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
    }
    va_end(args);
    return w.finish();
}
