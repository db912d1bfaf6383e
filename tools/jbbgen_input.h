// The entry file of jbbgen --input: UTF-8 text, one entry a line,
//   ACTION <tab> TYPE <tab> INSERTED <tab> OBJECT-TIME <tab> NAME
// with blank lines and lines beginning with '#' ignored (the --help text
// gives the details).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal.h"

namespace jbbgen {

struct InputEntry {
    std::u16string key;
    journalRec rec;
    uint32_t line;  // line number in the file, from 1
};

// Longest name a datum can hold: 4 bytes of lengths, the key with its
// terminator and the 32-byte record in at most 32767 bytes.
constexpr size_t maxNameUnits = (32767 - 4 - sizeof(journalRec)) / 2 - 1;

// Parses one line (without its line end).  Returns false for a blank or
// comment line, or for a bad one, in which case `why` is set; `why` stays
// empty for a line that is merely skipped.
bool parseEntryLine(const std::string& line, InputEntry* e, std::string* why);

// Reads the whole file and checks every line, and that no name comes
// twice.  On failure `errors` holds one "FILE:LINE: reason" text per bad
// line (at most `maxErrors`, then a note that more were left out), or one
// text for a file that cannot be read, and the result is false.
bool readEntryFile(const std::string& path, std::vector<InputEntry>* entries,
                   std::vector<std::string>* errors, size_t maxErrors = 20);

}  // namespace jbbgen
