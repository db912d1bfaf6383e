// Removing an entry and keeping the tree balanced.  A key is removed from a
// leaf, or replaced in an internal node by its successor, which is then
// removed from the leaf below.  On the way back up, a child left with fewer
// than 5 datums borrows one from a sibling through the parent (MoveRight,
// MoveLeft) or merges with a sibling and their separator (Combine); a root
// left without datums gives way to its only child.
#include <cstring>

#include "engine_internal.h"

using namespace btdetail;

namespace {

constexpr uint32_t deletionMark = 0xFFFFFFFFu;

}  // namespace

// ---- Helpers shared with Insert ----

// Makes sure the root is in memory (a flush drops it).  False, with dbErrno
// set, when there is no open database or the root cannot be read.
bool bTree::loadRoot(const char* op) {
    if (rootP != nullptr) return true;
    if (dbHandle == nullptr || indexArray == nullptr) {
        BT_ERROR("%s(): no database is open.\n", op);
        dbErrno = btErrInvalid;
        return false;
    }
    diskNode* r = fetchPage((int)cr.rootOffset);
    if (r == nullptr || r == failedNode()) {
        BT_ERROR("%s(): unable to load the root node indexArray[%d].\n", op, (int)cr.rootOffset);
        if (dbErrno == 0) dbErrno = btErrCorrupt;
        return false;
    }
    rootP = r;
    return true;
}

// Fetches the child `loc` of the node at `depth` on the way down; the caller
// has noted the subscripts of the path in pathLocs[0..depth].  In a sound
// tree the child exists and lies below the path; a missing child, a branch
// back to the root or to a node on the path, or a tree deeper than any
// sound file is damage, and fails with dbErrno 228.  Null on any failure.
diskNode* bTree::fetchDescent(const char* op, uint32_t loc, int depth) {
    bool damaged = loc == 0 || depth + 1 >= maxTreeDepth || loc == cr.rootOffset;
    for (int i = 0; i <= depth && !damaged; ++i) damaged = pathLocs[i] == loc;
    if (damaged) {
        BT_ERROR("%s(): branch %d at depth %d leads nowhere or back up the tree, database is corrupt.\n", op, (int)loc,
                 depth);
        dbErrno = btErrCorrupt;
        return nullptr;
    }
    diskNode* c = fetchPage((int)loc);
    if (c == nullptr || c == failedNode()) {
        if (dbErrno == 0) dbErrno = btErrCorrupt;
        return nullptr;
    }
    return c;
}

// True when `loc` is the root or lies on the path that RecDelete noted in
// pathLocs, which it ends with a 0 before it calls Successor or Restore.
// Successor and Restore fetch nodes off the path and change them; one that
// is also on the path (only in a damaged file) would be changed behind the
// back of the level that holds it.
bool bTree::onPath(uint32_t loc) const {
    if (loc == cr.rootOffset) return true;
    for (int i = 0; i <= maxTreeDepth && pathLocs[i] != 0; ++i)
        if (pathLocs[i] == loc) return true;
    return false;
}

// Grows the node's buffer until `bytes` more fit behind its datums.
int bTree::ensureRoom(diskNode** pp, uint64_t bytes) {
    while ((uint64_t)(*pp)->nodeData.info.nodeSize + bytes > (*pp)->allocSize) {
        if (extendNode(pp) != 0) {
            BT_ERROR("ensureRoom(): memory allocation error.\n");
            dbErrno = btErrNoMemoryErrno;
            return -1;
        }
    }
    return 0;
}

// Ends this operation's hold on the node with subscript `loc`, if it is
// still in memory (a merge may have deleted it, an insertion moved it).
void bTree::handBack(uint32_t loc) {
    if (loc != 0 && loc < cr.currentIXCount && indexArray[loc].node != nullptr)
        dbFree(BT_SOURCE, __LINE__, indexArray[loc].node);
}

// ---- Changes that fail part-way ----

bool bTree::refuseAfterTornChange(const char* op) {
    if (!changeTorn) return false;
    BT_ERROR("%s(): an earlier change failed part-way, no change is made until the database is closed.\n", op);
    dbErrno = btErrCorrupt;
    return true;
}

