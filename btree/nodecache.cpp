// The node cache.  A node enters memory when an operation fetches it by
// subscript, stays while it is held, is marked changed by writePage, and
// leaves one at a time as others come in (purgecache: the oldest unheld
// clean node, else the oldest unheld modified one after writing it) or all
// at once (FlushMemNodes).  The root stays until a flush.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"

using namespace btdetail;

#define BT_TRACE_HEADER(fmtPrefix, p)                                                            \
    BT_TRACE(fmtPrefix "allocSize: %ld, nodeSize %ld, slotLength: %ld, array subscript: %d, count: %d, " \
                       "branches: %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d\n",                       \
             (long)(p)->allocSize, (long)(p)->nodeData.info.nodeSize,        \
             (long)(p)->nodeData.info.slotLength, (int)(p)->nodeData.info.ixaSubscript,                \
             (int)(p)->nodeData.count, (int)(p)->nodeData.branch[0], (int)(p)->nodeData.branch[1],     \
             (int)(p)->nodeData.branch[2], (int)(p)->nodeData.branch[3], (int)(p)->nodeData.branch[4], \
             (int)(p)->nodeData.branch[5], (int)(p)->nodeData.branch[6], (int)(p)->nodeData.branch[7], \
             (int)(p)->nodeData.branch[8], (int)(p)->nodeData.branch[9], (int)(p)->nodeData.branch[10])

// Checks what a node read from disk says about itself before anything
// walks its datums: its size, its datum count, and every datum's length,
// data position and key terminator must lie within the node.
bool bTree::nodeIsSound(const diskNode* p, uint32_t expectedSize) const {
    const nodeHeader& h = p->nodeData;
    uint32_t size = h.info.nodeSize;
    if (size != expectedSize || size < nodeHeaderSize || size > maxNodeSize) return false;
    if (h.count > maxDatumsPerNode) return false;
    const uint8_t* base = nodeBytes(p);
    uint32_t off = nodeHeaderSize;
    for (int i = 0; i < h.count; ++i) {
        if (off + 4 > size) return false;
        uint32_t nkl = get16(base + off);
        uint32_t dataStart = 2u + get16(base + off + 2);
        if (off + nkl > size) return false;
        if (dataStart < datumKeyOffset + 2 || dataStart + dataSize > nkl) return false;
        bool terminated = false;
        for (uint32_t j = datumKeyOffset; j + 2 <= dataStart; j += 2) {
            if (get16(base + off + j) == 0) {
                terminated = true;
                break;
            }
        }
        if (!terminated) return false;
        off += nkl;
    }
    return true;
}

diskNode* bTree::fetchPage(int loc) {
    BT_TRACE("fetchPage() entry: db file handle = %p, indexArray[%d]\n", (void*)dbHandle, loc);
    if (loc == 0) return nullptr;
    if (loc < 1 || (uint32_t)loc >= cr.currentIXCount || indexArray == nullptr) {
        BT_ERROR("fetchPage(): Invalid location %d .\n", loc);
        dbErrno = btErrInvalid;
        return failedNode();
    }
    indexNode* e = &indexArray[loc];
    switch (e->state) {
    case empty: {
        uint64_t size = e->nodeSize;
        if (size < nodeHeaderSize || size > maxNodeSize) {
            BT_ERROR("fetchPage(): corrupt node, indexArray[%d] gives node size %lld .\n", loc, (long long)size);
            dbErrno = btErrCorrupt;
            return failedNode();
        }
        diskNode* buf = static_cast<diskNode*>(BT_CALLOC(1, sizeof(uint64_t) + size + nodeHeaderSize));
        if (buf == nullptr) {
            BT_ERROR("fetchPage(): memory allocation error .\n");
            dbErrno = btErrNoMemoryErrno;
            return failedNode();
        }
        BT_TRACE("fetchPage(): buf = %p, ieP->nodePos = %lld\n", (void*)buf, (long long)e->nodePos);
        BT_TRACE("fetchPage(): Reading from disk at %lld to %p\n", (long long)e->nodePos, (void*)buf);
        e->state = occupied;
        e->node = buf;
        buf->nodeData.info.ixaSubscript = (uint32_t)loc;
        buf->allocSize = size;
        // A failed transfer leaves the entry as it was: on disk, not in memory.
        auto unload = [&]() {
            BT_FREE(buf);
            e->node = nullptr;
            e->state = empty;
        };
        errno = 0;
        if (dbHandle == nullptr || !plat::streamSeek(dbHandle, e->nodePos)) {
            int err = errno;
            BT_ERROR("fetchPage(): fsetpos: error %d .\n", err);
            dbErrno = err != 0 ? err : btErrShortTransfer;
            unload();
            return failedNode();
        }
        BT_TRACE("fetchPage(): trying to read %d bytes to %p\n", (int)size, (void*)&buf->nodeData);
        errno = 0;
        if (fread(&buf->nodeData, 1, (size_t)size, dbHandle) != size) {
            int err = errno;
            BT_ERROR("fetchPage(): fread: error %d .\n", err);
            dbErrno = err != 0 ? err : btErrShortTransfer;
            unload();
            return failedNode();
        }
        BT_TRACE("fetchPage: from disk: indexArray[%d]\n", loc);
        addIndex(&actList, (uint32_t)loc);
        if (purgecache() != 0) {
            BT_ERROR("fetchPage(): purgeCache failed.\n");
            return failedNode();
        }
        e = &indexArray[loc];
        if (buf->nodeData.info.ixaSubscript != (uint32_t)loc || !nodeIsSound(buf, (uint32_t)size)) {
            BT_ERROR("fetchPage(): corrupt node at indexArray[%d], disk offset %lld .\n", loc,
                     (long long)e->nodePos);
            delIndex(&actList, (uint32_t)loc);
            unload();
            dbErrno = btErrCorrupt;
            return failedNode();
        }
        break;
    }
    case clean:
        e->state = occupied;
        break;
    case modified:
        e->state = modhold;
        break;
    case occupied:
    case modhold:
        break;
    default:
        // A free or never-used subscript: there is no node to return.
        BT_ERROR("fetchPage(): Invalid location %d .\n", loc);
        dbErrno = btErrInvalid;
        return failedNode();
    }
    BT_TRACE_HEADER("fetchPage(): ", e->node);
    return e->node;
}

