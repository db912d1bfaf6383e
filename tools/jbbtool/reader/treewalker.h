// The tree walker of jbbtool's reader: every entry of the tree in key
// order, nodes read by their slots through a SlotMap, the children and
// grandchildren of an inner node read together before the walk descends
// into it (which ones, readahead.h says for the engine too).  A node that
// cannot be read or parsed, a branch to no node and a branch to a node
// already walked are skipped and reported through `problem`; the walk goes
// on with the rest.
//
// Contract:
// - The walker borrows the DbImage and the SlotMap, which must outlive it;
//   the map must be finished.  It reads by positioned reads only, so the
//   DbImage's window is left alone.
// - The walker owns its state: which nodes it has walked, the images it
//   read ahead, the stack of nodes on the way down and a pool of node
//   buffers.  The map is only read, so several walkers may share one map.
// - What next() hands out points into the walker's buffers and lives until
//   the next call to next(), except a leaf's buffer taken with takeLeaf(),
//   which then belongs to the caller (see nodebuffer.h).
// - Not thread-safe: one thread drives a walker (`problem` runs on it).
//   Leaf buffers taken from it may be used and let go on another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbimage.h"
#include "largevector.h"
#include "nodebuffer.h"
#include "nodeview.h"
#include "slotmap.h"

namespace jbbtool {

// An entry handed out by a TreeWalker: where its key and record lie.  Or,
// from a walker with wholeLeaves set, a whole leaf: its image, unparsed.
struct WalkEntry {
    const uint8_t* key = nullptr;  // UTF-16LE units, any alignment
    uint32_t units = 0;            // without the terminator
    const uint8_t* data = nullptr;
    const uint8_t* leaf = nullptr;  // a whole leaf's image, when not null
    uint32_t leafSize = 0;
    uint32_t subscript = 0;  // of the leaf
    int64_t offset = 0;      // of the leaf's slot
};

class TreeWalker {
public:
    TreeWalker(DbImage& db, const SlotMap& map) : db_(db), map_(map) {}
    // The next entry, or false at the end.  What it points to stays valid
    // until the next call.
    bool next(WalkEntry* e);
    bool next(std::u16string* key, const uint8_t** data);
    // Begins the walk at the first entry whose key is not below `key`: the
    // walk descends from the root by the branches around it, reading only
    // the nodes on that path (read-ahead starts once it climbs back).  Call
    // before the first next().  With wholeLeaves the leaf on the path is
    // handed out whole, its entries below `key` included.
    void seek(const std::u16string& key);
    std::function<void(const std::string&)> problem;
    bool ioFailed() const { return ioFailed_; }
    // Hand out leaves whole, for the caller to parse (on another thread,
    // say); inner nodes' entries still come one by one.
    bool wholeLeaves = false;

    // The buffer of the whole leaf handed out last, for the caller to keep
    // beyond the next call; it goes back to the walker's pool when the
    // caller lets go of it.
    NodeBuffer takeLeaf();

private:
    NodeBufferPool pool_;
    struct Level {
        NodeBuffer image;
        NodeView node;
        uint32_t subscript = 0;
        size_t pos = 0;  // next datum to hand out
        bool descended = false;
        bool aheadRead = false;
        bool whole = false;  // a leaf to hand out whole
        int64_t offset = 0;  // of its slot
    };
    bool push(uint32_t subscript);
    // Before the first entry: the walker's state and the root.  False when
    // there is nothing to walk.
    bool start();
    // Before the walk descends into an inner node, its children and
    // grandchildren that are not yet at hand are read, in two batches.
    void readAhead(const Level& l);
    void readBatch(const std::vector<uint32_t>& subscripts);
    std::vector<uint32_t> batch_, grandchildren_;  // kept for their room
    void dropAhead(size_t entry);
    DbImage& db_;
    const SlotMap& map_;
    std::vector<Level> stack_;
    // Per slot map entry (by SlotMap::index): not read yet, walked
    // already, or the place of its image among those read ahead.  One
    // number, so that a look at a node's state costs one memory access.
    static constexpr int32_t kNotRead = -1, kWalked = -2;
    LargeVector<int32_t> state_;
    std::vector<NodeBuffer> ahead_;
    std::vector<int32_t> aheadFree_;  // places free for reuse
    NodeBuffer handedOut_;            // the whole leaf handed out last, kept until the next call
    size_t aheadBytes_ = 0;
    std::vector<plat::ReadRequest> requests_;
    std::vector<size_t> wanted_;  // the map entry of each request
    bool started_ = false;
    bool ioFailed_ = false;
};

}  // namespace jbbtool
