#include "windowprefetch.h"

namespace jbbtool {

WindowPrefetch::WindowPrefetch(plat::DbFile* file, size_t cap) : file_(file), cap_(cap), spare_(new uint8_t[cap]) {
    // The work does nothing when it would run at join(), on this thread.
    thread_.reset(new SecondThread([this](bool beside) {
        if (beside) serve();
    }));
    started_ = thread_->beside();
}

WindowPrefetch::~WindowPrefetch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.reset();  // joins
}

void WindowPrefetch::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || (asked_ && !ready_); });
        if (stop_) return;
        const int64_t pos = pos_;
        lock.unlock();
        const int64_t got = file_->readAt(pos, spare_.get(), cap_);
        lock.lock();
        got_ = got;
        ready_ = true;
        changed_.notify_all();
    }
}

void WindowPrefetch::waitIdle(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !asked_ || ready_; });
}

void WindowPrefetch::request(int64_t pos) {
    if (!started_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    waitIdle(lock);
    pos_ = pos;
    got_ = -1;
    asked_ = true;
    ready_ = false;
    lock.unlock();
    changed_.notify_all();
}

bool WindowPrefetch::take(int64_t pos, size_t n, int64_t fileSize, std::unique_ptr<uint8_t[]>* window, int64_t* start,
                          size_t* len) {
    if (!started_) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    // A window asked for beyond pos is left to finish: this read is not it.
    if (!asked_ || pos_ > pos) return false;
    waitIdle(lock);
    asked_ = false;
    ready_ = false;
    if (got_ < 0) return false;  // the caller's own read reports the error
    const int64_t end = pos_ + got_;
    const bool holds = pos < end && (pos + (int64_t)n <= end || end >= fileSize);
    if (!holds) return false;
    window->swap(spare_);
    *start = pos_;
    *len = (size_t)got_;
    return true;
}

}  // namespace jbbtool
