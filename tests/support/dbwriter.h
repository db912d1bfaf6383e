// A writer of journal database files for tests.
//
// It lays out the file format byte for byte on its own (it shares no code
// with the engine), so that tests can build any file they need: valid
// journals of any size and shape, and damaged files with any field set to
// any value.  Everything here works on plain byte vectors; nothing is
// written to disk until writeFile() is called.
//
// Layout summary (all integers little-endian):
//   control record, 2088 bytes at offset 0; application area (the journal
//   control area) at 36..2083;
//   node slots from offset 2088 on, each starting with a 24-byte info
//   block (magic, nodeSize, slotLength, state, subscript) that is the
//   beginning of a 72-byte node header (count, padding, 11 branches);
//   datums behind the header: u16 total length, u16 data offset, the
//   UTF-16LE key with its 0 unit, then the data record at 2 + data offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testdb {

using Bytes = std::vector<uint8_t>;

constexpr size_t kCtrlRecSize = 2088;
constexpr size_t kAppAreaOffset = 36;
constexpr size_t kAppAreaSize = 2048;
constexpr size_t kNodeHeaderSize = 72;
constexpr size_t kNodeInfoSize = 24;
constexpr size_t kJournalRecSize = 32;
constexpr uint32_t kMagic = 0xABCD;
constexpr int kMaxDatums = 10;
constexpr int kBranches = 11;

// Control record states.
constexpr uint32_t kDbClosed = 0;
constexpr uint32_t kDbOpened = 1;
constexpr uint32_t kDbCorrupt = 2;

// Slot states in a node info block.
constexpr uint32_t kSlotUsed = 0;
constexpr uint32_t kSlotFree = 1;

// Journal types and states kept in the control area.
constexpr uint32_t kJournalUnformatted = 0;
constexpr uint32_t kJournalChange = 1;
constexpr uint32_t kJournalIncremental = 2;
constexpr uint32_t kJournalStateValid = 2;
constexpr uint32_t kJournalStateInProgress = 1;

// Little-endian access to byte buffers.
void putU8(Bytes& b, size_t off, uint8_t v);
void putU16(Bytes& b, size_t off, uint16_t v);
void putU32(Bytes& b, size_t off, uint32_t v);
void putU64(Bytes& b, size_t off, uint64_t v);
void putBytes(Bytes& b, size_t off, const Bytes& v);
uint16_t getU16(const uint8_t* p);
uint32_t getU32(const uint8_t* p);
uint64_t getU64(const uint8_t* p);

// The 32-byte data record stored under every key.
struct JournalRec {
    uint32_t action = 4;      // Create
    uint32_t objectType = 1;  // File
    int64_t inserted = 0;
    int64_t objectTime = 0;
    std::array<uint8_t, 8> opaque{};

    Bytes bytes() const;
    // Reads a record from n bytes; bytes missing from a short record read as 0.
    static JournalRec fromBytes(const uint8_t* p, size_t n);
    bool operator==(const JournalRec& o) const;
};

// The journal control area in the application area of the control record.
struct JournalInfo {
    uint32_t type = kJournalChange;
    int64_t activation = 1262304000;  // Fri Jan 01 00:00:00 2010 UTC
    int64_t validation = 1262390400;  // Sat Jan 02 00:00:00 2010 UTC
    uint32_t state = kJournalStateValid;
    uint64_t maxSize = 0;
    uint8_t serverLen = 0;                  // L: bytes of the server name
    std::array<uint8_t, 129> serverNode{};  // server (L bytes), node, NUL
    // Written as UTF-16LE from offset 170; a 0 unit follows when it fits in
    // the 1878 bytes (a name of 939 units or more fills them without one).
    std::u16string fileSystem = u"C:";

    // Sets L to the server's length and the 129 bytes to server, node, NUL
    // (cut to 129 bytes, the rest zero).
    void setServerNode(const std::string& server, const std::string& node);
    void writeTo(uint8_t* area) const;  // area: 2048 bytes
    static JournalInfo fromArea(const uint8_t* area);
};

// The 2088-byte control record.  The defaults describe a closed change
// journal with an empty tree whose root is subscript 1 at offset 2088.
struct CtrlRec {
    uint16_t magic = kMagic;
    uint8_t versMaj = 2;
    uint8_t versMin = 2;
    uint32_t state = kDbClosed;
    uint32_t rootOffset = 1;
    uint32_t indexArraySize = 500;
    uint32_t currentIXCount = 2;
    uint32_t lastIndex = 1;
    int64_t lastNDRec = 2088;
    uint16_t keyLen = 0;
    uint16_t dataLen = kJournalRecSize;
    std::array<uint8_t, kAppAreaSize> appArea{};
    std::array<uint8_t, 4> padding{};

    CtrlRec();  // appArea holds a default JournalInfo
    void setJournal(const JournalInfo& j);
    JournalInfo journal() const;
    Bytes bytes() const;
    static CtrlRec fromBytes(const uint8_t* p);  // 2088 bytes
};

// One key with its data inside a node.  The optional fields override what
// would be computed, to make damaged datums.
struct Datum {
    std::u16string key;
    Bytes data;                // normally dbDataLen bytes
    Bytes gap;                 // bytes between the key's 0 unit and the data
    bool terminateKey = true;  // false: no 0 unit after the key
    std::optional<uint16_t> nkl;
    std::optional<uint16_t> dataOffset;

