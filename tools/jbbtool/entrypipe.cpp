#include "entrypipe.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace jbbtool {

namespace {

constexpr size_t kBatchBytes = 256u << 10;
constexpr size_t kBatchesInFlight = 4;

struct Batch {
    struct Item {
        size_t key;  // offsets into bytes
        size_t data;
        uint32_t units;
        bool surrogate;
    };
    std::vector<uint8_t> bytes;
    std::vector<Item> items;
};

// Calls consume at once: the pipe without a second thread.
class DirectSink : public EntrySink {
public:
    explicit DirectSink(const std::function<void(const WalkEntry&)>& consume) : consume_(consume) {}
    void put(const WalkEntry& e) override { consume_(e); }

private:
    const std::function<void(const WalkEntry&)>& consume_;
};

class Pipe : public EntrySink {
public:
    explicit Pipe(uint16_t dataLen) : dataLen_(dataLen) { fresh_.reset(new Batch); }

    void put(const WalkEntry& e) override {
        Batch& b = *fresh_;
        const size_t keyBytes = 2 * (size_t)e.units;
        const size_t at = b.bytes.size();
        b.bytes.resize(at + keyBytes + dataLen_);
        if (keyBytes > 0) std::memcpy(&b.bytes[at], e.key, keyBytes);
        if (dataLen_ > 0) std::memcpy(&b.bytes[at + keyBytes], e.data, dataLen_);
        b.items.push_back({at, at + keyBytes, e.units, e.surrogate});
        if (b.bytes.size() >= kBatchBytes) send();
    }

    // The reading side is done: what is left goes, then the end.
    void finish() {
        if (!fresh_->items.empty()) send();
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        ready_.notify_one();
    }

    // The next batch in order, or null at the end.
    std::unique_ptr<Batch> take() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || done_; });
        if (queue_.empty()) return nullptr;
        std::unique_ptr<Batch> b = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
        return b;
    }

    // A consumed batch comes back, so that its memory is used again.
    void giveBack(std::unique_ptr<Batch> b) {
        b->bytes.clear();
        b->items.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.size() < kBatchesInFlight) spare_.push_back(std::move(b));
    }

private:
    void send() {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.size() < kBatchesInFlight; });
        queue_.push_back(std::move(fresh_));
        ready_.notify_one();
        if (!spare_.empty()) {
            fresh_ = std::move(spare_.back());
            spare_.pop_back();
        } else {
            fresh_.reset(new Batch);
        }
    }

    const uint16_t dataLen_;
    std::unique_ptr<Batch> fresh_;  // being filled by the reading side
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::unique_ptr<Batch>> queue_;
    std::vector<std::unique_ptr<Batch>> spare_;
    bool done_ = false;
};

}  // namespace

int pipeEntries(uint16_t dataLen, const std::function<int(EntrySink&)>& produce,
                const std::function<void(const WalkEntry&)>& consume) {
    Pipe pipe(dataLen);
    int result = 0;
    std::thread reader;
    try {
        reader = std::thread([&] {
            result = produce(pipe);
            pipe.finish();
        });
    } catch (const std::system_error&) {
        DirectSink direct(consume);
        return produce(direct);
    }
    while (std::unique_ptr<Batch> b = pipe.take()) {
        for (const Batch::Item& it : b->items) {
            WalkEntry e;
            e.key = b->bytes.data() + it.key;
            e.units = it.units;
            e.surrogate = it.surrogate;
            e.data = b->bytes.data() + it.data;
            consume(e);
        }
        pipe.giveBack(std::move(b));
    }
    reader.join();
    return result;
}

}  // namespace jbbtool
