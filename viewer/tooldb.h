// The viewer's database object: the engine's handle with a per-entry
// callback that counts entries, or prints them during a listing.
#pragma once

#include <cstdint>

#include "jbbtreev.h"
#include "journal_report.h"

class toolDB : public bTree {
public:
    toolDB(uint16_t dataSize, uint16_t keyLen) : bTree(dataSize, keyLen) {}
    int visitEntry(const char16_t* key, const uint8_t* data) override;
    ~toolDB() override = default;

    // Points journalInfoP at the journal control area of the open
    // database's in-memory control record.
    void attachJournalInfo();
    uint16_t recordLength() const { return dataSize; }

    journalInfo* journalInfoP = nullptr;
    uint32_t entryCount = 0;
};

// Whether the counting walk's progress label is still to be printed.
extern bool progressLabelPending;