int bTree::endChange(const char* op, uint64_t changesBefore, int rc) {
    if (rc < 0 && nodeChanges != changesBefore && !changeTorn) {
        BT_ERROR("%s(): failed part-way through a change, the database will be closed as dbCorrupt.\n", op);
        changeTorn = true;
    }
    return rc;
}

// ---- Delete ----

int bTree::Delete(const char16_t* target) {
    if (refuseAfterTornChange("Delete")) return -1;
    uint64_t changesBefore = nodeChanges;
    return endChange("Delete", changesBefore, deleteEntry(target));
}

int bTree::deleteEntry(const char16_t* target) {
    dbErrno = 0;
    BT_TRACEW(u"Delete() entry, target = %s\n", target != nullptr ? target : u"NULL");
    if (target == nullptr) {
        BT_ERROR("Delete(): no key given.\n");
        dbErrno = btErrInvalid;
        return -1;
    }
    if (!loadRoot("Delete")) {
        ExitCleanup();
        return -1;
    }

    int found = RecDelete(target, &rootP);
    if (found == 0) {
        if (dbErrno == 0) return 1;  // not found: every node fetched was handed back
        // A fetch whose purge failed leaves the node it read held, and the
        // cache never drops a held node: without this release it would stay
        // in memory for the life of the handle.
        ExitCleanup();
        return -1;
    }
    if (rootP->nodeData.count == 0) {
        // The root ran empty: its only child, if any, becomes the root.
        diskNode* oldRoot = rootP;
        diskNode* newRoot = fetchPage((int)oldRoot->nodeData.branch[0]);
        if (newRoot == failedNode()) {
            // The old root stays the root (without datums, one child); the
            // next delete that reaches this step tries again.
            if (dbErrno == 0) dbErrno = btErrCorrupt;
        } else {
            rootP = newRoot;
            oldRoot->nodeData.branch[0] = deletionMark;
            writePage(&oldRoot);
            if (oldRoot == nullptr) {
                cr.rootOffset = newRoot != nullptr ? newRoot->nodeData.info.ixaSubscript : 1;
                WriteCtrlRec();
            } else {
                // Not deleted (a node without a subscript): it stays the root.
                oldRoot->nodeData.branch[0] = newRoot != nullptr ? newRoot->nodeData.info.ixaSubscript : 0;
                if (newRoot != nullptr) dbFree(BT_SOURCE, __LINE__, newRoot);
                rootP = oldRoot;
                if (dbErrno == 0) dbErrno = btErrInvalid;
            }
        }
        if (oldRoot != nullptr) dbFree(BT_SOURCE, __LINE__, oldRoot);
        if (rootP == nullptr) makeEmpty();  // the last entry is gone
        if (dbErrno != 0) {
            ExitCleanup();
            return -1;
        }
    }
    BT_TRACE("Leaving Delete(), currentIXCount = %d, rootP = %p\n", (int)cr.currentIXCount, (void*)rootP);
    ExitCleanup();
    return 0;
}

int bTree::RecDelete(const char16_t* target, diskNode** pp) { return recDelete(target, pp, 0); }

