// The platform layer: the few services that differ between Windows and
// POSIX systems, behind one interface.  Everything above this folder is
// written once for both platforms; only the .cpp files here differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "printf_like.h"

namespace plat {

// Keys and wide texts are UTF-16 code units on every platform.
using wchar16 = char16_t;

// Selects the user's locale for character conversion and console output.
void selectUserLocale();

// Wall-clock milliseconds since the process started (what the run-time's
// clock() gives on Windows).  Never decreases.
long clockMs();

// Size in bytes of the file at `path`; false when it cannot be examined
// (the 64-bit stat of the platform).
bool fileSize(const char* path, int64_t* size);

// Last modification time of the file at `path`, in nanoseconds since the
// epoch (as fine as the platform keeps it); false when it cannot be
// examined.
bool fileModified(const char* path, int64_t* ns);

// True when `path` names an existing directory.
bool isDirectory(const char* path);

// Upper-cases one UTF-16 code unit as the platform's wide upper-casing
// does (CharUpperW on Windows); units without an upper-case form, and
// surrogates, come back unchanged.
wchar16 charUpperW(wchar16 c);

// Converts the narrow text `src` (multibyte text of the current locale) to
// UTF-16 in `dst`, writing at most `maxUnits` code units and no terminator.
// Returns the number of units written, or (size_t)-1 when `src` is not a
// valid multibyte string.  A character that needs two units and does not
// fit whole is not written.
size_t narrowToUtf16(wchar16* dst, const char* src, size_t maxUnits);

// Converts the NUL-terminated UTF-16 text `src` to narrow text of the
// current locale in `dst` (capacity `cap` bytes, terminator included).
// Returns false, with `dst` emptied, when a character cannot be converted
// or the result does not fit.
bool utf16ToNarrow(char* dst, size_t cap, const wchar16* src);

// Text of `units` UTF-16 code units (stopping early at a 0 unit) for the
// console, in the current locale's encoding.  A character the locale
// cannot show, and an unpaired surrogate, becomes '?'; the rest of the
// text is kept.
std::string consoleText(const wchar16* src, size_t units = SIZE_MAX);

// Standard output of the programs.  On a Windows console (standard output
// not redirected) text goes out through the console's wide-character
// output, so that every character of a name shows as it is: narrow text is
// taken in the current locale's code page (the ANSI code page), and names
// from outName() as their UTF-16 units.  Redirected, and on POSIX systems,
// standard output gets exactly the bytes printf would write.

// True when standard output is such a console (never on POSIX systems).
// Decided on first use.
bool stdoutIsWideConsole();

// printf() to standard output, through the console's wide-character output
// where stdoutIsWideConsole().  Pending stdout text goes out first, so the
// order of all writes to standard output is kept.
int outPrintf(const char* fmt, ...) JBB_PRINTF_LIKE(1, 2);

// A name for a %s of outPrintf(): consoleText(src, units), except on a
// wide console, where it carries every UTF-16 unit through to the console
// (an unpaired surrogate still shows as '?').  Only outPrintf() may print
// it: elsewhere its console form is not readable text.
std::string outName(const wchar16* src, size_t units = SIZE_MAX);

// Standard output of a program whose own text is UTF-8 (jbbtool).  On a
// wide console the text is decoded from UTF-8 and written as UTF-16: a
// sequence cut short by the end of one write is completed by the next, a
// byte that starts no valid sequence shows as U+FFFD, and each LF becomes
// CR LF as a text-mode stream writes it.  Elsewhere the bytes go to the
// stdout stream unchanged (buffered, as fwrite writes them).  False when
// the write fails.
bool outWriteUtf8(const char* text, size_t size);
// As outWriteUtf8() for narrow text of the current locale (a program's
// messages, trace lines), decoded whole on a wide console as outPrintf()
// decodes it.
bool outWriteNarrow(const char* text, size_t size);
// printf() of UTF-8 text to standard output, written as outWriteUtf8()
// writes (with vprintf where standard output is no wide console).
int outPrintfUtf8(const char* fmt, ...) JBB_PRINTF_LIKE(1, 2);
// Ends a wide console's pending UTF-8 sequence (as U+FFFD) and flushes
// standard output; false when standard output has failed.
bool outFlush();

// File names and command lines in UTF-8, for a program whose own text is
// UTF-8 (jbbtool).  Windows hands a program its arguments and takes narrow
// file names in the ANSI code page, which cannot name every file; after
// useUtf8FileNames(true) every path this layer opens or examines
// (DbFile::open, openBinary, reopenBinary, openPrivateFile, fileSize,
// fileModified, isDirectory), the directory currentDirectory() gives and
// the command line runCommand() runs are UTF-8, handed to Windows as
// UTF-16.  A program that never calls it (jbbview, jbbgen) keeps the ANSI
// code page.  POSIX systems take the bytes as they are either way.
void useUtf8FileNames(bool on);

// On Windows: replaces argc and argv by the process's wide command line
// (GetCommandLineW, CommandLineToArgvW) converted to UTF-8, and turns on
// useUtf8FileNames().  Elsewhere argv, already the bytes the user gave,
// is left as it is.  False, with nothing changed, when the command line
// cannot be had.
bool useUtf8Arguments(int* argc, char*** argv);

// An argument of the command line as narrow text of the current locale,
// for texts that a program passes on as its own narrow text (message
// inserts): after useUtf8Arguments() on Windows it is converted from UTF-8,
// a character the locale cannot show becoming '?'; otherwise unchanged.
std::string argumentInLocale(const char* arg);

// Length of a NUL-terminated UTF-16 text.
size_t wideLength(const wchar16* s);

// strerror() text of an errno value, the same on every platform for the
// values the engine uses; values the run-time does not know read
// "Unknown error N".
std::string errnoText(int err);

// Ctrl-C handling: while installed, SIGINT/SIGTERM (the console control
// events on Windows) only set a flag that interruptRequested() reports.
void installInterruptHandler();
void removeInterruptHandler();
bool interruptRequested();
// For tests: set or clear the flag as if the event had arrived.
void setInterruptRequested(bool on);

// The run-time's ctime() text of a 64-bit time in local time, for example
// "Wed Jan 02 02:03:55 1980\n" (24 characters and a newline).  Returns
// false for times the Windows run-time cannot convert (before 1970 or past
// 3000-12-31 23:59:59 UTC); both platforms refuse the same range.
bool ctimeText(int64_t t, char out[32]);

// Runs a command line through the system's command interpreter and returns
// the exit status the program passed to exit() (sign-extended from 8 bits
// where the platform keeps only 8), or INT32_MIN when it could not be run.
int runCommand(const std::string& commandLine);

// Process id of the running process.
unsigned long processId();

// True in the Windows build (also when it runs under Wine): its command
// interpreter is cmd.exe, its paths are drive paths, and a newline written
// to a text-mode stream reaches a file as CR LF.
bool isWindows();

// Memory for a large table that is filled as a whole or at random (a
// few MiB and up): where the system offers it (Linux), it is backed by
// huge pages, which makes touching it for the first time far cheaper.
// Null when there is no memory; freeLarge takes the same size.
void* allocLarge(size_t bytes);
void freeLarge(void* p, size_t bytes);
// Asks that the whole huge pages inside the `bytes` at p, memory not
// touched yet that will be read at random, be backed by huge pages where
// the system offers it (Linux): fewer address translations miss.
void adviseLarge(void* p, size_t bytes);

// True when standard error is a terminal (a console on Windows), for
// progress lines that would only clutter a log file.
bool stderrIsTerminal();

// 64-bit positioning of a run-time stream.
bool streamSeek(FILE* f, int64_t pos);
int64_t streamTell(FILE* f);

// Writes `n` bytes at offset `pos` of the file behind `f` in one system
// call where possible, after flushing what `f` holds; the stream's own
// position must be set again (streamSeek) before it is used further.
bool streamWriteAt(FILE* f, int64_t pos, const void* data, size_t n);

// Opens a file in binary mode with a stdio mode ("rb+", "wb+", "rb", ...).
FILE* openBinary(const char* path, const char* mode);
// Reopens `f` on `path` with `mode` (binary), as freopen does.
FILE* reopenBinary(const char* path, const char* mode, FILE* f);
// Puts standard input in binary mode, for a program that reads it as
// bytes: on Windows text mode would turn CR LF into LF and end the input
// at a Ctrl-Z byte.  Elsewhere there is nothing to do.  False when the
// mode cannot be set.
bool stdinBinary();

// The current working directory; false when it cannot be found or does
// not fit in `cap` bytes.
bool currentDirectory(std::string* out, size_t cap);

// True when `name` holds a directory part ('/' anywhere; on Windows also
// '\\' or a drive colon).
bool hasDirectoryPart(const char* name);

// The separator between a directory and a file name ('\\' on Windows).
char pathSeparator();

// Local time of the moment `t` (seconds since the epoch), broken down;
// false when the run-time cannot convert it.
bool localTime(int64_t t, std::tm* out);

// The current moment: seconds since the epoch and the milliseconds of the
// current second.
void wallClockNow(int64_t* seconds, unsigned* millis);

// Opens a file that the process writes for itself (a trace file, a log)
// in binary mode: "r+" opens an existing file for reading and writing,
// "x+" creates a new one (failing with EEXIST when the name is taken),
// "a+" opens it or creates it for reading and appending.  Nothing here
// empties a file: its caller does that once it has found the file to be
// its own (streamTruncate).  Safe where a privileged
// service writes a file that others may name or prepare:
// - a symbolic link as the last component of `path` is refused, not
//   followed (on Windows: any reparse point);
// - a file that is not a regular file (directory, FIFO, device) or that
//   has more than one hard link is refused, and neither read, written nor
//   emptied.  Both are decided from the opened file itself, so nothing can
//   be swapped in between the check and the use;
// - a file created here is readable and writable by its owner only on
//   POSIX systems (mode 0600); on Windows it follows the folder's
//   permissions.
// Null with errno set on failure; for a refusal, `refusal` (when given) is
// set to a short reason ("a symbolic link", ...), otherwise to null.
FILE* openPrivateFile(const char* path, const char* mode, const char** refusal = nullptr);

// Cuts the file behind `f` to `size` bytes, after writing what `f` holds;
// the stream's position must be set again before it is used further.
bool streamTruncate(FILE* f, int64_t size);

// A mutex that the thread holding it may take again (each take needs its
// own release), and that reports when its holder ended without releasing
// it.  Waits never block for longer than asked.
struct Mutex;
enum class MutexWait {
    Taken,      // the caller holds the mutex now
    TimedOut,   // still held elsewhere after the wait
    Abandoned,  // its holder ended while holding it; the caller holds it now
    Failed,     // the wait failed; lastError() says why
};
Mutex* mutexCreate();
MutexWait mutexWait(Mutex* m, unsigned millis);
bool mutexRelease(Mutex* m);  // false when the caller does not hold it
bool mutexClose(Mutex* m);
// The platform's code of the last failure (GetLastError on Windows, errno
// elsewhere).
int lastError();

}  // namespace plat
