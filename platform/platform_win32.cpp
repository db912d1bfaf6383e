// The platform layer on Windows (mingw-w64 and the Microsoft run-time).
// wchar_t is a UTF-16 code unit here; conversions use the code page of the
// run-time's current locale.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <string>
#include <vector>

#include "platform.h"
#include "platform_internal.h"

namespace plat {

namespace {

// Code page of the run-time's LC_CTYPE locale; 0 for the "C" locale, in
// which the run-time maps bytes 0-255 one to one onto code units.
unsigned int localeCodePage() { return ___lc_codepage_func(); }

bool isSurrogate(wchar_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// UTF-8 of wide text; an unpaired surrogate becomes U+FFFD.
std::string utf8Of(const wchar_t* wide, size_t units) {
    if (units == 0 || units > static_cast<size_t>(INT_MAX)) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), &out[0], n, nullptr, nullptr);
    return out;
}

BOOL WINAPI onConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            detail::interruptFlag = 1;
            return TRUE;
        default:
            return FALSE;
    }
}

// The run-time's signals (raise(), and SIGINT where the run-time's own
// console handler delivers it) set the same flag.  The run-time resets a
// signal to its default before calling the handler, so it is set again.
extern "C" void onInterruptSignal(int sig) {
    detail::interruptFlag = 1;
    std::signal(sig, onInterruptSignal);
}

using SignalHandler = void (*)(int);
SignalHandler previousSigint = SIG_DFL;
SignalHandler previousSigterm = SIG_DFL;
bool handlerInstalled = false;

}  // namespace

namespace detail {

size_t encodeChar(const wchar16* units, size_t count, char* out) {
    const unsigned int cp = localeCodePage();
    if (cp == 0) {
        if (count != 1 || units[0] > 0xFF) {
            return 0;
        }
        out[0] = static_cast<char>(units[0]);
        return 1;
    }
    const wchar_t wide[2] = {static_cast<wchar_t>(units[0]), static_cast<wchar_t>(count == 2 ? units[1] : 0)};
    const int wideCount = static_cast<int>(count);
    const int room = static_cast<int>(kMaxCharBytes);
    if (cp == CP_UTF8 || cp == CP_UTF7) {
        // These code pages take neither flags nor a default-character report.
        const int n = WideCharToMultiByte(cp, 0, wide, wideCount, out, room, nullptr, nullptr);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, wideCount, out, room, nullptr, &usedDefault);
    if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        n = WideCharToMultiByte(cp, 0, wide, wideCount, out, room, nullptr, nullptr);
    }
    return (n > 0 && !usedDefault) ? static_cast<size_t>(n) : 0;
}

std::string unlistedErrnoText(int err) { return "Unknown error " + std::to_string(err); }

std::wstring widePath(const char* path) {
    const size_t length = std::strlen(path);
    if (length == 0 || length > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(length), &out[0], n);
    return out;
}

FILE* openStream(const char* path, const char* mode, FILE* f) {
    if (!utf8FileNames) return f != nullptr ? std::freopen(path, mode, f) : std::fopen(path, mode);
    const std::wstring name = widePath(path);
    const std::wstring wideMode(mode, mode + std::strlen(mode));  // ASCII letters
    return f != nullptr ? _wfreopen(name.c_str(), wideMode.c_str(), f) : _wfopen(name.c_str(), wideMode.c_str());
}

bool writeConsoleUnits(const std::u16string& units) {
    std::fflush(stdout);  // what printf left in the run-time's buffer goes first
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    // Pieces of at most 8192 units (older consoles refuse long writes),
    // never ending between the two units of a surrogate pair.
    const size_t kPiece = 8192;
    for (size_t pos = 0; pos < units.size();) {
        size_t n = units.size() - pos < kPiece ? units.size() - pos : kPiece;
        if (n > 1 && pos + n < units.size() && units[pos + n - 1] >= 0xD800 && units[pos + n - 1] <= 0xDBFF) {
            --n;
        }
        DWORD written = 0;
        if (!WriteConsoleW(console, reinterpret_cast<const wchar_t*>(units.data() + pos), static_cast<DWORD>(n),
                           &written, nullptr) ||
            written == 0) {
            return false;
        }
        pos += written;
    }
    return true;
}

}  // namespace detail

long clockMs() {
    const clock_t ticks = std::clock();
    if (ticks == static_cast<clock_t>(-1)) {
        return 0;
    }
    return static_cast<long>(static_cast<long long>(ticks) * 1000 / CLOCKS_PER_SEC);
}

