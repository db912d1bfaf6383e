#include "entrypipe.h"

#include <cstring>
#include <memory>
#include <vector>

#include "batchqueue.h"
#include "secondthread.h"

namespace jbbtool {

namespace {

constexpr size_t kBatchBytes = 256u << 10;
constexpr size_t kBatchesInFlight = 4;

struct Batch {
    struct Item {
        size_t at;  // of the key and record, or the leaf, in bytes
        size_t data;
        uint32_t units;
        bool leaf;
        uint32_t leafSize;
        uint32_t subscript;
        int64_t offset;
        size_t problem;  // index into problems + 1; 0: none
    };
    std::vector<uint8_t> bytes;  // keys and records
    std::vector<Item> items;
    std::vector<std::string> problems;
    std::vector<NodeBuffer> leaves;  // a leaf item's `at` indexes these
    size_t size = 0;                 // bytes held
};

// Calls consume at once: the pipe without a second thread.
class DirectSink : public EntrySink {
public:
    explicit DirectSink(const std::function<void(const PipeItem&)>& consume) : consume_(consume) {}
    void put(const WalkEntry& e) override {
        PipeItem it;
        it.entry = e;
        consume_(it);
    }
    void putLeaf(const WalkEntry& e, NodeBuffer buffer) override {
        PipeItem it;
        it.entry = e;
        it.entry.leaf = buffer.data();
        consume_(it);
    }
    void problem(const std::string& what) override {
        PipeItem it;
        it.problem = &what;
        consume_(it);
    }

private:
    const std::function<void(const PipeItem&)>& consume_;
};

class Pipe : public EntrySink {
public:
    explicit Pipe(uint16_t dataLen) : dataLen_(dataLen), queue_(kBatchesInFlight), fresh_(queue_.fresh()) {}

    void put(const WalkEntry& e) override {
        Batch& b = *fresh_;
        const size_t at = b.bytes.size();
        const size_t keyBytes = 2 * (size_t)e.units;
        b.bytes.resize(at + keyBytes + dataLen_);
        if (keyBytes > 0) std::memcpy(&b.bytes[at], e.key, keyBytes);
        if (dataLen_ > 0) std::memcpy(&b.bytes[at + keyBytes], e.data, dataLen_);
        b.items.push_back({at, at + keyBytes, e.units, false, 0, 0, 0, 0});
        b.size += keyBytes + dataLen_;
        if (b.size >= kBatchBytes) send();
    }

    void putLeaf(const WalkEntry& e, NodeBuffer buffer) override {
        Batch& b = *fresh_;
        b.items.push_back({b.leaves.size(), 0, 0, true, e.leafSize, e.subscript, e.offset, 0});
        b.leaves.push_back(std::move(buffer));
        b.size += e.leafSize;
        if (b.size >= kBatchBytes) send();
    }

    void problem(const std::string& what) override {
        Batch& b = *fresh_;
        b.problems.push_back(what);
        b.items.push_back({0, 0, 0, false, 0, 0, 0, b.problems.size()});
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
        b->problems.clear();
        b->size = 0;
        // The leaves' buffers go back with the batch, to the reading side,
        // which lets go of them when it fills the batch again: the pool
        // is then touched by one thread at a time.
        queue_.giveBack(std::move(b));
    }

private:
    void send() {
        queue_.send(std::move(fresh_));
        fresh_ = queue_.fresh();
        fresh_->leaves.clear();  // consumed leaves' buffers go back to their pool
    }
    const uint16_t dataLen_;
    BatchQueue<Batch> queue_;
    std::unique_ptr<Batch> fresh_;  // being filled by the reading side
};

}  // namespace

int pipeEntries(uint16_t dataLen, const std::function<int(EntrySink&)>& produce,
                const std::function<void(const PipeItem&)>& consume) {
    Pipe pipe(dataLen);
    int result = 0;
    SecondThread reader([&](bool beside) {
        if (beside) {
            result = produce(pipe);
            pipe.finish();
        } else {
            DirectSink direct(consume);
            result = produce(direct);
        }
    });
    while (reader.beside()) {
        std::unique_ptr<Batch> b = pipe.take();
        if (b == nullptr) break;
        for (const Batch::Item& it : b->items) {
            PipeItem p;
            p.last = &it == &b->items.back();
            if (it.problem != 0) {
                p.problem = &b->problems[it.problem - 1];
            } else if (it.leaf) {
                p.entry.leaf = b->leaves[it.at].data();
                p.entry.leafSize = it.leafSize;
                p.entry.subscript = it.subscript;
                p.entry.offset = it.offset;
            } else {
                p.entry.key = b->bytes.data() + it.at;
                p.entry.units = it.units;
                p.entry.data = b->bytes.data() + it.data;
            }
            consume(p);
        }
        pipe.giveBack(std::move(b));
    }
    reader.join();
    return result;
}

}  // namespace jbbtool
