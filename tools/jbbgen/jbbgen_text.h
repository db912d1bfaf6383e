// Text helpers of jbbgen: strict UTF-8 decoding, numbers and times as the
// command line and the input file give them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jbbgen {

// Decodes UTF-8 into UTF-16 (characters outside the basic plane become
// surrogate pairs).  Refuses overlong forms, encoded surrogates, code
// points past U+10FFFF and cut-off sequences: returns false with `why`
// saying what and at which byte (counted from 1).
bool utf8ToUtf16(const std::string& in, std::u16string* out, std::string* why);

// Unsigned decimal number without sign or blanks, at most `max`.
bool parseUnsigned(const std::string& s, uint64_t max, uint64_t* out);

// A time as epoch seconds (an optionally signed decimal number) or as
// YYYY-MM-DDTHH:MM:SS in UTC (a blank may stand for the T; a trailing Z is
// allowed).
bool parseTime(const std::string& s, int64_t* out);

// Seconds since 1970-01-01 00:00:00 UTC of a civil date and time (proleptic
// Gregorian calendar).
int64_t utcSeconds(int year, int month, int day, int hour, int minute, int second);

// The time `t` (seconds since 1970) as YYYY-MM-DDTHH:MM:SSZ in UTC, as
// parseTime reads it back.
std::string utcTimeText(int64_t t);

// Lower-cased ASCII letters; blanks and underscores become hyphens
// ("Rename Old" and "rename_old" both give "rename-old").
std::string normalizeWord(const std::string& s);

// A keyword from `names` (compared as normalizeWord gives it), or a
// number up to UINT32_MAX.
bool parseKeywordOrNumber(const std::string& v, const std::vector<std::pair<const char*, uint32_t>>& names,
                          uint32_t* out);

}  // namespace jbbgen
