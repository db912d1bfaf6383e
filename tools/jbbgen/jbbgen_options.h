// The command line of jbbgen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jbbgen_names.h"

namespace jbbgen {

enum class Order {
    Random,  // synthetic entries as generated; input lines shuffled with the seed
    Sorted,  // ascending key order
    File,    // input lines in the order of the file
};

enum class Progress { Auto, On, Off };

// Default activation date: 2024-01-15 08:30:00 UTC; the validation date
// defaults to one hour later.
constexpr int64_t defaultActivation = 1705307400;
constexpr int64_t defaultValidation = defaultActivation + 3600;

// The most entries --count accepts.
constexpr uint64_t maxSyntheticCount = 100000000;

struct Options {
    std::string name;  // the database as given, with or without the ".jbbdb" extension
    std::string path;  // the file to write: databasePath(name)
    bool force = false;

    // Entries: synthetic unless an input file is given.
    uint64_t count = 1000;
    bool countGiven = false;
    uint64_t seed = 1;
    std::string inputFile;
    Order order = Order::Random;
    bool orderGiven = false;
    EntryShape shape;         // of synthetic entries
    bool shapeGiven = false;  // an option of the shape was given

    // The journal control area.
    uint32_t journalType = 1;
    std::u16string fileSystem = u"C:";
    std::string server;
    std::string node;
    uint32_t journalState = 2;
    int64_t activated = defaultActivation;
    int64_t validated = defaultValidation;
    uint64_t maxSize = 0;
    bool areaGiven = false;                // an option above was given
    std::vector<std::string> areaOptions;  // which of them, as given ("--fs")

    bool leaveOpen = false;
    Progress progress = Progress::Auto;
    bool quiet = false;    // no line on standard output when done
    bool verbose = false;  // the file's size on that line
};

// The file a database name given on the command line names: the name
// itself when it ends in ".jbbdb", else the name with that extension, so
// that "C-drive" and "C-drive.jbbdb" are the same journal.
std::string databasePath(const std::string& name);

enum class ParseResult { Run, Help, Version, Error };

// Parses argv into `o`.  Error: `err` says what is wrong (one line, no
// program name).  Both "--opt VALUE" and "--opt=VALUE" are accepted.
ParseResult parseOptions(int argc, char** argv, Options* o, std::string* err);

// The --help text.
const char* usageText();

}  // namespace jbbgen
