// The database file, byte for byte.  A file is a 2088-byte control record
// followed by node slots from offset 2088 on; every slot begins with a
// 24-byte node info block that gives its own length, and a slot holding a
// node carries the node's 72-byte header and its datums (key/data entries).
// All numbers are little-endian; the structures below are the exact images
// on the little-endian x86-64 targets we build for.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t dbMagicNumber = 0xABCD;
constexpr uint32_t nodeMagicNumber = 0xABCD;
constexpr uint8_t dbVersionMajor = 2;
constexpr uint8_t dbVersionMinor = 2;

constexpr uint32_t ctrlRecSize = 2088;
constexpr uint32_t appAreaSize = 2048;
constexpr uint32_t nodeInfoSize = 24;
constexpr uint32_t nodeHeaderSize = 72;        // diskNodeBaseSize
constexpr int maxDatumsPerNode = 10;           // "# slots per disknode"
constexpr int branchesPerNode = 11;
// The engine makes datums of at most 32767 bytes; a datum's length field
// can say up to 65535, and files are read up to that.
constexpr uint32_t maxDatumLength = 32767;
constexpr uint32_t maxStoredDatumLength = 65535;
constexpr uint32_t maxNodeSize = nodeHeaderSize + maxDatumsPerNode * maxStoredDatumLength;
constexpr uint64_t newNodeAllocBytes = 25340;  // a node built in memory, allocSize field included
constexpr uint64_t defaultNodeAllocBytes = 101360;
constexpr uint32_t indexArrayGrowth = 500;

// Database states kept in the control record.
enum : uint32_t { dbClosed = 0, dbOpened = 1, dbCorrupt = 2 };

struct ctrlRec {
    uint16_t dbMagic;
    uint8_t dbVersMaj;
    uint8_t dbVersMin;
    uint32_t dbState;
    uint32_t rootOffset;      // index-array subscript of the root
    uint32_t indexArraySize;  // entries allocated in the index array
    uint32_t currentIXCount;  // next subscript to hand out
    uint32_t lastIndex;       // subscript of the node in the last slot
    int64_t lastNDRec;        // file offset of the last slot
    uint16_t dbKeyLen;        // 0: variable-length keys
    uint16_t dbDataLen;       // bytes of the data record under every key
    uint8_t appArea[appAreaSize];
    uint8_t padding[4];
};
static_assert(sizeof(ctrlRec) == ctrlRecSize, "control record image");
static_assert(offsetof(ctrlRec, lastNDRec) == 24 && offsetof(ctrlRec, dbKeyLen) == 32 &&
                  offsetof(ctrlRec, appArea) == 36,
              "control record field offsets");

// The first 24 bytes of every slot.
struct nodeInfo {
    uint32_t nodeMagic;
    uint32_t nodeSize;      // bytes of the node image in use
    uint64_t slotLength;    // length of the slot
    uint32_t state;         // 0 holds a node, 1 free
    uint32_t ixaSubscript;  // index-array subscript
};
static_assert(sizeof(nodeInfo) == nodeInfoSize, "node info block");

// The header of the node image `nodeData`; the datums follow it.
struct nodeHeader {
    nodeInfo info;
    uint16_t count;  // datums in the node
    uint16_t padding;
    uint32_t branch[branchesPerNode];
};
static_assert(sizeof(nodeHeader) == nodeHeaderSize, "node header");

// A node in memory: the capacity of the image buffer, then the image.
struct diskNode {
    uint64_t allocSize;
    nodeHeader nodeData;  // the image as on disk; datums follow the header
};
static_assert(offsetof(diskNode, nodeData) == 8, "diskNode layout");

// A datum: u16 nkl (total length), u16 dataOffset (data at datum offset
// 2 + dataOffset), then the NUL-terminated UTF-16LE key at datum offset 4.
constexpr uint32_t datumKeyOffset = 4;
