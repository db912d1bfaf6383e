// Disk-space bookkeeping: choosing a slot for a node, writing a node into
// its slot (moving it first when it has outgrown a slot that is not the
// last), giving a deleted node's slot back, and node buffers.  Slots are
// never split, joined or compacted; only the last slot may grow in place.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"

using namespace btdetail;

uint32_t bTree::findFit(diskNode* p) {
    BT_TRACE("findFit() entry. p = %p, currentIXCount: %d\n", (void*)p, (int)cr.currentIXCount);
    uint64_t need = p->nodeData.info.nodeSize;
    uint32_t fit = 0;
    for (listCell* c = avlList; c != nullptr; c = c->next) {
        if (c->loc < cr.currentIXCount && indexArray[c->loc].slotLength >= need) {
            fit = c->loc;
            break;
        }
    }
    if (fit != 0) {
        indexArray[fit].nodeSize = need;
        delIndex(&avlList, fit);
    } else {
        fit = addIndexEntry();
        if (fit == 0) {
            BT_ERROR("findFit(): addIndexEntry() failed on memory allocation.\n");
            return 0;
        }
        indexArray[fit].nodeSize = need;
    }
    BT_TRACE("findFit() returning: %d, node: %p, nodePos: %d\n", (int)fit, (void*)p, (int)indexArray[fit].nodePos);
    return fit;
}

// Node slots lie behind the control record, and a slot begins at most one
// node's length past the end of the file: a new slot is appended at the end
// of the last one, which may reach past the end of the file by what its node
// gave back when it shrank.  A position further out can only come from a
// damaged slot length; writing there would make a huge sparse file or fail
// for the file-size limit.  The file's size is asked for only when a write
// goes past what is known of it.
bool bTree::writePositionIsSound(plat::DbFile* stream, int64_t diskLoc) {
    if (diskLoc < (int64_t)ctrlRecSize) return false;
    if (diskLoc - (int64_t)maxNodeSize <= knownFileEnd) return true;
    int64_t size = stream->size();
    if (size > knownFileEnd) knownFileEnd = size;
    return diskLoc - (int64_t)maxNodeSize <= knownFileEnd;
}