// RecDelete on the subtree whose root *pp lies at `depth`.
int bTree::recDelete(const char16_t* target, diskNode** pp, int depth) {
    BT_TRACEW(u"RecDelete() entry, target = %s, p = %p\n", target, (void*)*pp);
    if (*pp == nullptr) return 0;
    pathLocs[depth] = (*pp)->nodeData.info.ixaSubscript;
    int k = 0;
    int found = SearchNode(target, *pp, &k);
    bool leaf = (*pp)->nodeData.branch[0] == 0;
    int result = 0;
    uint32_t childLoc = 0;
    int repairPair = -1;

    if (found && !leaf) {
        // Put the successor in place of datum k, then delete the successor
        // from the right subtree, where it is the smallest key.
        pathLocs[depth + 1] = 0;
        if (Successor(pp, k) != 0) return 0;
        uint32_t loc = (*pp)->nodeData.branch[k + 1];
        diskNode* rt = fetchDescent("RecDelete", loc, depth);
        if (rt == nullptr) return 0;
        childLoc = loc;
        // The key lies inside the node, maybe at an odd address: compare
        // with an aligned copy.
        const uint8_t* stored = datumKey(datumAt(*pp, k));
        size_t units = 0;
        while (get16(stored + 2 * units) != 0) ++units;
        char16_t* key = static_cast<char16_t*>(BT_MALLOC((units + 1) * sizeof(char16_t)));
        if (key == nullptr) {
            BT_ERROR("RecDelete(): memory allocation error.\n");
            dbErrno = btErrNoMemoryErrno;
            handBack(childLoc);
            return 0;
        }
        std::memcpy(key, stored, (units + 1) * sizeof(char16_t));
        result = recDelete(key, &rt, depth + 1);
        BT_FREE(key);
        if (result == 0) {
            // The successor was just copied from that subtree; not finding
            // it again means a damaged tree.
            if (dbErrno == 0) dbErrno = btErrCorrupt;
        } else if (rt->nodeData.count < minDatumsPerNode) {
            repairPair = k;
        }
    } else if (found) {
        Remove(*pp, k);
        result = 1;
    } else {
        if (leaf) return 0;
        uint32_t loc = (*pp)->nodeData.branch[k];
        diskNode* c = fetchDescent("RecDelete", loc, depth);
        if (c == nullptr) return 0;
        childLoc = loc;
        pathPos[depth] = k;
        result = recDelete(target, &c, depth + 1);
        // A failure below stops the repairs; a miss repairs as a delete does
        // (a tree written elsewhere may hold underfull nodes).
        if ((result != 0 || dbErrno == 0) && c->nodeData.count < minDatumsPerNode) repairPair = k > 0 ? k - 1 : 0;
    }

    if (repairPair >= 0) {
        pathLocs[depth + 1] = 0;
        missRepairDepth = result == 0 ? depth : -1;
        int rc = Restore(pp, repairPair);
        missRepairDepth = -1;
        if (rc != 0) result = 0;
    }
    handBack(childLoc);
    return result;
}

// On a delete that did not find its key, whether merging two children of
// the node at `depth` on the path, which holds a single datum, would leave
// entries out of the tree's reach.  The merge takes that datum; the node,
// without datums, hides its subtree from the walk until the level above
// repairs it.  The level above borrows a datum for it from a sibling that
// can spare one, or merges it in turn, which again takes a datum from a
// node that may hold only one.  A miss never lets the root give way, so a
// chain of such merges that reaches the root leaves an empty root over
// every entry.  True for that chain (and when a sibling cannot be read).
bool bTree::emptiedNodeStaysEmpty(int depth) {
    for (int d = depth; d > 0; --d) {
        uint32_t parentLoc = pathLocs[d - 1];
        const diskNode* parent = parentLoc < cr.currentIXCount ? indexArray[parentLoc].node : nullptr;
        if (parent == nullptr || parent->nodeData.count == 0) return true;
        int k = pathPos[d - 1];
        uint32_t siblingLoc = k > 0 ? parent->nodeData.branch[k - 1] : parent->nodeData.branch[1];
        if (siblingLoc == 0 || onPath(siblingLoc)) return true;
        diskNode* sibling = fetchPage((int)siblingLoc);
        if (sibling == nullptr || sibling == failedNode()) return true;
        int siblingCount = sibling->nodeData.count;
        dbFree(BT_SOURCE, __LINE__, sibling);
        if (siblingCount > minDatumsPerNode) return false;  // the level above borrows one
        if (parent->nodeData.count > 1) return false;       // it merges, and keeps a datum
    }
    return true;
}

