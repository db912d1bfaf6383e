#include "slotscan.h"

#include <algorithm>
#include <cstring>

namespace jbbtool {

namespace {

constexpr int64_t kProgressEvery = 64ll << 20;

}  // namespace

bool plausibleInfo(const uint8_t* p, int64_t offset, int64_t fileSize, bool checkMagic) {
    nodeInfo in;
    return btformat::decodeNodeInfo(p, nodeInfoSize, offset, fileSize, btformat::anySubscript, &in, checkMagic) ==
           btformat::Fault::none;
}

int64_t findNextInfo(DbImage& db, int64_t from, bool* ioFailed, int64_t limit) {
    const int64_t size = db.size();
    const int64_t end = limit < 0 ? size : std::min(limit + (int64_t)nodeInfoSize, size);
    int64_t pos = from;
    while (pos + (int64_t)nodeInfoSize <= end) {
        size_t got;
        const uint8_t* p = db.view(pos, std::min<int64_t>(DbImage::kWindowBytes, end - pos), &got);
        if (p == nullptr) {
            *ioFailed = true;
            return -1;
        }
        if (got < nodeInfoSize) break;
        size_t i = 0;
        for (; i + nodeInfoSize <= got; ++i) {
            if (btformat::hasNodeMagic(p + i) && plausibleInfo(p + i, pos + (int64_t)i, size)) return pos + (int64_t)i;
        }
        pos += (int64_t)i;
    }
    return -1;
}

bool scanSlots(DbImage& db, const SlotScanHandler& h) {
    const int64_t size = db.size();
    int64_t where = std::max<int64_t>(h.from, ctrlRecSize);
    int64_t prevStart = -1, prevEnd = where;  // previous slot and the end of what it holds
    int64_t nextProgress = kProgressEvery;
    bool ioFailed = false;
    if (h.stoppedAt != nullptr) *h.stoppedAt = -1;
    while (where < size) {
        if (h.until >= 0 && where >= h.until) {
            if (h.stoppedAt != nullptr) *h.stoppedAt = where;
            break;
        }
        if (h.progress && where >= nextProgress) {
            h.progress(where);
            nextProgress = where + kProgressEvery;
        }
        size_t got;
        const uint8_t* p = db.view(where, nodeInfoSize, &got);
        if (p == nullptr) return false;
        if (got < nodeInfoSize) {
            if (h.event) h.event(TileEvent::ShortTail, where, size - where, 0);
            break;
        }
        SlotRef s;
        s.offset = where;
        // A strict pass takes only blocks the format finds sound; the other
        // takes every block with the magic that can be stepped over, and
        // leaves judging the rest to its handler.
        const btformat::Fault fault = btformat::decodeNodeInfo(p, got, where, size, btformat::anySubscript, &s.info);
        const bool magicOk = fault != btformat::Fault::infoMagic;
        const bool accept = h.strict ? fault == btformat::Fault::none : magicOk && s.info.slotLength >= nodeInfoSize;
        if (accept) {
            const uint8_t* image = nullptr;
            int64_t left = size - where;
            if (!h.noImages && s.info.state != slotFree && s.info.nodeSize >= nodeHeaderSize &&
                s.info.nodeSize <= maxNodeSize && (int64_t)s.info.nodeSize <= left) {
                image = db.view(where, s.info.nodeSize, &got);
                if (image == nullptr) return false;
            }
            if (h.slot) h.slot(s, image);
            prevStart = where;
            prevEnd = where + (s.info.state != slotFree && s.info.nodeSize >= nodeInfoSize
                                   ? std::min<int64_t>(s.info.nodeSize, left)
                                   : (int64_t)nodeInfoSize);
            if (s.info.slotLength > (uint64_t)left) {
                if (h.event)
                    h.event(TileEvent::PastEnd, where, (int64_t)(s.info.slotLength - (uint64_t)left),
                            s.info.ixaSubscript);
                break;
            }
            if (h.strict) {
                // A slot length that is wrong but plausible would hide the
                // slots it covers: look for a header behind what the slot holds.
                const int64_t next = where + (int64_t)s.info.slotLength;
                int64_t inside = findNextInfo(db, prevEnd, &ioFailed, next - 1);
                if (ioFailed) return false;
                if (inside >= 0) {
                    if (h.event) h.event(TileEvent::Overlap, inside, next - inside, 0);
                    prevStart = -1;
                    prevEnd = inside;
                    where = inside;
                    continue;
                }
            }
            where += (int64_t)s.info.slotLength;
            continue;
        }
        if (!h.strict && !magicOk && plausibleInfo(p, where, size, false)) {
            if (h.event) h.event(TileEvent::BadMagic, where, (int64_t)s.info.slotLength, s.info.ixaSubscript);
            prevStart = where;
            prevEnd = where + nodeInfoSize;
            where += (int64_t)s.info.slotLength;
            continue;
        }
        // No slot begins here.  The next one may begin inside the previous
        // slot (its length reaches too far) or further on (a gap).
        int64_t from = prevStart >= 0 ? std::max<int64_t>(prevEnd, prevStart + 1) : (int64_t)ctrlRecSize;
        int64_t next = from < where ? findNextInfo(db, from, &ioFailed) : -1;
        if (ioFailed) return false;
        if (next >= 0 && next < where) {
            if (h.event) h.event(TileEvent::Overlap, next, where - next, 0);
        } else {
            next = findNextInfo(db, where + 1, &ioFailed);
            if (ioFailed) return false;
            if (h.event) h.event(TileEvent::Gap, where, (next < 0 ? size : next) - where, 0);
            if (next < 0) break;
        }
        prevStart = -1;
        prevEnd = next;
        where = next;
    }
    return true;
}

}  // namespace jbbtool
