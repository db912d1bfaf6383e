#include "jbbgen_options.h"

#include <vector>

#include "jbbgen_text.h"
#include "journal.h"
#include "platform.h"

namespace jbbgen {

const char* usageText() {
    return "Usage: jbbgen NAME [options]\n"
           "\n"
           "Creates the journal database NAME.jbbdb with synthetic entries or entries\n"
           "read from a text file.  NAME may be given with or without the .jbbdb\n"
           "extension (C-drive and C-drive.jbbdb both make C-drive.jbbdb).  When done it\n"
           "prints one line on standard output naming the file and its entries.  The\n"
           "same arguments always give the same file, byte for byte.\n"
           "\n"
           "Entries:\n"
           "  --count N             N synthetic entries (default 1000, at most 100000000)\n"
           "  --seed S              seed of the synthetic entries and of the random order\n"
           "                        (default 1)\n"
           "  --input FILE          entries from FILE instead (format below); - reads\n"
           "                        standard input (name a file called - as ./-)\n"
           "  --order ORDER         insertion order: random (default for synthetic\n"
           "                        entries), sorted (ascending keys), file (as in FILE;\n"
           "                        default with --input)\n"
           "\n"
           "Shape of the synthetic entries:\n"
           "  --per-directory N     N entries per directory on average (a decimal number\n"
           "                        from 1 to 1000; a directory gets the whole number\n"
           "                        below or above N), each directory a new one; without\n"
           "                        it names are drawn one by one and share a few\n"
           "                        thousand directories\n"
           "  --inserted-span DAYS  inserted times fall in the DAYS days from the\n"
           "                        activation date (default 90, at most 100000)\n"
           "  --object-span DAYS    object times lie up to DAYS days before the inserted\n"
           "                        time (default: moments before it, up to three years\n"
           "                        for a deleted object; at most 100000)\n"
           "  --fill-opaque         fill the last 8 bytes of every record (carried, never\n"
           "                        shown) with seeded bytes instead of zeros\n"
           "\n"
           "Journal control area:\n"
           "  --type T              change (1, default), incremental (2), unformatted\n"
           "                        (0), or a number\n"
           "  --fs NAME             journaled file system (default C:), at most 938\n"
           "                        UTF-16 units; UTF-8, else text of the current locale\n"
           "  --server S            server the journal is valid for\n"
           "  --node N              node the journal is valid for; S and N together at\n"
           "                        most 128 bytes (default: neither set)\n"
           "  --state S             valid (2, default), in-progress (1), not-valid (0),\n"
           "                        or a number\n"
           "  --activated TIME      activation date (default 2024-01-15T08:30:00)\n"
           "  --validated TIME      validation date (default 2024-01-15T09:30:00)\n"
           "  --max-size BYTES      maximum journal size; 0 unlimited (default); a suffix\n"
           "                        K, M, G or T multiplies by 1024, 1024^2, ...\n"
           "TIME is seconds since 1970-01-01 00:00:00 UTC, or YYYY-MM-DDTHH:MM:SS in UTC.\n"
           "\n"
           "Other options:\n"
           "  --force               replace an existing NAME.jbbdb (a regular file with\n"
           "                        one link that is not the input; anything else is\n"
           "                        left as it is)\n"
           "  --leave-open          leave the file in the open state (dbOpened), as a\n"
           "                        journal service that holds it open would\n"
           "  --progress            report progress on standard error every 10000\n"
           "                        entries (without it, runs of 100000 entries or more\n"
           "                        report every 100000)\n"
           "  --no-progress         no progress reports at all\n"
           "  --quiet               print nothing on standard output when done\n"
           "  --verbose             add the file's size to the line printed when done\n"
           "  --help                this text\n"
           "  --version             the version of jbbgen\n"
           "\n"
           "Input file:\n"
           "  ACTION                a number, or rename-old (1), rename-new (2), delete\n"
           "                        (3), create (4), change-attribute (5), modify (6),\n"
           "                        delete-restore (11); case, blanks and underscores as\n"
           "                        you like\n"
           "  TYPE                  a number, or file (1), directory or dir (2)\n"
           "  INSERTED, OBJECT-TIME  TIME as above\n"
           "  NAME                  the fully qualified object name, the rest of the\n"
           "                        line; it may hold anything but a tab, and names must\n"
           "                        be unique\n"
           "\n"
           "One entry a line in UTF-8 text, its five fields separated by tabs in the\n"
           "order ACTION <tab> TYPE <tab> INSERTED <tab> OBJECT-TIME <tab> NAME.\n"
           "Blanks around the first four fields do not count.  Blank lines and lines\n"
           "beginning with # are ignored; a line may end in CR LF.  A bad line is\n"
           "reported as FILE:LINE: reason, and nothing is written.  Lines beginning\n"
           "with % carry what the fields cannot (jbbtool dump writes them): %app-area\n"
           "HEX (the journal control area; excludes --type, --fs, --server, --node,\n"
           "--state, --activated, --validated, --max-size), %data-length 32, and before\n"
           "an entry line %key HEX (its name as UTF-16 units, 4 hex digits each) and\n"
           "%record HEX (its whole 32-byte record).\n"
           "\n"
           "Exit status: 0 done, 2 usage or I/O error (a bad input file included);\n"
           "jbbgen has no findings, so it never exits with 1.  After an error no file\n"
           "is left behind.\n";
}

std::string databasePath(const std::string& name) {
    static const std::string kExtension = ".jbbdb";
    const bool hasExtension = name.size() >= kExtension.size() &&
                              name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) == 0;
    return hasExtension ? name : name + kExtension;
}

