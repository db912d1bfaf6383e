// The database file, byte for byte, and the checks a reader makes before it
// trusts any of it.  Every rule of the file is named here and nowhere else:
// the engine and jbbtool both read through these names and decoders.
//
// A file is a 2088-byte control record followed by node slots from offset
// 2088 on, one behind the other up to the end of the data.  Every slot
// begins with a 24-byte node info block that gives its own length; a slot
// holding a node carries the node's 72-byte header and its datums (key/data
// entries) behind it.  All numbers are little-endian; the structures below
// are the exact images on the little-endian x86-64 targets we build for.
//
// CONTROL RECORD (ctrlRec), 2088 bytes at offset 0:
//
//   OFFSET  SIZE  MEANING
//        0     2  dbMagic: 0xABCD (bytes CD AB)
//        2     1  dbVersMaj: format major version, 2
//        3     1  dbVersMin: format minor version, 2
//        4     4  dbState: 0 closed, 1 opened, 2 corrupt
//        8     4  rootOffset: index-array subscript of the root (not an offset)
//       12     4  indexArraySize: index entries allocated, grown 500 at a time
//       16     4  currentIXCount: next subscript to hand out; 1 .. this - 1 in use
//       20     4  lastIndex: subscript of the node in the last slot
//       24     8  lastNDRec: file offset of the last slot
//       32     2  dbKeyLen: 0, keys of variable length
//       34     2  dbDataLen: bytes of the data record under every key
//       36  2048  appArea: the application's area, carried as it is
//     2084     4  padding
//
// NODE INFO BLOCK (nodeInfo), the first 24 bytes of every slot:
//
//   OFFSET  SIZE  MEANING
//        0     4  nodeMagic: 0xABCD (bytes CD AB 00 00)
//        4     4  nodeSize: bytes of the node image in use, 72 .. maxNodeSize
//        8     8  slotLength: length of the slot, at least 24
//       16     4  state: 0 (slotHoldsNode) or 1 (slotFree)
//       20     4  ixaSubscript: the index-array subscript, 1 .. currentIXCount - 1
//
// NODE HEADER (nodeHeader), the first 72 bytes of a node image:
//
//   OFFSET  SIZE  MEANING
//        0    24  the node info block
//       24     2  count: datums in the node, 0 .. 10
//       26     2  padding
//       28    44  branch[11]: child subscripts; 0 none; branch[0] 0 marks a leaf
//       72     *  the datums, one behind the other, up to nodeSize
//
// DATUM, one key with its data record:
//
//   OFFSET           SIZE       MEANING
//        0           2          nkl: the datum's length; the next one follows it
//        2           2          dataOffset: the record lies at 2 + dataOffset
//        4           *          the key, UTF-16LE units ending in a 0 unit
//   2 + dataOffset   dbDataLen  the data record
//
// A datum is sound when its header and its nkl bytes lie within the node,
// its record lies within its nkl bytes behind the header, and a 0 unit ends
// its key before the record.  Bytes between the key's 0 unit and the record,
// and after the record up to nkl, are read through nkl and dataOffset and
// mean nothing.
//
// A free slot keeps its place and length.  Its info block is either the
// deleted node's own with state 1, or a fresh one whose nodeSize is the low
// 32 bits of the slot's length.
//
// Tree shape: datums ascend in key order within a node; branch[i] leads to
// the keys between datum i - 1 and datum i.  Every node but the root holds
// minDatumsPerNode to maxDatumsPerNode datums after a change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr uint16_t dbMagicNumber = 0xABCD;
constexpr uint32_t nodeMagicNumber = 0xABCD;
// The node magic as it lies in the file, for readers that search for it.
constexpr uint8_t nodeMagicBytes[4] = {0xCD, 0xAB, 0x00, 0x00};
constexpr uint8_t dbVersionMajor = 2;
constexpr uint8_t dbVersionMinor = 2;

