// The read side of the tree: locating a key inside a node, finding the data
// stored under a key, and visiting every entry in key order.
#include <cstring>

#include "engine_internal.h"
#include "platform.h"

using namespace btdetail;

namespace {
constexpr size_t keyScratchUnits = maxStoredDatumLength / 2 + 1;
}

// The datum's key as a UTF-16 string: in place when it is suitably
// aligned, else a copy (the engine has checked that the key's terminator
// lies inside the datum).
const char16_t* bTree::alignedKey(const uint8_t* datum) {
    const uint8_t* inPlace = datumKey(datum);
    if (reinterpret_cast<uintptr_t>(inPlace) % alignof(char16_t) == 0)
        return reinterpret_cast<const char16_t*>(inPlace);
    if (keyScratch == nullptr) {
        keyScratch = static_cast<char16_t*>(BT_MALLOC(keyScratchUnits * sizeof(char16_t)));
        if (keyScratch == nullptr) return nullptr;
    }
    const uint8_t* k = datumKey(datum);
    size_t n = 0;
    while (n + 1 < keyScratchUnits && (keyScratch[n] = static_cast<char16_t>(get16(k + 2 * n))) != 0) ++n;
    keyScratch[n] = 0;
    return keyScratch;
}

int bTree::visitEntry(const char16_t* key, const uint8_t* /*data*/) {
    plat::outPrintf("Retrieved Key: %10s\n", plat::outName(key).c_str());
    return 0;
}

int bTree::SearchNode(const char16_t* target, diskNode* p, int* k) {
    BT_TRACEW(u"SearchNode() entry, target = %s, *k = %d, p = %p\n", target, (int)p->nodeData.count, (void*)p);
    *k = p->nodeData.count;
    if (*k == 0) return 0;
    while (*k > 0 && compareKeys(target, datumKey(datumAt(p, *k - 1))) < 0) --*k;
    if (*k == 0) return 0;
    if (compareKeys(target, datumKey(datumAt(p, *k - 1))) == 0) {
        --*k;
        return 1;
    }
    return 0;
}

diskNode* bTree::Search(const char16_t* target, diskNode* p, int* targetPos, int depth) {
    BT_TRACEW(u"Search(private) entry, target = %s, root = %p, targetPos = %d\n", target, (void*)p, *targetPos);
    if (p == nullptr) return nullptr;
    const nodeHeader& h = p->nodeData;
    BT_TRACE(
        "Search(): targetPos: %d, allocSize: %ld, nodeSize %ld, slotLength: %ld, array subscript: %d, "
        "count: %d, branches: %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d\n",
        *targetPos, (long)p->allocSize, (long)h.info.nodeSize, (long)h.info.slotLength, (int)h.info.ixaSubscript,
        (int)h.count, (int)h.branch[0], (int)h.branch[1], (int)h.branch[2], (int)h.branch[3], (int)h.branch[4],
        (int)h.branch[5], (int)h.branch[6], (int)h.branch[7], (int)h.branch[8], (int)h.branch[9], (int)h.branch[10]);
    if (SearchNode(target, p, targetPos)) return p;
    if (h.branch[0] == 0) return nullptr;  // a leaf: the key is not there
    pathLocs[depth] = h.info.ixaSubscript;
    uint32_t next = h.branch[*targetPos];
    for (int i = 0; i <= depth; ++i) {
        if (pathLocs[i] == next || depth + 1 >= maxTreeDepth) {
            BT_ERROR("Search(): branch %d of indexArray[%d] leads back up the tree, database is corrupt.\n", (int)next,
                     (int)h.info.ixaSubscript);
            dbErrno = btErrCorrupt;
            return failedNode();
        }
    }
    diskNode* child = fetchPage((int)next);
    if (child == failedNode()) return failedNode();
    diskNode* found = Search(target, child, targetPos, depth + 1);
    if (found == failedNode()) return failedNode();
    if (found == child) return found;
    dbFree(BT_SOURCE, __LINE__, child);
    return found;
}

uint8_t* bTree::Search(const char16_t* target) {
    BT_TRACEW(u"Search(public) entry, target = %s\n", target != nullptr ? target : u"NULL");
    if (target == nullptr || target[0] == 0) return nullptr;
    int pos = 0;
    diskNode* p = Search(target, rootP, &pos, 0);
    uint8_t* result = nullptr;
    if (p != nullptr && p != failedNode()) {
        if (dataBuf != nullptr) {
            std::memcpy(dataBuf, datumData(datumAt(p, pos)), dataSize);
            result = dataBuf;
        } else {
            dbErrno = btErrNoMemory;
        }
        if (p != rootP) dbFree(BT_SOURCE, __LINE__, p);
    }
    if (traceFlag_BTREEDB) {
        tracePrintf(BT_SOURCE, __LINE__, "Leaving Search(), currentIXCount = %d, root = %p\n", (int)cr.currentIXCount,
                    (void*)rootP);
        for (uint32_t i = 1; indexArray != nullptr && i < cr.currentIXCount; ++i)
            if (indexArray[i].state == occupied)
                tracePrintf(BT_SOURCE, __LINE__, "\tOccupied: indexArray[%d].node = %p\n", (int)i,
                            (void*)indexArray[i].node);
    }
    ExitCleanup();
    return result;
}

