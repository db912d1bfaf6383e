// jbbtool stats [--json] FILE: what the journal holds and how its file is
// used, from one sequential pass over the slots.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "journal.h"
#include "platform.h"
#include "progress.h"
#include "stats.h"
#include "textout.h"

namespace jbbtool {

namespace {

std::string timeOrNone(int64_t t, bool any) { return any ? utcText(t) : std::string("-"); }

void printText(const DbImage& db, const Stats& st) {
    const ctrlRec& c = db.ctrl();
    plat::outPrintfUtf8("Control record\n");
    plat::outPrintfUtf8(
        "  magic %04x, version %u.%u, state %u, rootOffset %u, indexArraySize %u, currentIXCount %u,\n"
        "  lastIndex %u, lastNDRec %lld, dbKeyLen %u, dbDataLen %u\n",
        c.dbMagic, c.dbVersMaj, c.dbVersMin, c.dbState, c.rootOffset, c.indexArraySize, c.currentIXCount, c.lastIndex,
        (long long)c.lastNDRec, c.dbKeyLen, c.dbDataLen);
    plat::outPrintfUtf8("File\n  %lld bytes; %llu slots: %llu nodes, %llu free (%llu bytes)\n", (long long)db.size(),
                        (unsigned long long)st.slots, (unsigned long long)st.usedSlots,
                        (unsigned long long)st.freeSlots, (unsigned long long)st.freeBytes);
    plat::outPrintfUtf8("  node bytes %llu in node slots of %llu bytes (slack %llu bytes)\n",
                        (unsigned long long)st.nodeBytes, (unsigned long long)st.usedSlotBytes,
                        (unsigned long long)(st.usedSlotBytes - std::min(st.usedSlotBytes, st.nodeBytes)));
    if (st.damaged + st.unparsed > 0)
        plat::outPrintfUtf8("  %llu damaged slots or nodes (jbbtool check tells more)\n",
                            (unsigned long long)(st.damaged + st.unparsed));
    plat::outPrintfUtf8("Tree\n  depth %zu, %llu entries\n", st.levels.size(), (unsigned long long)st.entries);
    if (!st.treeProblem.empty()) plat::outPrintfUtf8("  the tree cannot be read: %s\n", st.treeProblem.c_str());
    for (size_t l = 0; l < st.levels.size(); ++l) {
        uint64_t n = 0;
        for (uint64_t v : st.levels[l]) n += v;
        plat::outPrintfUtf8("  level %zu: %llu nodes; by datums", l + 1, (unsigned long long)n);
        for (size_t k = 0; k < st.levels[l].size(); ++k)
            if (st.levels[l][k] != 0) plat::outPrintfUtf8(" %zu:%llu", k, (unsigned long long)st.levels[l][k]);
        plat::outPrintfUtf8("\n");
    }
    plat::outPrintfUtf8("Key lengths (UTF-16 units)\n");
    for (const auto& k : st.keyLengths)
        plat::outPrintfUtf8("  %-12s %llu\n", bucketName(k.first).c_str(), (unsigned long long)k.second);
    plat::outPrintfUtf8("Entries by action\n");
    char buf[32];
    for (const auto& a : st.actions)
        plat::outPrintfUtf8("  %-18s %llu\n", actionName(a.first, buf, sizeof buf), (unsigned long long)a.second);
    plat::outPrintfUtf8("Entries by object type\n");
    for (const auto& t : st.types)
        plat::outPrintfUtf8("  %-18s %llu\n", t.first == 1 ? "File" : "Directory", (unsigned long long)t.second);
    bool any = st.entries > 0;
    plat::outPrintfUtf8("Times (UTC)\n  inserted %s to %s\n  object   %s to %s\n",
                        timeOrNone(st.oldestInserted, any).c_str(), timeOrNone(st.newestInserted, any).c_str(),
                        timeOrNone(st.oldestObject, any).c_str(), timeOrNone(st.newestObject, any).c_str());
    plat::outPrintfUtf8("Directories with the most entries (of %zu)\n", st.dirs.size());
    for (const auto& d : st.topDirs)
        plat::outPrintfUtf8("  %8llu  %s\n", (unsigned long long)d.second, toUtf8(d.first).c_str());
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
        o += std::string(first ? "" : ",") + "{\"units\":\"" + bucketName(k.first) +
             "\",\"entries\":" + std::to_string(k.second) + "}";
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
        o += std::string(first ? "" : ",") + "{\"name\":" + jsonString(d.first) +
             ",\"entries\":" + std::to_string(d.second) + "}";
        first = false;
    }
    o += "]}\n";
    plat::outWriteUtf8(o.data(), o.size());
}

int runStats(int argc, char** argv) {
    bool json = false;
    std::string html;
    std::vector<std::string> files;
    int rc =
        parseCommandLine("stats", argc, argv, {{"--json", &json, nullptr}, {"--html", nullptr, &html}}, 1, 1, &files);
    if (rc >= 0) return rc;
    DbImage db;
    if (!openForCommand("stats", files[0], &db)) return kExitUsage;
    if (!db.hasCtrl()) {
        std::fprintf(stderr, "jbbtool stats: %s: shorter than a control record\n", db.path().c_str());
        return kExitFindings;
    }
    Stats st;
    ProgressLine progress("stats", db.size());
    collectStats(db, &st, progress);
    progress.finish();
    if (!db.ioError().empty()) {
        std::fprintf(stderr, "jbbtool stats: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }
    if (!html.empty() && !writeStatsPage(html, db, st)) {
        std::fprintf(stderr, "jbbtool stats: cannot write %s: %s\n", html.c_str(), plat::errnoText(errno).c_str());
        return kExitUsage;
    }
    if (json)
        printJson(db, st);
    else
        printText(db, st);
    if (!st.treeProblem.empty())
        std::fprintf(stderr, "jbbtool stats: %s: the tree cannot be read: %s\n", db.path().c_str(),
                     st.treeProblem.c_str());
    return st.damaged + st.unparsed > 0 || !st.treeProblem.empty() ? kExitFindings : kExitSound;
}

void helpStats(FILE* out) {
    std::fputs(
        "Usage: jbbtool stats [--json] [--html OUT] FILE\n"
        "\n"
        "Measures the database FILE in one pass, without changing it: the control\n"
        "record's fields; slots, free slots and their bytes, node bytes against\n"
        "slot bytes (slack); depth and nodes per level with their datum counts;\n"
        "key lengths; entries by action and object type; oldest and newest\n"
        "inserted and object times (UTC); the 20 directories with the most entries\n"
        "(keys read as path names).\n"
        "\n"
        "  --json      one JSON document instead (schema jbbtool.stats/1)\n"
        "  --html OUT  also write a self-contained page to OUT (XHTML with inline\n"
        "              SVG, no scripts): a map of the file (node, slack and free\n"
        "              bytes along it), the fill per level, the key lengths, and\n"
        "              the entries over time by action\n"
        "\n"
        "Exit status: 0, 1 when damaged slots or nodes were met or the tree cannot\n"
        "be read from its root (standard error says why), 2 usage or I/O error.\n",
        out);
}

}  // namespace

const Command kStatsCommand = {"stats", "measure a journal and its file", runStats, helpStats};

}  // namespace jbbtool
