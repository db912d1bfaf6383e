// jbbtool rebuild OLD NEW [--order key|random] [--force]: salvages the
// journal OLD into a new journal NEW in one step: the entries that
// dump --salvage recovers, inserted through the engine as jbbgen inserts
// them, under OLD's journal control area where it reads soundly.  NEW is
// checked as check checks before it takes its name; OLD is only read.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "headerfields.h"
#include "jbbgen_write.h"
#include "journalkind.h"
#include "platform.h"
#include "safeoutput.h"
#include "salvage.h"
#include "textout.h"
#include "treescan.h"

namespace jbbtool {

namespace {

// What salvage recovers, kept in memory for the insertion order: the keys
// one behind the other, each with its 0 unit, and the records.
class Recovered : public SalvageSink {
public:
    void head(const uint8_t* area, uint16_t dataLen) override {
        hasArea = area != nullptr;
        if (hasArea) std::memcpy(this->area, area, sizeof this->area);
        this->dataLen = dataLen;
    }
    void entry(const uint8_t* key, uint32_t units, const uint8_t* data, uint16_t) override {
        start.push_back(keys.size());
        keys.resize(keys.size() + units + 1);
        if (units > 0) std::memcpy(&keys[start.back()], key, 2 * (size_t)units);
        records.insert(records.end(), data, data + dataLen);
    }
    size_t size() const { return start.size(); }
    const char16_t* key(size_t i) const { return keys.data() + start[i]; }
    const uint8_t* record(size_t i) const { return records.data() + i * dataLen; }