constexpr uint32_t ctrlRecSize = 2088;
constexpr uint32_t appAreaSize = 2048;
constexpr uint32_t nodeInfoSize = 24;
constexpr uint32_t nodeHeaderSize = 72;  // diskNodeBaseSize
constexpr int maxDatumsPerNode = 10;     // "# slots per disknode"
constexpr int minDatumsPerNode = 5;      // fewer leaves a non-root node underfull
constexpr int branchesPerNode = 11;
// The engine makes datums of at most 32767 bytes; a datum's length field
// can say up to 65535, and files are read up to that.
constexpr uint32_t maxDatumLength = 32767;
constexpr uint32_t maxStoredDatumLength = 65535;
constexpr uint32_t maxNodeSize = nodeHeaderSize + maxDatumsPerNode * maxStoredDatumLength;
static_assert(maxNodeSize == 655422, "the node size named in fault texts");
constexpr uint64_t newNodeAllocBytes = 25340;  // a node built in memory, allocSize field included
constexpr uint64_t defaultNodeAllocBytes = 101360;
constexpr uint32_t indexArrayGrowth = 500;
// Index entries a control record may reserve beyond what its file could
// hold (16,777,216 entries: touched only as far as subscripts are in use).
constexpr uint64_t maxReservedIndexEntries = 1u << 24;
// Deepest tree a reader follows; a deeper one can only be a damaged file
// (a tree of nodes with at least six branches holds more than 6^40 keys at
// depth 40).
constexpr int maxTreeDepth = 40;

// Database states kept in the control record.
enum : uint32_t { dbClosed = 0, dbOpened = 1, dbCorrupt = 2 };

// Slot states kept in a node info block.
enum : uint32_t { slotHoldsNode = 0, slotFree = 1 };

// Field offsets of the control record.
namespace ctrlOff {
constexpr uint32_t dbMagic = 0, dbVersMaj = 2, dbVersMin = 3, dbState = 4, rootOffset = 8, indexArraySize = 12,
                   currentIXCount = 16, lastIndex = 20, lastNDRec = 24, dbKeyLen = 32, dbDataLen = 34, appArea = 36,
                   padding = 2084;
}
// Field offsets of a node info block and of the rest of the node header.
namespace infoOff {
constexpr uint32_t nodeMagic = 0, nodeSize = 4, slotLength = 8, state = 16, ixaSubscript = 20;
}
namespace nodeOff {
constexpr uint32_t count = 24, padding = 26, branch = 28, datums = 72;
}
// Field offsets of a datum; the record lies at dataBase + dataOffset.
namespace datumOff {
constexpr uint32_t nkl = 0, dataOffset = 2, key = 4, dataBase = 2;
}
constexpr uint32_t datumKeyOffset = datumOff::key;
constexpr uint32_t datumHeaderSize = 4;

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
static_assert(offsetof(ctrlRec, dbMagic) == ctrlOff::dbMagic && offsetof(ctrlRec, dbVersMaj) == ctrlOff::dbVersMaj &&
                  offsetof(ctrlRec, dbVersMin) == ctrlOff::dbVersMin &&
                  offsetof(ctrlRec, dbState) == ctrlOff::dbState &&
                  offsetof(ctrlRec, rootOffset) == ctrlOff::rootOffset &&
                  offsetof(ctrlRec, indexArraySize) == ctrlOff::indexArraySize &&
                  offsetof(ctrlRec, currentIXCount) == ctrlOff::currentIXCount &&
                  offsetof(ctrlRec, lastIndex) == ctrlOff::lastIndex &&
                  offsetof(ctrlRec, lastNDRec) == ctrlOff::lastNDRec &&
                  offsetof(ctrlRec, dbKeyLen) == ctrlOff::dbKeyLen &&
                  offsetof(ctrlRec, dbDataLen) == ctrlOff::dbDataLen &&
                  offsetof(ctrlRec, appArea) == ctrlOff::appArea && offsetof(ctrlRec, padding) == ctrlOff::padding,
              "control record field offsets");

// The first 24 bytes of every slot.
struct nodeInfo {
    uint32_t nodeMagic;
    uint32_t nodeSize;      // bytes of the node image in use
    uint64_t slotLength;    // length of the slot
    uint32_t state;         // slotHoldsNode or slotFree
    uint32_t ixaSubscript;  // index-array subscript
};
static_assert(sizeof(nodeInfo) == nodeInfoSize, "node info block");
static_assert(offsetof(nodeInfo, nodeMagic) == infoOff::nodeMagic &&
                  offsetof(nodeInfo, nodeSize) == infoOff::nodeSize &&
                  offsetof(nodeInfo, slotLength) == infoOff::slotLength &&
                  offsetof(nodeInfo, state) == infoOff::state &&
                  offsetof(nodeInfo, ixaSubscript) == infoOff::ixaSubscript,
              "node info block field offsets");

