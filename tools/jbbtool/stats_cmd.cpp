// jbbtool stats [--json | --text] [--html OUT [--force]] FILE...: what each journal
// holds and how its file is used, from one sequential pass over the slots.
#include <algorithm>
#include <cerrno>
#include <cstdint>
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
#include "treescan.h"

namespace jbbtool {

namespace {

std::string timeOrNone(int64_t t, bool any) { return any ? utcText(t) : std::string("-"); }

void printText(const DbImage& db, const Stats& st) {
    const ctrlRec& c = db.ctrl();
    plat::outPrintfUtf8("%s\nControl record\n", db.path().c_str());
    plat::outPrintfUtf8(
        "  magic %s, version %u.%u, state %s, rootOffset %u, indexArraySize %u, currentIXCount %u,\n"
        "  lastIndex %u, lastNDRec %lld, dbKeyLen %u, dbDataLen %u\n",
        magicText(c.dbMagic).c_str(), c.dbVersMaj, c.dbVersMin, codeText(stateWord(c.dbState), c.dbState).c_str(),
        c.rootOffset, c.indexArraySize, c.currentIXCount, c.lastIndex, (long long)c.lastNDRec, c.dbKeyLen, c.dbDataLen);
    plat::outPrintfUtf8("File\n  %lld bytes; %s: %s, %llu free (%llu bytes)\n", (long long)db.size(),
                        countText(st.slots, "slot", "slots").c_str(), countText(st.usedSlots, "node", "nodes").c_str(),
                        (unsigned long long)st.freeSlots, (unsigned long long)st.freeBytes);
    plat::outPrintfUtf8("  node bytes %llu in node slots of %llu bytes (slack %llu bytes)\n",
                        (unsigned long long)st.nodeBytes, (unsigned long long)st.usedSlotBytes,
                        (unsigned long long)(st.usedSlotBytes - std::min(st.usedSlotBytes, st.nodeBytes)));
    if (st.damaged + st.unparsed > 0)
        plat::outPrintfUtf8(
            "  %s (jbbtool check tells more)\n",
            countText(st.damaged + st.unparsed, "damaged slot or node", "damaged slots or nodes").c_str());
    plat::outPrintfUtf8("Tree\n  depth %zu, %s\n", st.levels.size(), countText(st.entries, "entry", "entries").c_str());
    if (!st.treeProblem.empty()) plat::outPrintfUtf8("  the tree cannot be read: %s\n", st.treeProblem.c_str());
    for (size_t l = 0; l < st.levels.size(); ++l) {
        uint64_t n = 0;
        for (uint64_t v : st.levels[l]) n += v;
        plat::outPrintfUtf8("  level %zu: %s; by datums", l + 1, countText(n, "node", "nodes").c_str());
        for (size_t k = 0; k < st.levels[l].size(); ++k)
            if (st.levels[l][k] != 0) plat::outPrintfUtf8(" %zu:%llu", k, (unsigned long long)st.levels[l][k]);
        plat::outPrintfUtf8("\n");
    }
    plat::outPrintfUtf8("Key lengths (UTF-16 units)\n");
    for (const auto& k : st.keyLengths)
        plat::outPrintfUtf8("  %-12s %llu\n", bucketName(k.first).c_str(), (unsigned long long)k.second);
    plat::outPrintfUtf8("Entries by action\n");
    for (const auto& a : st.actions)
        plat::outPrintfUtf8("  %-22s %llu\n", codeText(actionText(a.first), a.first).c_str(),
                            (unsigned long long)a.second);
    plat::outPrintfUtf8("Entries by object type\n");
    for (const auto& t : st.types)
        plat::outPrintfUtf8("  %-22s %llu\n", codeText(objectTypeWord(t.first), t.first).c_str(),
                            (unsigned long long)t.second);
    bool any = st.entries > 0;
    plat::outPrintfUtf8("Times (UTC)\n  inserted %s to %s\n  object   %s to %s\n",
                        timeOrNone(st.oldestInserted, any).c_str(), timeOrNone(st.newestInserted, any).c_str(),
                        timeOrNone(st.oldestObject, any).c_str(), timeOrNone(st.newestObject, any).c_str());
    plat::outPrintfUtf8("Directories with the most entries (of %zu)\n", st.dirs.size());
    for (const auto& d : st.topDirs)
        plat::outPrintfUtf8("  %8llu  %s\n", (unsigned long long)d.second, toUtf8(d.first).c_str());
}

// Counts by code, as [{"code":N,"name":...,"entries":N}, ...].
template <typename NameOf>
std::string codeCounts(const std::map<uint32_t, uint64_t>& counts, NameOf nameOf) {
    std::string o = "[";
    for (const auto& a : counts)
        o += std::string(o.size() > 1 ? "," : "") + "{\"code\":" + std::to_string(a.first) +
             ",\"name\":" + jsonName(nameOf(a.first)) + ",\"entries\":" + std::to_string(a.second) + "}";
    return o + "]";
}

// A time range: seconds since 1970 and the same in UTC text; all null
// without entries.
std::string timeRange(bool any, int64_t oldest, int64_t newest) {
    if (!any) return "{\"oldest\":null,\"newest\":null,\"oldestUtc\":null,\"newestUtc\":null}";
    return "{\"oldest\":" + std::to_string(oldest) + ",\"newest\":" + std::to_string(newest) + ",\"oldestUtc\":\"" +
           utcText(oldest) + "\",\"newestUtc\":\"" + utcText(newest) + "\"}";
}

void printJson(const DbImage& db, const Stats& st) {
    const ctrlRec& c = db.ctrl();
    std::string o = "{\"schema\":\"jbbtool.stats/2\",\"file\":" + jsonString(db.path()) +
                    ",\"fileSize\":" + std::to_string(db.size());
    o += ",\"control\":{\"magic\":" + jsonString(magicText(c.dbMagic)) +
         ",\"versionMajor\":" + std::to_string(c.dbVersMaj) + ",\"versionMinor\":" + std::to_string(c.dbVersMin) +
         ",\"state\":" + std::to_string(c.dbState) + ",\"stateName\":" + jsonName(stateWord(c.dbState)) +
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
    o += "],\"actions\":" + codeCounts(st.actions, actionText) +
         ",\"objectTypes\":" + codeCounts(st.types, objectTypeWord);
    const bool any = st.entries > 0;
    o += ",\"inserted\":" + timeRange(any, st.oldestInserted, st.newestInserted) +
         ",\"objectTime\":" + timeRange(any, st.oldestObject, st.newestObject) +
         ",\"directories\":" + std::to_string(st.dirs.size()) + ",\"topDirectories\":[";
    first = true;
    for (const auto& d : st.topDirs) {
        o += std::string(first ? "" : ",") + "{\"name\":" + jsonString(d.first) +
             ",\"entries\":" + std::to_string(d.second) + "}";
        first = false;
    }
    o += "]}\n";
    plat::outWriteUtf8(o.data(), o.size());
}

// What stats is asked to write.
struct Outputs {
    bool json = false, text = false, force = false;
    std::string html;
};

// Measures one file and reports on it; returns its exit status.
// `separate` asks for a blank line before a text report, and is set once
// one is written.
int statsFile(const std::string& path, const Outputs& out, bool* separate) {
    DbImage db;
    if (!openForCommand("stats", path, &db)) return kExitUsage;
    const std::string notJournal = notAJournal(db);
    if (!notJournal.empty()) {
        std::fprintf(stderr, "jbbtool stats: %s: not a journal database: %s\n", db.path().c_str(), notJournal.c_str());
        return kExitFindings;
    }
    // The page's target is examined before the file is read, so that a
    // refusal comes at once.
    SafeOutput page(out.html, {path}, kStatsPageKind, out.force);
    std::string why;
    FILE* pageFile = nullptr;
    if (!out.html.empty() && (pageFile = page.open(&why)) == nullptr) {
        std::fprintf(stderr, "jbbtool stats: %s\n", why.c_str());
        return kExitUsage;
    }
    Stats st;
    ProgressLine progress("stats", db.size());
    collectStats(db, &st, progress);
    progress.finish();
    if (!db.ioError().empty()) {
        std::fprintf(stderr, "jbbtool stats: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }
    if (pageFile != nullptr) {
        const std::string h = statsPage(db, st);
        if (std::fwrite(h.data(), 1, h.size(), pageFile) != h.size() || !page.commit(&why)) {
            if (why.empty()) why = "cannot write " + out.html + ": " + plat::errnoText(errno != 0 ? errno : EIO);
            std::fprintf(stderr, "jbbtool stats: %s\n", why.c_str());
            return kExitUsage;
        }
    }
    if (out.json) {
        printJson(db, st);
    } else if (out.text || out.html.empty()) {
        if (*separate) plat::outPrintfUtf8("\n");
        printText(db, st);
        *separate = true;
    }
    plat::outFlush();
    if (!st.treeProblem.empty())
        std::fprintf(stderr, "jbbtool stats: %s: the tree cannot be read: %s\n", db.path().c_str(),
                     st.treeProblem.c_str());
    return st.damaged + st.unparsed > 0 || !st.treeProblem.empty() ? kExitFindings : kExitSound;
}

int runStats(int argc, char** argv) {
    Outputs out;
    std::vector<std::string> files;
    int rc = parseCommandLine("stats", argc, argv,
                              {{"--json", &out.json, nullptr},
                               {"--text", &out.text, nullptr},
                               {"--html", nullptr, &out.html},
                               {"--force", &out.force, nullptr}},
                              1, SIZE_MAX, &files);
    if (rc >= 0) return rc;
    if (out.json && out.text) return usageError("stats", "--json and --text exclude each other");
    if (!out.html.empty() && files.size() > 1)
        return usageError("stats", "--html writes the page of one file, found %zu", files.size());
    if (out.html == "-" && (out.json || out.text))
        return usageError("stats", "--html - writes the page to standard output, where --json or --text would write");
    if (out.force && out.html.empty()) return usageError("stats", "--force is for --html");
    int worst = kExitSound;
    bool separate = false;
    for (const std::string& f : files) worst = std::max(worst, statsFile(f, out, &separate));
    return worst;
}

void helpStats(FILE* out) {
    std::fputs(
        "Usage: jbbtool stats [--json | --text] [--html OUT [--force]] FILE...\n"
        "\n"
        "Measures each database FILE in turn, in one pass, without changing it:\n"
        "its name; the control record's fields (the magic number in hex, the\n"
        "state by its name and number); slots, free slots and their bytes, node\n"
        "bytes against slot bytes (slack); depth and nodes per level with their\n"
        "datum counts; key lengths; entries by action and object type (each by\n"
        "its name and number); oldest and newest inserted and object times (UTC);\n"
        "the 20 directories with the most entries (keys read as path names).  A\n"
        "blank line comes between files.  A file that is not a journal database\n"
        "is said to be so on standard error, as check words it, without a report.\n"
        "\n"
        "  --json      one JSON document per file instead, each on a line of its\n"
        "              own and naming its file (schema jbbtool.stats/2)\n"
        "  --html OUT  write a self-contained page of one FILE to OUT (XHTML with\n"
        "              inline SVG, no scripts): its figures, a map of the file\n"
        "              (node, slack and free bytes along it), the fill per level,\n"
        "              the key lengths, and the entries over time by action; each\n"
        "              bar and map segment tells its figures when pointed at.\n"
        "              Only the page is written, unless --text or --json asks for\n"
        "              that report as well.  OUT - is standard output.  OUT is\n"
        "              written anew and renamed into place once whole; an OUT that\n"
        "              is FILE itself, a symbolic link, a file with more than one\n"
        "              hard link or no regular file is left as it is, and so is an\n"
        "              existing file that is not a page stats wrote (exit 2)\n"
        "  --force     with --html: replace an OUT of any other content as well\n"
        "  --text      the text report (the default without --html and --json)\n"
        "\n"
        "The trace options (jbbtool --help) write no lines for stats: it reads the\n"
        "file with jbbtool's own reader, not the engine.\n"
        "\n"
        "Exit status, the worst over the files: 0; 1 when a file is not a journal\n"
        "database, damaged slots or nodes were met, or the tree cannot be read from\n"
        "its root (standard error says why); 2 usage or I/O error, or an OUT left\n"
        "as it is.\n",
        out);
}

}  // namespace

const Command kStatsCommand = {"stats", "measure journals and their files", runStats, helpStats};

}  // namespace jbbtool