    bool hasArea = false;
    uint8_t area[appAreaSize] = {};
    uint16_t dataLen = 0;

private:
    std::vector<char16_t> keys;
    std::vector<size_t> start;
    std::vector<uint8_t> records;
};

// NEW's journal control area: OLD's, with each field that is not
// plausible (or all of them, when OLD has none that reads soundly) made up
// from jbbgen's defaults, each said on standard error.
journalInfo newArea(const std::string& old, const Recovered& r) {
    const journalInfo defaults = jbbgen::makeJournalArea(jbbgen::Options());
    const JournalArea d = decodeJournalArea(reinterpret_cast<const uint8_t*>(&defaults));
    const std::string typeText = codeText(journalTypeWord(defaults.journalType), defaults.journalType);
    if (!r.hasArea) {
        std::fprintf(stderr,
                     "jbbtool rebuild: %s: no control area could be read; journal type %s, file system %s, server "
                     "%s, node %s, activation %s, validation %s and state %s are defaults\n",
                     old.c_str(), typeText.c_str(), toUtf8(d.fileSystem).c_str(), jsonBytes(d.server).c_str(),
                     jsonBytes(d.node).c_str(), utcText(defaults.activationDate).c_str(),
                     utcText(defaults.validationDate).c_str(),
                     codeText(journalStateWord(defaults.journalState), defaults.journalState).c_str());
        return defaults;
    }
    // A journal whose type says it was never set up, but which holds
    // entries, would be offered for deletion by the viewer; its other
    // fields are then judged as a set-up journal's.
    journalInfo read;
    std::memcpy(&read, r.area, sizeof read);
    std::vector<Implausible> marks;
    if (read.journalType == journalUnformatted && r.size() > 0) {
        marks.push_back({"type", "unformatted, yet the journal holds entries"});
        read.journalType = defaults.journalType;
    }
    const JournalArea a = decodeJournalArea(reinterpret_cast<const uint8_t*>(&read));
    for (const Implausible& m : implausibleAreaFields(a)) marks.push_back(m);
    journalInfo out = a.raw;
    for (const Implausible& m : marks) {
        std::string value;
        if (m.field == "type") {
            out.journalType = defaults.journalType;
            value = typeText;
        } else if (m.field == "fileSystem") {
            std::memcpy(out.fileSystemName, defaults.fileSystemName, sizeof out.fileSystemName);
            value = toUtf8(d.fileSystem);
        } else if (m.field == "activation") {
            out.activationDate = defaults.activationDate;
            value = utcText(defaults.activationDate);
        } else if (m.field == "validation") {
            out.validationDate = defaults.validationDate;
            value = utcText(defaults.validationDate);
        } else {  // serverNameLength, node: the two names share their bytes
            out.serverNameLength = defaults.serverNameLength;
            std::memcpy(out.serverAndNode, defaults.serverAndNode, sizeof out.serverAndNode);
            value = "server " + jsonBytes(d.server) + ", node " + jsonBytes(d.node);
        }
        std::fprintf(stderr, "jbbtool rebuild: %s: the control area's %s is implausible (%s); the default %s is used\n",
                     old.c_str(), m.field.c_str(), m.why.c_str(), value.c_str());
    }
    return out;
}

// Writes the entries into the journal `file` (messages call it `name`) in
// the order asked for.
bool writeJournal(const std::string& file, const std::string& name, const journalInfo& area, const Recovered& r,
                  jbbgen::Order order, std::string* err) {
    const std::vector<uint32_t> idx =
        jbbgen::insertionOrder(r.size(), order, 1, [](uint32_t a, uint32_t b) { return a < b; });
    jbbgen::JournalFile db(r.dataLen);
    if (!db.create(file, name, area, err)) return false;
    for (uint32_t i : idx) {
        const int result = db.insert(r.key(i), r.record(i), err);
        if (result != 0) {
            // Salvage hands on each key once: a key there already is a
            // fault of this program, not of the file.
            if (result == 1) *err = "a key was handed on twice";
            db.abandon();
            return false;
        }
    }
    return db.close(err);
}

int runRebuild(int argc, char** argv) {
    bool force = false;
    std::string orderWord = "random";
    std::vector<std::string> files;
    int rc = parseCommandLine("rebuild", argc, argv, {{"--order", nullptr, &orderWord}, {"--force", &force, nullptr}},
                              2, 2, &files);
    if (rc >= 0) return rc;
    if (orderWord != "random" && orderWord != "key")
        return usageError("rebuild", "--order takes key or random, not '%s'", orderWord.c_str());
    const std::string &old = files[0], &out = files[1];
    int64_t size = 0;
    if (plat::isDirectory(out.c_str())) {
        std::fprintf(stderr, "jbbtool rebuild: %s is a directory\n", out.c_str());
        return kExitUsage;
    }
    if (!force && plat::fileSize(out.c_str(), &size)) {
        std::fprintf(stderr, "jbbtool rebuild: %s exists already (--force replaces it)\n", out.c_str());
        return kExitUsage;
    }

    // NEW is made under a new name beside it and takes its place once
    // checked; OLD, or a file that is OLD under another name, is refused.
    SafeOutput target(out, {old}, kJournalKind, force);
    std::string err;
    const std::string temp = target.preparePath(&err);
    if (temp.empty()) {
        std::fprintf(stderr, "jbbtool rebuild: %s\n", err.c_str());
        return kExitUsage;
    }

    Recovered r;
    int salvaged;
    {
        DbImage db;
        if (!openForCommand("rebuild", old, &db)) return kExitUsage;
        salvaged = salvageEntries(db, r, "rebuild");
        if (salvaged == kExitUsage) return kExitUsage;
    }
    const journalInfo area = newArea(old, r);

    if (!writeJournal(temp, out, area, r, orderWord == "key" ? jbbgen::Order::File : jbbgen::Order::Random, &err)) {
        std::fprintf(stderr, "jbbtool rebuild: %s\n", err.c_str());
        return kExitUsage;
    }
    // The new file is checked as check checks it before it takes its name.
    CheckReport report;
    {
        DbImage made;
        if (!made.open(temp, &err)) {
            std::fprintf(stderr, "jbbtool rebuild: %s\n", err.c_str());
            return kExitUsage;
        }
        checkDatabase(made, &report, nullptr);
    }
    if (report.ioFailed || report.total() != 0 || report.entries != r.size()) {
        std::fprintf(
            stderr,
            "jbbtool rebuild: the journal made for %s is not sound (%s, %llu of %zu entries reached); "
            "nothing written\n",
            out.c_str(),
            report.ioFailed ? report.ioError.c_str() : countText(report.total(), "finding", "findings").c_str(),
            (unsigned long long)report.entries, r.size());
        return kExitUsage;
    }
    if (!target.commit(&err)) {
        std::fprintf(stderr, "jbbtool rebuild: %s\n", err.c_str());
        return kExitUsage;
    }
    std::printf("jbbtool rebuild: wrote %s (%s; check: sound)\n", out.c_str(),
                countText(r.size(), "entry", "entries").c_str());
    return salvaged;
}

void helpRebuild(FILE* out) {
    std::fputs(
        "Usage: jbbtool rebuild [--order key|random] [--force] OLD NEW\n"
        "\n"
        "Salvages the journal OLD into a new journal NEW in one step, as\n"
        "'jbbtool dump --salvage OLD | jbbgen NEW --input -' would: every entry\n"
        "that dump --salvage recovers (see jbbtool dump --help), inserted through\n"
        "the engine.  NEW keeps OLD's journal control area where it reads soundly;\n"
        "each field that does not (see jbbtool info), or the whole area when the\n"
        "control record is damaged, is made up from jbbgen's defaults, and\n"
        "standard error says which.  Standard error also says what salvage\n"
        "dropped and how many entries it kept, in dump --salvage's words.\n"
        "\n"
        "NEW is written beside its place and checked as 'jbbtool check' checks;\n"
        "only a sound journal takes its name.  OLD is only read, in any state.\n"
        "\n"
        "  --order key|random   the order in which entries are inserted (default\n"
        "                       random, which keeps the file compact)\n"
        "  --force              replace NEW when it exists\n"
        "\n"
        "Exit status: 0 every entry of OLD kept, 1 salvage dropped something,\n"
        "2 usage or I/O error, NEW refused, or a rebuilt journal that was not\n"
        "sound (then nothing is written).\n",
        out);
}

}  // namespace

const Command kRebuildCommand = {"rebuild", "salvage a journal into a new one (keeps the header)", runRebuild,
                                 helpRebuild};

}  // namespace jbbtool
