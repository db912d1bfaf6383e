// Read-only access to a database file for jbbtool's commands: the control
// record, the node slots that tile the file from offset 2088 (read in one
// sequential pass with large reads), node images parsed with every length
// and offset checked, and an in-order walk of the tree over a map from
// subscripts to slots.  The file is opened for reading only and never
// written; nothing here trusts a byte of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbfile.h"
#include "format.h"
#include "largevector.h"

namespace jbbtool {

// The database file, open for reading.
class DbImage {
public:
    DbImage() = default;
    ~DbImage();
    DbImage(const DbImage&) = delete;
    DbImage& operator=(const DbImage&) = delete;

    // Opens `path` for reading and reads its control record (zeros where
    // the file is shorter).  False with `err` set for a missing file, a
    // directory or a read error.
    bool open(const std::string& path, std::string* err);

    const std::string& path() const { return path_; }
    int64_t size() const { return size_; }
    // The file holds a whole control record.
    bool hasCtrl() const { return size_ >= (int64_t)ctrlRecSize; }
    const ctrlRec& ctrl() const { return ctrl_; }

    // Bytes [pos, pos + n) of the file through a large read window; fewer
    // than n (`*got`) at the end of the file.  The pointer is valid until
    // the next call.  Null on a read error (see ioError()).  n is at most
    // kWindowBytes.
    const uint8_t* view(int64_t pos, size_t n, size_t* got);
    // Reads exactly n bytes at pos into buf; false at the end of the file
    // or on a read error.
    bool readAt(int64_t pos, void* buf, size_t n);

    // Reads every request at once where the system takes several.
    void readBatch(plat::ReadRequest* reqs, size_t n) { file_->readBatch(reqs, n); }

    const std::string& ioError() const { return ioError_; }

    // 1 MiB holds the largest node a slot can carry, and keeps the window
    // in the processor's caches between the read and the parse.
    static constexpr size_t kWindowBytes = 1u << 20;
    static_assert(kWindowBytes >= maxNodeSize, "a node fits in the window");

private:
    std::string path_;
    plat::DbFile* file_ = nullptr;
    int64_t size_ = 0;
    ctrlRec ctrl_{};
    std::unique_ptr<uint8_t[]> window_;
    size_t windowCap_ = 0;
    int64_t winStart_ = 0;
    size_t winLen_ = 0;
    std::string ioError_;
};

// Opens `path` for jbbtool's `command`: a file that cannot be opened is
// reported on standard error ("jbbtool COMMAND: reason"), and one marked
// open is said to be so (the journal service holds it, or did not close
// it), since what is read may be changing.  False when it cannot be opened.
bool openForCommand(const char* command, const std::string& path, DbImage* db);

// One datum of a parsed node: where its key and data lie in the image.
struct DatumRef {
    uint32_t offset;    // of the datum within the node image
    uint32_t keyUnits;  // key length in code units, without the terminator
    uint32_t dataPos;   // of the data record within the node image
    bool surrogate;     // the key holds a surrogate unit (paired or not)
};

// A node image read from its slot, with its datums located.
struct NodeView {
    const uint8_t* image = nullptr;  // nodeSize bytes
    nodeHeader header{};
    std::vector<DatumRef> datums;
    // Empty when every field lies within bounds; else what is wrong, and
    // `datums` holds the sound datums before the fault.
    std::string fault;

