// Conversion of narrow text between two single-byte code pages (for
// example the repository's 850 and the console's 1252), the same on every
// platform: through the platform's code-page services on Windows and the
// C library's iconv elsewhere, without best-fit substitutes.
#pragma once

#include <cstddef>

namespace plat {

// Converts the NUL-terminated `text` in place from code page `from` to
// code page `to`, writing at most as many bytes as it had.  A character
// that the target page lacks becomes '?'.  False, with the text
// unchanged, when either code page is unknown to the platform.
bool convertCodePage(char* text, unsigned from, unsigned to);

}  // namespace plat