namespace {

int stat64Of(const char* path, struct _stat64* st) {
    return detail::utf8FileNames ? _wstat64(detail::widePath(path).c_str(), st) : _stat64(path, st);
}

}  // namespace

bool fileSize(const char* path, int64_t* size) {
    struct _stat64 st;
    if (stat64Of(path, &st) != 0) {
        return false;
    }
    *size = static_cast<int64_t>(st.st_size);
    return true;
}

bool isDirectory(const char* path) {
    struct _stat64 st;
    return stat64Of(path, &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}

wchar16 charUpperW(wchar16 c) {
    if (isSurrogate(static_cast<wchar_t>(c))) {
        return c;
    }
    wchar_t text[2] = {static_cast<wchar_t>(c), 0};
    CharUpperW(text);
    return static_cast<wchar16>(text[0]);
}

size_t narrowToUtf16(wchar16* dst, const char* src, size_t maxUnits) {
    const size_t length = std::strlen(src);
    const unsigned int cp = localeCodePage();
    if (cp == 0) {
        size_t i = 0;
        for (; i < length && i < maxUnits; ++i) {
            dst[i] = static_cast<unsigned char>(src[i]);
        }
        return i;
    }
    if (length == 0) {
        return 0;
    }
    if (length > static_cast<size_t>(INT_MAX)) {
        return static_cast<size_t>(-1);
    }
    const int srcLen = static_cast<int>(length);
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = MultiByteToWideChar(cp, flags, src, srcLen, nullptr, 0);
    if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;  // code pages that cannot report invalid input
        n = MultiByteToWideChar(cp, flags, src, srcLen, nullptr, 0);
    }
    if (n <= 0) {
        return static_cast<size_t>(-1);
    }
    std::vector<wchar_t> wide(static_cast<size_t>(n));
    if (MultiByteToWideChar(cp, flags, src, srcLen, wide.data(), n) != n) {
        return static_cast<size_t>(-1);
    }
    size_t written = 0;
    bool full = false;  // once a character did not fit, nothing more is written
    for (size_t i = 0; i < wide.size();) {
        size_t units = 1;
        if (isSurrogate(wide[i])) {
            const bool pair =
                wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
            if (!pair) {
                return static_cast<size_t>(-1);
            }
            units = 2;
        }
        if (!full && maxUnits - written >= units) {
            for (size_t k = 0; k < units; ++k) {
                dst[written++] = static_cast<wchar16>(wide[i + k]);
            }
        } else {
            full = true;
        }
        i += units;
    }
    return written;
}

