// jbbtool dump [--json] [--salvage] FILE: every entry in key order, in the
// text format of `jbbgen --input` (or JSON lines), preceded by the journal
// control area; --salvage reads the slots directly instead of the tree.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "dumpwriter.h"
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

int dumpTree(DbImage& db, DumpWriter& w) {
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
    auto report = [&](const std::string& what) {
        ++problems;
        std::fprintf(stderr, "jbbtool dump: %s: %s\n", db.path().c_str(), what.c_str());
    };
    // The last key written, for the order check: where it lies in the
    // pipe's items while they last, else in `kept`.
    const uint8_t* prev = nullptr;
    uint32_t prevUnits = 0;
    std::vector<uint8_t> kept;
    auto emit = [&](const WalkEntry& e) {
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
            WalkEntry e;
            while (walker.next(&e)) {
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
    bool json = false, salvage = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("dump", argc, argv, {{"--json", &json, nullptr}, {"--salvage", &salvage, nullptr}}, 1, 1,
                              &files);
    if (rc >= 0) return rc;
    DbImage db;
    if (!openForCommand("dump", files[0], &db)) return kExitUsage;
    DumpWriter w(json);
    rc = salvage ? salvageEntries(db, w) : dumpTree(db, w);
    if (!w.flush() || !plat::outFlush()) {
        std::fprintf(stderr, "jbbtool dump: cannot write the output\n");
        return kExitUsage;
    }
    return rc;
}

void helpDump(FILE* out) {
    std::fputs(
        "Usage: jbbtool dump [--json] [--salvage] FILE\n"
        "\n"
        "Writes every entry of the database FILE in key order, in the text format\n"
        "that 'jbbgen NAME --input DUMP' reads back, preceded by the journal control\n"
        "area (%app-area, as hexadecimal bytes, with its fields as # comments).\n"
        "UTF-8 whatever the locale; no file name, size or time, so dumps of equal\n"
        "journals are equal.  Lines that the five tab-separated fields cannot carry\n"
        "get a line before them: '%record HEX' for a record whose last 8 bytes are\n"
        "not zero, '%key HEX' (UTF-16 units) for a name with a tab, a line end or an\n"
        "unpaired surrogate.\n"
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
