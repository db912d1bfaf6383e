#include "readbuffer.h"

#include <cstring>

#include "engine_internal.h"

size_t ReadAheadBuffer::find(uint32_t loc) const {
    if (cells_ == nullptr || loc == 0) return tableSize;
    for (size_t i = home(loc);; i = (i + 1) & (tableSize - 1)) {
        if (cells_[i].loc == loc) return i;
        if (cells_[i].loc == 0) return tableSize;
    }
}

const diskNode* ReadAheadBuffer::peek(uint32_t loc) const {
    size_t i = find(loc);
    return i == tableSize || cells_[i].inFlight ? nullptr : cells_[i].buf;
}

bool ReadAheadBuffer::inFlight(uint32_t loc) const {
    size_t i = find(loc);
    return i != tableSize && cells_[i].inFlight;
}

bool ReadAheadBuffer::roomFor(uint64_t bytes) const { return count_ < maxNodes && bytes_ + bytes <= maxBytes; }

bool ReadAheadBuffer::put(uint32_t loc, diskNode* buf) { return insert(loc, buf, false); }

bool ReadAheadBuffer::reserve(uint32_t loc, diskNode* buf) { return insert(loc, buf, true); }

bool ReadAheadBuffer::insert(uint32_t loc, diskNode* buf, bool inFlight) {
    if (loc == 0 || !roomFor(buf->allocSize) || find(loc) != tableSize) return false;
    if (cells_ == nullptr) {
        cells_ = static_cast<Cell*>(BT_CALLOC(tableSize, sizeof(Cell)));
        if (cells_ == nullptr) return false;
    }
    size_t i = home(loc);
    while (cells_[i].loc != 0) i = (i + 1) & (tableSize - 1);
    cells_[i].loc = loc;
    cells_[i].inFlight = inFlight;
    cells_[i].buf = buf;
    ++count_;
    bytes_ += buf->allocSize;
    return true;
}

void ReadAheadBuffer::settle(uint32_t loc, bool keep) {
    size_t i = find(loc);
    if (i == tableSize) return;
    cells_[i].inFlight = false;
    if (!keep) recycle(take(loc));
}

diskNode* ReadAheadBuffer::take(uint32_t loc) {
    size_t i = find(loc);
    if (i == tableSize || cells_[i].inFlight) return nullptr;
    diskNode* buf = cells_[i].buf;
    --count_;
    bytes_ -= buf->allocSize;
    // Linear probing: the cells behind the freed one move up where their
    // search would otherwise stop early at the gap.
    for (;;) {
        size_t j = i;
        for (;;) {
            j = (j + 1) & (tableSize - 1);
            if (cells_[j].loc == 0) {
                cells_[i].loc = 0;
                cells_[i].inFlight = false;
                cells_[i].buf = nullptr;
                return buf;
            }
            size_t h = home(cells_[j].loc);
            bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
            if (!stays) break;
        }
        cells_[i] = cells_[j];
        i = j;
    }
}

diskNode* ReadAheadBuffer::reuse(uint64_t imageBytes) {
    for (size_t i = spareCount_; i-- > 0;) {
        diskNode* buf = spares_[i];
        // The block's bytes: the allocSize word, the image room, 72 more.
        const uint64_t bytes = kvBlockBytes(buf);
        if (bytes < sizeof(uint64_t) + imageBytes + nodeHeaderSize) continue;
        spares_[i] = spares_[--spareCount_];
        spareBytes_ -= bytes;
        return buf;
    }
    return nullptr;
}

void ReadAheadBuffer::recycle(diskNode* buf) {
    if (spareCount_ < maxSpares && kvCheckBlock(buf, BT_SOURCE, __LINE__) == 0) {
        const uint64_t bytes = kvBlockBytes(buf);
        if (spareBytes_ + bytes <= maxSpareBytes) {
            spares_[spareCount_++] = buf;
            spareBytes_ += bytes;
            return;
        }
    }
    BT_FREE(buf);
}

void ReadAheadBuffer::clear() {
    while (spareCount_ > 0) BT_FREE(spares_[--spareCount_]);
    spareBytes_ = 0;
    if (cells_ == nullptr) return;
    if (count_ != 0)
        for (size_t i = 0; i < tableSize; ++i)
            if (cells_[i].loc != 0) BT_FREE(cells_[i].buf);
    BT_FREE(cells_);
    cells_ = nullptr;
    count_ = 0;
    bytes_ = 0;
}