namespace {

// The options that take a value.
const char* const kValueOptions[] = {
    "--count", "--seed",   "--input", "--order", "--per-directory", "--inserted-span", "--object-span", "--type",
    "--fs",    "--server", "--node",  "--state", "--activated",     "--validated",     "--max-size"};

// The options of the shape of synthetic entries.
bool isShapeOption(const std::string& opt) {
    return opt == "--per-directory" || opt == "--inserted-span" || opt == "--object-span" || opt == "--fill-opaque";
}

// A decimal number with at most six digits after the point, from 1 to
// 1000.
bool parseEntriesPerDirectory(const std::string& v, double* out) {
    const size_t point = v.find('.');
    uint64_t whole, part = 0;
    if (!parseUnsigned(v.substr(0, point), 1000, &whole)) return false;
    if (point != std::string::npos) {
        const std::string digits = v.substr(point + 1);
        if (digits.empty() || digits.size() > 6 || !parseUnsigned(digits, 999999, &part)) return false;
        for (size_t i = digits.size(); i < 6; ++i) part *= 10;
    }
    if (whole < 1 || (whole == 1000 && part != 0)) return false;
    *out = static_cast<double>(whole) + static_cast<double>(part) / 1e6;
    return true;
}

constexpr uint64_t kMaxSpanDays = 100000;

bool takesValue(const std::string& opt) {
    for (const char* o : kValueOptions)
        if (opt == o) return true;
    return false;
}

bool parseSize(const std::string& v, uint64_t* out) {
    std::string digits = v;
    int shift = 0;
    if (!digits.empty()) {
        switch (digits.back()) {
            case 'K':
            case 'k':
                shift = 10;
                break;
            case 'M':
            case 'm':
                shift = 20;
                break;
            case 'G':
            case 'g':
                shift = 30;
                break;
            case 'T':
            case 't':
                shift = 40;
                break;
            default:
                break;
        }
        if (shift != 0) digits.pop_back();
    }
    uint64_t n;
    if (!parseUnsigned(digits, UINT64_MAX >> shift, &n)) return false;
    *out = n << shift;
    return true;
}

// Command-line text as UTF-16: UTF-8 when it is valid UTF-8, else the
// multibyte text of the current locale (what a console that does not use
// UTF-8 hands over).
bool argToUtf16(const std::string& v, std::u16string* out) {
    std::string why;
    if (utf8ToUtf16(v, out, &why)) return true;
    std::u16string buf(v.size() + 1, u'\0');
    const size_t n = plat::narrowToUtf16(&buf[0], v.c_str(), buf.size());
    if (n == static_cast<size_t>(-1)) return false;
    buf.resize(n);
    *out = buf;
    return true;
}

// Applies one option with its value; false with `err` set when the value
// is not acceptable.
bool applyValue(const std::string& opt, const std::string& v, Options* o, std::string* err) {
    auto bad = [&](const std::string& what) {
        *err = "bad value '" + v + "' for " + opt + ": " + what;
        return false;
    };
    if (isShapeOption(opt)) {
        o->shapeGiven = true;
    } else if (opt != "--count" && opt != "--seed" && opt != "--input" && opt != "--order") {
        o->areaGiven = true;
    }
    if (opt == "--count") {
        if (!parseUnsigned(v, maxSyntheticCount, &o->count))
            return bad("expected a number from 0 to " + std::to_string(maxSyntheticCount));
        o->countGiven = true;
    } else if (opt == "--seed") {
        if (!parseUnsigned(v, UINT64_MAX, &o->seed)) return bad("expected an unsigned 64-bit number");
    } else if (opt == "--input") {
        if (v.empty()) return bad("expected a file name");
        o->inputFile = v;
    } else if (opt == "--order") {
        const std::string w = normalizeWord(v);
        if (w == "random") {
            o->order = Order::Random;
        } else if (w == "sorted") {
            o->order = Order::Sorted;
        } else if (w == "file") {
            o->order = Order::File;
        } else {
            return bad("expected random, sorted or file");
        }
        o->orderGiven = true;
    } else if (opt == "--per-directory") {
        if (!parseEntriesPerDirectory(v, &o->shape.perDirectory))
            return bad("expected a number from 1 to 1000 (at most six decimals)");
    } else if (opt == "--inserted-span" || opt == "--object-span") {
        uint64_t days;
        if (!parseUnsigned(v, kMaxSpanDays, &days))
            return bad("expected a number of days from 0 to " + std::to_string(kMaxSpanDays));
        (opt == "--inserted-span" ? o->shape.insertedSpan : o->shape.objectSpan) = static_cast<int64_t>(days) * 86400;
    } else if (opt == "--type") {
        if (!parseKeywordOrNumber(v,
                                  {{"change", journalChange},
                                   {"incremental", journalIncrementalNeeded},
                                   {"unformatted", journalUnformatted}},
                                  &o->journalType))
            return bad("expected change, incremental, unformatted or a number");
    } else if (opt == "--fs") {
        if (!argToUtf16(v, &o->fileSystem)) return bad("not valid text");
        if (o->fileSystem.size() > fileSystemNameUnits - 1)
            return bad("longer than " + std::to_string(fileSystemNameUnits - 1) + " UTF-16 units");
    } else if (opt == "--server") {
        o->server = v;
    } else if (opt == "--node") {
        o->node = v;
    } else if (opt == "--state") {
        if (!parseKeywordOrNumber(v, {{"valid", 2}, {"in-progress", 1}, {"not-valid", 0}}, &o->journalState))
            return bad("expected valid, in-progress, not-valid or a number");
    } else if (opt == "--activated" || opt == "--validated") {
        int64_t t;
        if (!parseTime(v, &t)) return bad("expected seconds since 1970 or YYYY-MM-DDTHH:MM:SS");
        (opt == "--activated" ? o->activated : o->validated) = t;
    } else if (opt == "--max-size") {
        if (!parseSize(v, &o->maxSize)) return bad("expected a number of bytes (suffix K, M, G or T allowed)");
    }
    return true;
}

}  // namespace

