// The B-tree engine: `bTree` is the handle of one database file, a B-tree
// of variable-length UTF-16 keys with fixed-length data records.  It owns
// the file stream, the in-memory control record, the index array of node
// subscripts, the list of nodes in memory and the list of free slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "dbfile.h"
#include "format.h"
#include "readbuffer.h"

// Results of engine operations and values of dbErrno.  dbErrno also carries
// the run-time's errno after a failed stream call.
enum : int {
    btErrNoMemoryErrno = 12,  // ENOMEM: an allocation failed
    btErrShortTransfer = 13,  // a transfer failed without an errno of its own
    btErrInvalid = 22,        // EINVAL: invalid request or subscript
    btErrNoMemory = 102,
    btErrNotFound = 104,
    btErrNullBranch = 109,
    btErrReadCtrlRec = 152,
    btErrWalkFetch = 164,
    btErrWrite = 165,
    btErrFormatChanged = 224,
    btErrBadCtrlRec = 227,
    btErrCorrupt = 228,
    btErrNotClosed = 229,
    btErrOpen = 942,
};

// States of an index-array entry (the node cache's states).
enum : uint32_t {
    newIX = 0,      // handed out, no slot yet
    available = 1,  // names a free slot
    empty = 2,      // on disk, not in memory
    occupied = 3,   // in memory, held, disk copy current
    clean = 4,      // in memory, not held, disk copy current
    modified = 5,   // in memory, not held, must be written
    modhold = 6,    // in memory, held, must be written
};

struct indexNode {
    int64_t nodePos;      // file offset of the slot; 0 = no slot yet
    uint64_t nodeSize;    // bytes of the node in use
    uint64_t slotLength;  // length of the slot
    uint32_t state;
    diskNode* node;  // the buffer while the node is in memory
};
static_assert(offsetof(indexNode, nodeSize) == 8 && offsetof(indexNode, slotLength) == 16 &&
                  offsetof(indexNode, state) == 24 && offsetof(indexNode, node) == 32,
              "indexNode: nodePos, nodeSize, slotLength, state, node");

// A cell of a subscript list (nodes in memory, free slots).
struct listCell {
    listCell* next;
    uint32_t loc;
};

// The value that node-returning operations give on failure.
inline diskNode* failedNode() { return reinterpret_cast<diskNode*>(~uintptr_t{0}); }

// Reads the control record of a file without opening the database.
// `name` is the full wide file name, `buffer` 2088 bytes.  0 when the record
// is acceptable (any state but corrupt), else -1, 104, 942, 152, 227, 228
// or 224.
int btDbReadCtrlRec(const char16_t* name, void* buffer);

// Name of an index-array entry state.
const char* mapNodeStateStr(int state);

class bTree {
public:
    bTree(uint16_t dataSize, uint16_t keyLen);
    // Per-entry callback of WalkTree: key and data of one datum, valid during
    // the call.  Nonzero stops the walk.
    virtual int visitEntry(const char16_t* key, const uint8_t* data);
    virtual ~bTree();

    bTree(const bTree&) = delete;
    bTree& operator=(const bTree&) = delete;

    int openBtDb(const char* name, int createFromScratch);
    void closeBtDb(int* rcOut, int noFlush);
    int makeEmpty();

    // Copy of the data stored under `target` (in a buffer of the handle
    // that the next search overwrites), or null.
    uint8_t* Search(const char16_t* target);
    int WalkTree();

    // Removes the entry stored under `target`: 0 deleted, 1 not found
    // (dbErrno 0), -1 failure (dbErrno set).
    int Delete(const char16_t* target);
    // Adds an entry, or replaces the data of an existing key; `data` holds
    // the handle's data size.  0 added, 1 replaced, -1 failure (dbErrno set).
    int Insert(const char16_t* key, const uint8_t* data);

    int dbGetLastError();
    void SetDbErrno(int code);
    int64_t dbSize();
    int WriteCtrlRec();

    // When set, openBtDb only opens an existing, usable database: it
    // neither creates a missing file nor resets one of another format, and
    // fails instead (942 with dbErrno 2 for a missing file, 224 for a format
    // change).  For readers that must never alter a journal they inspect.
    void setOpenExistingOnly(bool on) { openExistingOnly = on; }

