// Opening, creating, closing and emptying a database, and the handle's
// destruction.  Open reads and checks the control record, takes inventory
// of the slots to rebuild the index array and the free-slot list, brings
// the root into memory and marks the file dbOpened; close writes the nodes
// back (unless told not to) and marks it dbClosed.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"
#include "slotscanner.h"

using namespace btdetail;

namespace {
const char* allocFailureText(int err) { return err == btErrNoMemoryErrno ? "Memory Allocation" : "Disk Access"; }
}  // namespace

void bTree::dropCachedNodes() {
    while (actList != nullptr) {
        listCell* c = actList;
        actList = c->next;
        if (indexArray != nullptr && c->loc < cr.indexArraySize) {
            indexNode& e = indexArray[c->loc];
            if (e.node != nullptr) {
                if (e.node == rootP) rootP = nullptr;
                BT_FREE(e.node);
                e.node = nullptr;
            }
            e.state = empty;
        }
        BT_FREE(c);
    }
    freeList(&avlList);
    freeList(&spareCells);
    spareCellCount = 0;
    if (rootP != nullptr && rootP != failedNode()) BT_FREE(rootP);
    rootP = nullptr;
    dropReadAhead();
}

void bTree::releaseOpenResources() {
    dropCachedNodes();
    delete dbHandle;
    dbHandle = nullptr;
    if (dbFileName != nullptr) BT_FREE(dbFileName);
    dbFileName = nullptr;
    if (indexArray != nullptr) BT_FREE(indexArray);
    indexArray = nullptr;
}

// Makes the new, empty node rootP the root of an empty tree whose only
// slot begins at `pos`: a subscript, the last slot, modified in memory until
// the first flush writes it.  False when no subscript could be had.
bool bTree::placeEmptyRoot(int64_t pos) {
    uint32_t s = addIndexEntry();
    if (s == 0) return false;
    cr.rootOffset = s;
    cr.lastIndex = s;
    cr.lastNDRec = pos;
    addIndex(&actList, s);
    indexNode& e = indexArray[s];
    e.node = rootP;
    e.state = modified;
    e.nodePos = pos;
    e.nodeSize = diskNodeBaseSize;
    rootP->nodeData.info.ixaSubscript = s;
    rootP->nodeData.info.nodeSize = (uint32_t)diskNodeBaseSize;
    return true;
}

int bTree::failOpenCorrupt(const char* why) {
    BT_ERROR("openBtDb(): Corrupt disknode detected.\n");
    BT_ERROR("openBtDb(): %s\n", why);
    dbErrno = btErrCorrupt;
    cr.dbState = dbCorrupt;
    WriteCtrlRec();
    return btErrCorrupt;
}

namespace {

// What open says when a slot's info block refuses the file.
const char* inventoryText(btformat::Fault f) {
    switch (f) {
        case btformat::Fault::infoMagic:
            return "bad node magic number";
        case btformat::Fault::infoSubscript:
            return "slot names a subscript outside the index array";
        case btformat::Fault::infoSlotLength:
            return "slot length does not fit the file";
        default:
            return "node size does not fit its slot";
    }
}

}  // namespace

