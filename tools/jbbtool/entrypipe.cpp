#include "entrypipe.h"

#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "batchqueue.h"

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
    explicit Pipe(uint16_t dataLen) : dataLen_(dataLen), queue_(kBatchesInFlight), fresh_(queue_.fresh()) {}

    void put(const WalkEntry& e) override {
        Batch& b = *fresh_;
        const size_t keyBytes = 2 * (size_t)e.units;
        const size_t at = b.bytes.size();
        b.bytes.resize(at + keyBytes + dataLen_);
        if (keyBytes > 0) std::memcpy(&b.bytes[at], e.key, keyBytes);
        if (dataLen_ > 0) std::memcpy(&b.bytes[at + keyBytes], e.data, dataLen_);
        b.items.push_back({at, at + keyBytes, e.units, e.surrogate});
        if (b.bytes.size() >= kBatchBytes) {
            queue_.send(std::move(fresh_));
            fresh_ = queue_.fresh();
        }
    }

    // The reading side is done: what is left goes, then the end.
    void finish() {
        if (!fresh_->items.empty()) queue_.send(std::move(fresh_));
        queue_.finish();
    }

    std::unique_ptr<Batch> take() { return queue_.take(); }
    void giveBack(std::unique_ptr<Batch> b) {
        b->bytes.clear();
        b->items.clear();
        queue_.giveBack(std::move(b));
    }

private:
    const uint16_t dataLen_;
    BatchQueue<Batch> queue_;
    std::unique_ptr<Batch> fresh_;  // being filled by the reading side
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
