// Serves the 24-byte node info blocks of the slots, which follow each other
// through the whole file, to the inventory that open takes: from large
// windows of the file, one read per window instead of one per slot.  While
// the inventory goes through one window, the next one is read on the
// file's second thread (where there is one).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbfile.h"
#include "format.h"

class SlotScanner {
public:
    explicit SlotScanner(plat::DbFile* file);
    ~SlotScanner();
    SlotScanner(const SlotScanner&) = delete;
    SlotScanner& operator=(const SlotScanner&) = delete;

    bool ready() const { return win_[0].buf != nullptr && win_[1].buf != nullptr; }
    // 1 with *out pointing at the block at `where` (valid until the next
    // call), 0 at the end of the data, -1 on a failed read (errno set).
    int next(int64_t where, const uint8_t** out);
    // The block at `where` when the current window holds it whole, else null.
    const uint8_t* inWindow(int64_t where) const;

private:
    struct Window {
        uint8_t* buf = nullptr;
        int64_t start = 0;
        int64_t length = 0;  // bytes read
        plat::ReadRequest reqs[4];
    };
    // Starts reading window w at `start`, in pieces the two threads share.
    void begin(Window& w, int64_t start);
    // Ends the read begun for w.  False on a failed read (errno set).
    bool end(Window& w);
    // Begins the window after the current one, unless the file ends in it.
    // Consecutive windows overlap by an info block, so that every block
    // lies whole in one of them.
    void beginNext();
    // Whether a window can begin at `start` (its end a file position).
    static bool readable(int64_t start);

    static constexpr size_t pieces = 4;
    static constexpr size_t pieceBytes = 128 << 10;
    static constexpr size_t windowBytes = pieces * pieceBytes;
    plat::DbFile* file_;
    Window win_[2];
    int cur_ = 0;
    bool nextBegun_ = false;
};
