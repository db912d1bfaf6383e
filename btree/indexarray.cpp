// Node subscripts: handing out index-array entries, and the two subscript
// lists (nodes in memory, free slots).
#include <cstring>

#include "engine_internal.h"

uint32_t bTree::addIndexEntry() {
    BT_TRACE("addIndexEntry(): currentIXCount: %d\n", (int)cr.currentIXCount);
    if (cr.indexArraySize == cr.currentIXCount) {
        uint32_t oldSize = cr.indexArraySize;
        BT_TRACE("Increasing indexarray from %d to %d\n", (int)oldSize, (int)(oldSize + indexArrayGrowth));
        void* grown = nullptr;
        if (oldSize <= UINT32_MAX - indexArrayGrowth)
            grown = BT_REALLOC(indexArray, (uint64_t)(oldSize + indexArrayGrowth) * sizeof(indexNode));
        if (grown == nullptr) {
            BT_ERROR("addIndexEntry(): kvReAlloc() returned NULL.\n");
            dbErrno = btErrNoMemoryErrno;
            return 0;
        }
        BT_TRACE("addIndexEntry(): Size was increased by kvRealloc()\n");
        indexArray = static_cast<indexNode*>(grown);
        std::memset(indexArray + oldSize, 0, indexArrayGrowth * sizeof(indexNode));
        cr.indexArraySize = oldSize + indexArrayGrowth;
        if (cr.currentIXCount == 0) cr.currentIXCount = 1;  // subscript 0 is never a node
    }
    const indexNode& e = indexArray[cr.currentIXCount];
    BT_TRACE("addIndexEntry() values at exit: nodeSize: %d, slotLength %d, newNDLast: %lld\n", (int)e.nodeSize,
             (int)e.slotLength, (long long)newNDLast);
    uint32_t loc = cr.currentIXCount++;
    BT_TRACE("addIndexEntry(): returning %d .\n", (int)loc);
    return loc;
}

void bTree::addIndex(listCell** list, uint32_t loc) {
    BT_TRACE("addIndex(): entry, loc=%d.\n", (int)loc);
    listCell* cell = spareCells;
    if (cell != nullptr) {
        spareCells = cell->next;
        --spareCellCount;
    } else {
        cell = static_cast<listCell*>(BT_CALLOC(1, sizeof(listCell)));
    }
    if (cell == nullptr) {
        // Without a cell the subscript cannot be listed; the entry's state
        // still tells the truth, only this list misses it.
        dbErrno = btErrNoMemoryErrno;
        BT_ERROR("addIndex(): memory allocation error.\n");
        return;
    }
    cell->loc = loc;
    cell->next = *list;
    *list = cell;
    BT_TRACE("addIndex(): exit.\n");
}

void bTree::delIndex(listCell** list, uint32_t loc) {
    BT_TRACE("delIndex(): entry, loc=%d.\n", (int)loc);
    for (listCell** link = list; *link != nullptr; link = &(*link)->next) {
        if ((*link)->loc == loc) {
            listCell* cell = *link;
            *link = cell->next;
            if (spareCellCount < spareCellsKept) {
                cell->next = spareCells;
                spareCells = cell;
                ++spareCellCount;
            } else {
                BT_FREE(cell);
            }
            break;
        }
    }
    BT_TRACE("delIndex(): exit.\n");
}

void bTree::freeList(listCell** list) {
    while (*list != nullptr) {
        listCell* cell = *list;
        *list = cell->next;
        BT_FREE(cell);
    }
}
