// Adding an entry, or replacing the data of an existing key.  The insert
// walks down from the root to the leaf where the key belongs; a node that
// would then hold 11 datums splits into two nodes of 5 around its median
// datum, which moves up into the parent, and a root that splits gives the
// tree a new root.  Everything that needs memory (the new nodes, the copies
// of the medians, room in the nodes that take a datum, index entries) is
// prepared before the first node changes, so that a lack of memory leaves
// the tree as it was.
#include <cstring>

#include "engine_internal.h"

using namespace btdetail;

namespace {

constexpr int splitLeft = 5;  // datums left in the node that splits
constexpr uint32_t deletionMark = 0xFFFFFFFFu;

// What a level on the way down holds: the node and the position of the key
// in it (the branch taken, or where the datum goes in a leaf).
struct PathLevel {
    diskNode* node;
    int k;
};

// What one splitting level needs, made before anything changes.
struct SplitPrep {
    diskNode* sibling = nullptr;  // the new right-hand node, datums filled in
    uint8_t* median = nullptr;    // copy of the datum that moves up
};

}  // namespace

// Grows the index array so that `n` more subscripts can be handed out
// without an allocation (in the array's usual steps of 500 entries).
bool bTree::reserveIndexEntries(uint32_t n) {
    while (cr.indexArraySize < cr.currentIXCount + n) {
        uint32_t oldSize = cr.indexArraySize;
        void* grown = BT_REALLOC(indexArray, (uint64_t)(oldSize + indexArrayGrowth) * sizeof(indexNode));
        if (grown == nullptr) {
            BT_ERROR("reserveIndexEntries(): kvReAlloc() returned NULL.\n");
            dbErrno = btErrNoMemoryErrno;
            return false;
        }
        indexArray = static_cast<indexNode*>(grown);
        std::memset(indexArray + oldSize, 0, indexArrayGrowth * sizeof(indexNode));
        cr.indexArraySize = oldSize + indexArrayGrowth;
    }
    return true;
}

// Places a node made by dbCalloc on disk.  On failure the buffer is freed
// and *pp nulled; the result is writePage's.
int bTree::placeNewNode(diskNode** pp) {
    int rc = writePage(pp);
    if (rc != 0) {
        diskNode* p = *pp;
        uint32_t s = p->nodeData.info.ixaSubscript;
        if (s != 0 && s < cr.currentIXCount && indexArray[s].node == p) indexArray[s].node = nullptr;
        BT_FREE(p);
        *pp = nullptr;
    }
    return rc;
}

int bTree::Insert(const char16_t* key, const uint8_t* data) {
    if (refuseAfterTornChange("Insert")) return -1;
    uint64_t changesBefore = nodeChanges;
    return endChange("Insert", changesBefore, insertKey(key, data));
}

int bTree::insertKey(const char16_t* key, const uint8_t* data) {
    dbErrno = 0;
    BT_TRACEW(u"Insert() entry, key = %s\n", key != nullptr ? key : u"NULL");
    if (key == nullptr || key[0] == 0 || data == nullptr) {
        BT_ERROR("Insert(): an empty key or no data given.\n");
        dbErrno = btErrInvalid;
        return -1;
    }
    // The datum: nkl, dataOffset, the key with its terminator, the data.
    uint64_t units = 0;
    while (key[units] != 0 && units <= maxDatumLength) ++units;
    uint64_t keyBytes = (units + 1) * sizeof(char16_t);
    uint64_t nkl = datumKeyOffset + keyBytes + dataSize;
    if (nkl > maxDatumLength) {
        BT_ERROR("Insert(): a key of %lld characters makes a datum of more than %d bytes.\n", (long long)units,
                 (int)maxDatumLength);
        dbErrno = btErrInvalid;
        return -1;
    }
    if (!loadRoot("Insert")) {
        ExitCleanup();
        return -1;
    }
    uint8_t* datum = static_cast<uint8_t*>(BT_MALLOC(nkl));
    if (datum == nullptr) {
        BT_ERROR("Insert(): memory allocation error.\n");
        dbErrno = btErrNoMemoryErrno;
        return -1;
    }
    btformat::setDatumFields(datum, (uint16_t)nkl, (uint16_t)(datumKeyOffset + keyBytes));
    std::memcpy(datum + datumKeyOffset, key, keyBytes);
    std::memcpy(datum + datumKeyOffset + keyBytes, data, dataSize);

    int rc = insertEntry(key, datum);
    BT_FREE(datum);
    BT_TRACE("Leaving Insert(), result = %d, currentIXCount = %d, rootP = %p\n", rc, (int)cr.currentIXCount,
             (void*)rootP);
    ExitCleanup();
    return rc;
}

