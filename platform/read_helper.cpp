#include "read_helper.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace plat {

namespace {

std::atomic<int> forced{-1};

// How long the helper waits on the processor for the next batch before it
// sleeps, and the owner for the helper's last share before it yields its
// processor.  Short: a walk begins its batches ahead, so a helper woken
// late still finds work, and on a machine whose other processor is busy
// every microsecond spent waiting on one is taken from the other work or
// from the other thread.
constexpr auto spinTime = std::chrono::microseconds(20);
constexpr auto ownerSpinTime = std::chrono::microseconds(10);

// The ticket: the batch's generation, its number of requests and the next
// request to take, in one word.
constexpr unsigned countBits = 20;
constexpr uint64_t fieldMask = (uint64_t{1} << countBits) - 1;
constexpr size_t maxBatch = (size_t)fieldMask;
constexpr uint32_t genMask = 0xFFFFFFu;
uint32_t generationOf(uint64_t t) { return (uint32_t)(t >> (2 * countBits)); }
size_t countOf(uint64_t t) { return (size_t)((t >> countBits) & fieldMask); }
size_t nextOf(uint64_t t) { return (size_t)(t & fieldMask); }
uint64_t ticketFor(uint32_t gen, size_t count) {
    return ((uint64_t)(gen & genMask) << (2 * countBits)) | ((uint64_t)count << countBits);
}
// Whether generation a comes after b.  Generations wrap, but the batches
// begun at a time are a few generations apart at most.
bool after(uint32_t a, uint32_t b) { return a != b && ((a - b) & genMask) < (genMask >> 1); }

// Requests a share takes, of the `left` not taken yet.  The shares shrink
// towards the end of a batch, so that the owner, when it comes to finish
// the batch, waits little for the helper's last share: the helper takes
// half of what is left (at most 16), the owner a quarter (at most 32);
// the first shares are large enough to be handed to the system together.
size_t shareOf(size_t left, bool onHelper) {
    size_t s = onHelper ? std::min<size_t>(16, left / 2) : std::min<size_t>(32, left / 4);
    return s < 1 ? 1 : s;
}

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace

void ReadHelper::forceForTesting(int mode) { forced.store(mode); }

ReadHelper* ReadHelper::start(ReadFn read) {
    int mode = forced.load();
    if (mode == 0 || (mode < 0 && std::thread::hardware_concurrency() < 2)) return nullptr;
    auto* h = new (std::nothrow) ReadHelper(std::move(read));
    if (h == nullptr) return nullptr;
    try {
        h->thread_ = std::thread([h] { h->run(); });
    } catch (const std::system_error&) {
        delete h;
        return nullptr;
    }
    return h;
}

ReadHelper::~ReadHelper() {
    while (outCount_ > 0) finishOldest();
    if (!thread_.joinable()) return;
    quit_.store(true);
    { std::lock_guard<std::mutex> hold(mutex_); }
    wake_.notify_one();
    thread_.join();
}

bool ReadHelper::readShare(uint32_t upTo, bool onHelper) {
    uint64_t t = ticket_.load(std::memory_order_acquire);
    for (;;) {
        uint32_t gen = generationOf(t);
        size_t count = countOf(t), next = nextOf(t);
        if (next >= count) {
            // This batch has no request left: on to the one begun after
            // it, if there is one the caller wants.
            uint32_t following = (gen + 1) & genMask;
            uint32_t latest = latest_.load(std::memory_order_acquire);
            if (!after(latest, gen) || after(following, upTo)) return false;
            unsigned slot = following % maxBatchesBegun;
            uint64_t moved = ticketFor(following, count_[slot].load(std::memory_order_relaxed));
            ticket_.compare_exchange_weak(t, moved, std::memory_order_acq_rel, std::memory_order_acquire);
            continue;
        }
        if (after(gen, upTo)) return false;
        size_t take = shareOf(count - next, onHelper);
        if (ticket_.compare_exchange_weak(t, t + take, std::memory_order_acq_rel, std::memory_order_acquire)) {
            // The batch cannot be finished before this share is counted
            // done, so its slot still holds the requests the ticket was
            // made for.
            unsigned slot = gen % maxBatchesBegun;
            read_(reqs_[slot].load(std::memory_order_relaxed) + next, take, onHelper);
            if (onHelper) helperRequests_.fetch_add(take, std::memory_order_relaxed);
            done_[slot].fetch_add(take, std::memory_order_release);
            return true;
        }
    }
}

void ReadHelper::waitDone(unsigned slot, size_t count) {
    // The helper's last share: a few requests, unless the helper was
    // preempted in the middle of it, when yielding gives it a processor.
    auto since = std::chrono::steady_clock::now();
    for (unsigned spins = 1; done_[slot].load(std::memory_order_acquire) < count; ++spins) {
        if (spins % 64 != 0 || std::chrono::steady_clock::now() - since < ownerSpinTime)
            relax();
        else
            std::this_thread::yield();
    }
}

void ReadHelper::begin(ReadRequest* reqs, size_t n) {
    if (n > maxBatch) {
        // Far more than a walk asks for at once: the part beyond what a
        // ticket holds is read here and now.
        read_(reqs + maxBatch, n - maxBatch, false);
        n = maxBatch;
    }
    if (n == 0) return;
    if (outCount_ == maxBatchesBegun) finishOldest();
    uint32_t gen = (lastGen_ + 1) & genMask;
    lastGen_ = gen;
    unsigned slot = gen % maxBatchesBegun;
    reqs_[slot].store(reqs, std::memory_order_relaxed);
    count_[slot].store(n, std::memory_order_relaxed);
    done_[slot].store(0, std::memory_order_relaxed);
    latest_.store(gen, std::memory_order_seq_cst);
    out_[outCount_++] = Begun{gen, n};
    if (sleeping_.load(std::memory_order_seq_cst)) {
        // Taking the lock waits until the helper is inside its wait, so
        // that the notice cannot come between its check and its sleep.
        { std::lock_guard<std::mutex> hold(mutex_); }
        wake_.notify_one();
    }
}

void ReadHelper::finishOldest() {
    if (outCount_ == 0) return;
    Begun b = out_[0];
    while (readShare(b.gen, false)) {
    }
    waitDone(b.gen % maxBatchesBegun, b.count);
    for (size_t i = 1; i < outCount_; ++i) out_[i - 1] = out_[i];
    --outCount_;
}

void ReadHelper::run() {
    for (;;) {
        uint32_t seen = latest_.load(std::memory_order_acquire);
        while (readShare(seen, true)) {
        }
        auto since = std::chrono::steady_clock::now();
        for (unsigned spins = 1;; ++spins) {
            if (latest_.load(std::memory_order_acquire) != seen || quit_.load(std::memory_order_relaxed)) break;
            if (spins % 64 != 0 || std::chrono::steady_clock::now() - since < spinTime) {
                relax();
                continue;
            }
            std::unique_lock<std::mutex> hold(mutex_);
            sleeping_.store(true, std::memory_order_seq_cst);
            wake_.wait(hold, [&] { return quit_.load() || latest_.load(std::memory_order_seq_cst) != seen; });
            sleeping_.store(false, std::memory_order_relaxed);
            since = std::chrono::steady_clock::now();
        }
        if (quit_.load()) return;
    }
}

}  // namespace plat
