// The node cache.  A node enters memory when an operation fetches it by
// subscript, stays while it is held, is marked changed by writePage, and
// leaves one at a time as others come in (purgecache: the oldest unheld
// clean node, else the oldest unheld modified one after writing it) or all
// at once (FlushMemNodes).  The root stays until a flush.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"
#include "readahead.h"

using namespace btdetail;

#define BT_TRACE_HEADER(fmtPrefix, p)                                                                      \
    BT_TRACE(fmtPrefix                                                                                     \
             "allocSize: %ld, nodeSize %ld, slotLength: %ld, array subscript: %d, count: %d, "             \
             "branches: %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d\n",                                     \
             (long)(p)->allocSize, (long)(p)->nodeData.info.nodeSize, (long)(p)->nodeData.info.slotLength, \
             (int)(p)->nodeData.info.ixaSubscript, (int)(p)->nodeData.count, (int)(p)->nodeData.branch[0], \
             (int)(p)->nodeData.branch[1], (int)(p)->nodeData.branch[2], (int)(p)->nodeData.branch[3],     \
             (int)(p)->nodeData.branch[4], (int)(p)->nodeData.branch[5], (int)(p)->nodeData.branch[6],     \
             (int)(p)->nodeData.branch[7], (int)(p)->nodeData.branch[8], (int)(p)->nodeData.branch[9],     \
             (int)(p)->nodeData.branch[10])

// Checks what a node read from disk says about itself before anything
// walks its datums: its size, its datum count, and every datum's length,
// data position and key terminator must lie within the node.
bool bTree::nodeIsSound(const diskNode* p, uint32_t expectedSize) const {
    btformat::NodeCheck r = btformat::decodeNode(
        nodeBytes(p), expectedSize, dataSize, [](const btformat::DatumFacts&) {}, btformat::KeyEnds());
    return btformat::tolerated(r.fault);
}