// Reads the node info block of every slot from `where` on and records each
// slot under its subscript.  0, or the open's failure result.
int bTree::openInventory(int64_t where, int64_t fileBytes) {
    SlotScanner scanner(dbHandle);
    if (!scanner.ready()) {
        BT_ERROR("openBtDb(): memory allocation error.\n");
        dbErrno = btErrNoMemoryErrno;
        return btErrNoMemory;
    }
    int64_t lastPos = 0;
    uint32_t lastSub = 0;
    constexpr int lookAheadSlots = 8;
    int64_t ahead = where;  // the slot lookAheadSlots slots ahead, or fewer
    int aheadSlots = 0;
    for (;;) {
        const uint8_t* block = nullptr;
        errno = 0;
        int got = scanner.next(where, &block);
        if (got < 0) {
            int err = errno != 0 ? errno : btErrShortTransfer;
            BT_ERROR("openBtDb(): ferror: errno %d: \"%s\".\n", err, plat::errnoText(err).c_str());
            dbErrno = err;
            return btErrWrite;
        }
        if (got == 0) break;
        // A few slots ahead, the index entries they name are asked for
        // from memory: they lie all over the array, and each would
        // otherwise stall the scan when its slot is recorded.
        if (ahead <= where) {
            ahead = where;
            aheadSlots = 0;
        }
        while (aheadSlots < lookAheadSlots) {
            const uint8_t* next = scanner.inWindow(ahead);
            if (next == nullptr) break;
            uint32_t sub = btformat::load32(next + infoOff::ixaSubscript);
            if (sub < cr.currentIXCount) __builtin_prefetch(&indexArray[sub], 1);
            uint64_t length = btformat::load64(next + infoOff::slotLength);
            if (length < nodeInfoSize || length > (uint64_t)(fileBytes - ahead)) break;
            ahead += (int64_t)length;
            ++aheadSlots;
        }
        nodeInfo tInfo;
        // A slot must at least hold its info block; only the last one may
        // reach past the end of the file, and its node must not.
        btformat::Fault fault =
            btformat::decodeNodeInfo(block, nodeInfoSize, where, fileBytes, cr.currentIXCount, &tInfo);
        BT_TRACE(
            "openBtDb(): read node from disk:\n   tInfo.ixaSubscript = %d\n   tInfo.state        = %d (%s)\n"
            "   where              = %lld\n   tInfo.slotLength   = %d\n   tInfo.nodeSize     = %d\n\n",
            (int)tInfo.ixaSubscript, (int)tInfo.state, mapNodeStateStr((int)tInfo.state), (long long)where,
            (int)tInfo.slotLength, (int)tInfo.nodeSize);
        if (!btformat::tolerated(fault)) return failOpenCorrupt(inventoryText(fault));
        uint32_t s = tInfo.ixaSubscript;
        bool isFree = tInfo.state == slotFree;
        indexNode& e = indexArray[s];
        if (e.state != newIX) return failOpenCorrupt("two slots name the same subscript");
        e.nodePos = where;
        e.slotLength = tInfo.slotLength;
        e.nodeSize = tInfo.nodeSize;
        if (isFree) {
            e.state = available;
            addIndex(&avlList, s);
        } else {
            e.state = empty;
        }
        BT_TRACE("openBTDb() node at: %lld, ixaSubscript: %d\n", (long long)where, (int)s);
        lastPos = where;
        lastSub = s;
        where += (int64_t)tInfo.slotLength;
        if (aheadSlots > 0) --aheadSlots;
        newNDLast = where;
        BT_TRACE("openBtDb(): newNDLast = %lld .\n", (long long)newNDLast);
    }
    // The node in the last slot grows in place: a record that names another
    // slot as the last would have that node written over its neighbours.
    // The file's own last slot is taken instead.
    if (lastPos != 0 && cr.lastNDRec != lastPos) {
        BT_ERROR(
            "openBtDb(): control record names slot %lld (indexArray[%d]) as the last, the file ends with "
            "slot %lld (indexArray[%d]).\n",
            (long long)cr.lastNDRec, (int)cr.lastIndex, (long long)lastPos, (int)lastSub);
        cr.lastNDRec = lastPos;
        cr.lastIndex = lastSub;
    }
    return 0;
}

