// jbbtool info [--json] FILE...: a journal's header, read from the control
// record alone without walking the tree: every field of the control record
// and of the journal control area, each field that no sound journal holds
// marked with the reason.  --json: one jbbtool.info/1 document (schema.h)
// per file, each on a line of its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "headerfields.h"
#include "platform.h"
#include "textout.h"
#include "treescan.h"

namespace jbbtool {

namespace {

// One field as shown: its name (the JSON member), its text, and its JSON
// members (`json`: ",\"name\":value..." without the leading comma's
// section).
struct Row {
    std::string name;
    std::string text;
    std::string json;
};

std::string u(uint64_t v) { return std::to_string(v); }

Row number(const char* name, uint64_t v) { return {name, u(v), "\"" + std::string(name) + "\":" + u(v)}; }

Row coded(const char* name, const char* word, uint64_t code) {
    return {name, codeText(word, code),
            "\"" + std::string(name) + "\":" + u(code) + ",\"" + name + "Name\":" + jsonName(word)};
}

Row time(const char* name, int64_t t) {
    return {name, utcText(t) + " (" + std::to_string(t) + ")",
            "\"" + std::string(name) + "\":" + std::to_string(t) + ",\"" + name + "Utc\":" + jsonString(utcText(t))};
}

Row bytes(const char* name, const uint8_t* p, size_t n) {
    const std::string hex = hexBytes(p, n);
    return {name, hex, "\"" + std::string(name) + "\":\"" + hex + "\""};
}

Row text(const char* name, const std::string& json) { return {name, json, "\"" + std::string(name) + "\":" + json}; }

std::vector<Row> controlRows(const ctrlRec& c) {
    return {
        {"magic", magicText(c.dbMagic), "\"magic\":" + jsonString(magicText(c.dbMagic))},
        {"version", u(c.dbVersMaj) + "." + u(c.dbVersMin),
         "\"versionMajor\":" + u(c.dbVersMaj) + ",\"versionMinor\":" + u(c.dbVersMin)},
        coded("state", stateWord(c.dbState), c.dbState),
        number("rootOffset", c.rootOffset),
        number("indexArraySize", c.indexArraySize),
        number("currentIXCount", c.currentIXCount),
        number("lastIndex", c.lastIndex),
        {"lastNDRec", std::to_string(c.lastNDRec), "\"lastNDRec\":" + std::to_string(c.lastNDRec)},
        number("dbKeyLen", c.dbKeyLen),
        number("dbDataLen", c.dbDataLen),
        bytes("padding", c.padding, sizeof c.padding),
    };
}

std::vector<Row> journalRows(const JournalArea& a) {
    const journalInfo& j = a.raw;
    Row maxSize = number("maxSize", j.maxJournalSize);
    maxSize.text = j.maxJournalSize == 0 ? "unlimited (0)" : maxSize.text + " bytes";
    return {
        coded("type", journalTypeWord(j.journalType), j.journalType),
        text("fileSystem", jsonString(a.fileSystem)),
        text("server", jsonBytes(a.server)),
        text("node", jsonBytes(a.node)),
        number("serverNameLength", j.serverNameLength),
        time("activation", j.activationDate),
        time("validation", j.validationDate),
        coded("state", journalStateWord(j.journalState), j.journalState),
        maxSize,
        {"padding", hexBytes(j.padding1, sizeof j.padding1) + " " + hexBytes(j.padding2, sizeof j.padding2),
         "\"padding1\":\"" + hexBytes(j.padding1, sizeof j.padding1) + "\",\"padding2\":\"" +
             hexBytes(j.padding2, sizeof j.padding2) + "\""},
    };
}

// A section of the text: its rows, each marked when implausible.
void printSection(const char* title, const std::vector<Row>& rows, const std::vector<Implausible>& marks) {
    plat::outPrintfUtf8("%s\n", title);
    for (const Row& r : rows) {
        std::string line = "  " + r.name + std::string(r.name.size() < 17 ? 17 - r.name.size() : 1, ' ') + r.text;
        for (const Implausible& m : marks)
            if (m.field == r.name) line += "  <- implausible: " + m.why;
        plat::outPrintfUtf8("%s\n", line.c_str());
    }
}

std::string jsonObject(const std::vector<Row>& rows) {
    std::string out = "{";
    for (size_t i = 0; i < rows.size(); ++i) out += (i ? "," : "") + rows[i].json;
    return out + "}";
}

std::string jsonMarks(const char* section, const std::vector<Implausible>& marks, bool* first) {
    std::string out;
    for (const Implausible& m : marks) {
        out += std::string(*first ? "" : ",") + "{\"field\":" + jsonString(std::string(section) + "." + m.field) +
               ",\"reason\":" + jsonString(m.why) + "}";
        *first = false;
    }
    return out;
}

// Reports on one file; returns its exit status.  `separate` asks for a
// blank line before a text report, and is set once one is written.
int infoFile(const std::string& path, bool json, bool* separate) {
    DbImage db;
    if (!openForCommand("info", path, &db)) return kExitUsage;
    const std::string notJournal = notAJournal(db);
    if (!notJournal.empty()) {
        std::fprintf(stderr, "jbbtool info: %s: not a journal database: %s\n", db.path().c_str(), notJournal.c_str());
        return kExitFindings;
    }
    const ctrlRec& c = db.ctrl();
    const JournalArea area = decodeJournalArea(c.appArea);
    const std::vector<Implausible> ctrlMarks = implausibleCtrlFields(c, db.size());
    const std::vector<Implausible> areaMarks = implausibleAreaFields(area);
    const size_t marks = ctrlMarks.size() + areaMarks.size();
    if (json) {
        bool first = true;
        std::string marksJson = jsonMarks("control", ctrlMarks, &first);
        marksJson += jsonMarks("journal", areaMarks, &first);
        const std::string out =
            "{\"schema\":\"jbbtool.info/1\",\"file\":" + jsonString(db.path()) +
            ",\"fileSize\":" + std::to_string(db.size()) + ",\"control\":" + jsonObject(controlRows(c)) +
            ",\"journal\":" + jsonObject(journalRows(area)) + ",\"implausible\":[" + marksJson + "]}\n";
        plat::outWriteUtf8(out.data(), out.size());
    } else {
        if (*separate) plat::outPrintfUtf8("\n");
        *separate = true;
        plat::outPrintfUtf8("%s: %lld bytes\n", db.path().c_str(), (long long)db.size());
        printSection("Control record", controlRows(c), ctrlMarks);
        printSection("Journal control area", journalRows(area), areaMarks);
        if (marks == 0)
            plat::outPrintfUtf8("result: every field plausible\n");
        else
            plat::outPrintfUtf8("result: %s\n", countText(marks, "implausible field", "implausible fields").c_str());
    }
    plat::outFlush();
    return marks == 0 ? kExitSound : kExitFindings;
}

int runInfo(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("info", argc, argv, {{"--json", &json, nullptr}}, 1, SIZE_MAX, &files);
    if (rc >= 0) return rc;
    int worst = kExitSound;
    bool separate = false;
    for (const std::string& f : files) worst = std::max(worst, infoFile(f, json, &separate));
    return worst;
}

void helpInfo(FILE* out) {
    std::fputs(
        "Usage: jbbtool info [--json] FILE...\n"
        "\n"
        "Shows the header of each journal FILE in turn from its first 2088 bytes,\n"
        "without walking the tree, in any state (a journal the service holds open\n"
        "included): every field of the control record (magic, version, state,\n"
        "root, index-array size and counters, last slot, key and record lengths)\n"
        "and of the journal control area (type, file system, server, node,\n"
        "activation and validation times in UTC, state, maximum size, padding).\n"
        "A field that no sound journal holds is shown all the same, marked\n"
        "'<- implausible: why'; a 'result:' line ends each file's report, and a\n"
        "blank line comes between files.  A file that is not a journal database is\n"
        "said to be so on standard error.\n"
        "\n"
        "  --json    one JSON document per file instead, each on a line of its own\n"
        "            and naming its file (schema jbbtool.info/1)\n"
        "\n"
        "Exit status, the worst over the files: 0 every field plausible, 1 a field\n"
        "implausible or not a journal database, 2 usage or I/O error.\n",
        out);
}

}  // namespace

const Command kInfoCommand = {"info", "show a journal's header without walking the tree", runInfo, helpInfo};

}  // namespace jbbtool
