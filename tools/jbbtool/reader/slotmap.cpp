#include "slotmap.h"

#include <algorithm>
#include <string>

#include "jbbtreev.h"
#include "secondthread.h"
#include "slotscan.h"

namespace jbbtool {

void SlotMap::add(uint32_t subscript, int64_t offset, uint32_t nodeSize, bool used) {
    entries_.push_back({subscript, nodeSize, offset, used});
}

void SlotMap::finish() {
    // Slots were added in the order of their offsets; of two naming one
    // subscript, the first wins.  Subscripts of a sound file run from 1 to
    // about the number of slots: a direct table then costs little and
    // needs no sorting.  Other files are sorted (by both: a plain sort
    // needs no buffer, as a stable sort would).
    direct_.clear();
    uint32_t maxSub = 0;
    for (const Entry& e : entries_) maxSub = std::max(maxSub, e.subscript);
    if (!entries_.empty() && maxSub <= 4 * entries_.size() + 1024) {
        direct_.assign((size_t)maxSub + 1, 0);
        for (size_t i = 0; i < entries_.size(); ++i)
            if (direct_[entries_[i].subscript] == 0) direct_[entries_[i].subscript] = (uint32_t)i + 1;
        return;
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.subscript != b.subscript ? a.subscript < b.subscript : a.offset < b.offset;
    });
}

const SlotMap::Entry* SlotMap::find(uint32_t subscript) const {
    if (!direct_.empty())
        return subscript < direct_.size() && direct_[subscript] != 0 ? &entries_[direct_[subscript] - 1] : nullptr;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), subscript,
                               [](const Entry& e, uint32_t s) { return e.subscript < s; });
    return it != entries_.end() && it->subscript == subscript ? &*it : nullptr;
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
        map->add(s.info.ixaSubscript, s.offset, s.info.nodeSize, s.info.state != available);
    };
    h.event = [&](TileEvent, int64_t, int64_t, uint32_t) { *damaged = true; };
    return scanSlots(db, h);
}

}  // namespace

void SlotMap::append(const SlotMap& more) { entries_.insert(entries_.end(), more.entries_.begin(), more.entries_.end()); }

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
