#include "salvage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "journal.h"
#include "keyorder.h"
#include "nodeview.h"
#include "progress.h"
#include "slotscan.h"
#include "textout.h"

namespace jbbtool {

namespace {

struct Salvaged {
    std::u16string key;
    size_t rec;       // offset of the record in the record store
    uint16_t recLen;
    int64_t offset;   // of the datum in the file
    int64_t inserted;
};

// Reports on standard error, the first kMaxLines lines in full.
class DropLog {
public:
    explicit DropLog(const std::string& path) : path_(path) {}
    void say(const std::string& what) {
        if (lines_++ < kMaxLines) std::fprintf(stderr, "jbbtool dump --salvage: %s: %s\n", path_.c_str(), what.c_str());
    }
    uint64_t lines() const { return lines_; }
    static constexpr uint64_t kMaxLines = 1000;

private:
    std::string path_;
    uint64_t lines_ = 0;
};

}  // namespace

int salvageEntries(DbImage& db, DumpWriter& w) {
    DropLog log(db.path());
    std::vector<Salvaged> found;
    std::vector<uint8_t> records;
    std::map<uint16_t, uint64_t> lengths;  // record length -> datums
    uint64_t dropped = 0, lostNodes = 0, nodes = 0;

    SlotScanHandler h;
    h.strict = true;
    ProgressLine progress("dump --salvage", db.size());
    h.progress = progress.callback();
    h.slot = [&](const SlotRef& s, const uint8_t* image) {
        if (s.info.state == slotFree) return;  // a free slot: what it holds was deleted
        ++nodes;
        if (image == nullptr) {
            ++lostNodes;
            log.say("node at offset " + std::to_string(s.offset) + " cannot be read whole; its datums are lost");
            return;
        }
        NodeView v;
        parseNode(image, s.info.nodeSize, 0, &v);
        for (const DatumRef& d : v.datums) {
            uint16_t nkl;
            std::memcpy(&nkl, image + d.offset, 2);
            uint16_t len = (uint16_t)(d.offset + nkl - d.dataPos);
            Salvaged e;
            e.key = v.key(&d - v.datums.data());
            e.rec = records.size();
            e.recLen = len;
            e.offset = s.offset + d.offset;
            int64_t inserted = 0;
            if (len >= journalRecOff::insertedTime + sizeof inserted)
                std::memcpy(&inserted, image + d.dataPos + journalRecOff::insertedTime, sizeof inserted);
            e.inserted = inserted;
            records.insert(records.end(), image + d.dataPos, image + d.dataPos + len);
            ++lengths[len];
            found.push_back(std::move(e));
        }
        if (!v.fault.empty()) {
            unsigned count = v.header.count;
            if (count > v.datums.size()) dropped += count - v.datums.size();
            log.say("node at offset " + std::to_string(s.offset) + ": " + v.fault + "; " +
                    std::to_string(count > v.datums.size() ? count - v.datums.size() : 0) +
                    " datums after it dropped");
        }
    };
    h.event = [&](TileEvent e, int64_t off, int64_t len, uint32_t) {
        if (e == TileEvent::Gap || e == TileEvent::ShortTail)
            log.say(std::to_string(len) + " bytes at offset " + std::to_string(off) +
                    " hold no readable slot header; skipped to the next one");
        else if (e == TileEvent::Overlap)
            log.say("a slot header at offset " + std::to_string(off) + " lies inside the slot before it");
    };
    const bool scanned = scanSlots(db, h);
    progress.finish();
    if (!scanned) {
        std::fprintf(stderr, "jbbtool dump --salvage: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }

    // The records' length: the one most datums have.  The control record's
    // dbDataLen is not trusted; it only breaks a tie.
    uint16_t dataLen = db.hasCtrl() ? db.ctrl().dbDataLen : 32;
    uint64_t best = 0;
    for (const auto& l : lengths)
        if (l.second > best || (l.second == best && l.first == dataLen)) best = l.second, dataLen = l.first;

    std::vector<uint32_t> order;
    order.reserve(found.size());
    for (uint32_t i = 0; i < found.size(); ++i) {
        if (found[i].recLen != dataLen) {
            ++dropped;
            log.say("datum at offset " + std::to_string(found[i].offset) + " (key " + jsonString(found[i].key) +
                    ") has a " + std::to_string(found[i].recLen) + "-byte record, the file's records have " +
                    std::to_string(dataLen) + "; dropped");
            continue;
        }
        order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return compareKeys(found[a].key.c_str(), found[b].key.c_str()) < 0;
    });
    // A key found twice: the copy with the newest inserted time stands for
    // the journal's last change of the object (an insert of a key that is
    // there replaces its record); on equal times the first one found in
    // the file, so that the choice depends on nothing else.
    std::vector<uint32_t> kept;
    kept.reserve(order.size());
    for (size_t i = 0; i < order.size();) {
        size_t j = i + 1;
        uint32_t keep = order[i];
        while (j < order.size() && found[order[j]].key == found[order[i]].key) {
            if (found[order[j]].inserted > found[keep].inserted) keep = order[j];
            ++j;
        }
        for (size_t k = i; k < j; ++k) {
            if (order[k] == keep) continue;
            ++dropped;
            log.say("key " + jsonString(found[keep].key) + " found twice: kept the copy at offset " +
                    std::to_string(found[keep].offset) + " (newest inserted time), dropped the one at offset " +
                    std::to_string(found[order[k]].offset));
        }
        kept.push_back(keep);
        i = j;
    }

    const bool areaSound = db.hasCtrl() && db.ctrl().dbMagic == dbMagicNumber;
    if (!areaSound) log.say("the control record is damaged; no journal control area written");
    w.head(areaSound ? db.ctrl().appArea : nullptr, dataLen);
    for (uint32_t i : kept) w.entry(found[i].key, records.data() + found[i].rec, dataLen);

    if (log.lines() > DropLog::kMaxLines)
        std::fprintf(stderr, "jbbtool dump --salvage: %s: %llu more reports not shown\n", db.path().c_str(),
                     (unsigned long long)(log.lines() - DropLog::kMaxLines));
    std::fprintf(stderr,
                 "jbbtool dump --salvage: %s: %zu entries written from %llu nodes; %llu datums dropped, %llu nodes "
                 "lost\n",
                 db.path().c_str(), kept.size(), (unsigned long long)nodes, (unsigned long long)dropped,
                 (unsigned long long)lostNodes);
    return log.lines() > 0 ? kExitFindings : kExitSound;
}

}  // namespace jbbtool
