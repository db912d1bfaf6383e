// Reads the next window of a pass that goes through the file in order on
// a second thread, while the caller parses the current one: the copy out
// of the system's cache then costs the pass only where the pass outruns
// it.  DbImage uses it when asked to (DbImage::readAhead).
//
// Contract:
// - Owns one spare buffer of the window's size and the thread that fills
//   it.  The file it reads from belongs to the DbImage and must outlive
//   the WindowPrefetch (the DbImage owns both and ends this first).
// - request() and take() are called from one thread only, the DbImage's.
//   The spare buffer is touched by the second thread only between a
//   request() and the take() or request() that waits for it.
// - Where the system refuses a thread, started() is false and the DbImage
//   reads every window itself, as without read-ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "dbfile.h"
#include "secondthread.h"

namespace jbbtool {

class WindowPrefetch {
public:
    // `cap`: the window's size in bytes.
    WindowPrefetch(plat::DbFile* file, size_t cap);
    ~WindowPrefetch();
    WindowPrefetch(const WindowPrefetch&) = delete;
    WindowPrefetch& operator=(const WindowPrefetch&) = delete;

    bool started() const { return started_; }
    // Starts reading the window at pos into the spare buffer, after the
    // read before it (if any) has ended.
    void request(int64_t pos);
    // Where a window was asked for at or before pos: waits for it and, if
    // it holds [pos, pos + n) (or all of it that the file holds), swaps it
    // with *window and gives its start and length.  False leaves *window
    // as it was; the caller reads the window itself.
    bool take(int64_t pos, size_t n, int64_t fileSize, std::unique_ptr<uint8_t[]>* window, int64_t* start, size_t* len);

private:
    void serve();
    void waitIdle(std::unique_lock<std::mutex>& lock);

    plat::DbFile* file_;
    size_t cap_;
    std::unique_ptr<uint8_t[]> spare_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool asked_ = false;  // a request the thread has not finished
    bool ready_ = false;  // the spare buffer holds the window at pos_
    bool stop_ = false;
    int64_t pos_ = 0;
    int64_t got_ = -1;      // bytes the read gave, -1 on a read error
    bool started_ = false;  // read and written by the DbImage's thread only
    std::unique_ptr<SecondThread> thread_;
};

}  // namespace jbbtool
