// A journal's header as people read it: the journal control area decoded
// into its texts, and the fields of the control record and of the area
// that no sound journal holds, each with the reason.  `info` marks those
// fields; `rebuild` keeps the area's plausible fields and makes up the
// others.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format.h"
#include "journal.h"

namespace jbbtool {

// The journal control area with its names and file system decoded.
struct JournalArea {
    journalInfo raw;
    std::string server;           // the first L bytes, up to the NUL
    std::string node;             // the bytes after them, up to the NUL
    bool nodeEnded = true;        // a NUL ends the node name within its bytes
    size_t nulAt = 0;             // where the first NUL of server and node lies
    std::u16string fileSystem;    // up to its 0 unit
    bool fileSystemEnded = true;  // a 0 unit ends it within the area
};
JournalArea decodeJournalArea(const uint8_t* area);  // 2048 bytes

// The names of a journal type ("unformatted", "change", "incremental", the
// words jbbgen --type takes), null for an unknown type; of a journal state
// ("valid", "in-progress", and "not-valid" for any other value).
const char* journalTypeWord(uint32_t type);
const char* journalStateWord(uint32_t state);

// A field that is not plausible: its name (the JSON member that holds it)
// and why.
struct Implausible {
    std::string field;
    std::string why;
};

// The control record's implausible fields, judged against a file of
// `fileSize` bytes from the record alone (no slot is read).
std::vector<Implausible> implausibleCtrlFields(const ctrlRec& c, int64_t fileSize);

// The journal control area's implausible fields.
std::vector<Implausible> implausibleAreaFields(const JournalArea& a);

// A time a journal's dates may hold: from 1980 to the end of 2099.
bool plausibleJournalTime(int64_t t);

}  // namespace jbbtool
