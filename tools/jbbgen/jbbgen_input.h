// The entry file of jbbgen --input: UTF-8 text, one entry a line,
//   ACTION <tab> TYPE <tab> INSERTED <tab> OBJECT-TIME <tab> NAME
// with blank lines and lines beginning with '#' ignored (the --help text
// gives the details).
//
// Lines beginning with '%' carry what those five fields cannot (jbbtool
// dump writes them, so that a dump read back gives the same entries and
// records byte for byte).  HEX is lower- or upper-case hexadecimal digits.
//   %app-area HEX      the journal control area: the first bytes of the
//                      2048-byte area, the rest zero.  At most once, before
//                      the first entry; the options that set fields of the
//                      area (--type, --fs, ...) cannot be given with it.
//   %data-length N     the records' length; only 32 can be made.
//   %key HEX           the next entry's name as UTF-16 code units, 4 digits
//                      a unit: for a name holding a control character (a
//                      tab, a line end) or an unpaired surrogate (or no
//                      character at all).  The entry line's NAME field is
//                      then only shown, not used.
//   %record HEX        the next entry's whole 32-byte record (64 digits),
//                      for records whose last 8 bytes are not zero; the
//                      entry line's first four fields must agree with it.
// A %key or %record line applies to the entry line right after it.
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

// The input file name "-" stands for standard input, which messages call
// "(standard input)"; inputName() gives the name messages use.
constexpr const char* standardInputArg = "-";
std::string inputName(const std::string& path);

// Reads the whole file (standard input for "-", read as bytes) and checks
// every line, and that no name comes twice.  On failure `errors` holds one
// "FILE:LINE: reason" text per bad line (at most `maxErrors`, then a note
// that more were left out), or one text for a file that cannot be read,
// and the result is false.
// What a file gives besides its entries.
struct InputHead {
    bool hasArea = false;
    uint8_t area[2048] = {};  // the journal control area, when hasArea
    bool isDump = false;      // its first line is the one jbbtool dump writes
};

bool readEntryFile(const std::string& path, std::vector<InputEntry>* entries, std::vector<std::string>* errors,
                   size_t maxErrors = 20, InputHead* head = nullptr);

}  // namespace jbbgen
