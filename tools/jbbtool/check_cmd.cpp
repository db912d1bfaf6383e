// jbbtool check FILE [--json]: full structural verification of a database
// file, read-only.  Text output: one line per finding, a summary line per
// class, a result line; --json: the jbbtool.check/1 document (schema.h).
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
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
        plat::outPrintfUtf8("result: %llu findings in %zu classes\n", (unsigned long long)r.total(), r.counts.size());
}

void printJson(const DbImage& db, const CheckReport& r) {
    const ctrlRec& c = db.ctrl();
    std::string out = "{\"schema\":\"jbbtool.check/1\",\"file\":" + jsonString(db.path()) +
                      ",\"fileSize\":" + std::to_string(db.size()) +
                      ",\"sound\":" + (r.total() == 0 ? "true" : "false") +
                      ",\"markedOpen\":" + (db.hasCtrl() && c.dbState == dbOpened ? "true" : "false");
    if (db.hasCtrl()) {
        out += ",\"control\":{\"magic\":" + std::to_string(c.dbMagic) +
               ",\"versionMajor\":" + std::to_string(c.dbVersMaj) + ",\"versionMinor\":" + std::to_string(c.dbVersMin) +
               ",\"state\":" + std::to_string(c.dbState) + ",\"rootOffset\":" + std::to_string(c.rootOffset) +
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

int runCheck(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("check", argc, argv, {{"--json", &json, nullptr}}, 1, 1, &files);
    if (rc >= 0) return rc;
    DbImage db;
    if (!openForCommand("check", files[0], &db)) return kExitUsage;
    CheckReport r;
    ProgressLine progress("check", db.size());
    checkDatabase(db, &r, progress.callback());
    progress.finish();
    if (r.ioFailed) {
        std::fprintf(stderr, "jbbtool check: %s: %s\n", db.path().c_str(), r.ioError.c_str());
        return kExitUsage;
    }
    if (json)
        printJson(db, r);
    else
        printText(db, r);
    return r.total() == 0 ? kExitSound : kExitFindings;
}

void helpCheck(FILE* out) {
    std::fputs(
        "Usage: jbbtool check [--json] FILE\n"
        "\n"
        "Verifies the structure of the database FILE (its full name, extension\n"
        "included) without changing it: the control record's fields against the\n"
        "file, the slots that tile the file from offset 2088, every node image and\n"
        "datum, the tree's shape (reachability, fill, leaf depth) and the key order\n"
        "within and across nodes.  One pass reads the file from start to end, a\n"
        "second reads the leaves again to check each against its bounding keys.\n"
        "\n"
        "Each finding is a line 'CODE node SUBSCRIPT at offset OFFSET: text', then\n"
        "a 'summary: CODE COUNT' line per class and a 'result:' line.  Codes:\n"
        "  ctrl-short ctrl-magic ctrl-version ctrl-state ctrl-field bad-magic\n"
        "  slot-gap slot-overlap slot-past-end slot-state bad-subscript\n"
        "  duplicate-subscript free-slot-header datum-bounds key-order\n"
        "  key-order-across bad-branch node-unreachable node-reached-twice\n"
        "  node-cycle node-fill leaf-depth\n"
        "A key holding an unpaired surrogate is a legal Windows name: it is listed\n"
        "as a note, not a finding.\n"
        "\n"
        "  --json    one JSON document instead (schema jbbtool.check/1)\n"
        "\n"
        "Exit status: 0 sound, 1 findings, 2 usage or I/O error.\n",
        out);
}

}  // namespace

const Command kCheckCommand = {"check", "verify a database's structure (read-only)", runCheck, helpCheck};

}  // namespace jbbtool
