#include "nodebuffer.h"

#include <mutex>
#include <vector>

namespace jbbtool {

struct NodeBuffer::Shared {
    std::mutex mutex;
    std::vector<uint8_t*> spare;  // buffers of kPooledBytes, free for reuse
    ~Shared() {
        for (uint8_t* p : spare) delete[] p;
    }
};

void NodeBuffer::release() {
    if (bytes_ == nullptr) return;
    if (size_ <= NodeBufferPool::kPooledBytes) {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->spare.push_back(bytes_);
    } else {
        delete[] bytes_;
    }
    bytes_ = nullptr;
    size_ = 0;
    shared_.reset();
}

NodeBufferPool::NodeBufferPool() : shared_(std::make_shared<NodeBuffer::Shared>()) {}

NodeBuffer NodeBufferPool::get(size_t n) {
    NodeBuffer b;
    if (n <= kPooledBytes) {
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            if (!shared_->spare.empty()) {
                b.bytes_ = shared_->spare.back();
                shared_->spare.pop_back();
            }
        }
        if (b.bytes_ == nullptr) b.bytes_ = new uint8_t[kPooledBytes];
    } else {
        b.bytes_ = new uint8_t[n];
    }
    b.size_ = n;
    b.shared_ = shared_;
    return b;
}

}  // namespace jbbtool
