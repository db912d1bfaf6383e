// jbbgen NAME [options]: creates the journal database NAME.jbbdb (NAME
// given with or without the extension) through the engine, with synthetic
// entries or entries read from a text file, and every field of the journal
// control area set from the command line (see usageText() for the options
// and the input format).  The same arguments
// give the same file byte for byte: nothing depends on the clock, and the
// only randomness is the seeded generator of jbbgen_names.h.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jbbgen_input.h"
#include "jbbgen_names.h"
#include "jbbgen_options.h"
#include "format.h"
#include "jbbgen_text.h"
#include "jbbgen_write.h"
#include "journal.h"
#include "journalkind.h"
#include "platform.h"
#include "safeoutput.h"
#include "traceargs.h"

using namespace jbbgen;

namespace {

// The exit statuses, those of jbbtool; jbbgen has no findings, so it
// never uses jbbtool's 1.
constexpr int kExitDone = 0;
constexpr int kExitError = 2;  // bad command line or input, or an I/O error

// What a rebuild from a dump without a control area (a salvage of a file
// whose record could not be read) takes from defaults and options, for
// standard error: the fields that tell one journal from another.
std::string madeUpAreaText(const Options& o) {
    struct Field {
        const char* option;
        std::string text;
    };
    const Field fields[] = {
        {"--fs", "file system " + plat::consoleText(o.fileSystem.c_str(), o.fileSystem.size())},
        {"--server", "server \"" + o.server + "\""},
        {"--node", "node \"" + o.node + "\""},
        {"--activated", "activation " + utcTimeText(o.activated)},
    };
    // "a, b and c"
    auto list = [](const std::vector<std::string>& items) {
        std::string out;
        for (size_t i = 0; i < items.size(); ++i)
            out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
        return out;
    };
    std::vector<std::string> defaults, options, given;
    for (const Field& f : fields) {
        if (std::find(o.areaOptions.begin(), o.areaOptions.end(), f.option) != o.areaOptions.end()) {
            given.push_back(f.text);
        } else {
            defaults.push_back(f.text);
            options.push_back(f.option);
        }
    }
    std::string text = "the input has no control area; ";
    if (!defaults.empty()) {
        text += list(defaults) + (defaults.size() == 1 ? " is a default (see " : " are defaults (see ");
        for (size_t i = 0; i < options.size(); ++i) text += (i == 0 ? "" : ", ") + options[i];
        text += ")";
    }
    if (!given.empty()) text += std::string(defaults.empty() ? "" : "; ") + list(given) + " as the options give";
    return text;
}

// Sets the control record's dbState to dbOpened in a closed file.
bool markOpen(const std::string& path, std::string* why) {
    errno = 0;
    FILE* f = plat::openBinary(path.c_str(), "rb+");
    if (f == nullptr) {
        *why = plat::errnoText(errno);
        return false;
    }
    const uint8_t state[4] = {static_cast<uint8_t>(dbOpened), 0, 0, 0};  // u32 little-endian
    bool ok = plat::streamSeek(f, offsetof(ctrlRec, dbState)) && std::fwrite(state, 1, 4, f) == 4;
    const int err = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) *why = plat::errnoText(err != 0 ? err : EIO);
    return ok;
}

// The entries in insertion order.  Synthetic entries in random order are
// made one by one as they are inserted; sorted order needs them all first
// (their keys one behind the other, each with its terminator, in one
// block); entries of an input file are all in memory anyway.
class EntrySequence {
public:
    EntrySequence(const Options& o, std::vector<InputEntry>& input)
        : synthetic_(o.inputFile.empty()),
          total_(synthetic_ ? o.count : input.size()),
          generator_(o.seed, o.journalType == journalIncrementalNeeded, o.activated, o.shape),
          input_(input) {
        if (!synthetic_) {
            order_ = insertionOrder(input.size(), o.order, o.seed,
                                    [&](uint32_t a, uint32_t b) { return input[a].key < input[b].key; });
        }
        stored_ = synthetic_ && o.order == Order::Sorted;
    }

    uint64_t total() const { return total_; }

    // Makes and sorts what sorted synthetic entries need.  False when the
    // generator runs out of new names.
    bool prepare() {
        if (!stored_) return true;
        start_.reserve(total_);
        recs_.reserve(total_);
        for (uint64_t i = 0; i < total_; ++i) {
            if (!generator_.next(&key_, &rec_)) return false;
            start_.push_back(text_.size());
            text_.insert(text_.end(), key_.c_str(), key_.c_str() + key_.size() + 1);
            recs_.push_back(rec_);
        }
        const char16_t* text = text_.data();
        order_ = insertionOrder(total_, Order::Sorted, 0, [&](uint32_t a, uint32_t b) {
            const char16_t* x = text + start_[a];
            const char16_t* y = text + start_[b];
            while (*x != 0 && *x == *y) ++x, ++y;
            return *x < *y;  // char16_t compares unsigned; a terminator sorts first
        });
        return true;
    }

    // Entry i (i counts up from 0), valid until the next call.  False when
    // the generator runs out of new names.
    bool get(uint64_t i, const char16_t** key, const journalRec** rec) {
        if (!synthetic_) {
            *key = input_[order_[i]].key.c_str();
            *rec = &input_[order_[i]].rec;
        } else if (stored_) {
            *key = text_.data() + start_[order_[i]];
            *rec = &recs_[order_[i]];
        } else {
            if (!generator_.next(&key_, &rec_)) return false;
            *key = key_.c_str();
            *rec = &rec_;
        }
        return true;
    }

