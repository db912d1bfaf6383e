// Hands what a tree walk meets from a reading thread to the writing one:
// `jbbtool dump` reads nodes (system calls) on one processor while it
// parses leaves, checks the key order and writes text on another.  Items
// are copied into batches of about 256 KiB, at most four of them in
// flight, and arrive in the order given.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nodebuffer.h"
#include "treewalker.h"

namespace jbbtool {

// An item as it arrives: an entry or a whole leaf (see WalkEntry), or a
// problem the walk met, in its place among them.
struct PipeItem {
    WalkEntry entry;
    const std::string* problem = nullptr;  // when not null, the item is this text
    // What the item points to stays valid until the consumer returns from
    // an item marked last; until then earlier items' bytes stay too.
    bool last = true;
};

// Takes items on the reading side.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    // Copies an entry's key and its `dataLen`-byte record.
    virtual void put(const WalkEntry& e) = 0;
    // Takes a whole leaf (e.leafSize bytes) in its buffer, from
    // TreeWalker::takeLeaf(); the buffer goes back to its pool once the
    // leaf has been consumed.
    virtual void putLeaf(const WalkEntry& e, NodeBuffer buffer) = 0;
    virtual void problem(const std::string& what) = 0;
};

// Runs `produce` on a second thread and `consume` on this one for each
// item it puts, in order.  `produce` returns when it has put everything;
// its result is returned once every item has been consumed.  Where no
// thread can be started, both run here, one item after the other.
int pipeEntries(uint16_t dataLen, const std::function<int(EntrySink&)>& produce,
                const std::function<void(const PipeItem&)>& consume);

}  // namespace jbbtool