int bTree::writePage(diskNode** pp) {
    diskNode* p = *pp;
    uint32_t s = p->nodeData.info.ixaSubscript;
    indexNode* e = nullptr;
    if (s != 0 && s != 0xFFFFFFFFu && s < cr.currentIXCount) {
        e = &indexArray[s];
        if (e->node != p) e->node = p;
    }
    BT_TRACE("writePage() entry: p = %p, db handle = %p, count = %d indexArray[%d]\n", (void*)p,
             (void*)dbHandle, (int)p->nodeData.count, (int)s);
    BT_TRACE_HEADER("writePage(): ", p);
    dbErrno = 0;

    if (p->nodeData.branch[0] == 0xFFFFFFFFu) {
        if (e != nullptr) deleteNode(pp);
        return 0;
    }
    if (s == 0xFFFFFFFFu) return 0;
    if (s != 0) {
        if (e == nullptr) {
            BT_ERROR("writePage(): Invalid location %d .\n", (int)s);
            dbErrno = btErrInvalid;
            return btErrWrite;
        }
        if (e->nodePos == cr.lastNDRec) {
            if (p == rootP) {
                BT_TRACE("writePage(): Writing the root node at indexArray[%d]\n", (int)s);
                int rc = RealWrite(e);
                if (rc != 0) {
                    BT_ERROR("writePage(): RealWrite() returned %d: errno %d: \"%s\".\n", rc, dbErrno,
                             plat::errnoText(dbErrno).c_str());
                    return rc;
                }
            }
            if (newNDLast < cr.lastNDRec + (int64_t)p->nodeData.info.nodeSize) {
                if (p->nodeData.info.nodeSize > e->slotLength) {
                    p->nodeData.info.slotLength = p->nodeData.info.nodeSize;
                    e->slotLength = p->nodeData.info.nodeSize;
                }
                newNDLast = cr.lastNDRec + (int64_t)p->nodeData.info.nodeSize;
            }
        }
        e->state = modhold;
        return 0;
    }

    // A new node: choose a slot for it and write it there.
    s = findFit(p);
    p->nodeData.info.ixaSubscript = s;
    if (dbErrno == btErrNoMemoryErrno && s == 0) {
        BT_ERROR("writePage() findFit() failed.\n");
        return btErrNoMemory;
    }
    int rc = purgecache();
    if (rc != 0) return rc;
    e = &indexArray[s];
    if (e->nodePos != 0) {
        p->nodeData.info.slotLength = e->slotLength;
    } else {
        indexNode* L = &indexArray[cr.lastIndex];
        if (L->state == modified || L->state == modhold) {
            rc = RealWrite(L);
            if (rc != 0) {
                BT_ERROR("writePage(): RealWrite() returned %d: errno %d: \"%s\".\n", rc, dbErrno,
                         plat::errnoText(dbErrno).c_str());
                return rc;
            }
            L = &indexArray[cr.lastIndex];
            L->state = occupied;
        }
        e = &indexArray[s];
        e->nodePos = newNDLast;
        cr.lastIndex = s;
        e->slotLength = p->nodeData.info.nodeSize;
        p->nodeData.info.slotLength = e->slotLength;
        cr.lastNDRec = newNDLast;
    }
    e->node = p;
    e->nodeSize = p->nodeData.info.nodeSize;
    BT_TRACE("writePage(): Writing a new disk node at offset %d\n", (int)s);
    rc = RealWrite(e);
    if (rc != 0) {
        BT_ERROR("writePage(): RealWrite() returned %d: errno %d: \"%s\".\n", rc, dbErrno,
                 plat::errnoText(dbErrno).c_str());
        return rc;
    }
    indexArray[s].state = occupied;
    BT_TRACE("Leaving writePage(), disk offset = %d\n", (int)s);
    addIndex(&actList, s);
    return 0;
}

