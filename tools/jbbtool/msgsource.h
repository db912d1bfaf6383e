// Message sources: the text form of a message repository that
// `jbbtool msgc` compiles and `jbbtool msgc --list` writes back.
//
// A source is a text file of lines.  Blank lines and lines whose first
// non-blank character is '#' are ignored.  Every other line is one message:
//
//     NUMBER SEVERITY [response "RESPONSE"] "TEXT"
//
//   NUMBER     1 to 65535, each number once
//   SEVERITY   a letter of ZTRKIWESL (codes 0 to 8), or a code 0 to 15;
//              K I W E S (3 to 7) and 9 to 15 put the identifier (QLX0106E)
//              in front
//   RESPONSE   1 to 7 bytes
//   TEXT       at most 25600 bytes once compiled
//
// Quoted texts take the escapes \n \t \r \\ \" and \xHH (two hex digits,
// not 00); any other byte stands for itself, so a source in UTF-8 gives
// UTF-8 texts.  Tokens are separated by blanks; nothing may follow the
// text.
//
// A text is compiled to the printf form, unless it holds positional
// conversions (%2$s, %1$d, %1$ls, %3$lld, stars as *N$): then every
// conversion must be positional and the text becomes the ordered-insert
// form.  There, N counts the caller's arguments one by one: a star's
// argument comes just before the value it belongs to (%3$*1$.*2$d), every
// argument is used exactly once, and each insert is a text (s, ls), a
// 32-bit integer or character (d i o u x X c lc, also with h or hh) or a
// 64-bit integer (d i o u x X with ll or I64); at most 10 inserts, each
// specification (without its positions) at most 8 characters.  In either
// form %% is a percent sign; %n, %p and conversions that are not printf
// conversions are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jbbtool {

struct SourceMessage {
    uint32_t number = 0;
    uint8_t severity = 0;
    std::string response;
    std::string text;  // as compiled: form byte first
    int line = 0;      // in the source
};

// Reads a source; false with "FILE:LINE: reason" in *error at the first
// fault.
bool parseSource(const std::string& source, const std::string& fileName, std::vector<SourceMessage>* messages,
                 std::string* error);

// The repository file of `messages` (sorted by number on return); false
// with "FILE:LINE: reason" when they do not fit in one.
bool buildRepository(std::vector<SourceMessage>* messages, const std::string& fileName, std::string* file,
                     std::string* error);

// One message read back from a repository file: number, severity (of the
// last segment), response (of the last segment with one) and raw text.
struct ListedMessage {
    uint32_t number = 0;
    uint8_t severity = 0;
    std::string response;
    std::string text;
    int segments = 0;
    bool mixedSeverities = false;  // its segments differ in severity (a source cannot say so)
    // Where it lies: its index entry ends at indexEnd; its record takes the
    // bytes from recordStart to recordEnd.
    uint64_t indexEnd = 0, recordStart = 0, recordEnd = 0;
};

// Reads every message of a repository image.  The index has no count: it
// is read entry by entry, n = 1, 2, ..., while entry n lies wholly before
// the lowest record that the entries read so far name, and within the
// file.  Messages whose record cannot be read are left out, each with a
// line in *problems.  *named (may be null) gets the number of entries that
// name a record.
std::vector<ListedMessage> readRepository(const std::string& file, std::vector<std::string>* problems,
                                          int* named = nullptr);

// The source line of a message (with its newline); false with a reason
// when its text cannot be written as source.
bool sourceLine(const ListedMessage& m, std::string* line, std::string* why);

}  // namespace jbbtool
