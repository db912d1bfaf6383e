// The slot map of jbbtool's reader: where each subscript's slot lies, from
// a pass over the info blocks only, for the readers that follow the tree
// by its branches (dump, diff).
//
// Contract:
// - A SlotMap owns its entries and nothing else; it holds offsets, not
//   bytes, so it does not refer to the DbImage it was made from.
// - Entry pointers from find() live as long as the map, unless add(),
//   append() or finish() is called again.
// - Built by one thread; once finished, find(), index() and size() only
//   read, and any number of threads may call them at once.  Whoever walks
//   the map keeps its walking state (visited, read ahead) itself, by
//   index().
// - buildSlotMap() maps the second half of a large file on a thread of its
//   own (after the first half where no thread can be started), with a
//   DbImage of its own, and joins it before it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "dbimage.h"
#include "largevector.h"
#include "subscriptindex.h"

namespace jbbtool {

class SlotMap {
public:
    struct Entry {
        uint32_t subscript;
        uint32_t nodeSize;
        int64_t offset;
        bool used;
    };
    // Adds a slot; the first slot naming a subscript wins.
    void add(uint32_t subscript, int64_t offset, uint32_t nodeSize, bool used);
    void finish();  // call before find()
    // Room for n slots without growing (room never used costs no memory).
    void reserve(size_t n) { entries_.reserve(n); }
    // Adds the slots of another map (made by add() alone), after these.
    void append(const SlotMap& more);
    const Entry* find(uint32_t subscript) const {
        const size_t at = index_.find(subscript);
        return at == SubscriptIndex::kNone ? nullptr : &entries_[at];
    }
    // An entry's place among the map's size() entries, for state kept
    // beside the map.
    size_t index(const Entry* e) const { return (size_t)(e - entries_.data()); }
    size_t size() const { return entries_.size(); }

private:
    LargeVector<Entry> entries_;  // in file order
    SubscriptIndex index_;
};

// `progress` (may be empty) is called with the offset the pass has reached.
// A large file is read in two halves at once, the second on another thread
// (see secondthread.h) from the first plausible info block after its middle; where the first
// half does not end on that very slot (damage, or a node image that looks
// like an info block), the file is passed over again in one go.
constexpr int64_t kSlotMapHalvesFrom = 64ll << 20;  // smaller files are passed over in one go
bool buildSlotMap(DbImage& db, SlotMap* map, std::function<void(int64_t)> progress = nullptr,
                  int64_t halvesFrom = kSlotMapHalvesFrom);

}  // namespace jbbtool