int bTree::purgecache() {
    BT_TRACE("purgecache() entry: actList = %p\n", (void*)actList);
    listCell* cleanCell = nullptr;
    listCell* modCell = nullptr;
    for (listCell* c = actList; c != nullptr; c = c->next) {
        indexNode& e = indexArray[c->loc];
        if (e.node == nullptr) continue;
        if (e.node->nodeData.info.nodeMagic != nodeMagicNumber) {
            BT_ERROR("purgecache(): corrupt node, Invalid magic number %04x, expected %04x.\n",
                     e.node->nodeData.info.nodeMagic, nodeMagicNumber);
            dbErrno = btErrCorrupt;
            return btErrCorrupt;
        }
        if (e.node == rootP) continue;
        if (e.state == clean) cleanCell = c;
        else if (e.state == modified) modCell = c;
    }
    if (cleanCell != nullptr) {
        uint32_t loc = cleanCell->loc;
        BT_TRACE("Dropping clean %d from the active list\n", (int)loc);
        indexNode& e = indexArray[loc];
        BT_FREE(e.node);
        e.node = nullptr;
        e.state = empty;
        delIndex(&actList, loc);
    } else if (modCell != nullptr) {
        uint32_t loc = modCell->loc;
        int rc = RealWrite(&indexArray[loc]);
        if (rc != 0) {
            BT_ERROR("purgecache(): RealWrite(): rc=%d .\n", rc);
            return rc;
        }
        indexNode& e = indexArray[loc];
        BT_TRACE("Deleting modified %d from the active list, free %p\n", (int)loc, (void*)e.node);
        BT_FREE(e.node);
        e.node = nullptr;
        e.state = empty;
        delIndex(&actList, loc);
    }
    BT_TRACE("purgecache(): returning %d .\n", 0);
    return 0;
}

int bTree::FlushMemNodes() {
    BT_TRACE("FlushMemNodes() entry: currentIXCount = %d, actList = %p\n", (int)cr.currentIXCount,
             (void*)actList);
    int result = 0;
    while (actList != nullptr) {
        listCell* head = actList;
        indexNode& e = indexArray[head->loc];
        if (e.state != empty && e.node != nullptr && e.node->nodeData.info.nodeMagic != nodeMagicNumber) {
            BT_ERROR("FlushMemNodes(): corrupt node, Invalid magic number %04x, expected %04x.\n",
                     e.node->nodeData.info.nodeMagic, nodeMagicNumber);
            cr.dbState = dbCorrupt;
            if (dbHandle != nullptr) WriteCtrlRec();
            dbErrno = btErrCorrupt;
            return btErrCorrupt;
        }
        if (dbHandle != nullptr && (e.state == modified || e.state == modhold)) {
            BT_TRACE("FlushMemNodes(): found mod at = %d, disk location: %ld\n", (int)head->loc, (long)e.nodePos);
            int rc = RealWrite(&indexArray[head->loc]);
            if (rc != 0) result = rc;
            fflush(dbHandle);
        } else if (e.state != occupied && e.state != clean) {
            BT_TRACE("FlushMemNodes() invalid entry in the  activeNode list: %d\n", (int)head->loc);
        }
        indexNode& f = indexArray[head->loc];
        if (f.node != nullptr) BT_FREE(f.node);
        f.node = nullptr;
        f.state = empty;
        actList = head->next;
        BT_FREE(head);
        if (dbHandle != nullptr) WriteCtrlRec();
    }
    freeList(&avlList);
    rootP = nullptr;
    return result;
}

void bTree::ExitCleanup() {
    BT_TRACE("ExitCleanup() entry. actList = %p\n", (void*)actList);
    int cells = 0;
    listCell** link = &actList;
    while (*link != nullptr) {
        listCell* c = *link;
        ++cells;
        indexNode& e = indexArray[c->loc];
        if (e.node != nullptr && e.node == rootP) {
            link = &c->next;
            continue;
        }
        if (e.state == empty) {
            BT_TRACE("ExitCleanup() found empty indexNode[%d]\n", (int)c->loc);
            *link = c->next;
            BT_FREE(c);
            continue;
        }
        if (kvCheckBlock(e.node, BT_SOURCE, __LINE__) != 0)
            BT_TRACE("ExitCleanup() bad memory check for indexArray[%d], node: %p\n", (int)c->loc, (void*)e.node);
        if (e.state == occupied) e.state = clean;
        else if (e.state == modhold) e.state = modified;
        link = &c->next;
    }
    BT_TRACE("ExitCleanup() actlist size: %d\n", cells);
}
