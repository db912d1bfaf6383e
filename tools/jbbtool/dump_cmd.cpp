// jbbtool dump [--json] [--salvage] [FILTERS] FILE: every entry in key
// order, in the text format of `jbbgen --input` (or JSON lines), preceded
// by the journal control area; --salvage reads the slots directly instead
// of the tree.  The filters leave out entries (--count only counts them);
// --prefix walks only the part of the tree that holds the names.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "dumpwriter.h"
#include "entryfilter.h"
#include "entrypipe.h"
#include "keyorder.h"
#include "nodeview.h"
#include "platform.h"
#include "progress.h"
#include "salvage.h"
#include "slotmap.h"
#include "textout.h"
#include "treescan.h"
#include "treewalker.h"

namespace jbbtool {

namespace {

int dumpTree(DbImage& db, DumpWriter& w, const EntryFilter& filter) {
    const ctrlRec& c = db.ctrl();
    const std::string notJournal = notAJournal(db);
    if (!notJournal.empty()) {
        std::fprintf(stderr, "jbbtool dump: %s: not a journal database: %s (try dump --salvage)\n", db.path().c_str(),
                     notJournal.c_str());
        return kExitFindings;
    }
    SlotMap map;
    ProgressLine progress("dump", db.size());
    bool mapped = buildSlotMap(db, &map, progress.callback());
    progress.finish();
    if (!mapped) {
        std::fprintf(stderr, "jbbtool dump: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }
    w.head(c.appArea, c.dbDataLen);
    uint64_t problems = 0;
    // Once the walk is past the names that begin with the prefix, the
    // reading thread is told to stop, and what it read meanwhile is left
    // alone.
    std::atomic<bool> stop(false);
    bool past = false;
    auto report = [&](const std::string& what) {
        if (past) return;
        ++problems;
        std::fprintf(stderr, "jbbtool dump: %s: %s\n", db.path().c_str(), what.c_str());
    };
    // The last key written, for the order check: where it lies in the
    // pipe's items while they last, else in `kept`.
    const uint8_t* prev = nullptr;
    uint32_t prevUnits = 0;
    std::vector<uint8_t> kept;
    auto emit = [&](const WalkEntry& e) {
        if (past || (past = filter.pastPrefix(e.key, e.units))) {
            stop.store(true, std::memory_order_relaxed);
            return;
        }
        if (prev != nullptr && compareKeyUnits(prev, prevUnits, e.key, e.units) >= 0) {
            std::u16string key(e.units, u'\0'), before(prevUnits, u'\0');
            if (e.units > 0) std::memcpy(&key[0], e.key, 2 * (size_t)e.units);
            if (prevUnits > 0) std::memcpy(&before[0], prev, 2 * (size_t)prevUnits);
            report("key " + jsonString(key) + " is out of order after " + jsonString(before) + "; left out");
            return;
        }
        w.entry(e.key, e.units, e.data, c.dbDataLen);
        prev = e.key;
        prevUnits = e.units;
    };
    auto keepPrev = [&] {
        if (prev == nullptr || prev == kept.data()) return;
        kept.assign(prev, prev + 2 * (size_t)prevUnits);
        prev = kept.data();
    };
    NodeView leaf;
    // The tree is walked on a second thread, which hands over leaves whole;
    // this one parses them, checks the order and writes the text, and
    // reports the walk's problems in their place.
    const int read = pipeEntries(
        c.dbDataLen,
        [&](EntrySink& out) {
            TreeWalker walker(db, map);
            walker.wholeLeaves = true;
            walker.problem = [&](const std::string& what) { out.problem(what); };
            if (filter.hasPrefix) walker.seek(filter.prefix);
            WalkEntry e;
            while (!stop.load(std::memory_order_relaxed) && walker.next(&e)) {
                if (e.leaf == nullptr)
                    out.put(e);
                else
                    out.putLeaf(e, walker.takeLeaf());
            }
            return walker.ioFailed() ? kExitUsage : kExitSound;
        },
        [&](const PipeItem& it) {
            if (it.problem != nullptr) {
                report(*it.problem);
                return;
            }
            if (it.entry.leaf == nullptr) {
                emit(it.entry);
                if (it.last) keepPrev();
                return;
            }
            parseNode(it.entry.leaf, it.entry.leafSize, c.dbDataLen, &leaf);
            if (!leaf.fault.empty())
                report("node " + std::to_string(it.entry.subscript) + " at offset " + std::to_string(it.entry.offset) +
                       ": " + leaf.fault);
            for (const DatumRef& d : leaf.datums) {
                WalkEntry e;
                e.key = it.entry.leaf + d.offset + datumKeyOffset;
                e.units = d.keyUnits;
                e.data = it.entry.leaf + d.dataPos;
                emit(e);
            }
            if (it.last) keepPrev();
        });
    if (read == kExitUsage) return kExitUsage;
    if (problems > 0)
        std::fprintf(stderr, "jbbtool dump: %s: the tree is damaged; dump --salvage recovers more\n",
                     db.path().c_str());
    return problems > 0 ? kExitFindings : kExitSound;
}

int runDump(int argc, char** argv) {
    bool json = false, salvage = false, count = false;
    std::string prefix, since, until;
    std::vector<std::string> actions, types, files;
    int rc = parseCommandLine("dump", argc, argv,
                              {{"--json", &json, nullptr},
                               {"--salvage", &salvage, nullptr},
                               {"--prefix", nullptr, &prefix},
                               {"--since", nullptr, &since},
                               {"--until", nullptr, &until},
                               {"--action", nullptr, nullptr, &actions},
                               {"--type", nullptr, nullptr, &types},
                               {"--count", &count, nullptr}},
                              1, 1, &files);
    if (rc >= 0) return rc;
    EntryFilter filter;
    rc = parseEntryFilter("dump", prefix, since, until, actions, types, &filter);
    if (rc >= 0) return rc;
    DbImage db;
    if (!openForCommand("dump", files[0], &db)) return kExitUsage;
    DumpWriter w(json);
    w.setFilter(&filter, count);
    rc = salvage ? salvageEntries(db, w) : dumpTree(db, w, filter);
    if (count && rc != kExitUsage && (salvage || notAJournal(db).empty()))
        plat::outPrintfUtf8("%llu\n", (unsigned long long)w.matched());
    if (!w.flush() || !plat::outFlush()) {
        std::fprintf(stderr, "jbbtool dump: cannot write the output\n");
        return kExitUsage;
    }
    return rc;
}

void helpDump(FILE* out) {
    std::fputs(
        "Usage: jbbtool dump [--json] [--salvage] [FILTER...] [--count] FILE\n"
        "\n"
        "Writes every entry of the database FILE in key order, in the text format\n"
        "that 'jbbgen NAME --input DUMP' reads back, preceded by the journal control\n"
        "area (%app-area, as hexadecimal bytes, with its fields as # comments).\n"
        "UTF-8 whatever the locale; no file name, size or time, so dumps of equal\n"
        "journals are equal.  Lines that the five tab-separated fields cannot carry\n"
        "get a line before them: '%record HEX' for a record whose last 8 bytes are\n"
        "not zero, '%key HEX' (UTF-16 units) for a name with a control character\n"
        "(a tab or a line end among them, shown as U+FFFD), an unpaired surrogate\n"
        "or no character at all.  Times are YYYY-MM-DDTHH:MM:SSZ from year 0000 to\n"
        "9999, before 1970 too, else seconds since 1970.\n"
        "\n"
        "  --json      JSON lines instead: a head line, then one line per entry\n"
        "              (schema jbbtool.dump/1)\n"
        "  --salvage   read every slot of the file directly instead of following the\n"
        "              tree, trusting no control-record field; keeps every datum\n"
        "              that parses soundly and has room for a record (the control\n"
        "              record's length when plausible, else the one most datums\n"
        "              have), of a key found twice the copy with the newest\n"
        "              inserted time (the first in the file on a tie), and says on\n"
        "              standard error what it dropped and why, and what it could\n"
        "              not save: slots with no readable node, subscripts that\n"
        "              branches name and no slot holds, and the entries the walk\n"
        "              from the control record's root reaches.  It writes the\n"
        "              journal control area only when it can read it soundly, and\n"
        "              says so when it cannot (a rebuild then says what it made up)\n"
        "\n"
        "Filters write only the entries that pass every filter given, still\n"
        "preceded by the head lines, so that jbbgen --input reads them back:\n"
        "  --prefix TEXT      names that begin with TEXT (UTF-8, or '%key HEX' as\n"
        "                     the dump writes a name); the walk descends to the\n"
        "                     first name at or after TEXT and stops after the last\n"
        "                     one that begins with it\n"
        "  --since TIME       inserted at TIME or later\n"
        "  --until TIME       inserted before TIME (TIME itself is left out); TIME\n"
        "                     in UTC as 2024-03-01 (midnight), 2024-03-01T12:00:00Z\n"
        "                     or seconds since 1970\n"
        "  --action NAME|CODE an action (create, delete, modify, rename-old,\n"
        "                     rename-new, change-attribute, delete-restore) or its\n"
        "                     number; given again, any of them\n"
        "  --type NAME|CODE   file, directory or a number; given again, any of them\n"
        "  --count            write only the number of entries that pass, one line\n"
        "\n"
        "The trace options (jbbtool --help) write no lines for dump: it reads the\n"
        "file with jbbtool's own reader, not the engine.\n"
        "\n"
        "Exit status: 0 every entry written, 1 entries left out (damage) or not a\n"
        "journal database, 2 usage or I/O error.\n",
        out);
}

}  // namespace

const Command kDumpCommand = {"dump", "write every entry in key order (jbbgen --input format)", runDump, helpDump};

}  // namespace jbbtool