ParseResult parseOptions(int argc, char** argv, Options* o, std::string* err) {
    bool haveName = false;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            if (haveName) {
                *err = "more than one database name ('" + o->name + "' and '" + arg + "')";
                return ParseResult::Error;
            }
            if (arg.empty()) {
                *err = "the database name is empty";
                return ParseResult::Error;
            }
            o->name = arg;
            haveName = true;
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") return ParseResult::Help;
        if (arg == "--version") return ParseResult::Version;
        if (takesValue(arg)) {
            if (!hasValue) {
                if (i + 1 >= argc) {
                    *err = "option " + arg + " needs a value";
                    return ParseResult::Error;
                }
                value = argv[++i];
            }
            if (!applyValue(arg, value, o, err)) return ParseResult::Error;
            continue;
        }
        bool* flag = arg == "--force"         ? &o->force
                     : arg == "--leave-open"  ? &o->leaveOpen
                     : arg == "--quiet"       ? &o->quiet
                     : arg == "--verbose"     ? &o->verbose
                     : arg == "--fill-opaque" ? &o->shape.fillOpaque
                                              : nullptr;
        if (flag != nullptr || arg == "--progress" || arg == "--no-progress") {
            if (hasValue) {
                *err = "option " + arg + " takes no value";
                return ParseResult::Error;
            }
            if (flag != nullptr) {
                *flag = true;
                if (isShapeOption(arg)) o->shapeGiven = true;
            } else {
                o->progress = arg == "--progress" ? Progress::On : Progress::Off;
            }
            continue;
        }
        *err = "unknown option '" + arg + "'";
        return ParseResult::Error;
    }

    if (!haveName) {
        *err = "no database name given";
        return ParseResult::Error;
    }
    o->path = databasePath(o->name);
    if (o->quiet && o->verbose) {
        *err = "--quiet and --verbose exclude each other";
        return ParseResult::Error;
    }
    if (!o->inputFile.empty()) {
        if (o->countGiven) {
            *err = "--count and --input exclude each other";
            return ParseResult::Error;
        }
        if (o->shapeGiven) {
            *err =
                "--per-directory, --inserted-span, --object-span and --fill-opaque shape synthetic entries; "
                "--input gives its own";
            return ParseResult::Error;
        }
        if (!o->orderGiven) o->order = Order::File;
    } else if (o->order == Order::File) {
        *err = "--order file needs --input";
        return ParseResult::Error;
    }
    if (o->server.size() + o->node.size() + 1 > serverNodeBytes) {
        *err = "--server and --node together are " + std::to_string(o->server.size() + o->node.size()) +
               " bytes, at most " + std::to_string(serverNodeBytes - 1) + " fit";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

}  // namespace jbbgen
