// Narrow-to-wide conversion of paths and keys at the console boundary,
// and of issued messages for their output functions.
#pragma once

#include <cstddef>

constexpr size_t wideTextUnits = 8960;  // 8959 characters and a terminator

// Converts `src` (text of the current locale) into `dst`, which holds
// wideTextUnits code units; at most 8959 are converted.  An invalid source
// gives the start of "Conversion error - invalid source!".
char16_t* strToWide(char16_t* dst, const char* src);