    // Key k as a NUL-terminated string (copied: keys may lie at odd
    // offsets).
    std::u16string key(size_t k) const;
    const uint8_t* data(size_t k) const { return image + datums[k].dataPos; }
    bool isLeaf() const { return header.branch[0] == 0; }
};

// Parses a node image of `size` bytes whose datums carry `dataLen`-byte
// records.  Never reads outside the image.
void parseNode(const uint8_t* image, uint32_t size, uint16_t dataLen, NodeView* out);

// Locates datum fields in `bytes` (n bytes available from a datum start):
// the datum's length, key length and data position, when they are sound
// for a record of dataLen bytes.  Empty string when sound, else the fault.
std::string parseDatum(const uint8_t* bytes, size_t n, uint16_t dataLen, DatumRef* out, uint32_t base);

// A slot met by the sequential pass.
struct SlotRef {
    int64_t offset = 0;
    nodeInfo info{};
};

// What the pass reports besides the slots themselves.
enum class TileEvent {
    BadMagic,      // a plausible info block whose magic is wrong; skipped by its length
    Gap,           // bytes that are no slot, up to the next info block (or the end)
    Overlap,       // the next info block begins inside the previous slot
    PastEnd,       // the last slot reaches past the end of the file
    ShortTail,     // fewer than 24 bytes after the last slot
};

struct SlotScanHandler {
    // A slot with a sound info block; `image` holds its node image
    // (nodeSize bytes) when it is used and the image lies within the file,
    // else null.
    std::function<void(const SlotRef&, const uint8_t* image)> slot;
    std::function<void(TileEvent, int64_t offset, int64_t length, uint32_t subscript)> event;
    // Called now and then with the offset reached (for progress lines).
    std::function<void(int64_t)> progress;
    // Trust no info block that is not plausible as a whole (see
    // plausibleInfo): look for the next plausible one instead.
    bool strict = false;
    // Where the pass begins (the offset of a slot), and where it ends: at
    // the first slot at or after `until` (-1: the end of the file), whose
    // offset then goes to *stoppedAt (-1 when the pass reached the end).
    int64_t from = ctrlRecSize;
    int64_t until = -1;
    int64_t* stoppedAt = nullptr;
    // The pass looks at info blocks only: `slot` gets no images.
    bool noImages = false;
};

// Walks the slots from offset 2088 (h.from) to the end of the file (or
// h.until) in one pass.
// Where an info block is destroyed it looks for the next plausible one
// instead of stopping.  False on a read error.
bool scanSlots(DbImage& db, const SlotScanHandler& h);

// True when the 24 bytes at p look like a node info block: the magic, a
// known state, and lengths that a slot at `offset` of a file of
// `fileSize` bytes can have.
bool plausibleInfo(const uint8_t* p, int64_t offset, int64_t fileSize, bool checkMagic = true);

// Where each subscript's slot lies, from a pass over the info blocks only.
class SlotMap {
public:
    struct Entry {
        uint32_t subscript;
        uint32_t nodeSize;
        int64_t offset;
        bool used;
        mutable bool visited;  // by a TreeWalker: a node is walked once
        mutable int32_t ahead;  // by a TreeWalker: its image read ahead, or -1
    };
    // Adds a slot; the first slot naming a subscript wins.
    void add(uint32_t subscript, int64_t offset, uint32_t nodeSize, bool used);
    void finish();  // call before find()
    // Room for n slots without growing (room never used costs no memory).
    void reserve(size_t n) { entries_.reserve(n); }
    // Adds the slots of another map (made by add() alone), after these.
    void append(const SlotMap& more);
    const Entry* find(uint32_t subscript) const;
    size_t size() const { return entries_.size(); }

private:
    LargeVector<Entry> entries_;
    std::vector<uint32_t> direct_;  // subscript -> entry + 1, when subscripts are dense
};

// `progress` (may be empty) is called with the offset the pass has reached.
// A large file is read in two halves at once, the second on another thread
// from the first plausible info block after its middle; where the first
// half does not end on that very slot (damage, or a node image that looks
// like an info block), the file is passed over again in one go.
constexpr int64_t kSlotMapHalvesFrom = 64ll << 20;  // smaller files are passed over in one go
bool buildSlotMap(DbImage& db, SlotMap* map, std::function<void(int64_t)> progress = nullptr,
                  int64_t halvesFrom = kSlotMapHalvesFrom);

// An entry handed out by a TreeWalker: where its key and record lie.  Or,
// from a walker with wholeLeaves set, a whole leaf: its image, unparsed.
struct WalkEntry {
    const uint8_t* key = nullptr;  // UTF-16LE units, any alignment
    uint32_t units = 0;            // without the terminator
    const uint8_t* data = nullptr;
    const uint8_t* leaf = nullptr;  // a whole leaf's image, when not null
    uint32_t leafSize = 0;
    uint32_t subscript = 0;  // of the leaf
    int64_t offset = 0;      // of the leaf's slot
};

// Visits every entry of the tree in key order, reading nodes by their
// slots.  A node that cannot be read or parsed, a branch to no node and a
// branch to a node already walked are skipped and reported through
// `problem`; the walk goes on with the rest.  One walker per map.  The
// children and grandchildren of an inner node are read together, in
// requests of many reads where the system takes them.
class TreeWalker {
public:
    TreeWalker(DbImage& db, const SlotMap& map) : db_(db), map_(map) {}
    // The next entry, or false at the end.  What it points to stays valid
    // until the next call.
    bool next(WalkEntry* e);
    bool next(std::u16string* key, const uint8_t** data);
    std::function<void(const std::string&)> problem;
    bool ioFailed() const { return ioFailed_; }
    // Hand out leaves whole, for the caller to parse (on another thread,
    // say); inner nodes' entries still come one by one.
    bool wholeLeaves = false;

    // Node images of up to kPooledBytes live in buffers of that size,
    // which the walker reuses.  The caller may take the buffer of the
    // whole leaf handed out last, and give such buffers back (those of
    // leaves of at most kPooledBytes) once done with them.
    static constexpr size_t kPooledBytes = 4096;
    std::unique_ptr<uint8_t[]> takeLeaf();
    void giveBack(std::unique_ptr<uint8_t[]> buffer);

private:
    // A node image's bytes, left uninitialised until read into.
    struct Image {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;  // 0: none
        uint8_t* data() const { return bytes.get(); }
    };
    void make(Image& img, size_t n);
    void recycle(Image& img);
    std::vector<std::unique_ptr<uint8_t[]>> pool_;
    struct Level {
        Image image;
        NodeView node;
        uint32_t subscript = 0;
        size_t pos = 0;      // next datum to hand out
        bool descended = false;
        bool aheadRead = false;
        bool whole = false;  // a leaf to hand out whole
        int64_t offset = 0;  // of its slot
    };
    bool push(uint32_t subscript);
    // Before the walk descends into an inner node, its children and
    // grandchildren that are not yet at hand are read, in two batches.
    void readAhead(const Level& l);
    void readBatch(const uint32_t* subscripts, size_t n, size_t* budget);
    DbImage& db_;
    const SlotMap& map_;
    std::vector<Level> stack_;
    // Images read ahead; a slot map entry's `ahead` names its place.
    std::vector<Image> ahead_;
    std::vector<int32_t> aheadFree_;  // places free for reuse
    void dropAhead(const SlotMap::Entry* e);
    Image handedOut_;  // the whole leaf handed out last, kept until the next call
    size_t aheadBytes_ = 0;
    std::vector<plat::ReadRequest> requests_;
    std::vector<const SlotMap::Entry*> wanted_;  // the node of each request
    bool started_ = false;
    bool ioFailed_ = false;
};

}  // namespace jbbtool
