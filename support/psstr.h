// Text routines shared by the trace facility and the message repository:
// conversions between narrow (multibyte text of the current locale) and
// wide (UTF-16) text, and copies, comparisons and searches that treat
// multibyte text character by character.
#pragma once

#include <cstddef>

// Most characters one conversion handles, and the wide buffer it needs.
constexpr size_t psMaxConvertChars = 8959;
constexpr size_t psWideBufferUnits = psMaxConvertChars + 1;
// Most bytes that appending wide text to a narrow buffer adds.
constexpr size_t psMaxAppendBytes = 17918;

// Result reported by psStrRChr when the text cannot be converted.
constexpr int psErrConversion = 207;

// Length of the longest prefix of `s` (`len` bytes) of at most `cap`
// bytes that ends on a character boundary of the current locale.
size_t psCharBoundary(const char* s, size_t len, size_t cap);

// Converts `src` into `dst` (room for psMaxConvertChars bytes and a
// terminator).  A character the locale cannot show becomes '?'; a text too
// long is cut at a character boundary.  Returns dst.
char* psWideToNarrow(char* dst, const char16_t* src);
// strcpy, except that a null source copies nothing and yields null.
char* psStrCpy(char* dst, const char* src);
// strncpy.
char* psStrNCpy(char* dst, const char* src, size_t n);
// strcat.
char* psStrCat(char* dst, const char* src);
// Converts `src` (at most psMaxAppendBytes bytes of narrow text, cut at a
// character boundary) and appends it to `dst`.  Returns dst.
char* psStrCatW(char* dst, const char16_t* src);

// -1, 0 or 1 as the texts compare unit by unit.
int psWideCmp(const char16_t* a, const char16_t* b);
// Converts `n` and compares it with `w`: -1, 0 or 1 (a text that cannot be
// converted compares as empty).
int psWideNarrowCmp(const char16_t* w, const char* n);
// Compares after upper-casing each character: 0 when equal, else the sign
// of the first difference; null sorts before any text.
int psStrICmp(const char* a, const char* b);

// strstr; null when either text is null or empty.
const char* psStrStr(const char* text, const char* find);
// First or last occurrence of the character `c`, found character by
// character; null when absent.  psStrRChr sets *rc to psErrConversion
// (else 0) when `text` is not valid multibyte text.
const char* psStrChr(const char* text, char c);
const char* psStrRChr(const char* text, char c, int* rc);