// Opens an existing file and reads and checks its control record.  0 with
// dbHandle set, or with dbHandle null when the file is to be created (it
// does not exist) or made anew (*reset: another format); else the open's
// failure result.
int bTree::openExistingFile(const char* name, bool* reset) {
    BT_TRACE("openBtDb(): Attempting to open existing database '%s' .\n", name);
    errno = 0;
    dbHandle = plat::DbFile::open(name, plat::DbFile::Mode::Existing);
    if (dbHandle == nullptr && (errno != ENOENT || openExistingOnly)) {
        dbErrno = errno != 0 ? errno : btErrShortTransfer;
        BT_ERROR("openBtDb(): fopen(%s): error %d (%s).\n", name, dbErrno, plat::errnoText(dbErrno).c_str());
        return btErrOpen;
    }
    if (dbHandle == nullptr) {
        BT_TRACE("openBtDb(): file '%s' doesn't exist, will be created.\n", name);
        return 0;
    }
    BT_TRACE("openBtDb(): Successfully opened existing db '%s' .\n", name);
    BT_TRACE("openBtDb(): Reading %d byte cntrl-record ....\n", (int)ctrlRecSize);
    errno = 0;
    int64_t got = dbHandle->readAt(0, &cr, sizeof cr);
    if (got <= 0) {
        if (got < 0 && errno != 0) {
            dbErrno = errno;
            BT_ERROR("openBtDb(): fread: errno %d: \"%s\". \n", dbErrno, plat::errnoText(dbErrno).c_str());
        } else {
            BT_ERROR("openBtDb(): Expected to fread %d bytes, only read %d.\n", (int)ctrlRecSize, 0);
            dbErrno = btErrShortTransfer;
        }
        return btErrReadCtrlRec;
    }
    BT_TRACE("openBtDb(): Read %d byte ctrl-record.\n", (int)got);
    // The record as read (what a short read left is the handle's own).
    btformat::CtrlFaults faults = btformat::checkCtrlRec(reinterpret_cast<const uint8_t*>(&cr), sizeof cr, 0, dataSize);
    if (got < (int64_t)sizeof cr) faults.add(btformat::Fault::ctrlShort);
    if (faults.has(btformat::Fault::ctrlShort) || faults.has(btformat::Fault::ctrlVersion) ||
        faults.has(btformat::Fault::ctrlDataLength)) {
        BT_ERROR("openBtDb(): Downlevel db or format change, db will be reset.\n");
        if (openExistingOnly) {
            dbErrno = btErrFormatChanged;
            return btErrFormatChanged;
        }
        delete dbHandle;
        dbHandle = nullptr;
        *reset = true;
    } else if (faults.has(btformat::Fault::ctrlMagic)) {
        BT_ERROR("openBtDb(): Invalid Control record, magic number=%04x, expected %04x .\n", cr.dbMagic, dbMagicNumber);
        dbErrno = btErrBadCtrlRec;
        return btErrBadCtrlRec;
    } else if (cr.dbState == dbCorrupt) {
        BT_ERROR("openBtDb(): Can't open database, corruption detected.\n");
        dbErrno = btErrCorrupt;
        return btErrCorrupt;
    } else if (cr.dbState == dbOpened) {
        BT_ERROR("openBtDb(): Previous process didn't close the database, database may be corrupt.\n");
        dbErrno = btErrNotClosed;
        return btErrNotClosed;
    }
    return 0;
}

