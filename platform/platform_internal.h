// Pieces shared by the platform implementations (platform_common.cpp,
// platform_posix.cpp, platform_win32.cpp); not for use outside platform/.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform.h"

namespace plat {
namespace detail {

// Latest time, in seconds since the epoch, that ctimeText converts
// (3000-12-31 23:59:59 UTC, the Windows run-time's limit).
constexpr int64_t kLastCtimeSecond = 32535215999LL;

// Room for the multibyte form of one character in any locale.
constexpr size_t kMaxCharBytes = 16;

// Set by the interrupt handlers, read by interruptRequested().
extern volatile std::sig_atomic_t interruptFlag;

// Writes the 24-character ctime text of a broken-down time and a newline:
// "Wed Jan 02 02:03:55 1980\n".  The day of the month is zero-filled, as
// the Windows run-time writes it, so that both platforms print the same.
bool formatCtime(const std::tm& tm, char out[32]);

// Encodes one character, given as `count` UTF-16 units (1, or 2 for a
// valid surrogate pair), in the current locale's multibyte encoding.
// Writes at most kMaxCharBytes bytes to `out` and returns how many, or 0
// when the locale has no form for the character.  Platform-specific.
size_t encodeChar(const wchar16* units, size_t count, char* out);

// The text of an errno value that errnoText's own table does not hold:
// the C library's on POSIX systems (its texts are the table's), and
// "Unknown error N" on Windows, as the table's GNU texts would read.
std::string unlistedErrnoText(int err);

// Number of UTF-16 units of the character at src[i] (i < units,
// src[i] != 0): 2 for a surrogate pair, 1 for any other character, 0 for
// an unpaired surrogate.
size_t charUnits(const wchar16* src, size_t i, size_t units);

// The console form of a name that outName() gives on a wide console:
// kNameStart, the byte count of the name's UTF-8 text in decimal,
// kNameEnd, then that text.  Windows file names and the programs' own
// texts hold neither control byte, and the count makes the name's own
// characters safe; a byte sequence that is not a whole such form is
// ordinary text.
constexpr char kNameStart = '\x0E';
constexpr char kNameEnd = '\x0F';
std::string markedName(const wchar16* src, size_t units);

// The UTF-16 units a wide console shows for `size` bytes of outPrintf()
// text: narrow text converted from the current locale (a piece that does
// not convert shows U+FFFD for each of its bytes), marked names decoded,
// and each LF preceded by a CR as a text-mode stream writes it.
std::u16string consoleUnits(const char* text, size_t size);

// Decodes `size` bytes of UTF-8 text to UTF-16 units; a byte that starts
// no valid sequence becomes U+FFFD.  Unless `final`, a sequence that the
// end of the text cuts short is left undecoded.  Returns the number of
// bytes decoded: `size`, or fewer by the bytes of that sequence.
size_t decodeUtf8(const char* text, size_t size, bool final, std::u16string* out);

// UTF-8 text written in pieces, as the units a wide console shows: each
// piece decoded after the bytes held back from the one before, a sequence
// cut short by its end held back in turn, each LF preceded by a CR.  The
// units of a text are the same however it is cut into pieces.
class Utf8Stream {
public:
    std::u16string units(const char* text, size_t size);
    // The bytes still held back, each as U+FFFD (the end of the output).
    std::u16string finish();

private:
    std::string held_;
};

// Set by useUtf8FileNames() and useUtf8Arguments().
extern bool utf8FileNames;
extern bool utf8Arguments;

// Windows only: the UTF-16 form of a UTF-8 path (empty for an empty or
// overlong one).
std::wstring widePath(const char* path);

// fopen(path, mode), or freopen(path, mode, f) when f is not null, with a
// UTF-8 path when utf8FileNames.  Platform-specific.
FILE* openStream(const char* path, const char* mode, FILE* f);

// Writes UTF-16 units to the console that is standard output, after the
// run-time's pending stdout text.  Platform-specific; only called where
// stdoutIsWideConsole().
bool writeConsoleUnits(const std::u16string& units);

}  // namespace detail
}  // namespace plat
