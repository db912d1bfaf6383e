// The journal's meaning of a database: the 32-byte data record under each
// key and the journal control area kept in the control record's
// application area, with the names of their values.  The viewer, jbbgen and
// jbbtool all read and write journals through this layout.
//
// DATA RECORD (journalRec), 32 bytes, little-endian:
//
//   OFFSET  SIZE  MEANING
//        0     4  action: what happened to the object (journalAction)
//        4     4  objectType: 1 a file, anything else a directory
//        8     8  insertedTime: when the entry was put into the journal
//       16     8  objectTime: the object's own time stamp
//       24     8  opaque: carried, never shown
//
// JOURNAL CONTROL AREA (journalInfo), the 2048-byte application area at
// offset 36 of the control record:
//
//   OFFSET  SIZE  MEANING
//        0     4  journalType: 0 unformatted, 1 change journal, 2 incremental needed
//        4     4  padding
//        8     8  activationDate
//       16     8  validationDate: meaningful while the state is 2 (valid)
//       24     4  journalState: 2 valid, 1 incremental in progress, else not valid
//       28     4  padding
//       32     8  maxJournalSize: bytes; 0 unlimited
//       40     1  serverNameLength: L, bytes of the server name
//       41   129  serverAndNode: the server (L bytes), the node, a NUL
//      170  1878  fileSystemName: UTF-16LE, ending in a 0 unit where it fits
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
constexpr size_t journalRecSize = 32;
static_assert(sizeof(journalRec) == journalRecSize, "journal record");

// Field offsets of the data record.
namespace journalRecOff {
constexpr size_t action = 0, objectType = 4, insertedTime = 8, objectTime = 16, opaque = 24;
}
static_assert(offsetof(journalRec, action) == journalRecOff::action &&
                  offsetof(journalRec, objectType) == journalRecOff::objectType &&
                  offsetof(journalRec, insertedTime) == journalRecOff::insertedTime &&
                  offsetof(journalRec, objectTime) == journalRecOff::objectTime &&
                  offsetof(journalRec, opaque) == journalRecOff::opaque,
              "journal record field offsets");

constexpr size_t serverNodeBytes = 129;
constexpr size_t fileSystemNameUnits = 939;  // 1878 bytes
constexpr size_t journalInfoSize = 2048;

// The journal control area: the 2048-byte application area of the
// control record.  Packed, since the area lies at offset 36 of the record.
struct __attribute__((packed)) journalInfo {
    uint32_t journalType;  // journalUnformatted, journalChange, journalIncrementalNeeded
    uint8_t padding1[4];
    int64_t activationDate;
    int64_t validationDate;  // meaningful while the state is journalValid
    uint32_t journalState;   // journalValid, journalIncrementalInProgress, else not valid
    uint8_t padding2[4];
    uint64_t maxJournalSize;  // bytes; 0 unlimited
    uint8_t serverNameLength;
    uint8_t serverAndNode[serverNodeBytes];           // server (L bytes), node, NUL
    uint8_t fileSystemName[fileSystemNameUnits * 2];  // UTF-16LE, NUL-terminated
};
static_assert(sizeof(journalInfo) == journalInfoSize, "journal control area");

// Field offsets of the journal control area.
namespace journalInfoOff {
constexpr size_t journalType = 0, activationDate = 8, validationDate = 16, journalState = 24, maxJournalSize = 32,
                 serverNameLength = 40, serverAndNode = 41, fileSystemName = 170;
}
static_assert(offsetof(journalInfo, journalType) == journalInfoOff::journalType &&
                  offsetof(journalInfo, activationDate) == journalInfoOff::activationDate &&
                  offsetof(journalInfo, validationDate) == journalInfoOff::validationDate &&
                  offsetof(journalInfo, journalState) == journalInfoOff::journalState &&
                  offsetof(journalInfo, maxJournalSize) == journalInfoOff::maxJournalSize &&
                  offsetof(journalInfo, serverNameLength) == journalInfoOff::serverNameLength &&
                  offsetof(journalInfo, serverAndNode) == journalInfoOff::serverAndNode &&
                  offsetof(journalInfo, fileSystemName) == journalInfoOff::fileSystemName,
              "journal control area field offsets");

// Journal types.
enum : uint32_t { journalUnformatted = 0, journalChange = 1, journalIncrementalNeeded = 2 };
// Journal states.
enum : uint32_t { journalIncrementalInProgress = 1, journalValid = 2 };
// Object types of a record: 1 a file; any other value is shown as a directory.
enum : uint32_t { objectFile = 1, objectDirectory = 2 };
// Actions of a record.
enum : uint32_t {
    actionRenameOld = 1,
    actionRenameNew = 2,
    actionDelete = 3,
    actionCreate = 4,
    actionChangeAttribute = 5,
    actionModify = 6,
    actionDeleteRestore = 11,
};

// Name of a record's action ("Create", "Rename Old", ...); an unknown one
// is written into `buf` as "Type N".
const char* actionName(uint32_t action, char* buf, size_t bufSize);

// "File" for objectFile, "Directory" for anything else.
const char* objectTypeName(uint32_t objectType);

// The record in `len` bytes of `data`; bytes missing from a short record
// read as zero, bytes beyond 32 are not looked at.
journalRec journalRecFrom(const uint8_t* data, size_t len);
