// The texts the viewer prints from journal records and the journal
// control area (their layout is in journal.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "journal.h"

// Size text of a byte count: "1023 Bytes", "1 KB (1536 Bytes)", ...
char* formatSize(uint64_t n, char* buf, size_t bufSize = 64);
// Text of the time between two readings of the process clock (ms).
char* formatElapsed(char* buf, long start, long end);

// Prints one record as a dashed block.  `data` holds `dataLen` bytes; a
// record shorter than 32 bytes is shown with the missing bytes as zero.
void printJournalRec(const uint8_t* data, size_t dataLen, const char16_t* key);

// Prints the "Journal Database Information" report.  entries 0xFFFFFFFF
// means unknown.
void printJournalInfo(uint8_t versMaj, uint8_t versMin, const journalInfo* info, uint32_t entries, uint16_t keyLen,
                      uint16_t dataLen, const char* dbName, uint64_t fileSize);

// Key length text: "Variable Length" for 0, else the size text of the
// value followed by " Characters".
const char* keyLengthText(unsigned keyLen, char* buf, size_t bufSize);