    size_t size() const;  // bytes as laid out (not the nkl override)
    Bytes bytes() const;
};

// A node image.  nodeSize, slotLength and count are computed unless
// overridden.
struct Node {
    uint32_t magic = kMagic;
    uint32_t subscript = 0;
    uint32_t state = kSlotUsed;
    std::array<uint32_t, kBranches> branch{};
    std::vector<Datum> datums;
    uint16_t pad = 0;
    std::optional<uint32_t> nodeSize;
    std::optional<uint64_t> slotLength;
    std::optional<uint16_t> count;

    bool isLeaf() const { return branch[0] == 0; }
    size_t imageSize() const;  // 72 + the datums as laid out
    // The image for a slot of slotLen bytes (slotLength field = slotLen
    // unless overridden).
    Bytes image(uint64_t slotLen) const;
};

// One slot of the file.  Its length in the file is length() bytes; the
// header's slotLength field says the same unless the node overrides it.
struct Slot {
    enum class Kind { Used, FreedNode, FreshFree, Raw };
    Kind kind = Kind::Used;
    Node node;               // Used and FreedNode
    uint64_t length = 0;     // 0: exactly the node's image (Used, FreedNode)
    uint32_t subscript = 0;  // FreshFree: subscript of the free slot's entry
    Bytes raw;               // Raw: the slot's bytes verbatim
    uint8_t fill = 0xEE;     // filler for slack and free space

    // A slot holding node n, with `slack` meaningless bytes behind it.
    static Slot used(const Node& n, uint64_t slack = 0);
    // The slot of a deleted node: the node's own info block with state 1,
    // its old datums still behind it.
    static Slot freedNode(const Node& n, uint64_t slack = 0);
    // A slot freed when its node moved: a fresh info block whose nodeSize is
    // the low 32 bits of the slot's length.
    static Slot freshFree(uint32_t subscript, uint64_t length);
    static Slot rawBytes(const Bytes& b);

    uint32_t slotSubscript() const;
    bool isFree() const;
    uint64_t slotLen() const;
    Bytes bytes() const;
};

// A whole file: control record, slots in file order, and raw patches
// applied to the finished image.
struct DbFile {
    CtrlRec ctrl;
    std::vector<Slot> slots;
    std::vector<std::pair<size_t, Bytes>> patches;

    // Sets currentIXCount to the largest subscript + 1 (at least 2),
    // indexArraySize to the next multiple of 500 that holds it, and
    // lastIndex/lastNDRec to the last slot (2088 and the root when there is
    // no slot).  rootOffset is left alone.
    void updateCounters();
    uint64_t slotOffset(size_t index) const;
    Slot* findSlot(uint32_t subscript);  // first slot naming it, or null
    void patch(size_t offset, const Bytes& b) { patches.emplace_back(offset, b); }
    Bytes image() const;
};

// ---- Building a valid tree ----

struct Entry {
    std::u16string key;
    JournalRec rec;
};

struct TreeOptions {
    uint64_t seed = 1;
    int height = 0;            // levels; 0: the least that holds the entries
    bool shuffleSlots = true;  // slots in random file order
    bool shuffleSubscripts = true;
    size_t freeSlots = 0;        // free slots mixed in, of both kinds
    size_t slackEvery = 0;       // every n-th used slot gets slack bytes
    size_t gapEvery = 0;         // every n-th datum gets bytes before its data
    size_t spareSubscripts = 0;  // subscripts that name no slot at all
    uint16_t dataLen = kJournalRecSize;
};

struct TreeInfo {
    uint32_t root = 0;
    int height = 0;
    // Subscripts level by level, root level first, each level in key order.
    std::vector<std::vector<uint32_t>> levels;
};

// Key order of the engine: code unit by code unit, unsigned, a proper
// prefix first (what std::u16string's operator< does).
bool keyLess(const std::u16string& a, const std::u16string& b);
void sortEntries(std::vector<Entry>& entries);

// Least and greatest number of entries a tree of `height` levels holds
// when every non-root node has 5 to 10 datums.
uint64_t minEntries(int height);
uint64_t maxEntries(int height);

// Builds a closed database holding `entries` (sorted, unique keys) with
// the journal control area `journal`.  Every non-root node holds 5 to 10
// datums and all leaves are at one depth.  Aborts the test program on
// impossible requests (unsorted keys, an unreachable height).
DbFile buildTree(const std::vector<Entry>& entries, const JournalInfo& journal, const TreeOptions& opts = {},
                 TreeInfo* info = nullptr);

// `n` entries with distinct Windows-style object names (some with
// non-ASCII characters, a few outside the basic plane) and varied
// records, sorted in key order.
std::vector<Entry> journalEntries(size_t n, uint64_t seed = 1);

// ---- Helpers ----

std::u16string utf8ToUtf16(const std::string& s);
std::string utf16ToUtf8(const std::u16string& s);
bool writeFile(const std::string& path, const Bytes& bytes);
bool readFile(const std::string& path, Bytes* bytes);

}  // namespace testdb
