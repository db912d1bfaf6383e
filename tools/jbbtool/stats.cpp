#include "stats.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "batchqueue.h"
#include "journal.h"
#include "prefetch.h"
#include "secondthread.h"
#include "subscriptindex.h"
#include "treeshape.h"

namespace jbbtool {

// Key-length buckets in UTF-16 units: 16 wide up to 256, then doubling.
std::string bucketName(size_t b) {
    if (b < 16) return std::to_string(b * 16) + "-" + std::to_string(b * 16 + 15);
    size_t lo = (size_t)256 << (b - 16);
    return b == 23 ? std::to_string(lo) + "-" : std::to_string(lo) + "-" + std::to_string(2 * lo - 1);
}
size_t bucketOf(size_t units) {
    if (units < 256) return units / 16;
    size_t b = 16;
    for (size_t lo = 512; units >= lo && b < 23; lo *= 2) ++b;
    return b;
}

const uint32_t kChartActions[] = {1, 2, 3, 4, 5, 6, 11, 0};

size_t actionIndex(uint32_t action) {
    for (size_t i = 0; i + 1 < kChartActionCount; ++i)
        if (kChartActions[i] == action) return i;
    return kChartActionCount - 1;
}

namespace {

// Adds the bytes [from, to) of the file to the map columns of `col`.
void addToMap(std::vector<double>& col, int64_t from, int64_t to, int64_t fileSize) {
    const int64_t span = fileSize - (int64_t)ctrlRecSize;
    if (span <= 0 || to <= from) return;
    from = std::max<int64_t>(from - (int64_t)ctrlRecSize, 0);
    to = std::min<int64_t>(to - (int64_t)ctrlRecSize, span);
    const double width = (double)span / kMapColumns;
    while (from < to) {
        size_t c = std::min<size_t>((size_t)((double)from / width), kMapColumns - 1);
        int64_t end = std::min<int64_t>(to, (int64_t)((double)(c + 1) * width) + 1);
        if (end <= from) end = to;
        col[c] += (double)(end - from);
        from = end;
    }
}

// Counts directories on a second thread: the table is far larger than
// the caches and its entries are met at random, so the counting waits on
// memory while the scan goes on.  Where no thread can be started, the
// counting happens at once.
class DirectoryFeed {
public:
    explicit DirectoryFeed(DirectoryCounter& dirs)
        : dirs_(dirs), queue_(4), fresh_(queue_.fresh()), counter_([this](bool beside) {
              if (beside) count();
          }) {}
    ~DirectoryFeed() { finish(); }
    void put(uint64_t hash, uint32_t node, uint32_t datum) {
        if (!counter_.beside()) {
            dirs_.add(hash, node, datum);
            return;
        }
        fresh_->push_back({hash, node, datum});
        if (fresh_->size() >= kBatch) {
            queue_.send(std::move(fresh_));
            fresh_ = queue_.fresh();
        }
    }
    // Waits until everything put is counted.
    void finish() {
        if (counter_.beside() && fresh_ != nullptr) {
            if (!fresh_->empty()) queue_.send(std::move(fresh_));
            fresh_.reset();
            queue_.finish();
        }
        counter_.join();
    }

private:
    struct Hit {
        uint64_t hash;
        uint32_t node, datum;
    };
    using Batch = std::vector<Hit>;
    static constexpr size_t kBatch = 16384;
    static constexpr size_t kAhead = 8;  // entries asked of the processor ahead of their count
    void count() {
        while (std::unique_ptr<Batch> b = queue_.take()) {
            const Batch& hits = *b;
            for (size_t i = 0; i < hits.size() && i < kAhead; ++i) dirs_.prefetch(hits[i].hash);
            for (size_t i = 0; i < hits.size(); ++i) {
                if (i + kAhead < hits.size()) dirs_.prefetch(hits[i + kAhead].hash);
                dirs_.add(hits[i].hash, hits[i].node, hits[i].datum);
            }
            b->clear();
            queue_.giveBack(std::move(b));
        }
    }
    DirectoryCounter& dirs_;
    BatchQueue<Batch> queue_;
    std::unique_ptr<Batch> fresh_;
    SecondThread counter_;  // last: it starts once the rest is made
};

}  // namespace

void collectStats(DbImage& db, Stats* st, ProgressLine& progress) {
    const uint16_t dataLen = db.ctrl().dbDataLen;
    const int64_t size = db.size();
    // Room for the nodes of a file whose slots average 1 KiB or more, so
    // that the list grows without copying; room never used costs no memory.
    st->nodes.reserve((size_t)std::min<int64_t>(size / 1024, 1 << 24) + 16);
    st->mapUsed.assign(kMapColumns, 0);
    st->mapSlack.assign(kMapColumns, 0);
    st->mapFree.assign(kMapColumns, 0);
    SlotScanHandler h;
    h.progress = progress.callback();
    NodeView view;  // reused: its datum list keeps its room
    // Entries per day and action are counted in a flat table, a day in
    // each of 2^14 places (any 44 years without two days in one place),
    // its number and counts side by side, so that a journal whose times
    // spread over decades costs one cache line per entry.  A day whose
    // place another day holds is counted in the map of days directly.
    // Days are kept up to a bound, whatever times a damaged file holds.
    struct DayPlace {
        int64_t day;
        uint64_t counts[kChartActionCount];
    };
    constexpr size_t kDayPlaces = 1u << 14;
    constexpr int64_t kNoDay = INT64_MIN;
    std::vector<DayPlace> days(kDayPlaces, DayPlace{kNoDay, {}});
    size_t daysKept = 0;
    DirectoryFeed feed(st->dirs);
    h.slot = [&](const SlotRef& s, const uint8_t* image) {
        ++st->slots;
        const int64_t slotEnd = s.offset + (int64_t)std::min<uint64_t>(s.info.slotLength, (uint64_t)(size - s.offset));
        if (s.info.state == slotFree) {
            addToMap(st->mapFree, s.offset, slotEnd, size);
            ++st->freeSlots;
            st->freeBytes += s.info.slotLength;
            return;
        }
        ++st->usedSlots;
        const int64_t nodeEnd = std::min<int64_t>(slotEnd, s.offset + (int64_t)s.info.nodeSize);
        addToMap(st->mapUsed, s.offset, nodeEnd, size);
        addToMap(st->mapSlack, nodeEnd, slotEnd, size);
        st->usedSlotBytes += s.info.slotLength;
        st->nodeBytes += s.info.nodeSize;
        if (image == nullptr) {
            ++st->unparsed;
            return;
        }
        NodeView& v = view;
        parseNode(image, s.info.nodeSize, dataLen, &v);
        if (!v.fault.empty()) ++st->damaged;
        NodeShape n;
        n.offset = s.offset;
        n.nodeSize = s.info.nodeSize;
        n.subscript = s.info.ixaSubscript;
        n.count = (uint16_t)v.datums.size();
        n.leaf = v.isLeaf();
        std::memcpy(n.branch, v.header.branch, sizeof n.branch);
        st->nodes.push_back(n);
        for (size_t i = 0; i < v.datums.size(); ++i) {
            ++st->entries;
            ++st->keyLengths[bucketOf(v.datums[i].keyUnits)];
            journalRec r;
            std::memset(&r, 0, sizeof r);
            std::memcpy(&r, v.data(i), dataLen < sizeof r ? dataLen : sizeof r);
            ++st->actions[r.action];
            const int64_t day = r.insertedTime >= 0 ? r.insertedTime / 86400 : (r.insertedTime + 1) / 86400 - 1;
            DayPlace& d = days[(size_t)day & (kDayPlaces - 1)];
            if (d.day == kNoDay && daysKept < kMaxChartDays) {
                d.day = day;
                ++daysKept;
            }
            if (d.day == day) {
                ++d.counts[actionIndex(r.action)];
            } else {
                auto it = st->perDay.find(day);
                if (it == st->perDay.end() && daysKept < kMaxChartDays) {
                    it = st->perDay.emplace(day, std::vector<uint64_t>(kChartActionCount, 0)).first;
                    ++daysKept;
                }
                if (it != st->perDay.end())
                    ++it->second[actionIndex(r.action)];
                else
                    ++st->daysOmitted;
            }
            ++st->types[r.objectType == 1 ? 1 : 2];
            st->oldestInserted = std::min(st->oldestInserted, r.insertedTime);
            st->newestInserted = std::max(st->newestInserted, r.insertedTime);
            st->oldestObject = std::min(st->oldestObject, r.objectTime);
            st->newestObject = std::max(st->newestObject, r.objectTime);
            feed.put(DirectoryCounter::directoryHash(image + v.datums[i].offset + datumKeyOffset, v.datums[i].keyUnits),
                     (uint32_t)st->nodes.size() - 1, (uint32_t)i);
        }
    };
    h.event = [&](TileEvent, int64_t, int64_t, uint32_t) { ++st->damaged; };
    const bool scanned = scanSlots(db, h);
    feed.finish();
    for (const DayPlace& d : days)
        if (d.day != kNoDay) st->perDay.emplace(d.day, std::vector<uint64_t>(d.counts, d.counts + kChartActionCount));
    if (!scanned) return;
    // The names of the directories shown, from the datums that hold them.
    for (const DirectoryCounter::Slot& d : st->dirs.top(kTopDirectories)) {
        const NodeShape& n = st->nodes[d.where >> 4];
        std::vector<uint8_t> image(n.nodeSize);
        NodeView v;
        std::u16string name = u"?";
        if (db.readAt(n.offset, image.data(), image.size())) {
            parseNode(image.data(), n.nodeSize, dataLen, &v);
            if ((d.where & 15) < v.datums.size()) {
                name = v.key(d.where & 15);
                size_t cut = name.find_last_of(u"\\/");
                name.resize(cut == std::u16string::npos ? 0 : cut);
            }
        }
        st->topDirs.emplace_back(name, d.count);
    }
    // Levels: the nodes reached from the root, by their depth, from the
    // branches the pass kept.
    SubscriptIndex index;
    index.build(st->nodes.size(), [&](size_t i) { return st->nodes[i].subscript; });
    struct Nodes {
        const Stats& st;
        const SubscriptIndex& index;
        size_t find(uint32_t sub) const { return index.find(sub); }
        int branches(size_t i) const { return st.nodes[i].leaf ? 0 : (int)st.nodes[i].count + 1; }
        uint32_t branch(size_t i, int j) const { return st.nodes[i].branch[j]; }
        void prefetch(size_t i) const { prefetchLines(&st.nodes[i], sizeof st.nodes[i]); }
    };
    struct Visitor {
        Stats& st;
        const TreeShape& shape;
        void edge(size_t, int, size_t) {}
        // A branch that leads nowhere makes the tree unreadable from its
        // root: the first one is told.
        void fault(ShapeFault f, size_t n, int j, uint32_t sub, size_t) {
            if ((f != ShapeFault::NoNode && f != ShapeFault::NoBranch) || !st.treeProblem.empty()) return;
            st.treeProblem = "branch " + std::to_string(j) + " of node " + std::to_string(st.nodes[n].subscript) +
                             " at offset " + std::to_string(st.nodes[n].offset) + " names subscript " +
                             std::to_string(sub) + ", which no readable node holds";
        }
        void done(size_t i) {
            const size_t level = (size_t)shape.depth(i) - 1;
            if (level >= kMaxLevels) return;
            if (st.levels.size() <= level) st.levels.resize(level + 1, std::vector<uint64_t>(maxDatumsPerNode + 1, 0));
            ++st.levels[level][std::min<size_t>(st.nodes[i].count, maxDatumsPerNode)];
        }
    };
    TreeShape shape;
    Visitor v{*st, shape};
    const size_t root = index.find(db.ctrl().rootOffset);
    if (root == SubscriptIndex::kNone && st->slots > 0)  // a file of a control record alone holds an empty tree
        st->treeProblem = "rootOffset " + std::to_string(db.ctrl().rootOffset) + " names no readable node";
    shape.walk(st->nodes.size(), root, Nodes{*st, index}, v);
}

}  // namespace jbbtool