    // Where entry i came from, for messages.
    std::string describe(uint64_t i, const std::string& inputFile) const {
        std::string d = "entry " + std::to_string(i + 1);
        if (!synthetic_) d += " (" + inputName(inputFile) + ":" + std::to_string(input_[order_[i]].line) + ")";
        return d;
    }

private:
    bool synthetic_;
    uint64_t total_;
    SyntheticEntries generator_;
    const std::vector<InputEntry>& input_;
    std::vector<uint32_t> order_;
    bool stored_ = false;
    std::vector<char16_t> text_;
    std::vector<size_t> start_;
    std::vector<journalRec> recs_;
    std::u16string key_;
    journalRec rec_{};
};

// Reports progress on standard error every `every` entries (0: never).
class ProgressLine {
public:
    ProgressLine(Progress mode, uint64_t total)
        : total_(total),
          every_(mode == Progress::On    ? 10000
                 : mode == Progress::Off ? 0
                 : total >= 100000       ? 100000
                                         : 0) {}
    void done(uint64_t n) {
        if (every_ != 0 && n % every_ == 0)
            std::fprintf(stderr, "jbbgen: %llu of %llu entries inserted\n", static_cast<unsigned long long>(n),
                         static_cast<unsigned long long>(total_));
    }

private:
    uint64_t total_;
    uint64_t every_;
};

int fail(const std::string& text) {
    std::fprintf(stderr, "jbbgen: %s\n", text.c_str());
    return kExitError;
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "jbbgen: %s\nTry 'jbbgen --help' for the options.\n", text.c_str());
    return kExitError;
}

}  // namespace

int main(int argc, char** argv) {
    plat::selectUserLocale();
    Options o;
    std::string err;
    traceargs::Settings trace;
    if (!traceargs::extract(&argc, argv, &trace, &err)) return usageError(err);
    switch (parseOptions(argc, argv, &o, &err)) {
        case ParseResult::Help:
            std::fputs(usageText(), stdout);
            std::fputs("\n", stdout);
            std::fputs(traceargs::helpText(), stdout);
            return kExitDone;
        case ParseResult::Version:
            std::printf("jbbgen %s\n", JBB_TOOL_VERSION);
            return kExitDone;
        case ParseResult::Error:
            return usageError(err);
        case ParseResult::Run:
            break;
    }
    if (!traceargs::start(trace, &err)) return fail(err);

    // Everything is checked before the file is created: a bad input file
    // or an existing database leaves the disk as it was.
    std::vector<InputEntry> input;
    InputHead head;
    if (!o.inputFile.empty()) {
        std::vector<std::string> errors;
        if (!readEntryFile(o.inputFile, &input, &errors, 20, &head)) {
            for (const std::string& e : errors) std::fprintf(stderr, "jbbgen: %s\n", e.c_str());
            return kExitError;
        }
        if (head.hasArea && o.areaGiven)
            return fail(inputName(o.inputFile) +
                        " gives the journal control area (%app-area); the options that set its "
                        "fields cannot be given with it");
        if (head.isDump && !head.hasArea) std::fprintf(stderr, "jbbgen: %s\n", madeUpAreaText(o).c_str());
    }
    const std::string& path = o.path;
    int64_t existingSize;
    if (plat::isDirectory(path.c_str())) return fail(path + " is a directory");
    if (plat::fileSize(path.c_str(), &existingSize) && !o.force)
        return fail(path + " exists already (--force overwrites it)");

    EntrySequence entries(o, input);
    if (!entries.prepare()) return fail("no further unique name could be made");

    // The journal is made under a new name beside PATH and renamed into
    // place once whole: a failure, or an interrupt, leaves PATH as it was.
    std::vector<std::string> inputs;
    if (!o.inputFile.empty()) inputs.push_back(o.inputFile);
    SafeOutput out(path, inputs, kJournalKind, o.force);
    std::string why;
    const std::string temp = out.preparePath(&why);
    if (temp.empty()) return fail(why);

    journalInfo area = makeJournalArea(o);
    if (head.hasArea) std::memcpy(&area, head.area, sizeof area);
    JournalFile db(static_cast<uint16_t>(sizeof(journalRec)));
    if (!db.create(temp, path, area, &err)) return fail(err);
    // From here on a failure removes the half-made file.
    auto abandon = [&](const std::string& text) {
        db.abandon();
        return fail(text);
    };
    ProgressLine progress(o.progress, entries.total());
    plat::installInterruptHandler();
    for (uint64_t i = 0; i < entries.total(); ++i) {
        if (plat::interruptRequested()) return abandon("interrupted; " + path + " is left as it was");
        const char16_t* key;
        const journalRec* rec;
        if (!entries.get(i, &key, &rec)) return abandon("no further unique name could be made");
        const int result = db.insert(key, reinterpret_cast<const uint8_t*>(rec), &err);
        if (result == 1) return abandon("the key of " + entries.describe(i, o.inputFile) + " was there already");
        if (result != 0) return abandon("cannot insert " + entries.describe(i, o.inputFile) + ": " + err);
        progress.done(i + 1);
    }

    if (!db.close(&err)) return fail(err);
    if (o.leaveOpen && !markOpen(temp, &why)) return fail("cannot mark " + path + " open: " + why);
    if (!out.commit(&why)) return fail(why);
    plat::removeInterruptHandler();
    if (!o.quiet) {
        const unsigned long long n = entries.total();
        std::string line = "jbbgen: wrote " + path + " (" + std::to_string(n) + (n == 1 ? " entry" : " entries");
        int64_t size = 0;
        if (o.verbose && plat::fileSize(path.c_str(), &size)) line += ", " + std::to_string(size) + " bytes";
        std::printf("%s)\n", line.c_str());
    }
    return kExitDone;
}