// Reads node `loc`, whose entry e is `empty`, from the file and checks it.
// On success the entry is `occupied` with the buffer; on failure it stays
// as it was (on disk, not in memory), dbErrno is set and the result is null.
diskNode* bTree::readNode(int loc, indexNode* e) {
    uint64_t size = e->nodeSize;
    diskNode* buf = static_cast<diskNode*>(BT_CALLOC(1, sizeof(uint64_t) + size + nodeHeaderSize));
    if (buf == nullptr) {
        BT_ERROR("fetchPage(): memory allocation error .\n");
        dbErrno = btErrNoMemoryErrno;
        return nullptr;
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
        return nullptr;
    };
    errno = 0;
    if (dbHandle == nullptr || e->nodePos < (int64_t)ctrlRecSize) {
        int err = errno;
        BT_ERROR("fetchPage(): fsetpos: error %d .\n", err);
        dbErrno = err != 0 ? err : btErrShortTransfer;
        return unload();
    }
    BT_TRACE("fetchPage(): trying to read %d bytes to %p\n", (int)size, (void*)&buf->nodeData);
    errno = 0;
    // The whole node in one positioned read.
    if (dbHandle->readAt(e->nodePos, &buf->nodeData, (size_t)size) != (int64_t)size) {
        int err = errno;
        BT_ERROR("fetchPage(): fread: error %d .\n", err);
        dbErrno = err != 0 ? err : btErrShortTransfer;
        return unload();
    }
    BT_TRACE("fetchPage: from disk: indexArray[%d]\n", loc);
    ++nodeReads;
    // Checked before it joins the cache: a node that failed its checks
    // never stands in memory, where a later operation would trust it.
    if (buf->nodeData.info.ixaSubscript != (uint32_t)loc || !nodeIsSound(buf, (uint32_t)size)) {
        BT_ERROR("fetchPage(): corrupt node at indexArray[%d], disk offset %lld .\n", loc, (long long)e->nodePos);
        dbErrno = btErrCorrupt;
        return unload();
    }
    return buf;
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
            // A node the walk has read ahead (and checked as readNode does)
            // comes from there instead of the file.
            while (readAheadBuf.inFlight((uint32_t)loc) && aheadCount > 0) settleOldestAhead();
            diskNode* ahead = readAheadBuf.take((uint32_t)loc);
            if (ahead != nullptr) {
                BT_TRACE("fetchPage: read ahead: indexArray[%d]\n", loc);
                e->state = occupied;
                e->node = ahead;
            } else if (readNode(loc, e) == nullptr) {
                return failedNode();
            }
            addIndex(&actList, (uint32_t)loc);
            if (purgecache() != 0) {
                // The node stays loaded and held; the operation's
                // ExitCleanup releases it like any other it holds.
                BT_ERROR("fetchPage(): purgeCache failed.\n");
                return failedNode();
            }
            e = &indexArray[loc];
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

namespace {
// Limits of one batch of read-ahead (readahead.h).
constexpr size_t readAheadNodes = readahead::maxNodes;
}  // namespace

// Reads the nodes `locs` that are only on disk with one batched read into
// the read-ahead buffer, where the walk's fetches find them instead of
// reading them one at a time.  Each node is still read whole, exactly its
// nodeSize bytes.  A node that does not read back sound is left on disk:
// fetchPage reads it again and reports it.  readAhead reads at once;
// beginReadAhead only begins, and the nodes stay in flight in the buffer
// until settleOldestAhead checks them, when one of them is wanted, a
// later batch is read at once, or the walk ends.
void bTree::readAhead(const uint32_t* locs, size_t n) {
    beginReadAhead(locs, n);
    finishReadAhead();
}

void bTree::beginReadAhead(const uint32_t* locs, size_t n) {
    static_assert(readAheadNodes <= aheadBatchNodes, "a batch fits its record");
    if (aheadCount == maxAheadBatches) settleOldestAhead();
    AheadBatch& b = aheadBatches[(aheadFirst + aheadCount) % maxAheadBatches];
    size_t count = 0;
    for (size_t i = 0; i < n && count < readAheadNodes; ++i) {
        const indexNode& e = indexArray[locs[i]];
        // As fetchPage's buffers: the image, and 72 zero bytes behind it.
        diskNode* buf = readAheadBuf.reuse(e.nodeSize);
        if (buf == nullptr) buf = static_cast<diskNode*>(BT_MALLOC(ReadAheadBuffer::allocBytesFor(e.nodeSize)));
        if (buf == nullptr) break;
        std::memset(reinterpret_cast<uint8_t*>(&buf->nodeData) + e.nodeSize, 0, nodeHeaderSize);
        buf->allocSize = e.nodeSize;
        // A damaged tree may name a node twice: it is read once.
        if (!readAheadBuf.reserve(locs[i], buf)) {
            readAheadBuf.recycle(buf);
            continue;
        }
        b.locs[count] = locs[i];
        b.reqs[count].pos = e.nodePos;
        b.reqs[count].buf = &buf->nodeData;
        b.reqs[count].len = (size_t)e.nodeSize;
        b.bufs[count++] = buf;
    }
    b.count = count;
    if (count == 0) return;
    dbHandle->readBatchBegin(b.reqs, count);
    ++aheadCount;
}

void bTree::settleOldestAhead() {
    AheadBatch& b = aheadBatches[aheadFirst];
    dbHandle->readBatchEnd();
    aheadFirst = (aheadFirst + 1) % maxAheadBatches;
    --aheadCount;
    for (size_t i = 0; i < b.count; ++i) {
        const indexNode& e = indexArray[b.locs[i]];
        const diskNode* buf = b.bufs[i];
        bool sound = e.state == empty && b.reqs[i].got == (int64_t)e.nodeSize &&
                     buf->nodeData.info.nodeMagic == nodeMagicNumber && buf->nodeData.info.ixaSubscript == b.locs[i] &&
                     nodeIsSound(buf, (uint32_t)e.nodeSize);
        readAheadBuf.settle(b.locs[i], sound);
        if (!sound) continue;
        BT_TRACE("readAhead(): indexArray[%d] read ahead\n", (int)b.locs[i]);
        ++nodeReads;
    }
    b.count = 0;
}

void bTree::finishReadAhead() {
    while (aheadCount > 0) settleOldestAhead();
}

void bTree::dropReadAhead() {
    // The reads end before their buffers go (a file already closed ended
    // them when it closed).
    for (; aheadCount > 0; --aheadCount) {
        if (dbHandle != nullptr) dbHandle->readBatchEnd();
        aheadBatches[aheadFirst].count = 0;
        aheadFirst = (aheadFirst + 1) % maxAheadBatches;
    }
    aheadFirst = 0;
    readAheadBuf.clear();
}

// Adds to locs the children of `parent` that are only on disk and not read
// ahead yet, within one batch's bounds (*n nodes and *bytes so far).
void bTree::collectMissing(const diskNode* parent, uint32_t* locs, size_t* n, uint64_t* bytes) {
    readahead::forEachChild(parent->nodeData, [&](uint32_t loc) {
        if (*n >= readAheadNodes || loc >= cr.currentIXCount) return;
        const indexNode& e = indexArray[loc];
        if (e.state != empty || !readahead::sizeReadable(e.nodeSize) || e.nodePos < (int64_t)ctrlRecSize ||
            *bytes + e.nodeSize > readahead::maxBytes || readAheadBuf.holds(loc) ||
            !readAheadBuf.roomFor(*bytes + e.nodeSize))
            return;
        locs[(*n)++] = loc;
        *bytes += e.nodeSize;
    });
}

// The children of `p` that are at hand (in the cache or read ahead).
template <class F>
void bTree::forEachChildAtHand(const diskNode* p, F&& f) {
    readahead::forEachChild(p->nodeData, [&](uint32_t loc) {
        if (loc >= cr.currentIXCount) return;
        const diskNode* child = indexArray[loc].node != nullptr ? indexArray[loc].node : readAheadBuf.peek(loc);
        if (child != nullptr && child != p) f(child);
    });
}

// Before a walk descends into an internal node: reads its children that
// are only on disk, then the children of those children, two levels in two
// batches (the level below is usually there already, read with the node's
// own siblings or by the second thread while the walk went through the
// sibling before).
void bTree::prefetchChildren(const diskNode* p) {
    if (dbHandle == nullptr || p->nodeData.branch[0] == 0) return;
    // Children still being read are wanted now.
    readahead::forEachChild(p->nodeData, [&](uint32_t loc) {
        while (readAheadBuf.inFlight(loc) && aheadCount > 0) settleOldestAhead();
    });
    uint32_t locs[readAheadNodes];
    size_t n = 0;
    uint64_t bytes = 0;
    collectMissing(p, locs, &n, &bytes);
    if (n > 1) readAhead(locs, n);
    n = 0;
    bytes = 0;
    forEachChildAtHand(p, [&](const diskNode* child) { collectMissing(child, locs, &n, &bytes); });
    if (n > 1) readAhead(locs, n);
}

// While a walk goes through one child of a node, the second thread reads
// what the walks of the next children will want: for child `loc`, its
// children that are only on disk, and the children of those at hand.
void bTree::prefetchNext(uint32_t loc) {
    if (dbHandle == nullptr || loc == 0 || loc >= cr.currentIXCount) return;
    const diskNode* q = indexArray[loc].node != nullptr ? indexArray[loc].node : readAheadBuf.peek(loc);
    if (q == nullptr || q->nodeData.branch[0] == 0) return;
    uint32_t locs[readAheadNodes];
    size_t n = 0;
    uint64_t bytes = 0;
    collectMissing(q, locs, &n, &bytes);
    forEachChildAtHand(q, [&](const diskNode* child) { collectMissing(child, locs, &n, &bytes); });
    if (n < 2) return;
    beginReadAhead(locs, n);
    ++aheadBegun;
}

int bTree::writePage(diskNode** pp) {
    diskNode* p = *pp;
    uint32_t s = p->nodeData.info.ixaSubscript;
    indexNode* e = nullptr;
    if (s != 0 && s != 0xFFFFFFFFu && s < cr.currentIXCount) {
        e = &indexArray[s];
        if (e->node != p) e->node = p;
    }
    BT_TRACE("writePage() entry: p = %p, db handle = %p, count = %d indexArray[%d]\n", (void*)p, (void*)dbHandle,
             (int)p->nodeData.count, (int)s);
    BT_TRACE_HEADER("writePage(): ", p);
    dbErrno = 0;
    ++nodeChanges;
    // Nodes read ahead are images of the file as it was; a change makes
    // them stale.
    dropReadAhead();

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
        indexNode* L = lastSlotEntry();
        if (L != nullptr && (L->state == modified || L->state == modhold)) {
            rc = RealWrite(L);
            if (rc != 0) {
                BT_ERROR("writePage(): RealWrite() returned %d: errno %d: \"%s\".\n", rc, dbErrno,
                         plat::errnoText(dbErrno).c_str());
                return rc;
            }
            L = lastSlotEntry();
            if (L != nullptr) L->state = occupied;
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
        if (e.state == clean)
            cleanCell = c;
        else if (e.state == modified)
            modCell = c;
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
    BT_TRACE("FlushMemNodes() entry: currentIXCount = %d, actList = %p\n", (int)cr.currentIXCount, (void*)actList);
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
            if (rc != 0) {
                // The node's change is lost with its buffer below: the file
                // may now hold part of a change.
                result = rc;
                changeTorn = true;
            }
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

size_t bTree::nodesInMemory() const {
    size_t n = readAheadBuf.nodes();
    for (const listCell* c = actList; c != nullptr; c = c->next) ++n;
    return n;
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
        if (e.state == occupied)
            e.state = clean;
        else if (e.state == modhold)
            e.state = modified;
        link = &c->next;
    }
    BT_TRACE("ExitCleanup() actlist size: %d\n", cells);
}
