// jbbtool diff [--json] A B: the entries only in A, only in B, and those
// whose records differ, found by walking both trees in key order side by
// side (memory does not grow with the journals).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "dumpwriter.h"
#include "keyorder.h"
#include "platform.h"
#include "slotmap.h"
#include "journal.h"
#include "textout.h"
#include "treescan.h"
#include "treewalker.h"

namespace jbbtool {

namespace {

// One side of the comparison: the file, its slot map and its walk.
struct Side {
    DbImage db;
    SlotMap map;
    std::unique_ptr<TreeWalker> walker;
    std::u16string key;
    const uint8_t* data = nullptr;
    bool more = false;
    uint64_t entries = 0;
    uint64_t problems = 0;

    bool open(const std::string& path) {
        if (!openForCommand("diff", path, &db)) return false;
        const std::string notJournal = notAJournal(db);
        if (!notJournal.empty()) {
            std::fprintf(stderr, "jbbtool diff: %s: not a journal database: %s\n", path.c_str(), notJournal.c_str());
            return false;
        }
        if (!buildSlotMap(db, &map)) {
            std::fprintf(stderr, "jbbtool diff: %s: %s\n", path.c_str(), db.ioError().c_str());
            return false;
        }
        walker.reset(new TreeWalker(db, map));
        walker->problem = [this](const std::string& what) {
            ++problems;
            std::fprintf(stderr, "jbbtool diff: %s: %s\n", db.path().c_str(), what.c_str());
        };
        advance();
        return true;
    }
    void advance() {
        std::u16string prev = key;
        bool first = entries == 0;
        for (;;) {
            more = walker->next(&key, &data);
            if (!more) return;
            if (first || compareKeys(prev.c_str(), key.c_str()) < 0) break;
            walker->problem("key " + jsonString(key) + " is out of order; left out");
        }
        ++entries;
    }
};

void report(bool json, const char* what, const std::u16string& key) {
    if (json) {
        plat::outPrintfUtf8("{\"change\":\"%s\",\"key\":%s}\n", what, jsonString(key).c_str());
        return;
    }
    std::string keyLine;
    const std::string shown = nameField(key, &keyLine);
    plat::outPrintfUtf8("%s%s\t%s\n", keyLine.c_str(), what, shown.c_str());
}

// A record's bytes after its four fields (the last 8 of a 32-byte record),
// as hexadecimal.
std::string tailHex(const uint8_t* data, uint16_t len) {
    return len > journalRecOff::opaque ? hexBytes(data + journalRecOff::opaque, len - journalRecOff::opaque)
                                       : std::string();
}

// One side of a `differ` line: the record's fields, and its tail when the
// tails differ.
std::string recordText(const journalRec& r, const std::string* tail) {
    std::string s = "action " + codeText(actionText(r.action), r.action) + ", type " +
                    codeText(objectTypeWord(r.objectType), r.objectType) + ", inserted UTC " + utcText(r.insertedTime) +
                    ", object time UTC " + utcText(r.objectTime);
    if (tail != nullptr) s += ", last bytes " + (tail->empty() ? std::string("none") : *tail);
    return s;
}

std::string recordJson(const journalRec& r, const std::string* tail) {
    std::string s = "{\"action\":" + std::to_string(r.action) + ",\"actionName\":" + jsonName(actionText(r.action)) +
                    ",\"objectType\":" + std::to_string(r.objectType) +
                    ",\"objectTypeName\":" + jsonName(objectTypeWord(r.objectType)) +
                    ",\"inserted\":" + std::to_string(r.insertedTime) + ",\"insertedUtc\":\"" +
                    utcText(r.insertedTime) + "\",\"objectTime\":" + std::to_string(r.objectTime) +
                    ",\"objectTimeUtc\":\"" + utcText(r.objectTime) + "\"";
    if (tail != nullptr) s += ",\"lastBytes\":\"" + *tail + "\"";
    return s + "}";
}

// A key both hold with different records: both records' fields, and the
// bytes after the fields when those differ.
void reportDiffer(bool json, const std::u16string& key, const uint8_t* a, uint16_t lenA, const uint8_t* b,
                  uint16_t lenB) {
    const journalRec ra = journalRecFrom(a, lenA), rb = journalRecFrom(b, lenB);
    const std::string tailA = tailHex(a, lenA), tailB = tailHex(b, lenB);
    const bool tails = tailA != tailB;
    if (json)
        plat::outPrintfUtf8("{\"change\":\"differ\",\"key\":%s,\"a\":%s,\"b\":%s}\n", jsonString(key).c_str(),
                            recordJson(ra, tails ? &tailA : nullptr).c_str(),
                            recordJson(rb, tails ? &tailB : nullptr).c_str());
    else {
        std::string keyLine;
        const std::string shown = nameField(key, &keyLine);
        plat::outPrintfUtf8("%sdiffer\t%s\ta: %s\tb: %s\n", keyLine.c_str(), shown.c_str(),
                            recordText(ra, tails ? &tailA : nullptr).c_str(),
                            recordText(rb, tails ? &tailB : nullptr).c_str());
    }
}

int runDiff(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    int rc = parseCommandLine("diff", argc, argv, {{"--json", &json, nullptr}}, 2, 2, &files);
    if (rc >= 0) return rc;
    Side a, b;
    if (!a.open(files[0]) || !b.open(files[1])) return kExitUsage;
    const uint16_t lenA = a.db.ctrl().dbDataLen, lenB = b.db.ctrl().dbDataLen;
    uint64_t onlyA = 0, onlyB = 0, differ = 0;
    while (a.more || b.more) {
        int c = !a.more ? 1 : !b.more ? -1 : compareKeys(a.key.c_str(), b.key.c_str());
        if (c < 0) {
            report(json, "only-a", a.key);
            ++onlyA;
            a.advance();
        } else if (c > 0) {
            report(json, "only-b", b.key);
            ++onlyB;
            b.advance();
        } else {
            if (lenA != lenB || std::memcmp(a.data, b.data, lenA) != 0) {
                reportDiffer(json, a.key, a.data, lenA, b.data, lenB);
                ++differ;
            }
            a.advance();
            b.advance();
        }
    }
    if (a.walker->ioFailed() || b.walker->ioFailed()) return kExitUsage;
    if (json)
        plat::outPrintfUtf8(
            "{\"schema\":\"jbbtool.diff/1\",\"entriesA\":%llu,\"entriesB\":%llu,\"onlyA\":%llu,"
            "\"onlyB\":%llu,\"differ\":%llu}\n",
            (unsigned long long)a.entries, (unsigned long long)b.entries, (unsigned long long)onlyA,
            (unsigned long long)onlyB, (unsigned long long)differ);
    else
        plat::outPrintfUtf8(
            "summary: %llu entries in A, %llu in B; %llu only in A, %llu only in B, %llu with "
            "different records\n",
            (unsigned long long)a.entries, (unsigned long long)b.entries, (unsigned long long)onlyA,
            (unsigned long long)onlyB, (unsigned long long)differ);
    if (a.problems + b.problems > 0) {
        std::fprintf(stderr, "jbbtool diff: a tree is damaged; the comparison is incomplete\n");
        return kExitUsage;
    }
    return onlyA + onlyB + differ > 0 ? kExitFindings : kExitSound;
}

void helpDiff(FILE* out) {
    std::fputs(
        "Usage: jbbtool diff [--json] A B\n"
        "\n"
        "Compares the entries of the two databases A and B (full names, extension\n"
        "included), walking both in key order.  One line per difference:\n"
        "  only-a <tab> NAME     the key is in A only\n"
        "  only-b <tab> NAME     the key is in B only\n"
        "  differ <tab> NAME <tab> a: FIELDS <tab> b: FIELDS\n"
        "                        both hold the key, with different records\n"
        "A name that the line cannot carry as it stands (a tab, a line end or another\n"
        "control character in it, an unpaired surrogate, or no character at all)\n"
        "is shown as dump shows it, with control characters as U+FFFD, and a line\n"
        "'%key HEX' (its UTF-16 units) goes before its line.  Then a summary line.\n"
        "FIELDS are a record's: 'action NAME (CODE), type\n"
        "NAME (CODE), inserted UTC TIME, object time UTC TIME' (a code without a\n"
        "name alone; TIME as YYYY-MM-DDTHH:MM:SSZ), and ', last bytes HEX' when\n"
        "the bytes after those fields (the last 8 of a 32-byte record) differ.\n"
        "\n"
        "  --json    JSON lines instead: {\"change\":...,\"key\":...} per difference,\n"
        "            a differ line with both records as \"a\" and \"b\", then a\n"
        "            summary object (schema jbbtool.diff/1)\n"
        "\n"
        "The trace options (jbbtool --help) write no lines for diff: it reads the\n"
        "files with jbbtool's own reader, not the engine.\n"
        "\n"
        "Exit status: 0 equal entries, 1 they differ, 2 usage or I/O error, or a\n"
        "damaged tree.\n",
        out);
}

}  // namespace

const Command kDiffCommand = {"diff", "compare the entries of two databases", runDiff, helpDiff};

}  // namespace jbbtool
