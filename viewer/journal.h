// The journal meaning of the database: the 32-byte data record under each
// key, the journal control area kept in the control record's application
// area, and the texts the viewer prints from them.
#pragma once

#include <cstddef>
#include <cstdint>

// The data record of one journal entry (little-endian, 32 bytes).
struct __attribute__((packed)) journalRec {
    uint32_t action;       // what happened to the object
    uint32_t objectType;   // 1 a file, anything else a directory
    int64_t insertedTime;  // when the entry was put into the journal
    int64_t objectTime;    // the object's own time stamp
    uint8_t opaque[8];     // carried, never shown
};
static_assert(sizeof(journalRec) == 32, "journal record");

constexpr size_t serverNodeBytes = 129;
constexpr size_t fileSystemNameUnits = 939;  // 1878 bytes

// The journal control area: the 2048-byte application area of the
// control record.  Packed, since the area lies at offset 36 of the record.
struct __attribute__((packed)) journalInfo {
    uint32_t journalType;  // 0 unformatted, 1 change journal, 2 incremental needed
    uint8_t padding1[4];
    int64_t activationDate;
    int64_t validationDate;  // meaningful while the state is 2
    uint32_t journalState;   // 2 valid, 1 incremental in progress, else not valid
    uint8_t padding2[4];
    uint64_t maxJournalSize;  // bytes; 0 unlimited
    uint8_t serverNameLength;
    uint8_t serverAndNode[serverNodeBytes];  // server (L bytes), node, NUL
    uint8_t fileSystemName[fileSystemNameUnits * 2];  // UTF-16LE, NUL-terminated
};
static_assert(sizeof(journalInfo) == 2048, "journal control area");

enum : uint32_t { journalUnformatted = 0, journalChange = 1, journalIncrementalNeeded = 2 };

// Size text of a byte count: "1023 Bytes", "1 KB (1536 Bytes)", ...
char* formatSize(uint64_t n, char* buf, size_t bufSize = 64);
// Text of the time between two readings of the process clock (ms).
char* formatElapsed(char* buf, long start, long end);

// Name of a record's action ("Create", "Rename Old", ...); an unknown one
// is written into `buf` as "Type N".
const char* actionName(uint32_t action, char* buf, size_t bufSize);

// Prints one record as a dashed block.  `data` holds `dataLen` bytes; a
// record shorter than 32 bytes is shown with the missing bytes as zero.
void printJournalRec(const uint8_t* data, size_t dataLen, const char16_t* key);

// Prints the "Journal Database Information" report.  entries 0xFFFFFFFF
// means unknown.
void printJournalInfo(uint8_t versMaj, uint8_t versMin, const journalInfo* info, uint32_t entries,
                      uint16_t keyLen, uint16_t dataLen, const char* dbName, uint64_t fileSize);

// Key length text: "Variable Length" for 0, else the size text of the
// value followed by " Characters".
const char* keyLengthText(unsigned keyLen, char* buf, size_t bufSize);