void bTree::Remove(diskNode* p, int k) {
    BT_TRACE("Remove() entry, k = %d, p = %p\n", k, (void*)p);
    int count = p->nodeData.count;
    if (k < 0 || k >= count) return;
    // Datum k's right branch leaves the node with it.
    // The branch behind the last datum keeps its old value: past count it
    // means nothing, and the node goes to disk as it stands.
    for (int i = k; i <= count - 2; ++i) p->nodeData.branch[i + 1] = p->nodeData.branch[i + 2];
    RemoveDatum(&p, k);
    writePage(&p);
}

int bTree::Successor(diskNode** pp, int k) {
    BT_TRACE("Successor() entry, k = %d, p = %p\n", k, (void*)*pp);
    diskNode* p = *pp;
    uint32_t self = p->nodeData.info.ixaSubscript;
    auto damaged = [&](uint32_t loc) {
        BT_ERROR(
            "Successor(): branch %d below indexArray[%d] leads nowhere or back up the tree, database is "
            "corrupt.\n",
            (int)loc, (int)self);
        dbErrno = btErrCorrupt;
        return -1;
    };
    if (k < 0 || k >= p->nodeData.count) return damaged(0);
    // Down the leftmost branches of the right subtree to its first leaf.
    uint32_t loc = p->nodeData.branch[k + 1];
    diskNode* q = nullptr;
    for (int steps = 0;; ++steps) {
        if (loc == 0 || loc == self || steps >= maxTreeDepth || onPath(loc)) return damaged(loc);
        q = fetchPage((int)loc);
        if (q == nullptr || q == failedNode()) return -1;
        if (q->nodeData.branch[0] == 0) break;
        loc = q->nodeData.branch[0];
        dbFree(BT_SOURCE, __LINE__, q);
    }
    if (q->nodeData.count == 0) {
        dbFree(BT_SOURCE, __LINE__, q);
        return damaged(loc);
    }
    // Insert the successor before datum k and only then drop datum k, so
    // that a failed insertion leaves the node as it was.
    if (InsertDatum(pp, k, datumAt(q, 0)) != 0) {
        dbFree(BT_SOURCE, __LINE__, q);
        return -1;
    }
    RemoveDatum(pp, k + 1);
    dbFree(BT_SOURCE, __LINE__, q);
    return writePage(pp);
}

int bTree::Restore(diskNode** pp, int j) {
    BT_TRACE("Restore() entry, k = %d, p = %p\n", j, (void*)*pp);
    diskNode* p = *pp;
    uint32_t ltLoc = j >= 0 && j < p->nodeData.count ? p->nodeData.branch[j] : 0;
    uint32_t rtLoc = j >= 0 && j < p->nodeData.count ? p->nodeData.branch[j + 1] : 0;
    // Two distinct children below the path; anything else is a damaged file.
    if (ltLoc == 0 || rtLoc == 0 || ltLoc == rtLoc || onPath(ltLoc) || onPath(rtLoc)) {
        BT_ERROR("Restore(): branches %d and %d of indexArray[%d] are not two children, database is corrupt.\n",
                 (int)ltLoc, (int)rtLoc, (int)p->nodeData.info.ixaSubscript);
        dbErrno = btErrCorrupt;
        return -1;
    }
    diskNode* rt = fetchPage((int)rtLoc);
    if (rt == nullptr || rt == failedNode()) return -1;
    diskNode* lt = fetchPage((int)ltLoc);
    if (lt == nullptr || lt == failedNode()) {
        dbFree(BT_SOURCE, __LINE__, rt);
        return -1;
    }
    int lc = lt->nodeData.count;
    int rc = rt->nodeData.count;
    int result = 0;
    if (lc > minDatumsPerNode && rc < minDatumsPerNode)
        result = MoveRight(pp, j, &lt, &rt);
    else if (lc < minDatumsPerNode && rc > minDatumsPerNode)
        result = MoveLeft(pp, j, &lt, &rt);
    else if (lc <= minDatumsPerNode && rc <= minDatumsPerNode && lc + rc < maxDatumsPerNode &&
             !(missRepairDepth >= 0 && p->nodeData.count == 1 && emptiedNodeStaysEmpty(missRepairDepth)))
        result = Combine(pp, j, &lt, &rt);
    dbFree(BT_SOURCE, __LINE__, lt);
    if (rt != nullptr) dbFree(BT_SOURCE, __LINE__, rt);
    return result;
}

