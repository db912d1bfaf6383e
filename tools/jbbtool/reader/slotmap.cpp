#include "slotmap.h"

#include <algorithm>
#include <string>

#include "secondthread.h"
#include "slotscan.h"

namespace jbbtool {

void SlotMap::add(uint32_t subscript, int64_t offset, uint32_t nodeSize, bool used) {
    entries_.push_back({subscript, nodeSize, offset, used});
}

void SlotMap::finish() {
    // Slots were added in the order of their offsets.
    index_.build(entries_.size(), [this](size_t i) { return entries_[i].subscript; });
}

namespace {

// One pass over the info blocks into `map`, from `from` up to `until`.
bool mapSlots(DbImage& db, SlotMap* map, int64_t from, int64_t until, int64_t* stoppedAt, bool* damaged,
              std::function<void(int64_t)> progress) {
    SlotScanHandler h;
    h.progress = std::move(progress);
    h.from = from;
    h.until = until;
    h.stoppedAt = stoppedAt;
    h.noImages = true;
    h.slot = [&](const SlotRef& s, const uint8_t*) {
        map->add(s.info.ixaSubscript, s.offset, s.info.nodeSize, s.info.state != slotFree);
    };
    h.event = [&](TileEvent, int64_t, int64_t, uint32_t) { *damaged = true; };
    return scanSlots(db, h);
}

}  // namespace

void SlotMap::append(const SlotMap& more) {
    entries_.insert(entries_.end(), more.entries_.begin(), more.entries_.end());
}

bool buildSlotMap(DbImage& db, SlotMap* map, std::function<void(int64_t)> progress, int64_t halvesFrom) {
    const int64_t size = db.size();
    map->reserve((size_t)std::min<int64_t>(size / 1024, 1 << 24) + 16);
    bool damaged = false;
    int64_t stoppedAt = -1;
    if (size >= halvesFrom && size > (int64_t)ctrlRecSize) {
        SlotMap second;
        second.reserve((size_t)std::min<int64_t>(size / 2048, 1 << 23) + 16);
        int64_t secondStart = -1;
        bool secondSound = false;
        SecondThread other([&](bool) {
            DbImage db2;
            std::string err;
            if (!db2.open(db.path(), &err) || db2.size() != size) return;
            bool ioFailed = false, damaged2 = false;
            secondStart = findNextInfo(db2, ctrlRecSize + (size - ctrlRecSize) / 2, &ioFailed);
            if (secondStart < 0 || ioFailed) return;
            int64_t unused;
            secondSound = mapSlots(db2, &second, secondStart, -1, &unused, &damaged2, nullptr) && !damaged2;
        });
        const int64_t mid = ctrlRecSize + (size - ctrlRecSize) / 2;
        const bool ok = mapSlots(db, map, ctrlRecSize, mid, &stoppedAt, &damaged, progress);
        other.join();
        if (!ok) return false;
        if (secondSound && stoppedAt == secondStart) {
            map->append(second);
            map->finish();
            return true;
        }
        *map = SlotMap();  // the halves do not join: once more, in one go
    }
    bool ok = mapSlots(db, map, ctrlRecSize, -1, &stoppedAt, &damaged, std::move(progress));
    map->finish();
    return ok;
}

}  // namespace jbbtool