int bTree::RealWriteEx(plat::DbFile* stream, const void* buf, uint64_t bytes, int64_t diskLoc) {
    BT_TRACE("RealWriteEx() entry: diskLoc: %lld bytes: %ld\n", (long long)diskLoc, (long)bytes);
    int rc = 0;
    errno = 0;
    if (stream == nullptr || diskLoc < 0) {
        int e = errno;
        BT_ERROR("RealWriteEx(): fsetpos: errno %d: '%s' .\n", e, plat::errnoText(e).c_str());
        dbErrno = e != 0 ? e : btErrShortTransfer;
        rc = btErrWrite;
    } else if (!writePositionIsSound(stream, diskLoc)) {
        BT_ERROR("RealWriteEx(): position %lld lies outside the node slots of the file, database is corrupt.\n",
                 (long long)diskLoc);
        dbErrno = btErrCorrupt;
        rc = btErrWrite;
    } else {
        errno = 0;
        int64_t written = stream->writeAt(diskLoc, buf, (size_t)bytes);
        if (written != (int64_t)bytes) {
            if (errno != 0) {
                dbErrno = errno;
                BT_ERROR("RealWriteEx(): fwrite: errno: %d: \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
            } else {
                BT_ERROR("RealWriteEx(): expected to fwrite %d bytes, only wrote %d .\n", (int)bytes, (int)written);
                dbErrno = btErrShortTransfer;
            }
            rc = btErrWrite;
        } else if (diskLoc + (int64_t)bytes > knownFileEnd) {
            knownFileEnd = diskLoc + (int64_t)bytes;
        }
    }
    BT_TRACE("RealWriteEx() exit: rc = %d, dbErrno: %d\n", rc, dbErrno);
    return rc;
}

int bTree::RealWrite(indexNode* ixP) {
    diskNode* p = ixP->node;
    BT_TRACE("RealWrite() entry: indexArray[%d]\n", p ? (int)p->nodeData.info.ixaSubscript : -1);
    if (p == nullptr) {
        BT_TRACE("RealWrite() returning %d, newNDLast=%lld\n", 0, (long long)newNDLast);
        return 0;
    }
    if (p->nodeData.info.nodeMagic != nodeMagicNumber) {
        BT_ERROR("RealWrite(): corrupt node, Invalid magic number %04x, expected %04x.\n", p->nodeData.info.nodeMagic,
                 nodeMagicNumber);
        cr.dbState = dbCorrupt;
        dbErrno = btErrCorrupt;
        return btErrCorrupt;
    }
    BT_TRACE(
        "RealWrite(): ixP->nodeSize: %d, p->nodeData.nodeSize: %d, ixP->slotLength: %ld, "
        "p->nodeData.info.slotLength: %ld\n",
        (int)ixP->nodeSize, (int)p->nodeData.info.nodeSize, (long)ixP->slotLength, (long)p->nodeData.info.slotLength);
    BT_TRACE("RealWrite: ixP->nodePos: %lld, newNDLast: %lld\n", (long long)ixP->nodePos, (long long)newNDLast);

    if (ixP->nodePos != cr.lastNDRec && p->nodeData.info.nodeSize > ixP->slotLength) {
        // The node has outgrown a slot that is not the last: move it.
        uint32_t loc = p->nodeData.info.ixaSubscript;
        uint32_t fit = findFit(p);
        if (fit == 0) {
            BT_ERROR("RealWrite() findFit() failed.\n");
            return btErrNoMemory;
        }
        ixP = &indexArray[loc];  // the array may have moved
        indexNode* F = &indexArray[fit];
        if (F->state == available) {
            // Exchange slots: the node takes the free slot, F the old one.
            int64_t pos = ixP->nodePos;
            uint64_t len = ixP->slotLength;
            ixP->nodePos = F->nodePos;
            ixP->slotLength = F->slotLength;
            p->nodeData.info.slotLength = F->slotLength;
            F->nodePos = pos;
            F->slotLength = len;
            ixP->nodeSize = p->nodeData.info.nodeSize;
            addIndex(&avlList, fit);
            // The free slot taken may be the last in the file: the node
            // now stands there, so lastIndex must name it.
            if (ixP->nodePos == cr.lastNDRec) cr.lastIndex = loc;
        } else if (F->state == newIX) {
            // Nothing free was large enough: append a slot at the end.
            indexNode* L = lastSlotEntry();
            if (L != nullptr && (L->state == modified || L->state == modhold) && L->node != nullptr) {
                // The last node may have grown in memory past its recorded
                // slot; its slot takes that length before a slot follows it.
                if (L->nodeSize > L->slotLength) {
                    L->slotLength = L->nodeSize;
                    L->node->nodeData.info.slotLength = L->nodeSize;
                }
                int rc = RealWriteEx(dbHandle, &L->node->nodeData, L->nodeSize, L->nodePos);
                if (rc != 0) {
                    BT_ERROR("RealWrite(): RealWriteEx(): rc=%d .\n", rc);
                    return rc;
                }
                if (cr.lastNDRec + (int64_t)L->nodeSize > newNDLast) newNDLast = cr.lastNDRec + (int64_t)L->nodeSize;
                L->state = occupied;
            }
            F->state = available;
            addIndex(&avlList, fit);
            F->nodePos = ixP->nodePos;
            F->slotLength = ixP->slotLength;
            cr.lastNDRec = newNDLast;
            ixP->nodePos = newNDLast;
            cr.lastIndex = loc;
            p->nodeData.info.slotLength = p->nodeData.info.nodeSize;
            ixP->slotLength = p->nodeData.info.nodeSize;
            ixP->nodeSize = p->nodeData.info.nodeSize;
            ixP->node = p;
        } else {
            BT_ERROR("RealWrite(): write failure .\n");
            dbErrno = btErrInvalid;
            return btErrWrite;
        }
        nodeInfo freeHeader{nodeMagicNumber, (uint32_t)F->slotLength, F->slotLength, F->state, fit};
        int rc = RealWriteEx(dbHandle, &freeHeader, sizeof freeHeader, F->nodePos);
        if (rc != 0) {
            BT_ERROR("RealWrite(): RealWriteEx(): rc=%d .\n", rc);
            return rc;
        }
    }

    if (ixP->nodePos == cr.lastNDRec) {
        if (cr.lastNDRec + (int64_t)ixP->nodeSize > newNDLast) newNDLast = cr.lastNDRec + (int64_t)ixP->nodeSize;
        if (ixP->nodeSize > ixP->slotLength) {
            ixP->slotLength = ixP->nodeSize;
            p->nodeData.info.slotLength = ixP->nodeSize;
        }
    }
    int rc = RealWriteEx(dbHandle, &p->nodeData, ixP->nodeSize, ixP->nodePos);
    if (rc != 0) {
        BT_ERROR("RealWrite(): RealWriteEx(): rc=%d .\n", rc);
        return rc;
    }
    ixP->state = occupied;
    BT_TRACE("RealWrite() returning %d, newNDLast=%lld\n", 0, (long long)newNDLast);
    return 0;
}

int bTree::deleteNode(diskNode** pp) {
    diskNode* p = *pp;
    const nodeHeader& h = p->nodeData;
    BT_TRACE(
        "deleteNode: allocSize: %ld, nodeSize %ld, slotLength: %ld, array subscript: %d, count: %d, "
        "branches: %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d\n",
        (long)p->allocSize, (long)h.info.nodeSize, (long)h.info.slotLength, (int)h.info.ixaSubscript, (int)h.count,
        (int)h.branch[0], (int)h.branch[1], (int)h.branch[2], (int)h.branch[3], (int)h.branch[4], (int)h.branch[5],
        (int)h.branch[6], (int)h.branch[7], (int)h.branch[8], (int)h.branch[9], (int)h.branch[10]);
    uint32_t s = h.info.ixaSubscript;
    delIndex(&actList, s);
    indexNode& e = indexArray[s];
    e.state = available;
    p->nodeData.info.state = available;
    addIndex(&avlList, s);
    int rc = RealWriteEx(dbHandle, &p->nodeData.info, sizeof(nodeInfo), e.nodePos);
    if (rc != 0) BT_ERROR("deleteNode(): RealWriteEx(): rc=%d .\n", rc);
    BT_FREE(p);
    *pp = nullptr;
    indexArray[s].node = nullptr;
    return rc;
}

diskNode* bTree::dbCalloc(const char* file, int line, uint64_t size) {
    BT_TRACE("dbCalloc() entry: from %s[%d], request Size = %d\n", file, line, (int)size);
    if (size == 0) size = defaultAllocSize;
    if (size < sizeof(diskNode)) size = sizeof(diskNode);
    diskNode* p = static_cast<diskNode*>(kvMalloc(size, file, line));
    if (p == nullptr) {
        BT_ERROR("dbCalloc(): memory allocation error.\n");
        dbErrno = btErrNoMemoryErrno;
        return nullptr;
    }
    std::memset(&p->nodeData, 0, diskNodeBaseSize);
    p->nodeData.info.nodeMagic = nodeMagicNumber;
    p->nodeData.info.ixaSubscript = 0;
    p->allocSize = size - sizeof(uint64_t);
    p->nodeData.info.nodeSize = (uint32_t)diskNodeBaseSize;
    BT_TRACE("dbCalloc(): returning %p .\n", (void*)p);
    return p;
}

void bTree::dbFree(const char* file, int line, diskNode* p) {
    BT_TRACE("dbFree() entry from %s[%d]: freeing %p, disk loc: %d\n", file, line, (void*)p,
             (p == nullptr || p == failedNode()) ? -1 : (int)p->nodeData.info.ixaSubscript);
    if (p == nullptr || p == failedNode()) {
        BT_TRACE("dbFree(): Trying to free a null or invalid disk-node\n");
        return;
    }
    uint32_t loc = p->nodeData.info.ixaSubscript;
    if (loc == 0 || loc >= cr.currentIXCount || indexArray == nullptr) {
        BT_TRACE("dbFree(): exit.\n");
        return;
    }
    indexNode& e = indexArray[loc];
    BT_TRACE("currentIXCount: %d, found at: %p\n", (int)cr.currentIXCount, (void*)&e);
    BT_TRACE("indexNode at %p state before free: %s\n", (void*)&e,
             e.state == available  ? "available"
             : e.state == occupied ? "occupied"
             : e.state == clean    ? "clean"
             : e.state == modified ? "modified"
             : e.state == modhold  ? "modhold"
                                   : "INVALID");
    if (e.state == occupied) {
        if (walkActive && e.node != nullptr) {
            delIndex(&actList, loc);
            // Its buffer serves a later read ahead of the same walk.
            readAheadBuf.recycle(e.node);
            e.node = nullptr;
            e.state = empty;
        } else {
            e.state = clean;
        }
    } else if (e.state == modhold) {
        e.state = modified;
    }
    BT_TRACE("dbFree(): exit.\n");
}