int bTree::MoveRight(diskNode** pp, int j, diskNode** plt, diskNode** prt) {
    BT_TRACE("MoveRight() entry, k = %d, p = %p, lt = %p, rt = %p\n", j, (void*)*pp, (void*)*plt, (void*)*prt);
    int lc = (*plt)->nodeData.count;
    // Room first, so that nothing changes unless everything fits.
    if (ensureRoom(prt, datumLength(datumAt(*pp, j))) != 0 || ensureRoom(pp, datumLength(datumAt(*plt, lc - 1))) != 0)
        return -1;
    // The separator becomes rt's first datum, lt's last branch rt's first.
    if (InsertDatum(prt, 0, datumAt(*pp, j)) != 0) return -1;
    diskNode* rt = *prt;
    for (int i = rt->nodeData.count - 1; i >= 0; --i) rt->nodeData.branch[i + 1] = rt->nodeData.branch[i];
    rt->nodeData.branch[0] = (*plt)->nodeData.branch[lc];
    // lt's last datum becomes the separator.
    if (InsertDatum(pp, j, datumAt(*plt, lc - 1)) != 0) return -1;
    RemoveDatum(pp, j + 1);
    Remove(*plt, lc - 1);
    if (writePage(plt) != 0 || writePage(prt) != 0 || writePage(pp) != 0) return btErrWrite;
    return 0;
}

int bTree::MoveLeft(diskNode** pp, int j, diskNode** plt, diskNode** prt) {
    BT_TRACE("MoveLeft() entry, k = %d, p = %p, lt = %p, rt = %p\n", j, (void*)*pp, (void*)*plt, (void*)*prt);
    int lc = (*plt)->nodeData.count;
    if (ensureRoom(plt, datumLength(datumAt(*pp, j))) != 0 || ensureRoom(pp, datumLength(datumAt(*prt, 0))) != 0)
        return -1;
    // The separator is appended to lt, with rt's first branch behind it.
    if (InsertDatum(plt, lc, datumAt(*pp, j)) != 0) return -1;
    (*plt)->nodeData.branch[lc + 1] = (*prt)->nodeData.branch[0];
    // rt's first datum becomes the separator.
    if (InsertDatum(pp, j, datumAt(*prt, 0)) != 0) return -1;
    RemoveDatum(pp, j + 1);
    (*prt)->nodeData.branch[0] = (*prt)->nodeData.branch[1];
    Remove(*prt, 0);
    if (writePage(plt) != 0 || writePage(prt) != 0 || writePage(pp) != 0) return btErrWrite;
    return 0;
}

int bTree::Combine(diskNode** pp, int j, diskNode** plt, diskNode** prt) {
    BT_TRACE("Combine() entry, k = %d, p = %p, lt = %p, rt = %p\n", j, (void*)*pp, (void*)*plt, (void*)*prt);
    diskNode* rt = *prt;
    int lc = (*plt)->nodeData.count;
    int rc = rt->nodeData.count;
    uint64_t need = datumLength(datumAt(*pp, j));
    for (int i = 0; i < rc; ++i) need += datumLength(datumAt(rt, i));
    if (ensureRoom(plt, need) != 0) return -1;
    // lt takes the separator, then every datum and branch of rt.
    if (InsertDatum(plt, lc, datumAt(*pp, j)) != 0) return -1;
    Remove(*pp, j);
    (*plt)->nodeData.branch[lc + 1] = rt->nodeData.branch[0];
    for (int i = 0; i < rc; ++i) {
        if (InsertDatum(plt, (*plt)->nodeData.count, datumAt(rt, i)) != 0) return -1;
        (*plt)->nodeData.branch[(*plt)->nodeData.count] = rt->nodeData.branch[i + 1];
    }
    rt->nodeData.branch[0] = deletionMark;
    if (writePage(plt) != 0 || writePage(prt) != 0 || writePage(pp) != 0) return btErrWrite;
    return 0;
}
