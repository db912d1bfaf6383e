#include "uring_linux.h"

#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

namespace {

template <typename T>
T* at(void* base, unsigned offset) {
    return reinterpret_cast<T*>(static_cast<char*>(base) + offset);
}

}  // namespace

ReadRing::~ReadRing() {
    if (sqes_ != nullptr) munmap(sqes_, sqesLen_);
    if (cqRing_ != nullptr && cqRing_ != sqRing_) munmap(cqRing_, cqRingLen_);
    if (sqRing_ != nullptr) munmap(sqRing_, sqRingLen_);
    if (ringFd_ >= 0) close(ringFd_);
}

bool ReadRing::init(unsigned entries) {
    io_uring_params p;
    std::memset(&p, 0, sizeof p);
    // One thread submits and reaps: completions need no interrupting work
    // on newer kernels; older ones refuse the flags, and get a plain ring.
    p.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_COOP_TASKRUN;
    int fd = (int)syscall(__NR_io_uring_setup, entries, &p);
    if (fd < 0) {
        std::memset(&p, 0, sizeof p);
        fd = (int)syscall(__NR_io_uring_setup, entries, &p);
    }
    if (fd < 0) return false;
    ringFd_ = fd;
    entries_ = p.sq_entries;
    sqRingLen_ = p.sq_off.array + p.sq_entries * sizeof(unsigned);
    cqRingLen_ = p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe);
    bool single = (p.features & IORING_FEAT_SINGLE_MMAP) != 0;
    if (single && cqRingLen_ > sqRingLen_) sqRingLen_ = cqRingLen_;
    sqRing_ = mmap(nullptr, sqRingLen_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQ_RING);
    if (sqRing_ == MAP_FAILED) {
        sqRing_ = nullptr;
        return false;
    }
    if (single) {
        cqRing_ = sqRing_;
    } else {
        cqRing_ = mmap(nullptr, cqRingLen_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_CQ_RING);
        if (cqRing_ == MAP_FAILED) {
            cqRing_ = nullptr;
            return false;
        }
    }
    sqesLen_ = p.sq_entries * sizeof(io_uring_sqe);
    sqes_ = mmap(nullptr, sqesLen_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQES);
    if (sqes_ == MAP_FAILED) {
        sqes_ = nullptr;
        return false;
    }
    sqHead_ = at<unsigned>(sqRing_, p.sq_off.head);
    sqTail_ = at<unsigned>(sqRing_, p.sq_off.tail);
    sqMask_ = at<unsigned>(sqRing_, p.sq_off.ring_mask);
    sqArray_ = at<unsigned>(sqRing_, p.sq_off.array);
    cqHead_ = at<unsigned>(cqRing_, p.cq_off.head);
    cqTail_ = at<unsigned>(cqRing_, p.cq_off.tail);
    cqMask_ = at<unsigned>(cqRing_, p.cq_off.ring_mask);
    cqes_ = at<void>(cqRing_, p.cq_off.cqes);
    return true;
}

bool ReadRing::submitAndWait(unsigned toWait) {
    for (;;) {
        // Everything the kernel has not taken from the queue yet is handed
        // over: after an interrupted call that may be some, all or none.
        unsigned pending = *sqTail_ - __atomic_load_n(sqHead_, __ATOMIC_ACQUIRE);
        long r = syscall(__NR_io_uring_enter, ringFd_, pending, toWait, IORING_ENTER_GETEVENTS, nullptr, 0);
        if (r >= 0) return true;
        if (errno != EINTR && errno != EAGAIN && errno != EBUSY) return false;
    }
}

bool ReadRing::useFixedFile(int fd) {
    if (!fixedTried_) {
        fixedTried_ = true;
        if (syscall(__NR_io_uring_register, ringFd_, IORING_REGISTER_FILES, &fd, 1) == 0) fixedFd_ = fd;
    }
    return fixedFd_ == fd;
}

bool ReadRing::readAll(int fd, ReadRequest* reqs, size_t n) {
    const bool fixed = useFixedFile(fd);
    auto* sqes = static_cast<io_uring_sqe*>(sqes_);
    auto* cqes = static_cast<io_uring_cqe*>(cqes_);
    size_t done = 0;
    while (done < n) {
        unsigned batch = (unsigned)(n - done < entries_ ? n - done : entries_);
        unsigned tail = *sqTail_;
        for (unsigned i = 0; i < batch; ++i) {
            ReadRequest& r = reqs[done + i];
            unsigned idx = tail & *sqMask_;
            io_uring_sqe* sqe = &sqes[idx];
            std::memset(sqe, 0, sizeof *sqe);
            sqe->opcode = IORING_OP_READ;
            if (fixed) {
                sqe->flags = IOSQE_FIXED_FILE;
                sqe->fd = 0;  // the registered table's only entry
            } else {
                sqe->fd = fd;
            }
            sqe->off = (uint64_t)r.pos;
            sqe->addr = (uint64_t)(uintptr_t)r.buf;
            sqe->len = (unsigned)r.len;
            sqe->user_data = done + i;
            sqArray_[idx] = idx;
            ++tail;
        }
        __atomic_store_n(sqTail_, tail, __ATOMIC_RELEASE);
        if (!submitAndWait(batch)) return false;
        unsigned seen = 0;
        while (seen < batch) {
            unsigned head = *cqHead_;
            unsigned ready = __atomic_load_n(cqTail_, __ATOMIC_ACQUIRE);
            if (head == ready) {
                if (!submitAndWait(batch - seen)) return false;
                continue;
            }
            for (; head != ready; ++head, ++seen) {
                const io_uring_cqe& c = cqes[head & *cqMask_];
                ReadRequest& r = reqs[c.user_data];
                if (c.res >= 0) {
                    r.got = c.res;
                    r.err = 0;
                } else {
                    r.got = -1;
                    r.err = -c.res;
                }
            }
            __atomic_store_n(cqHead_, head, __ATOMIC_RELEASE);
        }
        done += batch;
    }
    return true;
}

}  // namespace plat
