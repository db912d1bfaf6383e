// File-name and format helpers of the trace facility: qualifying a file
// name, taking a possibly quoted token from a text, and formatting a wide
// (UTF-16) printf format.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Longest name (also after qualification) a trace file may have.
constexpr size_t pkMaxNameChars = 8192;
// Longest token psQuotedToken takes, and its results.
constexpr size_t pkMaxTokenBytes = 8447;
constexpr int pkErrQuote = 177;    // a quote left open or followed by something else
constexpr int pkErrTooLong = 937;  // token longer than pkMaxTokenBytes

// A name with a directory part is used as it is: `out` is emptied and 0
// returned.  Otherwise `out` is the current directory, the platform's
// separator and the name without its leading blanks; -1 when the current
// directory cannot be found or is longer than pkMaxNameChars.
int pkQualifyFileName(const char* name, std::string* out);

// Takes the next token from *pos, skipping blanks first.  A token that
// begins with ' or " runs to the same quote, which must be followed by a
// blank or the end; it is returned without its quotes.  Otherwise the
// token ends at a blank; within it a quote right after '=' opens a quoted
// part kept with its quotes.  Returns 0 and advances *pos past the token
// and the character that ended it, or pkErrQuote / pkErrTooLong with `out`
// empty and *pos unchanged.
int pkQuotedToken(const char** pos, std::string* out);

// vsnprintf for a UTF-16 format: %s takes a UTF-16 text (const char16_t*)
// and %c a UTF-16 unit (passed as int), whatever length modifier they
// carry; every other conversion is the run-time's.  %n writes nothing.
// Writes at most cap - 1 units and a terminator (cap > 0); returns the
// units written.
size_t pkWideVFormat(char16_t* out, size_t cap, const char16_t* fmt, va_list ap);