int bTree::walkTree(diskNode* p, int depth) {
    BT_TRACE("WalkTree() entry: p = %p\n", (void*)p);
    if (p == nullptr) {
        BT_ERROR("WalkTree(): Null branch.\n");
        dbErrno = btErrInvalid;
        return btErrNullBranch;
    }
    const nodeHeader& h = p->nodeData;
    if (h.count == 0) {
        BT_TRACE("WalkTree(): nodeDate.count=0, return %d.\n", 0);
        return 0;
    }
    pathLocs[depth] = h.info.ixaSubscript;
    // Fetches child `loc`, refusing a branch that leads back to a node on
    // the path, a tree deeper than any sound file, and more fetches than
    // the file has nodes (shared subtrees).
    auto fetchChild = [&](uint32_t loc) -> diskNode* {
        if (loc == 0) return nullptr;  // no child: p is a leaf
        bool loop = depth + 1 >= maxTreeDepth || ++walkFetches > cr.currentIXCount;
        for (int i = 0; i <= depth && !loop; ++i) loop = pathLocs[i] == loc;
        if (loop) {
            BT_ERROR(
                "walkTree(): branch %d of indexArray[%d] leads back up the tree or into a subtree already "
                "walked, database is corrupt.\n",
                (int)loc, (int)h.info.ixaSubscript);
            dbErrno = btErrCorrupt;
            return failedNode();
        }
        return fetchPage((int)loc);
    };
    auto fetchFailure = [&]() { return dbErrno == btErrNoMemoryErrno ? btErrNoMemory : btErrWalkFetch; };

    prefetchChildren(p);
    diskNode* child = fetchChild(h.branch[0]);
    if (child == failedNode()) {
        BT_ERROR("walkTree(): fetchPage(): dbErrno: %d, \"%s\".\n", dbErrno, plat::errnoText(dbErrno).c_str());
        return fetchFailure();
    }
    int result = 0;
    if (child == nullptr) {
        walkLeafDepth = depth;
        uint8_t* d = datumAt(p, 0);
        for (int i = 0; i < h.count && result == 0; ++i, d += datumLength(d)) {
            const char16_t* key = alignedKey(d);
            if (key == nullptr) {
                dbErrno = btErrNoMemoryErrno;
                return btErrNoMemory;
            }
            result = visitEntry(key, datumData(d));
        }
        return result;
    }
    // Where the children's children are the parents of leaves, each
    // child's subtree is walked while the second thread reads the leaves
    // under the next child: a subtree that short would otherwise leave the
    // second thread idle.  While the last child is walked, it reads the
    // parents of the leaves under the node that comes after this one (its
    // parent's next child).  In a sound tree all leaves are as deep, and
    // the first leaf the walk reaches tells how deep.
    auto readNext = [&](int i) {
        if (depth + 3 != walkLeafDepth) return;
        if (i <= h.count)
            prefetchNext(h.branch[i]);
        else if (i == h.count + 1)
            prefetchNext(walkNextAtDepth[depth]);
    };
    // The node that comes after the child walked, for its own readNext.
    auto nextAfterChild = [&](int i) { walkNextAtDepth[depth + 1] = i < h.count ? h.branch[i + 1] : 0; };
    readNext(1);
    nextAfterChild(0);
    result = walkTree(child, depth + 1);
    dbFree(BT_SOURCE, __LINE__, child);
    if (result != 0) return result;
    uint8_t* d = datumAt(p, 0);
    for (int i = 0; i < h.count; ++i, d += datumLength(d)) {
        const char16_t* key = alignedKey(d);
        if (key == nullptr) {
            dbErrno = btErrNoMemoryErrno;
            return btErrNoMemory;
        }
        result = visitEntry(key, datumData(d));
        if (result == 0) {
            child = fetchChild(h.branch[i + 1]);
            if (child == failedNode()) {
                BT_ERROR("walkTree(): fetchPage() returned -1, dbErrno: %d, \"%s\".\n", dbErrno,
                         plat::errnoText(dbErrno).c_str());
                return fetchFailure();
            }
            readNext(i + 2);
            nextAfterChild(i + 1);
            result = walkTree(child, depth + 1);
            dbFree(BT_SOURCE, __LINE__, child);
        }
        if (result != 0) break;
    }
    BT_TRACE("WalkTree(): returning %d .\n", result);
    return result;
}

int bTree::WalkTree() {
    walkActive = 1;
    BT_TRACE("WalkTree(): Entry.\n");
    int result = FlushMemNodes();
    if (result == 0) {
        rootP = fetchPage((int)cr.rootOffset);
        if (rootP == nullptr || rootP == failedNode()) {
            rootP = nullptr;
            if (dbErrno == 0) dbErrno = btErrInvalid;
            result = dbErrno == btErrNoMemoryErrno ? btErrNoMemory : btErrWalkFetch;
        } else {
            walkFetches = 0;
            walkLeafDepth = -1;
            walkNextAtDepth[0] = 0;
            result = walkTree(rootP, 0);
        }
    }
    // What the walk read ahead and did not reach goes: only what the
    // cache's own rule leaves stays in memory.
    dropReadAhead();
    ExitCleanup();
    walkActive = 0;
    BT_TRACE("WalkTree(): returning %d.\n", result);
    return result;
}