void installInterruptHandler() {
    if (handlerInstalled) {
        return;
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    previousSigint = std::signal(SIGINT, onInterruptSignal);
    previousSigterm = std::signal(SIGTERM, onInterruptSignal);
    handlerInstalled = true;
}

void removeInterruptHandler() {
    if (!handlerInstalled) {
        return;
    }
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    std::signal(SIGINT, previousSigint == SIG_ERR ? SIG_DFL : previousSigint);
    std::signal(SIGTERM, previousSigterm == SIG_ERR ? SIG_DFL : previousSigterm);
    handlerInstalled = false;
}

bool ctimeText(int64_t t, char out[32]) {
    out[0] = '\0';
    if (t < 0 || t > detail::kLastCtimeSecond) {
        return false;
    }
    const __time64_t tt = static_cast<__time64_t>(t);
    const std::tm* tm = _localtime64(&tt);
    if (tm == nullptr) {
        return false;
    }
    return detail::formatCtime(*tm, out);
}

int runCommand(const std::string& commandLine) {
    std::fflush(nullptr);  // our own pending output comes before the command's
    // The command interpreter's result is the program's full exit code.
    if (detail::utf8FileNames) return _wsystem(detail::widePath(commandLine.c_str()).c_str());
    return std::system(commandLine.c_str());
}

bool isWindows() { return true; }

bool stdoutIsWideConsole() {
    static const bool console = [] {
        const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
        DWORD mode = 0;
        return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
    }();
    return console;
}

bool useUtf8Arguments(int* argc, char*** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    // Kept for the whole run, as the run-time keeps its own argv.
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.clear();
    for (int i = 0; i < count; ++i) texts.push_back(utf8Of(wide[i], std::wcslen(wide[i])));
    LocalFree(wide);
    pointers.clear();
    for (std::string& t : texts) pointers.push_back(&t[0]);
    pointers.push_back(nullptr);
    *argc = count;
    *argv = pointers.data();
    detail::utf8Arguments = true;
    useUtf8FileNames(true);
    return true;
}

bool stderrIsTerminal() {
    DWORD mode;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool stdinBinary() { return _setmode(_fileno(stdin), _O_BINARY) != -1; }

unsigned long processId() { return static_cast<unsigned long>(GetCurrentProcessId()); }

bool streamSeek(FILE* f, int64_t pos) { return _fseeki64(f, pos, SEEK_SET) == 0; }

int64_t streamTell(FILE* f) { return static_cast<int64_t>(_ftelli64(f)); }

}  // namespace plat

namespace plat {

bool currentDirectory(std::string* out, size_t cap) {
    if (detail::utf8FileNames) {
        std::vector<wchar_t> wide(cap + 1);  // never more units than UTF-8 bytes
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
        if (n == 0 || n >= wide.size()) return false;
        const std::string text = utf8Of(wide.data(), n);
        if (text.empty() || text.size() > cap) return false;
        *out = text;
        return true;
    }
    std::vector<char> buf(cap + 1);
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0 || n >= buf.size()) return false;
    out->assign(buf.data(), n);
    return true;
}

char pathSeparator() { return '\\'; }

bool localTime(int64_t t, std::tm* out) {
    const __time64_t tt = static_cast<__time64_t>(t);
    return _localtime64_s(out, &tt) == 0;
}

FILE* openPrivateFile(const char* path, const char* mode, const char** refusal) {
    // Access to a file created here follows the folder's permissions, as
    // for every other file the process writes.
    if (refusal != nullptr) *refusal = nullptr;
    const std::string m = mode;
    if (m != "r+" && m != "x+" && m != "a+") {
        errno = EINVAL;
        return nullptr;
    }
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link (or any other
    // reparse point) itself rather than what it points to, so that it can
    // be refused below.
    const DWORD disposition = m == "r+" ? OPEN_EXISTING : m == "x+" ? CREATE_NEW : OPEN_ALWAYS;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE h = detail::utf8FileNames
                         ? CreateFileW(detail::widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                       disposition, flags, nullptr)
                         : CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        errno = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? ENOENT
                : e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS  ? EEXIST
                : e == ERROR_ACCESS_DENIED                             ? EACCES
                                                                       : EIO;
        return nullptr;
    }
    auto refuse = [&](const char* why, int err) -> FILE* {
        CloseHandle(h);
        if (refusal != nullptr) *refusal = why;
        errno = err;
        return nullptr;
    };
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) {
        return refuse("not a regular file", EINVAL);
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return refuse("a symbolic link", ELOOP);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return refuse("not a regular file", EINVAL);
    if (info.nNumberOfLinks > 1) return refuse("a file with more than one hard link", EMLINK);
    const bool append = m == "a+";
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY | (append ? _O_APPEND : 0));
    if (fd < 0) return refuse(nullptr, EIO);
    FILE* f = _fdopen(fd, append ? "a+b" : "r+b");
    if (f == nullptr) {
        const int err = errno;
        _close(fd);
        errno = err;
    }
    return f;
}

bool streamTruncate(FILE* f, int64_t size) {
    if (std::fflush(f) != 0) return false;
    return _chsize_s(_fileno(f), size) == 0;
}

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace plat

namespace plat {

bool hasDirectoryPart(const char* name) { return std::strpbrk(name, "\\/:") != nullptr; }

}  // namespace plat

namespace plat {

bool fileModified(const char* path, int64_t* ns) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const BOOL found = detail::utf8FileNames
                           ? GetFileAttributesExW(detail::widePath(path).c_str(), GetFileExInfoStandard, &data)
                           : GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    if (!found) return false;
    const uint64_t ticks =
        (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    // 100-ns ticks since 1601 to nanoseconds since 1970.
    *ns = (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
    return true;
}

}  // namespace plat

namespace plat {

bool streamWriteAt(FILE* f, int64_t pos, const void* data, size_t n) {
    if (std::fflush(f) != 0) return false;
    const int fd = _fileno(f);
    if (_lseeki64(fd, pos, SEEK_SET) < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const unsigned chunk = n > 0x40000000u ? 0x40000000u : static_cast<unsigned>(n);
        const int w = _write(fd, p, chunk);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Large pages need a privilege that programs seldom hold: plain committed
// memory, whose pages the system supplies as they are touched.
void* allocLarge(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

void freeLarge(void* p, size_t bytes) {
    (void)bytes;
    if (p != nullptr) VirtualFree(p, 0, MEM_RELEASE);
}

void adviseLarge(void*, size_t) {}

}  // namespace plat
