// jbbtool check [--json] [--quiet] FILE...: full structural verification
// of database files, read-only, each in turn.  Text output: per file one
// line per finding, a summary line per class, a result line; --json: one
// jbbtool.check/3 document (schema.h) per file, each on a line of its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "format.h"
#include "journal.h"
#include "platform.h"
#include "progress.h"
#include "textout.h"
#include "treescan.h"

namespace jbbtool {

namespace {

std::string findingLine(const Finding& f) {
    std::string s = f.code;
    if (f.subscript != 0) s += " node " + std::to_string(f.subscript);
    if (f.offset >= 0) s += " at offset " + std::to_string(f.offset);
    return s + ": " + f.message;
}

std::string findingJson(const Finding& f) {
    return std::string("{\"code\":") + jsonString(std::string(f.code)) +
           ",\"subscript\":" + (f.subscript != 0 ? std::to_string(f.subscript) : "null") +
           ",\"offset\":" + (f.offset >= 0 ? std::to_string(f.offset) : "null") +
           ",\"message\":" + jsonString(f.message) + "}";
}

void printText(const DbImage& db, const CheckReport& r) {
    plat::outPrintfUtf8(
        "%s: %lld bytes, %llu slots (%llu used, %llu free), %llu nodes reached, %llu entries, "
        "depth %d\n",
        db.path().c_str(), (long long)db.size(), (unsigned long long)r.slots, (unsigned long long)r.usedSlots,
        (unsigned long long)r.freeSlots, (unsigned long long)r.reachableNodes, (unsigned long long)r.entries, r.depth);
    for (const Finding& f : r.findings) plat::outPrintfUtf8("%s\n", findingLine(f).c_str());
    for (const Finding& f : r.notes) plat::outPrintfUtf8("note: %s\n", findingLine(f).c_str());
    for (const char* const* c = kFindingCodes; *c != nullptr; ++c) {
        auto it = r.counts.find(*c);
        if (it == r.counts.end()) continue;
        plat::outPrintfUtf8("summary: %-20s %llu%s\n", *c, (unsigned long long)it->second,
                            it->second > kMaxListed ? " (the first 1000 listed)" : "");
    }
    if (r.noteCount > 0)
        plat::outPrintfUtf8("summary: %-20s %llu (notes, not findings)\n", kNoteUnpairedSurrogate,
                            (unsigned long long)r.noteCount);
    if (r.total() == 0)
        plat::outPrintfUtf8("result: sound\n");
    else
        plat::outPrintfUtf8("result: %s in %s\n", countText(r.total(), "finding", "findings").c_str(),
                            countText(r.counts.size(), "class", "classes").c_str());
}

void printJson(const DbImage& db, const CheckReport& r) {
    const ctrlRec& c = db.ctrl();
    std::string out = "{\"schema\":\"jbbtool.check/3\",\"file\":" + jsonString(db.path()) +
                      ",\"fileSize\":" + std::to_string(db.size()) +
                      ",\"sound\":" + (r.total() == 0 ? "true" : "false") +
                      ",\"markedOpen\":" + (db.hasCtrl() && c.dbState == dbOpened ? "true" : "false");
    if (db.hasCtrl()) {
        out += ",\"control\":{\"magic\":" + jsonString(magicText(c.dbMagic)) +
               ",\"versionMajor\":" + std::to_string(c.dbVersMaj) + ",\"versionMinor\":" + std::to_string(c.dbVersMin) +
               ",\"state\":" + std::to_string(c.dbState) + ",\"stateName\":" + jsonName(stateWord(c.dbState)) +
               ",\"rootOffset\":" + std::to_string(c.rootOffset) +
               ",\"indexArraySize\":" + std::to_string(c.indexArraySize) +
               ",\"currentIXCount\":" + std::to_string(c.currentIXCount) +
               ",\"lastIndex\":" + std::to_string(c.lastIndex) + ",\"lastNDRec\":" + std::to_string(c.lastNDRec) +
               ",\"dbKeyLen\":" + std::to_string(c.dbKeyLen) + ",\"dbDataLen\":" + std::to_string(c.dbDataLen) + "}";
    } else {
        out += ",\"control\":null";
    }
    out += ",\"counts\":{\"slots\":" + std::to_string(r.slots) + ",\"usedSlots\":" + std::to_string(r.usedSlots) +
           ",\"freeSlots\":" + std::to_string(r.freeSlots) + ",\"reachableNodes\":" + std::to_string(r.reachableNodes) +
           ",\"entries\":" + std::to_string(r.entries) + ",\"depth\":" + std::to_string(r.depth) + "}";
    out += ",\"summary\":{";
    bool first = true;
    for (const char* const* code = kFindingCodes; *code != nullptr; ++code) {
        auto it = r.counts.find(*code);
        if (it == r.counts.end()) continue;
        out += (first ? "" : ",") + jsonString(std::string(*code)) + ":" + std::to_string(it->second);
        first = false;
    }
    out += "},\"findings\":[";
    for (size_t i = 0; i < r.findings.size(); ++i) out += (i ? "," : "") + findingJson(r.findings[i]);
    out += "],\"findingsOmitted\":" + std::to_string(r.total() - r.findings.size()) + ",\"notes\":[";
    for (size_t i = 0; i < r.notes.size(); ++i) out += (i ? "," : "") + findingJson(r.notes[i]);
    out += "],\"notesOmitted\":" + std::to_string(r.noteCount - r.notes.size()) + "}\n";
    plat::outWriteUtf8(out.data(), out.size());
}

// One line: "FILE: sound", or the number of findings and their classes in
// the order of the code list, for sweeps over many journals.
void printBrief(const DbImage& db, const CheckReport& r) {
    std::string line = db.path() + ": ";
    if (r.total() == 0) {
        line += "sound";
    } else {
        line += countText(r.total(), "finding", "findings") + " (";
        bool first = true;
        for (const char* const* c = kFindingCodes; *c != nullptr; ++c) {
            if (r.counts.find(*c) == r.counts.end()) continue;
            line += std::string(first ? "" : ", ") + *c;
            first = false;
        }
        line += ")";
    }
    plat::outPrintfUtf8("%s\n", line.c_str());
}

// A journal of type 0 ("just created") whose tree holds entries: its type
// was lost (an interrupted count writes type 0 to the file, or damage),
// and the viewer would offer the file, entries and all, for deletion.
void findJustCreatedEntries(const DbImage& db, CheckReport* r) {
    const uint32_t type = btformat::load32(db.ctrl().appArea + journalInfoOff::journalType);
    if (type != journalUnformatted || r->entries == 0) return;
    const char* code = "just-created-entries";
    r->counts[code] = 1;
    r->findings.push_back({code, 0, -1,
                           "the journal type is 0 (just created), yet its tree holds " +
                               countText(r->entries, "entry", "entries") +
                               "; jbbview would offer the file for deletion"});
}

// Checks one file and reports on it unless `quiet` and it is sound;
// returns its exit status.  `separate` asks for a blank line before a text
// report, and is set once one is written.
int checkFile(const std::string& path, bool json, bool quiet, bool brief, bool* separate) {
    DbImage db;
    if (!openForCommand("check", path, &db)) return kExitUsage;
    CheckReport r;
    ProgressLine progress("check", db.size());
    checkDatabase(db, &r, progress.callback());
    progress.finish();
    if (r.ioFailed) {
        std::fprintf(stderr, "jbbtool check: %s: %s\n", db.path().c_str(), r.ioError.c_str());
        return kExitUsage;
    }
    // Too short for a control record, or neither its magic nor a single
    // slot: nothing of a journal to report on.
    if (!db.hasCtrl() || (db.ctrl().dbMagic != dbMagicNumber && r.usedSlots + r.freeSlots == 0)) {
        std::fprintf(stderr, "jbbtool check: %s: not a journal database: %s\n", db.path().c_str(),
                     notAJournal(db).c_str());
        return kExitFindings;
    }
    findJustCreatedEntries(db, &r);
    const int status = r.total() == 0 ? kExitSound : kExitFindings;
    if (quiet && status == kExitSound) return status;
    if (brief) {
        printBrief(db, r);
    } else if (json) {
        printJson(db, r);
    } else {
        if (*separate) plat::outPrintfUtf8("\n");
        printText(db, r);
        *separate = true;
    }
    plat::outFlush();
    return status;
}

int runCheck(int argc, char** argv) {
    bool json = false, quiet = false, brief = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("check", argc, argv,
                              {{"--json", &json, nullptr}, {"--quiet", &quiet, nullptr}, {"--brief", &brief, nullptr}},
                              1, SIZE_MAX, &files);
    if (rc >= 0) return rc;
    if (json && brief) return usageError("check", "--json and --brief exclude each other");
    // Each file in turn; one that cannot be read does not stop the others,
    // and the exit status is the worst of them.
    int worst = kExitSound;
    bool separate = false;
    for (const std::string& f : files) worst = std::max(worst, checkFile(f, json, quiet, brief, &separate));
    return worst;
}

void helpCheck(FILE* out) {
    std::fputs(
        "Usage: jbbtool check [--json | --brief] [--quiet] FILE...\n"
        "\n"
        "Verifies the structure of each database FILE in turn (its full name,\n"
        "extension included) without changing it: the control record's fields\n"
        "against the file, the slots that tile the file from offset 2088, every\n"
        "node image and datum, the tree's shape (reachability, fill, leaf depth)\n"
        "and the key order within and across nodes.  One pass reads the file from\n"
        "start to end; a second reads the leaves again to compare each leaf's\n"
        "first and last key with the keys that bound it.\n"
        "\n"
        "Per file a line 'FILE: sizes and counts', each finding as a line\n"
        "'CODE node SUBSCRIPT at offset OFFSET: text', then a 'summary: CODE COUNT'\n"
        "line per class and a 'result:' line; a blank line between files.  Codes:\n"
        "  ctrl-short ctrl-magic ctrl-version ctrl-state ctrl-field bad-magic\n"
        "  slot-gap slot-overlap slot-past-end slot-state bad-subscript\n"
        "  duplicate-subscript free-slot-header datum-bounds key-order\n"
        "  key-order-across bad-branch node-unreachable node-reached-twice\n"
        "  node-cycle node-fill leaf-depth just-created-entries (a journal of type\n"
        "  0, which jbbview offers for deletion, whose tree holds entries)\n"
        "A key holding an unpaired surrogate is a legal Windows name: it is listed\n"
        "as a note, not a finding.  A file that cannot be read is reported on\n"
        "standard error and the others are checked all the same; so is a file\n"
        "that is not a journal database (shorter than a control record, or\n"
        "neither its magic number nor any slot), as stats and dump word it.\n"
        "\n"
        "  --json    one JSON document per file instead, each on a line of its own\n"
        "            and naming its file (schema jbbtool.check/3)\n"
        "  --quiet   report only the files with findings\n"
        "  --brief   one line per file instead: 'FILE: sound', or 'FILE: N findings\n"
        "            (CODE, ...)' with the classes found, for sweeps\n"
        "\n"
        "The trace options (jbbtool --help) write no lines for check: it reads the\n"
        "file with jbbtool's own reader, not the engine.\n"
        "\n"
        "Exit status, the worst over the files: 0 sound, 1 findings or not a journal\n"
        "database, 2 usage or I/O error.\n",
        out);
}

}  // namespace

const Command kCheckCommand = {"check", "verify the structure of databases (read-only)", runCheck, helpCheck};

}  // namespace jbbtool