// Rebuilds the index array and the free-slot list from the slots of the
// open file and brings the root into memory (a new, empty one when the
// tree is empty).  0, or the open's failure result.
int bTree::loadExistingTree() {
    BT_TRACE(
        "openBtDb(): Control record contents: \n\tdbMagic, dbVersMaj.dbversMin : 0x%04x, %d.%d\n"
        "\trootOffset: %d\n\tindexArraySize: %d\n\tcurrentIXCount: %d\n\tlastIndex:      %d\n"
        "\tlastNDRec:      %lld\n\tdbDataLen:      %d\n",
        cr.dbMagic, cr.dbVersMaj, cr.dbVersMin, (int)cr.rootOffset, (int)cr.indexArraySize, (int)cr.currentIXCount,
        (int)cr.lastIndex, (long long)cr.lastNDRec, cr.dbDataLen);
    // The slots begin right behind the control record.
    int64_t where = ctrlRecSize;
    int64_t fileBytes = dbSize();
    bool emptyTree = false;
    btformat::CtrlFaults faults =
        btformat::checkCtrlRec(reinterpret_cast<const uint8_t*>(&cr), sizeof cr, fileBytes, dataSize);
    bool countersEmpty = cr.indexArraySize == 0 && cr.currentIXCount == 0;
    if (fileBytes == (int64_t)ctrlRecSize || countersEmpty) {
        if (fileBytes != (int64_t)ctrlRecSize) {
            // Slots follow a record that says the tree is empty: a new root
            // would be written over the first of them.
            BT_ERROR("openBtDb(): control record says empty but the file holds %lld bytes.\n", (long long)fileBytes);
            dbErrno = btErrCorrupt;
            return btErrCorrupt;
        }
        BT_TRACE("openBtDb(): Database is empty .\n");
        cr.indexArraySize = 0;
        cr.currentIXCount = 0;
        newNDLast = where;
        emptyTree = true;
    } else {
        if (faults.has(btformat::Fault::ctrlCounters) || faults.has(btformat::Fault::ctrlIndexArraySize)) {
            BT_ERROR("openBtDb(): Invalid control record counters, database is corrupt.\n");
            dbErrno = btErrCorrupt;
            return btErrCorrupt;
        }
        BT_TRACE("openBtDb(): Loading disk node inventory...\n");
        indexArray = static_cast<indexNode*>(BT_CALLOC((int32_t)cr.indexArraySize, sizeof(indexNode)));
        if (indexArray == nullptr) {
            BT_ERROR("openBtDb(): memory allocation error.\n");
            dbErrno = btErrNoMemoryErrno;
            return btErrNoMemory;
        }
        // The inventory and every walk or search reach its entries at random.
        plat::adviseLarge(indexArray, (size_t)cr.indexArraySize * sizeof(indexNode));
        BT_TRACE("openBtDb(): Existing file: indexArraySize: %d\n", (int)cr.indexArraySize);
        newNDLast = where;
        int rc = openInventory(where, fileBytes);
        if (rc != 0) return rc;
        // The root's own slot was freed.  A root subscript outside the array
        // in use is left to fetchPage, which refuses it.
        if (cr.rootOffset < cr.currentIXCount && indexArray[cr.rootOffset].state == available) emptyTree = true;
    }

    if (emptyTree) {
        rootP = dbCalloc(BT_SOURCE, __LINE__, newNodeAllocBytes);
        if (rootP == nullptr) {
            BT_ERROR("openBtDb(): myCalloc() returned NULL:  %s .\n", allocFailureText(dbErrno));
            dbErrno = btErrNoMemoryErrno;
            return btErrNoMemory;
        }
        // The new root goes at the end of the data: right behind the control
        // record, or behind the last slot the inventory met.
        if (!placeEmptyRoot(newNDLast)) {
            BT_ERROR("openBtDb(): addIndexEntry() failed on memory allocation.\n");
            dbErrno = btErrNoMemoryErrno;
            return btErrNoMemory;
        }
    } else {
        rootP = fetchPage((int)cr.rootOffset);
        if (rootP == nullptr || rootP == failedNode()) {
            // dbErrno keeps the reason (228 for a root that failed its
            // checks).  The file is left as it is, not marked dbCorrupt: the
            // same failure comes from a read error or a lack of memory,
            // which must not condemn a sound file for good.
            rootP = nullptr;
            if (dbErrno == 0) dbErrno = btErrShortTransfer;
            BT_ERROR("openBtDb(): unable to load root page.\n");
            return btErrOpen;
        }
    }
    int rc = purgecache();
    if (rc != 0) {
        BT_ERROR("openBtDb(): purgeCache(): rc=%d, setting db state to dbCorrupt.\n", rc);
        cr.dbState = dbCorrupt;
        WriteCtrlRec();
        releaseOpenResources();
        BT_ERROR("openBtDb(): returning %d .\n", rc);
        return rc;
    }
    return 0;
}

