// Text of keys and values for jbbtool's output: UTF-8 whatever the locale,
// JSON strings, hexadecimal bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jbbtool {

// The key as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const std::u16string& key);

// A JSON string literal (quotes included) of UTF-8 text / of a key.  An
// unpaired surrogate of a key is written as its \uXXXX escape, so no unit
// is lost.
std::string jsonString(const std::string& utf8);
std::string jsonString(const std::u16string& key);

// Lower-case hexadecimal digits of n bytes.
std::string hexBytes(const uint8_t* p, size_t n);

// YYYY-MM-DDTHH:MM:SSZ for times from 1970 to 9999, else the decimal
// number of seconds.
std::string utcText(int64_t t);

// utcText appended to `out`, for writers of many times.  The date is
// worked out anew each time: that costs less than a table of dates once
// the times spread over years.
void appendUtcText(std::string& out, int64_t t);

// The most bytes utcText gives: a date and time, or a decimal int64_t.
constexpr size_t kUtcTextMax = 20;
// utcText written at `out`, which has room for kUtcTextMax bytes; returns
// the end of what it wrote.  For writers that lay out a line in place.
char* putUtcText(char* out, int64_t t);

}  // namespace jbbtool
