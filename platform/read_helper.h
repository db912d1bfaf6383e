// A second thread that takes part in large batches of positioned reads.
// A walk of the tree reads its nodes in batches of up to a hundred or so,
// scattered over the file; on a cached file the system's copying of the
// bytes is most of the walk's time, and two processors copy twice as fast
// as one.
//
// The caller and the helper take the requests of a batch a few at a time
// from a shared counter, until none is left, so the work is shared however
// each thread happens to be scheduled: a helper that is asleep or busy
// elsewhere leaves the caller to read the whole batch itself, and costs it
// nothing.  After a batch the helper waits for the next one a short while
// on the processor, then sleeps.
//
// Contract:
// - One thread (the owner) makes the helper, begins and finishes batches,
//   and destroys it.
// - The read function is called on either thread, never on both at once for
//   the same request; it must be safe to run on two threads at the same
//   time for different requests (positioned reads are).
// - finishOldest returns when every request of that batch has been read
//   (got and err set by the read function); a request the read function
//   leaves unread keeps what it had.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "read_batch.h"

namespace plat {

class ReadHelper {
public:
    // Reads `n` requests from `reqs`; `onHelper` says which thread runs it.
    using ReadFn = std::function<void(ReadRequest* reqs, size_t n, bool onHelper)>;

    // A helper thread for `read`, or null when the machine has one
    // processor or no thread can be started (the owner then reads alone).
    static ReadHelper* start(ReadFn read);
    ~ReadHelper();
    ReadHelper(const ReadHelper&) = delete;
    ReadHelper& operator=(const ReadHelper&) = delete;

    // Queues a batch for the helper thread and returns at once.  The
    // helper reads the batches begun in the order they were begun.  At
    // most two are begun and not finished: a third finishes the oldest.
    void begin(ReadRequest* reqs, size_t n);
    // Finishes the oldest batch begun: reads, on the owner's thread, the
    // requests of it the helper has not taken yet, and waits for the
    // rest.  Until then the owner leaves its requests and buffers alone.
    void finishOldest();
    size_t begun() const { return outCount_; }

    // Requests the helper thread has read so far.
    uint64_t helperRequests() const { return helperRequests_.load(std::memory_order_relaxed); }

    // For tests: 1 starts a helper even on one processor, 0 starts none,
    // -1 (the default) decides by the processors there are.
    static void forceForTesting(int mode);

private:
    explicit ReadHelper(ReadFn read) : read_(std::move(read)) {}
    void run();
    // Takes the next share of the oldest batch begun that has requests
    // left, and reads it; a batch newer than `upTo` is left alone.  False
    // when there is none to take.
    bool readShare(uint32_t upTo, bool onHelper);
    // Waits until `count` requests of slot `slot` are read.
    void waitDone(unsigned slot, size_t count);

    ReadFn read_;
    std::thread thread_;

    // The batch whose requests are being taken: its generation (high
    // bits), its number of requests and the next request to take, in one
    // word, so that a thread still holding an old generation cannot take
    // a request of a new batch.  When a batch has none left, the next
    // thread to look moves the ticket on to the batch begun after it.
    std::atomic<uint64_t> ticket_{0};
    // The generation of the latest batch begun.
    std::atomic<uint32_t> latest_{0};
    // The two batches begun, by the lowest bit of their generation: their
    // requests, their number and the requests read so far.
    std::atomic<ReadRequest*> reqs_[maxBatchesBegun] = {};
    std::atomic<size_t> count_[maxBatchesBegun] = {};
    std::atomic<size_t> done_[maxBatchesBegun] = {};
    std::atomic<uint64_t> helperRequests_{0};

    // The owner's record of the batches begun, oldest first.
    struct Begun {
        uint32_t gen;
        size_t count;
    };
    Begun out_[maxBatchesBegun] = {};
    size_t outCount_ = 0;
    uint32_t lastGen_ = 0;

    // The helper's sleep, between batches.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> sleeping_{false};
    std::atomic<bool> quit_{false};
};

}  // namespace plat
