// The nodes a walk has read ahead of itself.  They are kept apart from the
// node cache: a node read ahead is not in memory as far as the cache's
// bookkeeping goes (its entry stays `empty`, it is on no list), until the
// walk fetches it, which takes its buffer from here instead of reading the
// file.  The walk empties the buffer when it ends, stopped or whole, so
// that what a walk leaves in memory is what the cache's own rule leaves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"

class ReadAheadBuffer {
public:
    ReadAheadBuffer() = default;
    ~ReadAheadBuffer() { clear(); }
    ReadAheadBuffer(const ReadAheadBuffer&) = delete;
    ReadAheadBuffer& operator=(const ReadAheadBuffer&) = delete;

    // The node read ahead for subscript `loc`, or null (also while it is
    // still being read); it stays here.
    const diskNode* peek(uint32_t loc) const;
    // Whether `loc` is held, read or being read.
    bool holds(uint32_t loc) const { return find(loc) != tableSize; }
    // Whether `loc` is held and still being read.
    bool inFlight(uint32_t loc) const;
    // The node read ahead for `loc`, which leaves the buffer (the caller
    // owns it now), or null.  Not for a node still being read.
    diskNode* take(uint32_t loc);
    // Whether a node of `bytes` more would fit.
    bool roomFor(uint64_t bytes) const;
    // Keeps `buf` (allocated by the tracked allocator, its image
    // buf->allocSize bytes) for `loc`.  False when it does not fit or `loc`
    // is held already; the caller keeps `buf` then.
    bool put(uint32_t loc, diskNode* buf);
    // The same for a buffer that a read is still filling: the node is in
    // flight until settled.
    bool reserve(uint32_t loc, diskNode* buf);
    // Ends the flight of `loc`: the node stays when `keep`, else it leaves
    // and its buffer is recycled.
    void settle(uint32_t loc, bool keep);
    // Frees every node held, and the spare buffers.  Nothing may be in
    // flight.
    void clear();

    // A spare node buffer (see recycle) whose image room is at least
    // `imageBytes`, with 72 bytes behind it, or null.  Its allocSize is
    // for the caller to set.
    diskNode* reuse(uint64_t imageBytes);
    // Keeps `buf`, a node buffer that a walk released, for the next reads
    // ahead (a walk frees about as many nodes as it reads); frees it when
    // enough are kept already (in number or bytes) or its guard words were
    // overwritten.
    void recycle(diskNode* buf);
    // The bytes a read-ahead buffer is allocated with for an image of
    // `imageBytes`: rounded up, so that buffers fit other nodes of about
    // the same size when they are used again.
    static uint64_t allocBytesFor(uint64_t imageBytes) {
        return sizeof(uint64_t) + ((imageBytes + roomStep - 1) / roomStep) * roomStep + nodeHeaderSize;
    }

    size_t nodes() const { return count_; }

private:
    struct Cell {
        uint32_t loc;  // 0: unused
        bool inFlight;
        diskNode* buf;
    };
    bool insert(uint32_t loc, diskNode* buf, bool inFlight);
    // Room for a few batches of read-ahead (a node's children and their
    // children, readahead.h); what does not fit is read when the walk
    // comes to it.
    static constexpr size_t maxNodes = 4 * branchesPerNode * branchesPerNode;
    static constexpr uint64_t maxBytes = 8u << 20;
    static constexpr size_t tableSize = 1024;  // a power of two, above 2 * maxNodes
    static_assert(tableSize > 2 * maxNodes, "the table stays at most half full");
    static size_t home(uint32_t loc) { return (size_t)((loc * 2654435761u) >> 22); }
    size_t find(uint32_t loc) const;

    static constexpr uint64_t roomStep = 512;
    static constexpr size_t maxSpares = 128;
    static constexpr uint64_t maxSpareBytes = 1u << 20;
    diskNode* spares_[maxSpares] = {};
    size_t spareCount_ = 0;
    uint64_t spareBytes_ = 0;

    Cell* cells_ = nullptr;  // allocated at the first put
    size_t count_ = 0;
    uint64_t bytes_ = 0;
};
