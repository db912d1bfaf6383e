// Buffers for node images read by positioned reads: the tree walker reads
// nodes into them, hands whole leaves on in them (to another thread, say),
// and they come back to their pool when their last holder lets go.  Most
// nodes are small, so buffers of up to kPooledBytes are kept and reused
// whole; a larger node gets a buffer of its own size, freed when released.
//
// Contract:
// - A NodeBuffer owns its bytes; moving it moves them.  When it is released
//   or destroyed its bytes go back to the pool it came from (or are freed),
//   whatever thread does so.
// - The pool's state is shared by the pool and every buffer it handed out,
//   so buffers may outlive the NodeBufferPool object that made them.
// - get() and a buffer's release are thread-safe (one lock per pool); a
//   NodeBuffer itself is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace jbbtool {

class NodeBufferPool;

class NodeBuffer {
public:
    NodeBuffer() = default;
    NodeBuffer(NodeBuffer&& o) noexcept { take(o); }
    NodeBuffer& operator=(NodeBuffer&& o) noexcept {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    ~NodeBuffer() { release(); }

    uint8_t* data() const { return bytes_; }
    // The image's size in bytes; 0 for no buffer.
    size_t size() const { return size_; }
    bool empty() const { return bytes_ == nullptr; }
    // Gives the bytes back now; the buffer is then empty.
    void release();

private:
    friend class NodeBufferPool;
    struct Shared;
    void take(NodeBuffer& o) {
        bytes_ = o.bytes_;
        size_ = o.size_;
        shared_ = std::move(o.shared_);
        o.bytes_ = nullptr;
        o.size_ = 0;
    }
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    std::shared_ptr<Shared> shared_;
};

class NodeBufferPool {
public:
    NodeBufferPool();
    // A buffer for an image of n bytes, its bytes left uninitialised.
    NodeBuffer get(size_t n);

    static constexpr size_t kPooledBytes = 4096;

private:
    std::shared_ptr<NodeBuffer::Shared> shared_;
};

}  // namespace jbbtool
