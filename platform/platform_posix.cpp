// The platform layer on POSIX systems (Linux with the GNU C library).
// wchar_t holds whole code points here, so UTF-16 texts are decoded to
// code points before the locale's conversion functions see them.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

#include "platform.h"
#include "platform_internal.h"

namespace plat {

namespace {

// Captured during static initialisation, i.e. at process start.
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

struct sigaction previousSigint;
struct sigaction previousSigterm;
struct sigaction previousSigpipe;
bool handlerInstalled = false;

extern "C" void onInterruptSignal(int) { detail::interruptFlag = 1; }

bool isUnicodeScalar(uint32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// In a single-byte locale that gives no character for a byte above 127
// (the C library's "C" locale), bytes stand for the characters of the same
// number, as the Windows run-time's "C" locale has them, so that a file
// name converts to wide characters and back unchanged.
bool bytesAreCharacters() { return MB_CUR_MAX == 1; }

}  // namespace

namespace detail {

size_t encodeChar(const wchar16* units, size_t count, char* out) {
    uint32_t cp = units[0];
    if (count == 2) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(units[1]) - 0xDC00);
    }
    static_assert(MB_LEN_MAX <= kMaxCharBytes, "room for one multibyte character");
    std::mbstate_t state{};
    const size_t n = std::wcrtomb(out, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<size_t>(-1)) {
        if (cp >= 0x80 && cp <= 0xFF && bytesAreCharacters()) {
            out[0] = static_cast<char>(cp);
            return 1;
        }
        return 0;
    }
    return n;
}

std::string unlistedErrnoText(int err) { return std::strerror(err); }

bool writeConsoleUnits(const std::u16string&) { return false; }  // no wide console here

// Paths are bytes here, whatever the program's text.
FILE* openStream(const char* path, const char* mode, FILE* f) {
    return f != nullptr ? std::freopen(path, mode, f) : std::fopen(path, mode);
}

}  // namespace detail

long clockMs() {
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool fileSize(const char* path, int64_t* size) {
    struct stat st;
    if (::stat(path, &st) != 0) {
        return false;
    }
    *size = static_cast<int64_t>(st.st_size);
    return true;
}

bool isDirectory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

wchar16 charUpperW(wchar16 c) {
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    const std::wint_t upper = std::towupper(static_cast<std::wint_t>(c));
    return upper <= 0xFFFF ? static_cast<wchar16>(upper) : c;
}

size_t narrowToUtf16(wchar16* dst, const char* src, size_t maxUnits) {
    std::mbstate_t state{};
    size_t left = std::strlen(src);
    size_t written = 0;
    bool full = false;  // once a character did not fit, nothing more is written
    // The whole source is decoded, also past a full destination, so that an
    // invalid text is refused whatever the destination's size.
    while (left > 0) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, src, left, &state);
        if (n == 0) {
            break;
        }
        uint32_t cp = static_cast<uint32_t>(wc);
        if (n == static_cast<size_t>(-1) && bytesAreCharacters()) {
            cp = static_cast<unsigned char>(*src);
            state = std::mbstate_t{};
            ++src;
            --left;
        } else if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            return static_cast<size_t>(-1);
        } else {
            src += n;
            left -= n;
        }
        if (!isUnicodeScalar(cp)) {
            return static_cast<size_t>(-1);
        }
        const size_t need = cp > 0xFFFF ? 2 : 1;
        if (full || maxUnits - written < need) {
            full = true;
            continue;
        }
        if (need == 1) {
            dst[written++] = static_cast<wchar16>(cp);
        } else {
            const uint32_t v = cp - 0x10000;
            dst[written++] = static_cast<wchar16>(0xD800 + (v >> 10));
            dst[written++] = static_cast<wchar16>(0xDC00 + (v & 0x3FF));
        }
    }
    return written;
}

void installInterruptHandler() {
    if (handlerInstalled) {
        return;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns on the signal
    sigaction(SIGINT, &action, &previousSigint);
    sigaction(SIGTERM, &action, &previousSigterm);
    // A reader that goes away (`jbbview NAME i | head`) must not kill the
    // process while a database is open: writes then fail instead.
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousSigpipe);
    handlerInstalled = true;
}

void removeInterruptHandler() {
    if (!handlerInstalled) {
        return;
    }
    sigaction(SIGINT, &previousSigint, nullptr);
    sigaction(SIGTERM, &previousSigterm, nullptr);
    sigaction(SIGPIPE, &previousSigpipe, nullptr);
    handlerInstalled = false;
}

