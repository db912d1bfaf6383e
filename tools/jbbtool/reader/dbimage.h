// The windowed reader under every pass of jbbtool's reader: the database
// file opened for reading only, its control record, and its bytes through
// one large read window or by positioned reads.  Nothing here trusts a
// byte of the file; it only reads them.
//
// Contract:
// - Owns the open file, the copy of the control record and the window.
// - A pointer from view() lives until the next view() on the same DbImage;
//   readAt() and readBatch() read into the caller's buffers and do not
//   touch the window.
// - Not thread-safe: one DbImage per thread.  A pass that runs on a second
//   thread opens a DbImage of its own on the same path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "dbfile.h"
#include "format.h"
#include "windowprefetch.h"

namespace jbbtool {

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

    // From now on, each window that view() reads is followed by a read of
    // the window after it on a second thread, for a pass that goes through
    // the file in order.  A file no larger than one window gains nothing
    // and is left as it is, as is a system that refuses the thread.
    void readAhead();

    // 1 MiB holds the largest node a slot can carry, and keeps the window
    // in the processor's caches between the read and the parse.
    static constexpr size_t kWindowBytes = 1u << 20;
    static_assert(kWindowBytes >= maxNodeSize, "a node fits in the window");
    // The window read ahead begins this far before the end of the current
    // one, so that a node that straddles the end is found whole in it.
    static constexpr size_t kAheadOverlap = 64u << 10;

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
    std::unique_ptr<WindowPrefetch> prefetch_;  // ended before file_ is closed
};

}  // namespace jbbtool
