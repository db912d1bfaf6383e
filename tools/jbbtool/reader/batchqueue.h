// Batches handed from one thread to another, in order, with a bound on
// how many are in flight; consumed batches come back to be filled again,
// so that their memory is reused.  For commands that read on one
// processor and work on another.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace jbbtool {

template <typename Batch>
class BatchQueue {
public:
    explicit BatchQueue(size_t inFlight) : inFlight_(inFlight) {}

    // A batch to fill: one given back, or a new one.
    std::unique_ptr<Batch> fresh() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return std::unique_ptr<Batch>(new Batch);
        std::unique_ptr<Batch> b = std::move(spare_.back());
        spare_.pop_back();
        return b;
    }
    // Passes a filled batch on; waits while `inFlight` are on their way.
    void send(std::unique_ptr<Batch> b) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.size() < inFlight_; });
        queue_.push_back(std::move(b));
        ready_.notify_one();
    }
    // No more batches will come.
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        ready_.notify_one();
    }
    // The next batch in order, or null once finish() was called and every
    // batch taken.
    std::unique_ptr<Batch> take() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || done_; });
        if (queue_.empty()) return nullptr;
        std::unique_ptr<Batch> b = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
        return b;
    }
    // A consumed batch, emptied, to be filled again.
    void giveBack(std::unique_ptr<Batch> b) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.size() < inFlight_) spare_.push_back(std::move(b));
    }

private:
    const size_t inFlight_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::unique_ptr<Batch>> queue_;
    std::vector<std::unique_ptr<Batch>> spare_;
    bool done_ = false;
};

}  // namespace jbbtool