// The header of the node image `nodeData`; the datums follow it.
struct nodeHeader {
    nodeInfo info;
    uint16_t count;  // datums in the node
    uint16_t padding;
    uint32_t branch[branchesPerNode];
};
static_assert(sizeof(nodeHeader) == nodeHeaderSize, "node header");
static_assert(offsetof(nodeHeader, count) == nodeOff::count && offsetof(nodeHeader, padding) == nodeOff::padding &&
                  offsetof(nodeHeader, branch) == nodeOff::branch && sizeof(nodeHeader) == nodeOff::datums,
              "node header field offsets");

// A node in memory: the capacity of the image buffer, then the image.
struct diskNode {
    uint64_t allocSize;
    nodeHeader nodeData;  // the image as on disk; datums follow the header
};
static_assert(offsetof(diskNode, nodeData) == 8, "diskNode layout");

// ---- Reading fields at any address ----

namespace btformat {

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline bool hasNodeMagic(const uint8_t* p) { return std::memcmp(p, nodeMagicBytes, sizeof nodeMagicBytes) == 0; }

// The fields of the datum that begins at d.
inline uint32_t datumLength(const uint8_t* d) { return load16(d + datumOff::nkl); }
inline uint32_t datumDataStart(const uint8_t* d) { return datumOff::dataBase + load16(d + datumOff::dataOffset); }
inline const uint8_t* datumKey(const uint8_t* d) { return d + datumOff::key; }
inline uint8_t* datumKey(uint8_t* d) { return d + datumOff::key; }
inline const uint8_t* datumData(const uint8_t* d) { return d + datumDataStart(d); }
inline uint8_t* datumData(uint8_t* d) { return d + datumDataStart(d); }
inline void setDatumFields(uint8_t* d, uint16_t nkl, uint16_t dataStart) {
    uint16_t off = (uint16_t)(dataStart - datumOff::dataBase);
    std::memcpy(d + datumOff::nkl, &nkl, sizeof nkl);
    std::memcpy(d + datumOff::dataOffset, &off, sizeof off);
}

// ---- Checking decoders ----

// What a decoder found wrong, or `none`.  Faults for which tolerated() is
// true leave the structure readable: the engine reads through them, and
// jbbtool may report them.  A decoder reports the faults that refuse a
// structure before those that do not.
enum class Fault : uint8_t {
    none = 0,
    // control record
    ctrlShort,           // fewer than 2088 bytes
    ctrlVersion,         // not 2.2
    ctrlDataLength,      // another record length than the reader's
    ctrlMagic,           // dbMagic is not 0xABCD
    ctrlStateCorrupt,    // marked damaged
    ctrlEmptyWithSlots,  // counters of an empty tree, and slots in the file
    ctrlCounters,        // currentIXCount above indexArraySize
    ctrlIndexArraySize,  // more index entries than the file could use
    ctrlStateUnknown,    // tolerated: a state that is none of 0, 1, 2
    ctrlKeyLength,       // tolerated: dbKeyLen is not 0
    ctrlIndexArrayStep,  // tolerated: indexArraySize not a multiple of 500
    // node info block
    infoShort,         // fewer than 24 bytes
    infoMagic,         // nodeMagic is not 0xABCD
    infoSubscript,     // 0, or not below currentIXCount
    infoSlotLength,    // below 24, or past the largest file offset
    infoNodeSize,      // a node below 72 or above maxNodeSize bytes
    infoNodeOverSlot,  // a node longer than its slot
    infoNodePastEnd,   // a node reaching past the end of the file
    infoFreeHeader,    // tolerated: a free slot's node size fits neither way
    infoState,         // tolerated: neither 0 nor 1 (read as a node)
    infoSlotPastEnd,   // tolerated: the slot reaches past the end of the file
    // node image
    nodeSize,         // image below 72 bytes or above maxNodeSize, or not its nodeSize
    nodeCount,        // more than 10 datums
    datumHeader,      // a datum's 4-byte header runs past the node's end
    datumLength,      // a datum's nkl runs past the node's end
    datumDataOffset,  // the record would begin inside the datum's header
    datumRecord,      // the record runs past the datum's nkl
    datumKey,         // no 0 unit ends the key before the record
    nodeTrailing,     // tolerated: bytes after the last datum
};

// A short English text for the fault (lower case, no final stop).
const char* faultText(Fault f);

constexpr bool tolerated(Fault f) {
    return f == Fault::none || f == Fault::ctrlStateUnknown || f == Fault::ctrlKeyLength ||
           f == Fault::ctrlIndexArrayStep || f == Fault::infoFreeHeader || f == Fault::infoState ||
           f == Fault::infoSlotPastEnd || f == Fault::nodeTrailing;
}

// The faults of a control record, in the order above (at most one of each).
struct CtrlFaults {
    Fault list[12];
    size_t n = 0;
    bool has(Fault f) const {
        for (size_t i = 0; i < n; ++i)
            if (list[i] == f) return true;
        return false;
    }
    Fault first() const { return n == 0 ? Fault::none : list[0]; }
    void add(Fault f) { list[n++] = f; }
};

// Checks the control record image `rec` (`len` bytes read from offset 0;
// missing bytes count as 0) of a file of `fileBytes` bytes.  A reader
// that needs records of one length passes it as `dataLen` (-1: any).  The
// counters of an empty tree (both 0) are a fault only when the file holds
// more than the record.  The states opened and closed are no faults.
inline CtrlFaults checkCtrlRec(const uint8_t* rec, size_t len, int64_t fileBytes, int dataLen = -1) {
    ctrlRec c;
    std::memset(&c, 0, sizeof c);
    std::memcpy(&c, rec, len < sizeof c ? len : sizeof c);
    CtrlFaults r;
    if (len < sizeof c) r.add(Fault::ctrlShort);
    if (c.dbVersMaj != dbVersionMajor || c.dbVersMin != dbVersionMinor) r.add(Fault::ctrlVersion);
    if (dataLen >= 0 && c.dbDataLen != (uint32_t)dataLen) r.add(Fault::ctrlDataLength);
    if (c.dbMagic != dbMagicNumber) r.add(Fault::ctrlMagic);
    if (c.dbState == dbCorrupt) r.add(Fault::ctrlStateCorrupt);
    const bool countersEmpty = c.indexArraySize == 0 && c.currentIXCount == 0;
    if (countersEmpty && fileBytes > (int64_t)ctrlRecSize) r.add(Fault::ctrlEmptyWithSlots);
    if (!countersEmpty) {
        // A subscript in use outside the index array would index past it;
        // an array far larger than the file could fill would only waste
        // memory (a writer may reserve entries ahead of its slots).
        if (c.currentIXCount > c.indexArraySize) r.add(Fault::ctrlCounters);
        uint64_t slotsPossible =
            fileBytes > (int64_t)ctrlRecSize ? (uint64_t)(fileBytes - ctrlRecSize) / nodeInfoSize : 0;
        if (c.indexArraySize > slotsPossible + maxReservedIndexEntries) r.add(Fault::ctrlIndexArraySize);
    }
    if (c.dbState != dbClosed && c.dbState != dbOpened && c.dbState != dbCorrupt) r.add(Fault::ctrlStateUnknown);
    if (c.dbKeyLen != 0) r.add(Fault::ctrlKeyLength);
    if (c.indexArraySize % indexArrayGrowth != 0) r.add(Fault::ctrlIndexArrayStep);
    return r;
}

// No bound on subscripts, for readers that do not trust currentIXCount.
constexpr uint64_t anySubscript = UINT64_MAX;

// Decodes the node info block of the slot at file offset `offset` from the
// `len` bytes at p, in a file of `fileBytes` bytes whose subscripts must lie
// below `subscriptLimit`.  The block goes to *out when at least 24 bytes are
// given.  The first fault, refusing ones first.  `checkMagic` false reads a
// block whatever its magic (to tell a destroyed magic from no slot at all).
inline Fault decodeNodeInfo(const uint8_t* p, size_t len, int64_t offset, int64_t fileBytes, uint64_t subscriptLimit,
                            nodeInfo* out, bool checkMagic = true) {
    if (len < nodeInfoSize) return Fault::infoShort;
    nodeInfo in;
    std::memcpy(&in, p, sizeof in);
    *out = in;
    if (checkMagic && in.nodeMagic != nodeMagicNumber) return Fault::infoMagic;
    if (in.ixaSubscript == 0 || in.ixaSubscript >= subscriptLimit) return Fault::infoSubscript;
    if (in.slotLength < nodeInfoSize || in.slotLength > (uint64_t)INT64_MAX - (uint64_t)offset)
        return Fault::infoSlotLength;
    const uint64_t rest = (uint64_t)(fileBytes - offset);
    const bool isFree = in.state == slotFree;
    if (!isFree) {
        if (in.nodeSize < nodeHeaderSize || in.nodeSize > maxNodeSize) return Fault::infoNodeSize;
        if (in.nodeSize > in.slotLength) return Fault::infoNodeOverSlot;
        if (in.nodeSize > rest) return Fault::infoNodePastEnd;
    } else if (in.nodeSize != (uint32_t)in.slotLength &&
               (in.nodeSize < nodeHeaderSize || in.nodeSize > in.slotLength)) {
        return Fault::infoFreeHeader;
    }
    if (in.state != slotHoldsNode && !isFree) return Fault::infoState;
    if (in.slotLength > rest) return Fault::infoSlotPastEnd;
    return Fault::none;
}

// What a node decoder hands on for each sound datum.
struct DatumFacts {
    uint32_t offset;    // of the datum within the node image
    uint32_t length;    // nkl
    uint32_t keyUnits;  // units before the key's 0 unit (see KeyScan)
    uint32_t dataPos;   // of the data record within the node image
};

// Key scanners for decodeNode: `scan(key, room)` gives the number of units
// before the first 0 unit among the `room` units at key (any address), or
// `room` when there is none.
struct FindKeyEnd {
    size_t operator()(const uint8_t* key, size_t room) const {
        for (size_t i = 0; i < room; ++i)
            if (load16(key + 2 * i) == 0) return i;
        return room;
    }
};
// For readers that only need to know that the key ends: a 0 unit right
// before the record ends it at the latest there (0 is then given, not the
// key's length).
struct KeyEnds {
    size_t operator()(const uint8_t* key, size_t room) const {
        if (room > 0 && load16(key + 2 * (room - 1)) == 0) return 0;
        return FindKeyEnd()(key, room);
    }
};

struct NodeCheck {
    Fault fault = Fault::none;
    uint32_t datum = 0;   // the datum at fault (datum faults)
    uint32_t offset = 0;  // where that datum begins, or where the datums end (nodeTrailing)
};

// Decodes the node image of `len` bytes at `image` (its nodeSize field must
// say `len`) whose datums carry `dataLen`-byte records: the header, the
// datum count and every datum up to the first fault, handing each sound
// datum's facts to `onDatum` in order.  With more than 10 datums it decodes
// the first 10.  Never reads outside the image and never allocates.
template <class OnDatum, class KeyScan = FindKeyEnd>
inline NodeCheck decodeNode(const uint8_t* image, size_t len, uint32_t dataLen, OnDatum&& onDatum,
                            KeyScan scan = KeyScan()) {
    NodeCheck r;
    if (len < nodeHeaderSize || len > maxNodeSize || load32(image + infoOff::nodeSize) != len) {
        r.fault = Fault::nodeSize;
        return r;
    }
    const uint32_t size = (uint32_t)len;
    uint32_t count = load16(image + nodeOff::count);
    const bool tooMany = count > (uint32_t)maxDatumsPerNode;
    if (tooMany) count = maxDatumsPerNode;
    uint32_t off = nodeOff::datums;
    for (uint32_t i = 0; i < count; ++i) {
        r.datum = i;
        r.offset = off;
        if (off + datumHeaderSize > size) {
            r.fault = Fault::datumHeader;
            return r;
        }
        const uint8_t* d = image + off;
        const uint32_t nkl = datumLength(d);
        const uint32_t dataStart = datumDataStart(d);
        if (off + nkl > size) {
            r.fault = Fault::datumLength;
            return r;
        }
        if (dataStart < datumKeyOffset + 2) {
            r.fault = Fault::datumDataOffset;
            return r;
        }
        if (dataStart + dataLen > nkl) {
            r.fault = Fault::datumRecord;
            return r;
        }
        const size_t room = (dataStart - datumKeyOffset) / 2;
        const size_t units = scan(d + datumKeyOffset, room);
        if (units >= room) {
            r.fault = Fault::datumKey;
            return r;
        }
        onDatum(DatumFacts{off, nkl, (uint32_t)units, off + dataStart});
        off += nkl;
    }
    r.datum = count;
    r.offset = off;
    if (tooMany)
        r.fault = Fault::nodeCount;
    else if (off != size)
        r.fault = Fault::nodeTrailing;
    return r;
}

}  // namespace btformat
