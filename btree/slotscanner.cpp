#include "slotscanner.h"

#include <cerrno>
#include <limits>

#include "engine_internal.h"

SlotScanner::SlotScanner(plat::DbFile* file) : file_(file) {
    for (Window& w : win_) w.buf = static_cast<uint8_t*>(BT_MALLOC(windowBytes));
}

SlotScanner::~SlotScanner() {
    // A read still going on writes into its window.
    if (nextBegun_) end(win_[1 - cur_]);
    for (Window& w : win_)
        if (w.buf != nullptr) BT_FREE(w.buf);
}

void SlotScanner::begin(Window& w, int64_t start) {
    w.start = start;
    w.length = 0;
    for (size_t i = 0; i < pieces; ++i) {
        w.reqs[i].pos = start + (int64_t)(i * pieceBytes);
        w.reqs[i].buf = w.buf + i * pieceBytes;
        w.reqs[i].len = pieceBytes;
    }
    file_->readBatchBegin(w.reqs, pieces);
}

bool SlotScanner::end(Window& w) {
    file_->readBatchEnd();
    // The window holds what lies before the first piece the file ends in.
    w.length = 0;
    for (const plat::ReadRequest& r : w.reqs) {
        if (r.got < 0) {
            w.length = 0;
            errno = r.err;
            return false;
        }
        w.length += r.got;
        if (r.got < (int64_t)r.len) break;
    }
    return true;
}

bool SlotScanner::readable(int64_t start) {
    return start >= 0 && start <= std::numeric_limits<int64_t>::max() - (int64_t)windowBytes;
}

void SlotScanner::beginNext() {
    const Window& w = win_[cur_];
    if (w.length < (int64_t)windowBytes) return;
    const int64_t start = w.start + w.length - (int64_t)nodeInfoSize;
    if (!readable(start)) return;
    begin(win_[1 - cur_], start);
    nextBegun_ = true;
}

const uint8_t* SlotScanner::inWindow(int64_t where) const {
    const Window& w = win_[cur_];
    if (where < w.start || where - w.start + (int64_t)nodeInfoSize > w.length) return nullptr;
    return w.buf + (where - w.start);
}

int SlotScanner::next(int64_t where, const uint8_t** out) {
    if ((*out = inWindow(where)) != nullptr) return 1;
    if (nextBegun_) {
        nextBegun_ = false;
        Window& n = win_[1 - cur_];
        if (!end(n)) return -1;
        if (where >= n.start) {
            cur_ = 1 - cur_;
            if ((*out = inWindow(where)) != nullptr) {
                beginNext();
                return 1;
            }
            // The file ends within this window: no whole block lies beyond.
            if (n.length < (int64_t)windowBytes) return 0;
        }
    }
    // The first window, or a slot far beyond the windows read.  No file
    // holds a block where a window cannot even be placed.
    if (!readable(where)) return 0;
    Window& w = win_[cur_];
    begin(w, where);
    if (!end(w)) return -1;
    if (w.length < (int64_t)nodeInfoSize) return 0;
    beginNext();
    *out = w.buf;
    return 1;
}
