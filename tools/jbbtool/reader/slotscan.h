// The slot pass of jbbtool's reader: the slots that tile the file from
// offset 2088, met in file order through the DbImage's read window, with
// the damage between them (bad magic, gaps, overlaps, a tail too short)
// reported in its place.  Where an info block is destroyed the pass looks
// for the next plausible one instead of stopping.
//
// Contract:
// - scanSlots() reads through the DbImage's window and so moves it: the
//   caller must not hold a view() of the same DbImage across the call.
// - The image pointer given to `slot` points into that window and lives
//   only until the callback returns; a callback that keeps bytes copies
//   them.  The callbacks must not call view() on the same DbImage.
// - The handler is only read; its callbacks run on the caller's thread,
//   in file order.  Two passes on two threads need two DbImages.
#pragma once

#include <cstdint>
#include <functional>

#include "dbimage.h"
#include "format.h"

namespace jbbtool {

// A slot met by the sequential pass.
struct SlotRef {
    int64_t offset = 0;
    nodeInfo info{};
};

// What the pass reports besides the slots themselves.
enum class TileEvent {
    BadMagic,   // a plausible info block whose magic is wrong; skipped by its length
    Gap,        // bytes that are no slot, up to the next info block (or the end)
    Overlap,    // the next info block begins inside the previous slot
    PastEnd,    // the last slot reaches past the end of the file
    ShortTail,  // fewer than 24 bytes after the last slot
};

struct SlotScanHandler {
    // A slot with a sound info block; `image` holds its node image
    // (nodeSize bytes) when it is used and the image lies within the file,
    // else null.
    std::function<void(const SlotRef&, const uint8_t* image)> slot;
    std::function<void(TileEvent, int64_t offset, int64_t length, uint32_t subscript)> event;
    // Called now and then with the offset reached (for progress lines).
    std::function<void(int64_t)> progress;
    // Trust no info block that is not plausible as a whole (see
    // plausibleInfo): look for the next plausible one instead.
    bool strict = false;
    // Where the pass begins (the offset of a slot), and where it ends: at
    // the first slot at or after `until` (-1: the end of the file), whose
    // offset then goes to *stoppedAt (-1 when the pass reached the end).
    int64_t from = ctrlRecSize;
    int64_t until = -1;
    int64_t* stoppedAt = nullptr;
    // The pass looks at info blocks only: `slot` gets no images.
    bool noImages = false;
};

// Walks the slots from offset 2088 (h.from) to the end of the file (or
// h.until) in one pass.  False on a read error.
bool scanSlots(DbImage& db, const SlotScanHandler& h);

// True when the format's decoder (btformat::decodeNodeInfo) finds the 24
// bytes at p sound as the node info block of a slot at `offset` of a file
// of `fileSize` bytes, whatever subscript it names: the magic (unless
// checkMagic is false), a known state, and lengths such a slot can have.
bool plausibleInfo(const uint8_t* p, int64_t offset, int64_t fileSize, bool checkMagic = true);

// The offset of the next plausible info block at or after `from` and
// before `limit` (-1: the end of the file), or -1 (with *ioFailed set on a
// read error).  Moves the DbImage's window.
int64_t findNextInfo(DbImage& db, int64_t from, bool* ioFailed, int64_t limit = -1);

}  // namespace jbbtool
