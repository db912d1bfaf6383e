// Platform services whose code is the same on Windows and POSIX systems:
// the errno texts, UTF-16 text walking, the interrupt flag and the ctime
// layout.  The locale-specific encoding of one character comes from the
// platform file (detail::encodeChar).

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "platform.h"
#include "platform_internal.h"

namespace plat {

namespace detail {

volatile std::sig_atomic_t interruptFlag = 0;

bool formatCtime(const std::tm& tm, char out[32]) {
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) {
        out[0] = '\0';
        return false;
    }
    const int n = std::snprintf(out, 32, "%s %s %02d %02d:%02d:%02d %d\n", kDays[tm.tm_wday], kMonths[tm.tm_mon],
                                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
    if (n != 25) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace detail

namespace {

bool isHighSurrogate(wchar16 u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(wchar16 u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void selectUserLocale() { std::setlocale(LC_ALL, ""); }

namespace detail {

size_t charUnits(const wchar16* src, size_t i, size_t units) {
    const wchar16 u = src[i];
    if (isHighSurrogate(u)) {
        return (i + 1 < units && isLowSurrogate(src[i + 1])) ? 2 : 0;
    }
    return isLowSurrogate(u) ? 0 : 1;
}

}  // namespace detail

size_t wideLength(const wchar16* s) {
    size_t n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

bool utf16ToNarrow(char* dst, size_t cap, const wchar16* src) {
    if (cap == 0) {
        return false;
    }
    size_t pos = 0;
    for (size_t i = 0; src != nullptr && src[i] != 0;) {
        const size_t n = detail::charUnits(src, i, SIZE_MAX);
        char bytes[detail::kMaxCharBytes];
        const size_t len = n == 0 ? 0 : detail::encodeChar(src + i, n, bytes);
        if (len == 0 || len >= cap - pos) {  // keep room for the terminator
            dst[0] = '\0';
            return false;
        }
        std::memcpy(dst + pos, bytes, len);
        pos += len;
        i += n;
    }
    dst[pos] = '\0';
    return true;
}

std::string consoleText(const wchar16* src, size_t units) {
    std::string out;
    for (size_t i = 0; src != nullptr && i < units && src[i] != 0;) {
        const size_t n = detail::charUnits(src, i, units);
        if (n == 0) {
            out += '?';
            ++i;
            continue;
        }
        char bytes[detail::kMaxCharBytes];
        const size_t len = detail::encodeChar(src + i, n, bytes);
        if (len == 0) {
            out += '?';
        } else {
            out.append(bytes, len);
        }
        i += n;
    }
    return out;
}

// The texts are the GNU C library's, keyed on each platform's own E*
// constants (their numbers differ, e.g. ENAMETOOLONG is 36 on Linux and 38
// on Windows), so that a given error reads the same on both platforms.
std::string errnoText(int err) {
    const char* text = nullptr;
    switch (err) {
        case 0:
            text = "Success";
            break;
        case EPERM:
            text = "Operation not permitted";
            break;
        case ENOENT:
            text = "No such file or directory";
            break;
        case ESRCH:
            text = "No such process";
            break;
        case EINTR:
            text = "Interrupted system call";
            break;
        case EIO:
            text = "Input/output error";
            break;
        case ENXIO:
            text = "No such device or address";
            break;
        case E2BIG:
            text = "Argument list too long";
            break;
        case ENOEXEC:
            text = "Exec format error";
            break;
        case EBADF:
            text = "Bad file descriptor";
            break;
        case ECHILD:
            text = "No child processes";
            break;
        case EAGAIN:
            text = "Resource temporarily unavailable";
            break;
        case ENOMEM:
            text = "Cannot allocate memory";
            break;
        case EACCES:
            text = "Permission denied";
            break;
        case EFAULT:
            text = "Bad address";
            break;
        case EBUSY:
            text = "Device or resource busy";
            break;
        case EEXIST:
            text = "File exists";
            break;
        case EXDEV:
            text = "Invalid cross-device link";
            break;
        case ENODEV:
            text = "No such device";
            break;
        case ENOTDIR:
            text = "Not a directory";
            break;
        case EISDIR:
            text = "Is a directory";
            break;
        case EINVAL:
            text = "Invalid argument";
            break;
        case ENFILE:
            text = "Too many open files in system";
            break;
        case EMFILE:
            text = "Too many open files";
            break;
        case ENOTTY:
            text = "Inappropriate ioctl for device";
            break;
        case EFBIG:
            text = "File too large";
            break;
        case ENOSPC:
            text = "No space left on device";
            break;
        case ESPIPE:
            text = "Illegal seek";
            break;
        case EROFS:
            text = "Read-only file system";
            break;
        case EMLINK:
            text = "Too many links";
            break;
        case EPIPE:
            text = "Broken pipe";
            break;
        case EDOM:
            text = "Numerical argument out of domain";
            break;
        case ERANGE:
            text = "Numerical result out of range";
            break;
        case EDEADLK:
            text = "Resource deadlock avoided";
            break;
        case ENAMETOOLONG:
            text = "File name too long";
            break;
        case ENOLCK:
            text = "No locks available";
            break;
        case ENOSYS:
            text = "Function not implemented";
            break;
        case ENOTEMPTY:
            text = "Directory not empty";
            break;
        case EILSEQ:
            text = "Invalid or incomplete multibyte or wide character";
            break;
        default:
            break;
    }
    if (text != nullptr) {
        return text;
    }
    return detail::unlistedErrnoText(err);
}

namespace {

// `mode` with a 'b' after its first character when it has none.
std::string binaryMode(const char* mode) {
    std::string m = mode;
    if (m.find('b') == std::string::npos && !m.empty()) {
        m.insert(1, 1, 'b');
    }
    return m;
}

}  // namespace

FILE* openBinary(const char* path, const char* mode) {
    return detail::openStream(path, binaryMode(mode).c_str(), nullptr);
}

FILE* reopenBinary(const char* path, const char* mode, FILE* f) {
    return detail::openStream(path, binaryMode(mode).c_str(), f);
}

namespace detail {

bool utf8FileNames = false;
bool utf8Arguments = false;

}  // namespace detail

void useUtf8FileNames(bool on) { detail::utf8FileNames = on; }

std::string argumentInLocale(const char* arg) {
    if (!detail::utf8Arguments) return arg;
    std::u16string units;
    detail::decodeUtf8(arg, std::strlen(arg), true, &units);
    return consoleText(units.c_str(), units.size());
}

bool interruptRequested() { return detail::interruptFlag != 0; }

void setInterruptRequested(bool on) { detail::interruptFlag = on ? 1 : 0; }

}  // namespace plat

namespace plat {

void wallClockNow(int64_t* seconds, unsigned* millis) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    *seconds = ms / 1000;
    *millis = static_cast<unsigned>(ms % 1000);
}

}  // namespace plat
