// jbbtool get [--json] [--keys FILE|-] FILE [KEY...]: the entries of the
// names given, each found by descending the tree from its root, as the
// dump writes them.  Once one pass over the info blocks has told where
// each node lies, only the nodes on each name's path are read; the nodes
// read are kept for the names that follow, within a bound.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "command.h"
#include "commands_list.h"
#include "dbimage.h"
#include "dumpwriter.h"
#include "keytext.h"
#include "nodeview.h"
#include "platform.h"
#include "slotmap.h"
#include "treescan.h"

namespace jbbtool {

namespace {

// A name as the user gave it, and the key it stands for.
struct Wanted {
    std::string text;
    std::u16string key;
};

// Reads the names of a --keys file (or standard input), one a line; blank
// lines are skipped, a CR before the line end and a byte-order mark are
// dropped.  False after reporting what went wrong.
bool readKeyFile(const std::string& path, std::vector<Wanted>* out) {
    const bool fromStdin = path == "-";
    if (!fromStdin && plat::isDirectory(path.c_str())) {
        std::fprintf(stderr, "jbbtool get: cannot read %s: it is a directory\n", path.c_str());
        return false;
    }
    errno = 0;
    FILE* f = fromStdin ? stdin : plat::openBinary(path.c_str(), "rb");
    if (f == nullptr || (fromStdin && !plat::stdinBinary())) {
        std::fprintf(stderr, "jbbtool get: cannot read %s: %s\n", fromStdin ? "standard input" : path.c_str(),
                     plat::errnoText(errno).c_str());
        return false;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    if (!fromStdin) std::fclose(f);
    if (failed) {
        std::fprintf(stderr, "jbbtool get: cannot read %s\n", fromStdin ? "standard input" : path.c_str());
        return false;
    }
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    for (size_t at = 0, lineNo = 1; at < text.size(); ++lineNo) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        Wanted w;
        std::string why;
        if (!keyFromText(line, &w.key, &why)) {
            std::fprintf(stderr, "jbbtool get: %s, line %zu: %s\n", fromStdin ? "standard input" : path.c_str(), lineNo,
                         why.c_str());
            return false;
        }
        w.text = line;
        out->push_back(std::move(w));
    }
    return true;
}

// The nodes of one file read so far, by subscript, each parsed once.
class NodeReader {
public:
    NodeReader(DbImage& db, const SlotMap& map) : db_(db), map_(map) {}
    // The node of `subscript`, or null after reporting why it cannot be
    // read.
    const NodeView* node(uint32_t subscript) {
        auto it = nodes_.find(subscript);
        if (it != nodes_.end()) return &it->second->view;
        const SlotMap::Entry* e = map_.find(subscript);
        if (e == nullptr || !e->used)
            return fail("branch to subscript " + std::to_string(subscript) + ", which names no node");
        if (e->nodeSize < nodeHeaderSize || e->nodeSize > maxNodeSize)
            return fail("node " + std::to_string(subscript) + " has size " + std::to_string(e->nodeSize));
        // Kept nodes are dropped all at once past the bound: the upper
        // levels come back with the next name.
        if (bytes_ + e->nodeSize > kKeptBytes) {
            nodes_.clear();
            bytes_ = 0;
        }
        std::unique_ptr<Kept> k(new Kept);
        k->image.resize(e->nodeSize);
        if (!db_.readAt(e->offset, k->image.data(), e->nodeSize)) {
            if (!db_.ioError().empty()) ioFailed = true;
            return fail("node " + std::to_string(subscript) + " at offset " + std::to_string(e->offset) +
                        " cannot be read");
        }
        parseNode(k->image.data(), e->nodeSize, db_.ctrl().dbDataLen, &k->view);
        if (!k->view.fault.empty())
            report("node " + std::to_string(subscript) + " at offset " + std::to_string(e->offset) + ": " +
                   k->view.fault);
        bytes_ += e->nodeSize;
        const NodeView* view = &k->view;
        nodes_.emplace(subscript, std::move(k));
        return view;
    }
    void report(const std::string& what) {
        ++problems;
        std::fprintf(stderr, "jbbtool get: %s: %s\n", db_.path().c_str(), what.c_str());
    }
    uint64_t problems = 0;
    bool ioFailed = false;

private:
    struct Kept {
        std::vector<uint8_t> image;
        NodeView view;
    };
    const NodeView* fail(const std::string& what) {
        report(what);
        return nullptr;
    }
    static constexpr size_t kKeptBytes = 16u << 20;
    DbImage& db_;
    const SlotMap& map_;
    std::unordered_map<uint32_t, std::unique_ptr<Kept>> nodes_;
    size_t bytes_ = 0;
};

// Descends from the root to `key`: its record, or null when the tree does
// not hold it (or a node on the way cannot be read, which is reported).
const uint8_t* find(DbImage& db, NodeReader& nodes, const std::u16string& key) {
    if (db.size() <= (int64_t)ctrlRecSize) return nullptr;  // no node at all: an empty tree
    uint32_t sub = db.ctrl().rootOffset;
    for (int depth = 0; depth <= maxTreeDepth; ++depth) {
        const NodeView* n = nodes.node(sub);
        if (n == nullptr) return nullptr;
        bool equal = false;
        const size_t k = lowerBound(*n, reinterpret_cast<const uint8_t*>(key.data()), key.size(), &equal);
        if (equal) return n->data(k);
        if (n->isLeaf()) return nullptr;
        if (n->header.branch[k] == 0) {
            nodes.report("node " + std::to_string(sub) + " has no branch " + std::to_string(k));
            return nullptr;
        }
        sub = n->header.branch[k];
    }
    nodes.report("the tree is deeper than " + std::to_string(maxTreeDepth) + " levels");
    return nullptr;
}

int runGet(int argc, char** argv) {
    bool json = false;
    std::string keysFile;
    std::vector<std::string> operands;
    int rc = parseCommandLine("get", argc, argv, {{"--json", &json, nullptr}, {"--keys", nullptr, &keysFile}}, 0,
                              SIZE_MAX, &operands);
    if (rc >= 0) return rc;
    if (operands.empty() || (operands.size() == 1 && keysFile.empty()))
        return usageError("get", "expected a file and the names to look up (KEY... or --keys FILE)");
    std::vector<Wanted> wanted;
    for (size_t i = 1; i < operands.size(); ++i) {
        Wanted w;
        std::string why;
        if (!keyFromText(operands[i], &w.key, &why))
            return usageError("get", "%s: %s", operands[i].c_str(), why.c_str());
        w.text = operands[i];
        wanted.push_back(std::move(w));
    }
    if (!keysFile.empty() && !readKeyFile(keysFile, &wanted)) return kExitUsage;
    DbImage db;
    if (!openForCommand("get", operands[0], &db)) return kExitUsage;
    const std::string notJournal = notAJournal(db);
    if (!notJournal.empty()) {
        std::fprintf(stderr, "jbbtool get: %s: not a journal database: %s\n", db.path().c_str(), notJournal.c_str());
        return kExitUsage;
    }
    SlotMap map;
    if (!buildSlotMap(db, &map)) {
        std::fprintf(stderr, "jbbtool get: %s: %s\n", db.path().c_str(), db.ioError().c_str());
        return kExitUsage;
    }
    NodeReader nodes(db, map);
    DumpWriter w(json);
    const uint16_t dataLen = db.ctrl().dbDataLen;
    bool absent = false;
    for (const Wanted& k : wanted) {
        if (const uint8_t* data = find(db, nodes, k.key)) {
            w.entry(k.key, data, dataLen);
            continue;
        }
        if (nodes.ioFailed) break;
        absent = true;
        // What was found so far goes out before the message.
        w.flush();
        plat::outFlush();
        std::fprintf(stderr, "jbbtool get: %s: not found\n", k.text.c_str());
    }
    if (!w.flush() || !plat::outFlush()) {
        std::fprintf(stderr, "jbbtool get: cannot write the output\n");
        return kExitUsage;
    }
    if (nodes.ioFailed) return kExitUsage;
    if (nodes.problems > 0)
        std::fprintf(stderr, "jbbtool get: %s: the tree is damaged; names below the damage may be missed\n",
                     db.path().c_str());
    return absent ? kExitFindings : kExitSound;
}

void helpGet(FILE* out) {
    std::fputs(
        "Usage: jbbtool get [--json] [--keys FILE|-] FILE [KEY...]\n"
        "\n"
        "Writes the entry of each name KEY of the database FILE, in the order given,\n"
        "exactly as 'jbbtool dump' writes it (a '%record' or '%key' line before it\n"
        "where dump writes one).  A name is found by descending the tree from its\n"
        "root: after one pass over the slots' headers, only the nodes on its path\n"
        "are read.  Names are matched exactly, as the journal orders them (UTF-16\n"
        "units, case counts).  A KEY is UTF-8 text, or '%key HEX' (the name's\n"
        "UTF-16 units, four hexadecimal digits each, as dump writes them) for a\n"
        "name with a line end or an unpaired surrogate.  A name that is absent is\n"
        "said so on standard error: 'jbbtool get: KEY: not found'.\n"
        "\n"
        "  --json         dump's JSON line of each entry instead (schema\n"
        "                 jbbtool.dump/1, without its head line)\n"
        "  --keys FILE    also the names of FILE, one a line (UTF-8; '-' reads\n"
        "                 standard input), after those on the command line\n"
        "\n"
        "Exit status: 0 every name found, 1 a name absent, 2 usage or I/O error,\n"
        "or not a journal database.\n",
        out);
}

}  // namespace

const Command kGetCommand = {"get", "write the entries of the names given, as dump writes them", runGet, helpGet};

}  // namespace jbbtool