bool ctimeText(int64_t t, char out[32]) {
    out[0] = '\0';
    if (t < 0 || t > detail::kLastCtimeSecond) {
        return false;
    }
    const time_t tt = static_cast<time_t>(t);
    std::tm tm;
    if (::localtime_r(&tt, &tm) == nullptr) {
        return false;
    }
    return detail::formatCtime(tm, out);
}

int runCommand(const std::string& commandLine) {
    std::fflush(nullptr);  // our own pending output comes before the command's
    const int status = std::system(commandLine.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return INT32_MIN;
    }
    // Only 8 bits of the status survive; exit(-1) arrives as 255.
    return static_cast<int>(static_cast<int8_t>(WEXITSTATUS(status)));
}

bool isWindows() { return false; }

bool stderrIsTerminal() { return ::isatty(2) == 1; }

bool stdinBinary() { return true; }

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

bool streamSeek(FILE* f, int64_t pos) { return ::fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0; }

int64_t streamTell(FILE* f) { return static_cast<int64_t>(::ftello(f)); }

bool stdoutIsWideConsole() { return false; }

bool useUtf8Arguments(int*, char***) { return true; }  // argv holds the user's bytes already

}  // namespace plat

namespace plat {

bool currentDirectory(std::string* out, size_t cap) {
    std::string buf(cap + 1, '\0');
    if (::getcwd(&buf[0], buf.size()) == nullptr) return false;
    buf.resize(std::strlen(buf.c_str()));
    *out = buf;
    return true;
}

char pathSeparator() { return '/'; }

bool localTime(int64_t t, std::tm* out) {
    const time_t tt = static_cast<time_t>(t);
    return ::localtime_r(&tt, out) != nullptr;
}

FILE* openPrivateFile(const char* path, const char* mode, const char** refusal) {
    if (refusal != nullptr) *refusal = nullptr;
    const std::string m = mode;
    if (m != "r+" && m != "x+" && m != "a+") {
        errno = EINVAL;
        return nullptr;
    }
    // O_NONBLOCK: opening a FIFO must not wait for its other end before
    // the file can be examined and refused.
    const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (m == "r+" ? 0 : O_CREAT) |
                      (m == "x+" ? O_EXCL : 0) | (m == "a+" ? O_APPEND : 0);
    const int fd = ::open(path, flags, 0600);
    if (fd < 0) {
        if (errno == ELOOP && refusal != nullptr) *refusal = "a symbolic link";
        return nullptr;
    }
    auto refuse = [&](const char* why, int err) -> FILE* {
        ::close(fd);
        if (refusal != nullptr) *refusal = why;
        errno = err;
        return nullptr;
    };
    struct stat st;
    if (::fstat(fd, &st) != 0) return refuse(nullptr, errno);
    if (!S_ISREG(st.st_mode)) return refuse("not a regular file", EINVAL);
    if (st.st_nlink > 1) return refuse("a file with more than one hard link", EMLINK);
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return refuse(nullptr, errno);
    FILE* f = ::fdopen(fd, m == "a+" ? "a+" : "r+");
    if (f == nullptr) return refuse(nullptr, errno);
    return f;
}

bool streamTruncate(FILE* f, int64_t size) {
    if (std::fflush(f) != 0) return false;
    return ::ftruncate(::fileno(f), static_cast<off_t>(size)) == 0;
}

int lastError() { return errno; }

}  // namespace plat

namespace plat {

bool hasDirectoryPart(const char* name) { return std::strchr(name, '/') != nullptr; }

}  // namespace plat

namespace plat {

bool fileModified(const char* path, int64_t* ns) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    *ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return true;
}

}  // namespace plat

namespace plat {

bool streamWriteAt(FILE* f, int64_t pos, const void* data, size_t n) {
    if (std::fflush(f) != 0) return false;
    const int fd = ::fileno(f);
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(pos));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        pos += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

namespace {
constexpr size_t kHugePage = 2u << 20;
size_t largeLength(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

void adviseLarge(void* p, size_t bytes) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
    const uintptr_t end = (start + bytes) / kHugePage * kHugePage;
#ifdef MADV_HUGEPAGE
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)first;
    (void)end;
#endif
}

void* allocLarge(size_t bytes) {
    const size_t len = largeLength(bytes);
    if (len < bytes) return nullptr;
    // Mapped with a huge page's worth to spare, so that the block can
    // begin on a huge-page boundary; the spare ends are given back.
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + len + kHugePage;
    if (end > aligned + len) munmap(reinterpret_cast<void*>(aligned + len), end - (aligned + len));
    void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(p, len, MADV_HUGEPAGE);  // advice only: without it the block is ordinary memory
#endif
    return p;
}

void freeLarge(void* p, size_t bytes) {
    if (p != nullptr) munmap(p, largeLength(bytes));
}

}  // namespace plat
