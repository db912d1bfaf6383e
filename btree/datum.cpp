// The three primitives that change the datums of a node's buffer: insert a
// datum at a position, remove the datum at a position, and grow the buffer.
// They keep the node's count and nodeSize, and the nodeSize of its index
// entry, in step with the bytes; branches are the caller's business.
#include <cstring>

#include "engine_internal.h"

using namespace btdetail;

namespace {

// True when the node has an index entry to keep in step (a node made by
// dbCalloc has none until writePage places it).
bool hasSubscript(const diskNode* p, uint32_t currentIXCount) {
    uint32_t s = p->nodeData.info.ixaSubscript;
    return s != 0 && s != 0xFFFFFFFFu && s < currentIXCount;
}

}  // namespace

// `d` is copied whole; it may lie in another node's buffer but not in this
// node's, which an extension may move.
int bTree::InsertDatum(diskNode** pp, int k, const uint8_t* d) {
    diskNode* p = *pp;
    uint32_t n = datumLength(d);
    BT_TRACEW(u"InsertDatum(): entry. p: %p, k: %d, key: %s, nodeSize: %d, allocSize: %d, nkl: %d, count: %d\n",
              (void*)p, k, reinterpret_cast<const char16_t*>(datumKey(d)), (int)p->nodeData.info.nodeSize,
              (int)p->allocSize, (int)n, (int)p->nodeData.count);
    if (k < 0 || k > p->nodeData.count) {
        BT_ERROR("InsertDatum(): invalid position %d in a node of %d datums.\n", k, (int)p->nodeData.count);
        dbErrno = btErrInvalid;
        return -1;
    }
    // A datum longer than one growth step needs more than one extension.
    while ((uint64_t)p->nodeData.info.nodeSize + n > p->allocSize) {
        if (extendNode(pp) != 0) {
            dbErrno = btErrNoMemoryErrno;
            BT_ERROR("InsertDatum(): memory allocation error.\n");
            return -1;
        }
        p = *pp;
    }
    uint8_t* bp = datumAt(p, k);
    uint8_t* newLast = datumAt(p, p->nodeData.count);
    if ((uint64_t)(newLast + n - reinterpret_cast<uint8_t*>(p)) > p->allocSize)
        BT_TRACE("InsertDatum(): p: %p buffer underflow!, bp: %p, newLast %p\n", (void*)p, (void*)bp, (void*)newLast);
    ++nodeChanges;
    std::memmove(bp + n, bp, (size_t)(newLast - bp));
    std::memcpy(bp, d, n);
    p->nodeData.count++;
    p->nodeData.info.nodeSize += n;
    if (hasSubscript(p, cr.currentIXCount))
        indexArray[p->nodeData.info.ixaSubscript].nodeSize = p->nodeData.info.nodeSize;
    BT_TRACE("InsertDatum(): returning %d .\n", 0);
    return 0;
}

void bTree::RemoveDatum(diskNode** pp, int k) {
    diskNode* p = *pp;
    int count = p->nodeData.count;
    if (k < 0 || k >= count) {
        BT_ERROR("RemoveDatum(): invalid position %d in a node of %d datums.\n", k, count);
        return;
    }
    uint8_t* bp = datumAt(p, k);
    uint32_t n = datumLength(bp);
    uint8_t* src = bp + n;
    BT_TRACE("RemoveDatum(): entry. p: %p, k: %d, nodeSize: %d, allocSize: %d, nkl: %d, count: %d\n", (void*)p, k,
             (int)p->nodeData.info.nodeSize, (int)p->allocSize, (int)n, count);
    ++nodeChanges;
    p->nodeData.info.nodeSize -= n;
    if (hasSubscript(p, cr.currentIXCount))
        indexArray[p->nodeData.info.ixaSubscript].nodeSize = p->nodeData.info.nodeSize;
    if (k != count - 1) {
        uint8_t* end = datumAt(p, count);
        BT_TRACE("RemoveDatum(): memcpy %d, from src %p to bp %p\n", (int)(end - src), (void*)src, (void*)bp);
        std::memmove(bp, src, (size_t)(end - src));
    }
    p->nodeData.count--;
    BT_TRACE("RemoveDatum(): exit, nodeDate.count=%d .\n", (int)p->nodeData.count);
}

int bTree::extendNode(diskNode** pp) {
    diskNode* p = *pp;
    uint32_t s = p->nodeData.info.ixaSubscript;
    BT_TRACE("extendNode(): entry, old p: %p, indexArray[%d], allocSize: %d\n", (void*)p, (int)s, (int)p->allocSize);
    bool isRoot = p == rootP;
    void* grown = BT_REALLOC(p, p->allocSize + sizeof(uint64_t) + newNodeAllocBytes);
    if (grown == nullptr) {
        dbErrno = btErrNoMemoryErrno;
        BT_TRACE("extendNode(): returning %d .\n", -1);
        return -1;
    }
    p = static_cast<diskNode*>(grown);
    if (hasSubscript(p, cr.currentIXCount)) indexArray[s].node = p;
    // The root is known by rootP as well; it must follow the buffer.
    if (isRoot) rootP = p;
    *pp = p;
    p->allocSize += newNodeAllocBytes;
    BT_TRACE("extendNode(): exit, new p: %p, allocSize: %d\n", (void*)p, (int)p->allocSize);
    BT_TRACE("extendNode(): returning %d .\n", 0);
    return 0;
}