// Creates the file, or makes anew one that could not be used: a fresh
// control record and an empty root, in memory until the first flush.
// Leaves dbErrno set on failure; 0, or btErrNoMemory when no subscript
// could be had for the root.
int bTree::createFile(const char* name) {
    BT_TRACE("openBTDb(): Creating new db file '%s' ...\n", name);
    errno = 0;
    dbHandle = plat::DbFile::open(name, plat::DbFile::Mode::Create);
    if (dbHandle != nullptr) {
        BT_TRACE("openBtDb(): Opened db file '%s' in wb+ mode, handle=%p.\n", name, (void*)dbHandle);
    } else {
        dbErrno = errno != 0 ? errno : btErrShortTransfer;
        BT_ERROR("openBtDb(): fopen: errno %d: \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
        return 0;
    }
    if (indexArray != nullptr) BT_FREE(indexArray);
    indexArray = nullptr;
    cr.dbDataLen = dataSize;
    cr.currentIXCount = 0;
    cr.indexArraySize = 0;
    cr.dbMagic = dbMagicNumber;
    cr.dbVersMaj = dbVersionMajor;
    cr.dbVersMin = dbVersionMinor;
    cr.dbKeyLen = 0;
    std::memset(cr.appArea, 0, sizeof cr.appArea);
    if (WriteCtrlRec() != 0)
        BT_ERROR("openBtDb(): fgetpos:  errno %d, \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
    if (dbErrno != 0) return 0;
    rootP = dbCalloc(BT_SOURCE, __LINE__, newNodeAllocBytes);
    if (rootP == nullptr) {
        dbErrno = btErrNoMemoryErrno;
        BT_ERROR("openBtDb(): myCalloc returned NULL: %s .\n", "Memory Allocation");
        return 0;
    }
    if (!placeEmptyRoot(ctrlRecSize)) {
        BT_ERROR("openBtDb(): addIndexEntry() failed on memory allocation.\n");
        return btErrNoMemory;
    }
    newNDLast = ctrlRecSize + diskNodeBaseSize;
    WriteCtrlRec();
    return 0;
}

int bTree::openBtDb(const char* name, int createFromScratch) {
    dbErrno = 0;
    if (dbHandle != nullptr || dbFileName != nullptr || indexArray != nullptr) releaseOpenResources();
    rootP = nullptr;
    changeTorn = false;
    knownFileEnd = 0;
    BT_TRACE("openBtDb(): Opening btree db file '%s', create from scratch = %s...\n", name,
             createFromScratch ? "Yes" : "No");
    size_t nameLen = std::strlen(name);
    dbFileName = static_cast<char*>(BT_MALLOC(nameLen + 1));
    if (dbFileName == nullptr) {
        BT_ERROR("openBtDb(): memory allocation error .\n");
        dbErrno = btErrNoMemory;
        return btErrNoMemory;
    }
    std::memcpy(dbFileName, name, nameLen + 1);
    freeList(&actList);
    freeList(&avlList);

    // Whatever a step below leaves behind is released when it fails.
    OnExit cleanup([this] { releaseOpenResources(); });
    bool reset = false;
    if (!createFromScratch) {
        int rc = openExistingFile(name, &reset);
        if (rc != 0) return rc;
        if (dbHandle != nullptr) {
            rc = loadExistingTree();
            if (rc != 0) return rc;
        }
    }
    if (dbHandle == nullptr) {
        int rc = createFile(name);
        if (rc != 0) return rc;
    }
    if (dbErrno != 0) {
        BT_ERROR("openBtDb(): Unable to open db file '%s'.\n", name);
        return btErrOpen;
    }
    cleanup.dismiss();
    if (reset) dbErrno = btErrFormatChanged;
    cr.dbState = dbOpened;
    WriteCtrlRec();
    BT_TRACE(
        "\nCritical values after openBtDb():\nrootP: %p\nrootP->diskLoc: %d\nactList: %p\navlList: %p\n"
        "newNDLast: %lld\nindexArray: %p\ncr.rootOffset: %d\ncr.lastIndex: %d\ncr.indexArraySize: %d\n"
        "cr.currentIXCount: %d\ncr.lastNDRec: %lld\n",
        (void*)rootP, (int)rootP->nodeData.info.ixaSubscript, (void*)actList, (void*)avlList, (long long)newNDLast,
        (void*)indexArray, (int)cr.rootOffset, (int)cr.lastIndex, (int)cr.indexArraySize, (int)cr.currentIXCount,
        (long long)cr.lastNDRec);
    BT_TRACE("openBtDb(): Successfully opened db file '%s' .\n", name);
    return 0;
}

void bTree::closeBtDb(int* rcOut, int noFlush) {
    BT_TRACE("closeBtDb(): Closing db handle %p .\n", (void*)this);
    dbErrno = 0;
    int rc = 0;
    if (dbHandle != nullptr) {
        if (noFlush == 0) {
            rc = FlushMemNodes();
            if (rc != 0) {
                BT_ERROR("closeBtDb(): FlushMemNodes(): rc=%d, setting db state to dbCorrupt.\n", rc);
                cr.dbState = dbCorrupt;
            } else {
                cr.dbState = dbClosed;
            }
        } else {
            cr.dbState = dbClosed;
        }
        if (changeTorn) {
            BT_ERROR("closeBtDb(): a change failed part-way, setting db state to dbCorrupt.\n");
            cr.dbState = dbCorrupt;
        }
        BT_TRACE("closeBtDb(): setting dbstate in cntrl record to %s.\n", dbStateName(cr.dbState));
        WriteCtrlRec();
        releaseOpenResources();
    }
    changeTorn = false;
    if (rcOut != nullptr) {
        BT_TRACE("closeBtDb(): setting return code %d .\n", rc);
        *rcOut = rc;
    }
    BT_TRACE("closeBtDb(): exit.\n");
}

int bTree::makeEmpty() {
    errno = 0;
    dbErrno = 0;
    BT_TRACE("makeEmpty() entry\n");
    // The file is cut to 0 bytes and starts afresh.
    if (dbHandle == nullptr || !dbHandle->truncate()) {
        dbErrno = errno != 0 ? errno : btErrShortTransfer;
        BT_ERROR("makeEmpty(): freopen: errno %d: \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
        delete dbHandle;
        dbHandle = nullptr;
    } else {
        dropCachedNodes();
        knownFileEnd = 0;
        cr.rootOffset = 1;
        cr.lastIndex = 1;
        cr.lastNDRec = ctrlRecSize;
        cr.indexArraySize = 0;
        cr.currentIXCount = 0;
        if (indexArray != nullptr) BT_FREE(indexArray);
        indexArray = nullptr;
        if (WriteCtrlRec() != 0)
            BT_ERROR("makeEmpty(): fgetpos: errno %d: \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
        if (dbErrno == 0) {
            newNDLast = ctrlRecSize;
            rootP = dbCalloc(BT_SOURCE, __LINE__, newNodeAllocBytes);
            if (rootP == nullptr) {
                BT_ERROR("makeEmpty(): myCalloc() returned NULL: %s .\n", allocFailureText(dbErrno));
            } else {
                if (!placeEmptyRoot(ctrlRecSize)) {
                    BT_ERROR("makeEmpty(): addIndexEntry() failed on memory allocation.\n");
                    BT_FREE(rootP);
                    rootP = nullptr;
                } else {
                    newNDLast = ctrlRecSize + diskNodeBaseSize;
                    WriteCtrlRec();
                }
            }
        }
    }
    BT_TRACE(
        "makeEmpty():\nCritical values after makeEmpty():\nrootP: %p\nrootP->diskLoc: %d\nactList: %p\n"
        "avlList: %p\nnewNDLast: %lld\nindexArray: %p\ncr.rootOffset: %d\ncr.lastIndex: %d\n"
        "cr.indexArraySize: %d\ncr.currentIXCount: %d\ncr.lastNDRec: %lld\n",
        (void*)rootP, rootP ? (int)rootP->nodeData.info.ixaSubscript : 0, (void*)actList, (void*)avlList,
        (long long)newNDLast, (void*)indexArray, (int)cr.rootOffset, (int)cr.lastIndex, (int)cr.indexArraySize,
        (int)cr.currentIXCount, (long long)cr.lastNDRec);
    BT_TRACE("makeEmpty(): returning %s.\n", dbErrno == 0 ? "bTrue" : "bFalse");
    return dbErrno == 0 ? 1 : 0;
}

bTree::~bTree() {
    BT_TRACE("btree::~btree(): Entry.\n");
    if (indexArray != nullptr) FlushMemNodes();
    dropCachedNodes();
    // The control record is not written: a handle destroyed without
    // closeBtDb leaves its file marked dbOpened.  The stream is closed all
    // the same: nothing else will ever close it, and left open it would
    // leak a file handle for the rest of the process (and on Windows keep
    // the file from being renamed or removed).
    delete dbHandle;
    dbHandle = nullptr;
    if (dbFileName != nullptr) BT_FREE(dbFileName);
    if (dataBuf != nullptr) BT_FREE(dataBuf);
    if (indexArray != nullptr) BT_FREE(indexArray);
    if (keyScratch != nullptr) BT_FREE(keyScratch);
    BT_TRACE("btree::~btree(): Exit.\n");
}