    const ctrlRec& controlRecord() const { return cr; }
    // Nodes read from the file since the handle was made (by a fetch or
    // ahead of a walk).
    uint64_t nodesRead() const { return nodeReads; }
    // Nodes in memory now: those on the active list, and those a walk in
    // progress has read ahead and not yet fetched.
    size_t nodesInMemory() const;
    size_t nodesReadAhead() const { return readAheadBuf.nodes(); }
    // Batches of reads ahead that a walk began and went on without waiting
    // for (read on the second thread meanwhile, where there is one), since
    // the handle was made.
    uint64_t batchesBegunAhead() const { return aheadBegun; }

protected:
    // Node cache.
    diskNode* fetchPage(int loc);
    int writePage(diskNode** pp);
    int purgecache();
    int FlushMemNodes();
    void ExitCleanup();
    void prefetchChildren(const diskNode* p);
    void prefetchNext(uint32_t loc);
    void collectMissing(const diskNode* parent, uint32_t* locs, size_t* n, uint64_t* bytes);
    template <class F>
    void forEachChildAtHand(const diskNode* p, F&& f);
    // Reads ahead the nodes `locs` (n of them): at once, or begun on the
    // second thread and finished when a node of them is wanted, another
    // batch begins, or the walk ends (dropReadAhead, which also empties
    // the buffer).
    void readAhead(const uint32_t* locs, size_t n);
    void beginReadAhead(const uint32_t* locs, size_t n);
    void finishReadAhead();
    void dropReadAhead();
    diskNode* readNode(int loc, indexNode* e);

    // Index array and disk space.
    uint32_t addIndexEntry();
    void addIndex(listCell** list, uint32_t loc);
    void delIndex(listCell** list, uint32_t loc);
    uint32_t findFit(diskNode* p);
    int RealWrite(indexNode* ixP);
    int RealWriteEx(plat::DbFile* stream, const void* buf, uint64_t bytes, int64_t diskLoc);
    int deleteNode(diskNode** pp);
    diskNode* dbCalloc(const char* file, int line, uint64_t size);
    void dbFree(const char* file, int line, diskNode* p);

    // Datum operations on a node's buffer.
    int InsertDatum(diskNode** pp, int k, const uint8_t* d);
    void RemoveDatum(diskNode** pp, int k);
    int extendNode(diskNode** pp);

    // Delete and rebalancing.
    int RecDelete(const char16_t* target, diskNode** pp);
    void Remove(diskNode* p, int k);
    int Successor(diskNode** pp, int k);
    int Restore(diskNode** pp, int j);
    int MoveRight(diskNode** pp, int j, diskNode** plt, diskNode** prt);
    int MoveLeft(diskNode** pp, int j, diskNode** plt, diskNode** prt);
    int Combine(diskNode** pp, int j, diskNode** plt, diskNode** prt);

    // Search and walk.
    int SearchNode(const char16_t* target, diskNode* p, int* k);
    diskNode* Search(const char16_t* target, diskNode* p, int* targetPos, int depth);
    int walkTree(diskNode* p, int depth);

    // Helpers.
    bool nodeIsSound(const diskNode* p, uint32_t expectedSize) const;
    void freeList(listCell** list);
    void dropCachedNodes();
    void releaseOpenResources();
    int streamErrno() const;

