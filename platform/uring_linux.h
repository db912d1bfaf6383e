// Batches of positioned reads submitted to the kernel with one system call
// (io_uring), for kernels that offer it.  Reads whose data is cached are
// done during the submission itself.
#pragma once

#include <cstddef>

#include "read_batch.h"

namespace plat {

class ReadRing {
public:
    ReadRing() = default;
    ~ReadRing();
    ReadRing(const ReadRing&) = delete;
    ReadRing& operator=(const ReadRing&) = delete;

    // Sets the ring up; false when the kernel does not offer it.
    bool init(unsigned entries);
    // Reads every request of `reqs` from `fd`.  False when the ring failed
    // as a whole; requests then keep got = -1 with err 0, to be read another way.
    bool readAll(int fd, ReadRequest* reqs, size_t n);

private:
    // Hands the kernel every queued read and waits for toWait completions.
    bool submitAndWait(unsigned toWait);
    // Registers `fd` with the ring, once, so that each read names it by its
    // place in the ring's table and the kernel skips looking it up.  False
    // when it is not (another descriptor is, or the kernel refused).
    bool useFixedFile(int fd);

    int fixedFd_ = -1;
    bool fixedTried_ = false;

    int ringFd_ = -1;
    unsigned entries_ = 0;
    void* sqRing_ = nullptr;
    size_t sqRingLen_ = 0;
    void* cqRing_ = nullptr;
    size_t cqRingLen_ = 0;
    void* sqes_ = nullptr;
    size_t sqesLen_ = 0;
    unsigned* sqHead_ = nullptr;
    unsigned* sqTail_ = nullptr;
    unsigned* sqMask_ = nullptr;
    unsigned* sqArray_ = nullptr;
    unsigned* cqHead_ = nullptr;
    unsigned* cqTail_ = nullptr;
    unsigned* cqMask_ = nullptr;
    void* cqes_ = nullptr;
};

}  // namespace plat
