// jbbtool stats [--json] FILE: what the journal holds and how its file is
// used, from one sequential pass over the slots.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "jbbtreev.h"
#include "journal.h"
#include "progress.h"
#include "textout.h"

namespace jbbtool {

namespace {

constexpr size_t kTopDirectories = 20;

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

struct NodeShape {
    int64_t offset;
    uint32_t nodeSize;
    uint32_t subscript;
    uint16_t count;
    bool leaf;
    uint32_t branch[branchesPerNode];
};

// Entries per directory, counted under a 64-bit hash of the directory's
// name in a flat table of 16 bytes an entry, so that memory stays small
// however many directories a journal names (a collision of two names is
// as likely as 1 in 10^10 at a million of them).  Each entry remembers
// one datum that holds the name, read back for the few that are shown.
class DirectoryCounter {
public:
    struct Slot {
        uint64_t hash;   // 0: empty
        uint32_t count;
        uint32_t where;  // node index << 4 | datum index
    };
    DirectoryCounter() : table_(1u << 12) {}
    void add(const uint8_t* key, uint32_t units, uint32_t node, uint32_t datum) {
        uint32_t cut = 0;
        for (uint32_t i = 0; i < units; ++i) {
            uint16_t u = (uint16_t)(key[2 * i] | key[2 * i + 1] << 8);
            if (u == '\\' || u == '/') cut = i;
        }
        uint64_t h = 1469598103934665603ull;
        for (uint32_t i = 0; i < 2 * cut; ++i) h = (h ^ key[i]) * 1099511628211ull;
        h = h == 0 ? 1 : h;
        if ((used_ + 1) * 8 > table_.size() * 7) grow();
        Slot& s = probe(h);
        if (s.hash == 0) {
            s = {h, 0, node << 4 | datum};
            ++used_;
        }
        ++s.count;
    }
    // The n entries with the most datums, most first.
    std::vector<Slot> top(size_t n) const {
        std::vector<Slot> v;
        auto more = [](const Slot& a, const Slot& b) { return a.count != b.count ? a.count > b.count : a.hash < b.hash; };
        for (const Slot& s : table_) {
            if (s.hash == 0) continue;
            v.push_back(s);
            std::push_heap(v.begin(), v.end(), more);
            if (v.size() > n) {
                std::pop_heap(v.begin(), v.end(), more);
                v.pop_back();
            }
        }
        std::sort(v.begin(), v.end(), more);
        return v;
    }
    size_t size() const { return used_; }

private:
    Slot& probe(uint64_t h) {
        size_t mask = table_.size() - 1;
        for (size_t i = (size_t)h & mask;; i = (i + 1) & mask)
            if (table_[i].hash == 0 || table_[i].hash == h) return table_[i];
    }
    void grow() {
        std::vector<Slot> old(table_.size() * 2);
        old.swap(table_);
        for (const Slot& s : old)
            if (s.hash != 0) probe(s.hash) = s;
    }
    std::vector<Slot> table_;
    size_t used_ = 0;
};

struct Stats {
    uint64_t slots = 0, usedSlots = 0, freeSlots = 0, freeBytes = 0, usedSlotBytes = 0, nodeBytes = 0;
    uint64_t entries = 0;
    std::map<size_t, uint64_t> keyLengths;
    std::map<uint32_t, uint64_t> actions, types;
    int64_t oldestInserted = INT64_MAX, newestInserted = INT64_MIN, oldestObject = INT64_MAX, newestObject = INT64_MIN;
    DirectoryCounter dirs;
    std::vector<std::pair<std::u16string, uint64_t>> topDirs;
    std::vector<NodeShape> nodes;
    // Per level from the root: nodes, and nodes by datum count (0..10).
    std::vector<std::vector<uint64_t>> levels;
    uint64_t unparsed = 0;
    uint64_t damaged = 0;  // slots or nodes the pass could not use
};

void collect(DbImage& db, Stats* st, ProgressLine& progress) {
    const uint16_t dataLen = db.ctrl().dbDataLen;
    SlotScanHandler h;
    h.progress = progress.callback();
    h.slot = [&](const SlotRef& s, const uint8_t* image) {
        ++st->slots;
        if (s.info.state == available) {
            ++st->freeSlots;
            st->freeBytes += s.info.slotLength;
            return;
        }
        ++st->usedSlots;
        st->usedSlotBytes += s.info.slotLength;
        st->nodeBytes += s.info.nodeSize;
        if (image == nullptr) {
            ++st->unparsed;
            return;
        }
        NodeView v;
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
            ++st->types[r.objectType == 1 ? 1 : 2];
            st->oldestInserted = std::min(st->oldestInserted, r.insertedTime);
            st->newestInserted = std::max(st->newestInserted, r.insertedTime);
            st->oldestObject = std::min(st->oldestObject, r.objectTime);
            st->newestObject = std::max(st->newestObject, r.objectTime);
            st->dirs.add(image + v.datums[i].offset + datumKeyOffset, v.datums[i].keyUnits, (uint32_t)st->nodes.size() - 1,
                         (uint32_t)i);
        }
    };
    h.event = [&](TileEvent, int64_t, int64_t, uint32_t) { ++st->damaged; };
    if (!scanSlots(db, h)) return;
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
    // Levels: breadth first from the root over the branches the pass kept.
    std::sort(st->nodes.begin(), st->nodes.end(),
              [](const NodeShape& a, const NodeShape& b) { return a.subscript < b.subscript; });
    auto find = [&](uint32_t sub) -> const NodeShape* {
        auto it = std::lower_bound(st->nodes.begin(), st->nodes.end(), sub,
                                   [](const NodeShape& n, uint32_t s) { return n.subscript < s; });
        return it != st->nodes.end() && it->subscript == sub ? &*it : nullptr;
    };
    std::vector<const NodeShape*> level;
    if (const NodeShape* root = find(db.ctrl().rootOffset)) level.push_back(root);
    uint64_t visited = 0;
    while (!level.empty() && st->levels.size() < 64 && visited <= st->nodes.size()) {
        std::vector<uint64_t> hist(maxDatumsPerNode + 1, 0);
        std::vector<const NodeShape*> next;
        for (const NodeShape* n : level) {
            ++visited;
            ++hist[std::min<size_t>(n->count, maxDatumsPerNode)];
            if (n->leaf) continue;
            for (int i = 0; i <= n->count; ++i)
                if (const NodeShape* c = find(n->branch[i])) next.push_back(c);
        }
        st->levels.push_back(hist);
        level.swap(next);
    }
}

const char* actionName(uint32_t a, char* buf, size_t n) {
    switch (a) {
        case 1: return "Rename Old";
        case 2: return "Rename New";
        case 3: return "Delete";
        case 4: return "Create";
        case 5: return "Change Attribute";
        case 6: return "Modify";
        case 11: return "Delete Restore";
        default: std::snprintf(buf, n, "Type %u", a); return buf;
    }
}

std::string timeOrNone(int64_t t, bool any) { return any ? utcText(t) : std::string("-"); }

void printText(const DbImage& db, const Stats& st) {
    const ctrlRec& c = db.ctrl();
    std::printf("Control record\n");
    std::printf("  magic %04x, version %u.%u, state %u, rootOffset %u, indexArraySize %u, currentIXCount %u,\n"
                "  lastIndex %u, lastNDRec %lld, dbKeyLen %u, dbDataLen %u\n",
                c.dbMagic, c.dbVersMaj, c.dbVersMin, c.dbState, c.rootOffset, c.indexArraySize, c.currentIXCount,
                c.lastIndex, (long long)c.lastNDRec, c.dbKeyLen, c.dbDataLen);
    std::printf("File\n  %lld bytes; %llu slots: %llu nodes, %llu free (%llu bytes)\n", (long long)db.size(),
                (unsigned long long)st.slots, (unsigned long long)st.usedSlots, (unsigned long long)st.freeSlots,
                (unsigned long long)st.freeBytes);
    std::printf("  node bytes %llu in node slots of %llu bytes (slack %llu bytes)\n",
                (unsigned long long)st.nodeBytes, (unsigned long long)st.usedSlotBytes,
                (unsigned long long)(st.usedSlotBytes - std::min(st.usedSlotBytes, st.nodeBytes)));
    if (st.damaged + st.unparsed > 0)
        std::printf("  %llu damaged slots or nodes (jbbtool check tells more)\n",
                    (unsigned long long)(st.damaged + st.unparsed));
    std::printf("Tree\n  depth %zu, %llu entries\n", st.levels.size(), (unsigned long long)st.entries);
    for (size_t l = 0; l < st.levels.size(); ++l) {
        uint64_t n = 0;
        for (uint64_t v : st.levels[l]) n += v;
        std::printf("  level %zu: %llu nodes; by datums", l + 1, (unsigned long long)n);
        for (size_t k = 0; k < st.levels[l].size(); ++k)
            if (st.levels[l][k] != 0) std::printf(" %zu:%llu", k, (unsigned long long)st.levels[l][k]);
        std::printf("\n");
    }
    std::printf("Key lengths (UTF-16 units)\n");
    for (const auto& k : st.keyLengths)
        std::printf("  %-12s %llu\n", bucketName(k.first).c_str(), (unsigned long long)k.second);
    std::printf("Entries by action\n");
    char buf[32];
    for (const auto& a : st.actions)
        std::printf("  %-18s %llu\n", actionName(a.first, buf, sizeof buf), (unsigned long long)a.second);
    std::printf("Entries by object type\n");
    for (const auto& t : st.types)
        std::printf("  %-18s %llu\n", t.first == 1 ? "File" : "Directory", (unsigned long long)t.second);
    bool any = st.entries > 0;
    std::printf("Times (UTC)\n  inserted %s to %s\n  object   %s to %s\n",
                timeOrNone(st.oldestInserted, any).c_str(), timeOrNone(st.newestInserted, any).c_str(),
                timeOrNone(st.oldestObject, any).c_str(), timeOrNone(st.newestObject, any).c_str());
    std::printf("Directories with the most entries (of %zu)\n", st.dirs.size());
    for (const auto& d : st.topDirs)
        std::printf("  %8llu  %s\n", (unsigned long long)d.second, toUtf8(d.first).c_str());
}

void printJson(const DbImage& db, const Stats& st) {
    const ctrlRec& c = db.ctrl();
    std::string o = "{\"schema\":\"jbbtool.stats/1\",\"fileSize\":" + std::to_string(db.size());
    o += ",\"control\":{\"magic\":" + std::to_string(c.dbMagic) + ",\"versionMajor\":" + std::to_string(c.dbVersMaj) +
         ",\"versionMinor\":" + std::to_string(c.dbVersMin) + ",\"state\":" + std::to_string(c.dbState) +
         ",\"rootOffset\":" + std::to_string(c.rootOffset) + ",\"indexArraySize\":" + std::to_string(c.indexArraySize) +
         ",\"currentIXCount\":" + std::to_string(c.currentIXCount) + ",\"lastIndex\":" + std::to_string(c.lastIndex) +
         ",\"lastNDRec\":" + std::to_string(c.lastNDRec) + ",\"dbKeyLen\":" + std::to_string(c.dbKeyLen) +
         ",\"dbDataLen\":" + std::to_string(c.dbDataLen) + "}";
    o += ",\"slots\":" + std::to_string(st.slots) + ",\"nodes\":" + std::to_string(st.usedSlots) +
         ",\"freeSlots\":" + std::to_string(st.freeSlots) + ",\"freeBytes\":" + std::to_string(st.freeBytes) +
         ",\"nodeBytes\":" + std::to_string(st.nodeBytes) + ",\"nodeSlotBytes\":" + std::to_string(st.usedSlotBytes) +
         ",\"damaged\":" + std::to_string(st.damaged + st.unparsed) + ",\"entries\":" + std::to_string(st.entries) +
         ",\"depth\":" + std::to_string(st.levels.size()) + ",\"levels\":[";
    for (size_t l = 0; l < st.levels.size(); ++l) {
        uint64_t n = 0;
        std::string h;
        for (size_t k = 0; k < st.levels[l].size(); ++k) {
            n += st.levels[l][k];
            h += (k ? "," : "") + std::to_string(st.levels[l][k]);
        }
        o += std::string(l ? "," : "") + "{\"nodes\":" + std::to_string(n) + ",\"byDatums\":[" + h + "]}";
    }
    o += "],\"keyLengths\":[";
    bool first = true;
    for (const auto& k : st.keyLengths) {
        o += std::string(first ? "" : ",") + "{\"units\":\"" + bucketName(k.first) + "\",\"entries\":" +
             std::to_string(k.second) + "}";
        first = false;
    }
    o += "],\"actions\":{";
    first = true;
    for (const auto& a : st.actions) {
        o += std::string(first ? "" : ",") + "\"" + std::to_string(a.first) + "\":" + std::to_string(a.second);
        first = false;
    }
    o += "},\"objectTypes\":{";
    first = true;
    for (const auto& t : st.types) {
        o += std::string(first ? "" : ",") + (t.first == 1 ? "\"file\":" : "\"directory\":") + std::to_string(t.second);
        first = false;
    }
    bool any = st.entries > 0;
    auto num = [&](int64_t v) { return any ? std::to_string(v) : std::string("null"); };
    o += "},\"inserted\":{\"oldest\":" + num(st.oldestInserted) + ",\"newest\":" + num(st.newestInserted) +
         "},\"objectTime\":{\"oldest\":" + num(st.oldestObject) + ",\"newest\":" + num(st.newestObject) +
         "},\"directories\":" + std::to_string(st.dirs.size()) + ",\"topDirectories\":[";
    first = true;
    for (const auto& d : st.topDirs) {
        o += std::string(first ? "" : ",") + "{\"name\":" + jsonString(d.first) + ",\"entries\":" +
             std::to_string(d.second) + "}";
        first = false;
    }
    o += "]}\n";
    std::fputs(o.c_str(), stdout);
}

int runStats(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("stats", argc, argv, {{"--json", &json, nullptr}}, 1, 1, &files);
    if (rc >= 0) return rc;
    DbImage db;
    std::string err;
    if (!db.open(files[0], &err)) {
        std::fprintf(stderr, "jbbtool stats: %s\n", err.c_str());
        return kExitUsage;
    }
    if (!db.hasCtrl()) {
        std::fprintf(stderr, "jbbtool stats: %s: shorter than a control record\n", db.path().c_str());
        return kExitFindings;
    }
    warnIfMarkedOpen("stats", db);
    Stats st;
    ProgressLine progress("stats", db.size());
    collect(db, &st, progress);
    progress.finish();
    if (!db.ioError().empty()) {
        std::fprintf(stderr, "jbbtool stats: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }
    if (json)
        printJson(db, st);
    else
        printText(db, st);
    return st.damaged + st.unparsed > 0 ? kExitFindings : kExitSound;
}

void helpStats(FILE* out) {
    std::fputs("Usage: jbbtool stats [--json] FILE\n"
               "\n"
               "Measures the database FILE in one pass, without changing it: the control\n"
               "record's fields; slots, free slots and their bytes, node bytes against\n"
               "slot bytes (slack); depth and nodes per level with their datum counts;\n"
               "key lengths; entries by action and object type; oldest and newest\n"
               "inserted and object times (UTC); the 20 directories with the most entries\n"
               "(keys read as path names).\n"
               "\n"
               "  --json    one JSON document instead (schema jbbtool.stats/1)\n"
               "\n"
               "Exit status: 0, 1 when damaged slots or nodes were met, 2 usage or I/O\n"
               "error.\n",
               out);
}

}  // namespace

const Command kStatsCommand = {"stats", "measure a journal and its file", runStats, helpStats};

}  // namespace jbbtool
