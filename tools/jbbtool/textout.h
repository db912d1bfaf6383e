// Text of keys and values for jbbtool's output: UTF-8 whatever the locale,
// JSON strings, hexadecimal bytes, and the one way each report (text, JSON,
// HTML) shows a magic number, a coded value and a count.
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

// Bytes that should be text (a name from a control area) as a JSON string:
// well-formed UTF-8 as it stands, every other byte as its \u00XX escape,
// so that what is made of a damaged area is UTF-8 as well.
std::string jsonBytes(const std::string& bytes);

// Lower-case hexadecimal digits of n bytes.
std::string hexBytes(const uint8_t* p, size_t n);

// YYYY-MM-DDTHH:MM:SSZ for times from year 0000 to 9999 (before 1970
// too), else the decimal number of seconds.
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

// A magic number as every report shows it: "0x" and four upper-case hex digits.
std::string magicText(uint16_t magic);

// The name of a control record's state (dbClosed, dbOpened, dbCorrupt),
// null for any other value.
const char* stateWord(uint32_t state);
// The word of a record's action as the dump writes it ("create", ...),
// null for an unknown action.
const char* actionText(uint32_t action);
// The word of a record's object type as the dump writes it ("file",
// "directory"), null for any other value.
const char* objectTypeWord(uint32_t type);

// A coded value in text and HTML: "NAME (CODE)", or "CODE" alone when the
// code has no name.  JSON gives the code as a number and the name beside
// it (jsonName: the string, or null).
std::string codeText(const char* name, uint64_t code);
std::string jsonName(const char* name);

// "1 finding", "2 findings": a count with its noun in the right number.
std::string countText(uint64_t n, const char* one, const char* many);

}  // namespace jbbtool