// Insert's work on a valid datum: 0 added, 1 replaced, -1 failure.
int bTree::insertEntry(const char16_t* key, const uint8_t* datum) {
    PathLevel path[maxTreeDepth];
    SplitPrep prep[maxTreeDepth];
    bool placed = false;  // the prepared new nodes are on disk
    diskNode* newRoot = nullptr;
    int depth = 0;

    // Hands back every node of the path but the root and every new node
    // placed, and frees what was prepared and not placed.
    auto finish = [&](int rc) {
        for (int i = 0; i <= depth; ++i) {
            if (path[i].node != nullptr && path[i].node != rootP) dbFree(BT_SOURCE, __LINE__, path[i].node);
            if (prep[i].sibling != nullptr) {
                if (placed)
                    dbFree(BT_SOURCE, __LINE__, prep[i].sibling);
                else
                    BT_FREE(prep[i].sibling);
            }
            if (prep[i].median != nullptr) BT_FREE(prep[i].median);
        }
        if (newRoot != nullptr && newRoot != rootP) {
            if (placed)
                dbFree(BT_SOURCE, __LINE__, newRoot);
            else
                BT_FREE(newRoot);
        }
        return rc;
    };

    // Down to the leaf, or to the node that holds the key already.
    path[0] = {rootP, 0};
    for (;;) {
        diskNode* p = path[depth].node;
        pathLocs[depth] = p->nodeData.info.ixaSubscript;
        int k = 0;
        if (SearchNode(key, p, &k)) {
            // The key is there: its data is replaced in place, and the
            // datum keeps its length.
            std::memcpy(datumData(datumAt(p, k)), datumData(datum), dataSize);
            int rc = writePage(&path[depth].node);
            return finish(rc == 0 ? 1 : -1);
        }
        path[depth].k = k;
        if (p->nodeData.branch[0] == 0) break;
        diskNode* c = fetchDescent("Insert", p->nodeData.branch[k], depth);
        if (c == nullptr) return finish(-1);
        path[++depth] = {c, 0};
    }

    // Prepare, from the leaf up: each full node gets its new sibling with
    // its right-hand datums and a copy of its median; the first node with
    // room, or a new root, takes the last median.
    const uint8_t* carried = datum;
    int top = depth;  // the highest level that changes
    int splits = 0;
    for (;;) {
        diskNode** pp = &path[top].node;
        int k = path[top].k;
        if ((*pp)->nodeData.count < maxDatumsPerNode) {
            if (ensureRoom(pp, datumLength(carried)) != 0) return finish(-1);
            break;
        }
        // The node would hold 11 datums, c[0..10] in key order.
        if (k < splitLeft && ensureRoom(pp, datumLength(carried)) != 0) return finish(-1);
        const uint8_t* c[maxDatumsPerNode + 1];
        for (int i = 0, from = 0; i <= maxDatumsPerNode; ++i) c[i] = i == k ? carried : datumAt(*pp, from++);
        prep[top].sibling = dbCalloc(BT_SOURCE, __LINE__, newNodeAllocBytes);
        if (prep[top].sibling == nullptr) return finish(-1);
        for (int i = splitLeft + 1; i <= maxDatumsPerNode; ++i)
            if (InsertDatum(&prep[top].sibling, prep[top].sibling->nodeData.count, c[i]) != 0) return finish(-1);
        uint16_t mlen = datumLength(c[splitLeft]);
        prep[top].median = static_cast<uint8_t*>(BT_MALLOC(mlen));
        if (prep[top].median == nullptr) {
            BT_ERROR("Insert(): memory allocation error.\n");
            dbErrno = btErrNoMemoryErrno;
            return finish(-1);
        }
        std::memcpy(prep[top].median, c[splitLeft], mlen);
        carried = prep[top].median;
        ++splits;
        if (top == 0) {
            // The root splits: a new root will hold the median alone.
            newRoot = dbCalloc(BT_SOURCE, __LINE__, newNodeAllocBytes);
            if (newRoot == nullptr || InsertDatum(&newRoot, 0, carried) != 0) return finish(-1);
            break;
        }
        --top;
    }

    if (splits > 0) {
        // Each new node takes a subscript, and the node it evicts from the
        // cache may move to a slot of its own and take another.
        if (!reserveIndexEntries(2 * (uint32_t)(splits + 1))) return finish(-1);
        // Place the new nodes before any node changes; their branches are
        // set below and written with them later.
        diskNode** fresh[maxTreeDepth + 1];
        int nFresh = 0;
        for (int level = depth; level >= top; --level)
            if (prep[level].sibling != nullptr) fresh[nFresh++] = &prep[level].sibling;
        if (newRoot != nullptr) fresh[nFresh++] = &newRoot;
        for (int i = 0; i < nFresh; ++i) {
            if (placeNewNode(fresh[i]) != 0) {
                // Give the slots of the ones placed back; the tree is unchanged.
                for (int j = 0; j < i; ++j) {
                    (*fresh[j])->nodeData.branch[0] = deletionMark;
                    writePage(fresh[j]);
                }
                return finish(-1);
            }
        }
        placed = true;
    }

    // Commit, from the leaf up.
    uint32_t right = 0;  // subscript of the node right of `carried`
    carried = datum;
    for (int level = depth; level >= top; --level) {
        diskNode** pp = &path[level].node;
        diskNode* p = *pp;
        int k = path[level].k;
        if (prep[level].sibling == nullptr) {
            // Room here: the datum goes in at k, its right branch at k+1.
            if (InsertDatum(pp, k, carried) != 0) return finish(-1);
            p = *pp;
            for (int i = p->nodeData.count; i > k + 1; --i) p->nodeData.branch[i] = p->nodeData.branch[i - 1];
            p->nodeData.branch[k + 1] = right;
            return finish(writePage(pp) == 0 ? 0 : -1);
        }
        // Split: b[0..11] are the branches around c[0..10]; the sibling
        // takes c[6..10] (already in it) with b[6..11].
        uint32_t b[maxDatumsPerNode + 2];
        for (int i = 0, from = 0; i <= maxDatumsPerNode + 1; ++i)
            b[i] = i == k + 1 ? right : p->nodeData.branch[from++];
        diskNode* q = prep[level].sibling;
        for (int i = 0; i <= splitLeft; ++i) q->nodeData.branch[i] = b[splitLeft + 1 + i];
        // The node keeps c[0..4]: its datums from position 4 (k < 5) or 5
        // on leave it, and the carried datum comes in when it belongs here.
        int keep = k < splitLeft ? splitLeft - 1 : splitLeft;
        while (p->nodeData.count > keep) RemoveDatum(pp, p->nodeData.count - 1);
        if (k < splitLeft && InsertDatum(pp, k, carried) != 0) return finish(-1);
        p = *pp;
        for (int i = 0; i < branchesPerNode; ++i) p->nodeData.branch[i] = i <= splitLeft ? b[i] : 0;
        if (writePage(&prep[level].sibling) != 0 || writePage(pp) != 0) return finish(-1);
        right = q->nodeData.info.ixaSubscript;
        carried = prep[level].median;
    }
    // The root split: the new root has the old one on its left and the
    // old root's new sibling on its right.
    newRoot->nodeData.branch[0] = path[0].node->nodeData.info.ixaSubscript;
    newRoot->nodeData.branch[1] = right;
    if (writePage(&newRoot) != 0) return finish(-1);
    rootP = newRoot;
    cr.rootOffset = rootP->nodeData.info.ixaSubscript;
    BT_TRACE("Insert(): new root indexArray[%d]\n", (int)cr.rootOffset);
    return finish(WriteCtrlRec() == 0 ? 0 : -1);
}