    diskNode* rootP = nullptr;
    indexNode* indexArray = nullptr;
    listCell* actList = nullptr;
    listCell* avlList = nullptr;
    // Cells that delIndex took off a list, kept for the next addIndex: a
    // walk lists and unlists a node at every fetch.  At most spareCellsKept.
    listCell* spareCells = nullptr;
    size_t spareCellCount = 0;
    static constexpr size_t spareCellsKept = 64;
    int64_t newNDLast = 0;
    plat::DbFile* dbHandle = nullptr;  // the open database file
    uint16_t dataSize;
    uint64_t defaultAllocSize = defaultNodeAllocBytes;
    uint64_t diskNodeBaseSize = nodeHeaderSize;
    uint32_t walkActive = 0;
    int dbErrno = 0;
    ctrlRec cr;
    char* dbFileName = nullptr;
    uint8_t* dataBuf = nullptr;

private:
    bool openExistingOnly = false;
    // Aligned copy of the key handed to visitEntry (keys inside a node may
    // lie at odd offsets).
    char16_t* keyScratch = nullptr;
    // Subscripts on the path from the root to the node being walked or
    // searched, to refuse a branch that leads back to an ancestor.
    uint32_t pathLocs[maxTreeDepth + 1] = {};
    // The branch a delete followed from each node of that path.
    int pathPos[maxTreeDepth + 1] = {};
    // The depth of the node whose children Restore repairs after a delete
    // that did not find its key; -1 otherwise.
    int missRepairDepth = -1;
    bool emptiedNodeStaysEmpty(int depth);
    // Nodes fetched by the current walk; a sound tree is walked with at most
    // one fetch per subscript in use.
    uint64_t walkFetches = 0;
    // The depth of the first leaf the current walk reached; -1 before.
    int walkLeafDepth = -1;
    // For each depth of the walk's path, the subscript of the node the walk
    // visits after the one on the path at that depth, under the same
    // parent; 0 for none.
    uint32_t walkNextAtDepth[maxTreeDepth + 1] = {};
    uint64_t nodeReads = 0;
    // Nodes a walk has read ahead of itself, outside the cache until
    // fetched; emptied when the walk ends.
    ReadAheadBuffer readAheadBuf;
    // The batches of reads ahead begun and not finished, oldest first from
    // aheadFirst: their nodes are in flight in readAheadBuf.
    // (At most a batch of read-ahead: the branches of eleven nodes.)
    static constexpr size_t aheadBatchNodes = branchesPerNode * branchesPerNode;
    struct AheadBatch {
        uint32_t locs[aheadBatchNodes];
        plat::ReadRequest reqs[aheadBatchNodes];
        diskNode* bufs[aheadBatchNodes];
        size_t count = 0;
    };
    static constexpr size_t maxAheadBatches = plat::maxBatchesBegun;
    AheadBatch aheadBatches[maxAheadBatches];
    size_t aheadFirst = 0;
    size_t aheadCount = 0;
    uint64_t aheadBegun = 0;
    void settleOldestAhead();

    // The end of the file as far as this handle knows it (its size when
    // last asked, raised by every write); bounds where a node may be written.
    int64_t knownFileEnd = 0;
    bool writePositionIsSound(plat::DbFile* stream, int64_t diskLoc);

    // The steps of openBtDb.
    int openExistingFile(const char* name, bool* reset);
    int loadExistingTree();
    int createFile(const char* name);
    int openInventory(int64_t where, int64_t fileBytes);
    int failOpenCorrupt(const char* why);
    bool placeEmptyRoot(int64_t pos);
    const char16_t* alignedKey(const uint8_t* datum);

    // Write-side helpers (Insert, Delete and their rebalancing).
    bool loadRoot(const char* op);
    diskNode* fetchDescent(const char* op, uint32_t loc, int depth);
    bool onPath(uint32_t loc) const;
    int ensureRoom(diskNode** pp, uint64_t bytes);
    void handBack(uint32_t loc);
    int recDelete(const char16_t* target, diskNode** pp, int depth);
    int deleteEntry(const char16_t* target);
    int insertKey(const char16_t* key, const uint8_t* data);

    // A change (Delete, Insert) that fails after it has begun to change
    // nodes, or a flush that could not write a changed node, leaves the
    // tree in memory, and perhaps on disk, half changed.
    // The handle then refuses every further change with 228 and closes the
    // file as dbCorrupt; searches and walks go on over the nodes in memory,
    // which are each sound.  nodeChanges counts node changes, so that a
    // failed change can tell whether it had begun.
    uint64_t nodeChanges = 0;
    bool changeTorn = false;
    bool refuseAfterTornChange(const char* op);
    int endChange(const char* op, uint64_t changesBefore, int rc);
    // The entry of the node in the last slot, or none when lastIndex names
    // no subscript in use or one whose slot is not the last (a record
    // written by an engine that did not follow a node into the last slot).
    indexNode* lastSlotEntry() {
        if (cr.lastIndex == 0 || cr.lastIndex >= cr.currentIXCount) return nullptr;
        indexNode* e = &indexArray[cr.lastIndex];
        return e->nodePos == cr.lastNDRec ? e : nullptr;
    }
    bool reserveIndexEntries(uint32_t n);
    int placeNewNode(diskNode** pp);
    int insertEntry(const char16_t* key, const uint8_t* datum);
};
