// Tracked memory allocation.  Layout of every block (one run-time
// allocation of the caller's size + kvBlockOverhead bytes):
//
//   [KvMemHeader: guard, recordedSize][caller's bytes][trailer guard]
//
// The caller's pointer is the first byte after the header; the 4-byte
// trailer guard follows the caller's bytes directly and is therefore not
// aligned, so it is always accessed with memcpy.

#include "kvmem.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "trace.h"

kvOutOfMemoryHandler kvOomHandler = nullptr;
kvOutOfMemoryHook kvOomSecondHook = nullptr;

namespace {

const char kSourceName[] = "kvmem.cpp";
std::atomic<int64_t> blocksInUse{0};
constexpr uint64_t kHeaderSize = sizeof(KvMemHeader);
constexpr uint64_t kTrailerSize = kvBlockOverhead - kHeaderSize;
static_assert(kTrailerSize == sizeof(uint32_t), "the trailer is one guard word");

unsigned char* headerOf(void* p) { return static_cast<unsigned char*>(p) - kHeaderSize; }

// Total size of a block holding `size` caller bytes; false when it would
// not be representable.
bool blockSize(uint64_t size, size_t* total) {
    if (size > UINT64_MAX - kvBlockOverhead || size + kvBlockOverhead > SIZE_MAX) {
        return false;
    }
    *total = static_cast<size_t>(size + kvBlockOverhead);
    return true;
}

// Writes header and trailer into the fresh allocation `block`; returns
// the caller's pointer.
void* stampBlock(void* block, uint64_t size) {
    unsigned char* base = static_cast<unsigned char*>(block);
    const KvMemHeader header{kvGuardWord, size + kvBlockOverhead};
    std::memcpy(base, &header, sizeof header);
    const uint32_t guard = kvGuardWord;
    std::memcpy(base + kHeaderSize + size, &guard, sizeof guard);
    return base + kHeaderSize;
}

// Gives an installed out-of-memory handler its chance after a failed
// request for `size` bytes.
void callOutOfMemoryHandler(uint64_t size) {
    if (kvOomHandler != nullptr && size != 0) {
        if (kvOomHandler() == 2 && kvOomSecondHook != nullptr) {
            kvOomSecondHook();
        }
    }
}

}  // namespace

void* kvMalloc(uint64_t size, const char* file, int line) {
    size_t total = 0;
    void* block = blockSize(size, &total) ? std::malloc(total) : nullptr;
    if (block == nullptr) {
        if (traceFlag_MEMORY) {
            tracePrintf(kSourceName, __LINE__, "Alloc failed: Size %lld File %s Line %d\n",
                        static_cast<long long>(size), file, line);
        }
        callOutOfMemoryHandler(size);
        return nullptr;
    }
    void* p = stampBlock(block, size);
    blocksInUse.fetch_add(1, std::memory_order_relaxed);
    if (traceFlag_MEMORY) {
        tracePrintf(kSourceName, __LINE__, "KVMEM(+) Addr %p Size %lld File %s Line %d\n", p,
                    static_cast<long long>(size), file, line);
    }
    return p;
}

void* kvCalloc(int32_t count, uint64_t size, const char* file, int line) {
    const uint64_t n = count < 0 ? 0 : static_cast<uint64_t>(count);
    const bool representable = count >= 0 && (n == 0 || size <= UINT64_MAX / n);
    const uint64_t bytes = representable ? n * size : 0;
    size_t total = 0;
    void* block = representable && blockSize(bytes, &total) ? std::calloc(total, 1) : nullptr;
    if (block == nullptr) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_MEMORY, "calloc() failed: Size %lld File %s Line %d\n",
                       static_cast<long long>(size), file, line);
        callOutOfMemoryHandler(size);
        return nullptr;
    }
    void* p = stampBlock(block, bytes);
    blocksInUse.fetch_add(1, std::memory_order_relaxed);
    if (traceFlag_MEMORY) {
        tracePrintf(kSourceName, __LINE__, "KVMEM(c+) Addr %p Size %lld Count %ld File %s Line %d\n", p,
                    static_cast<long long>(size), static_cast<long>(count), file, line);
    }
    return p;
}

void* kvReAlloc(void* old, uint64_t newSize, const char* file, int line) {
    if (kvCheckBlock(old, file, line) != 0) {
        return nullptr;
    }
    size_t total = 0;
    void* block = nullptr;
    if (blockSize(newSize, &total)) {
        block = std::realloc(old == nullptr ? nullptr : headerOf(old), total);
    }
    if (block == nullptr) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_MEMORY,
                       "Realloc failed: Old addr %p New Size %lld File %s Line %d\n", old,
                       static_cast<long long>(newSize), file, line);
        callOutOfMemoryHandler(newSize);
        return nullptr;
    }
    void* p = stampBlock(block, newSize);
    if (old == nullptr) blocksInUse.fetch_add(1, std::memory_order_relaxed);
    if (traceFlag_MEMORY) {
        tracePrintf(kSourceName, __LINE__, "KVMEM(r+) naddr %p oaddr %p nsize %lld File %s Line %d\n", p, old,
                    static_cast<long long>(newSize), file, line);
    }
    return p;
}

void kvFree(void* p, const char* file, int line) {
    if (p == nullptr) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_MEMORY, "Attempt to free NULL pointer. File %s Line %d\n", file,
                       line);
        return;
    }
    if (kvCheckBlock(p, file, line) != 0) {
        return;  // a damaged block is kept: releasing it could corrupt the heap
    }
    if (traceFlag_MEMORY) {
        tracePrintf(kSourceName, __LINE__, "KVMEM(-) Addr %p File %s Line %d\n", p, file, line);
    }
    std::free(headerOf(p));
    blocksInUse.fetch_sub(1, std::memory_order_relaxed);
}

int64_t kvBlocksInUse() { return blocksInUse.load(std::memory_order_relaxed); }

uint64_t kvBlockBytes(const void* p) {
    if (p == nullptr) return 0;
    KvMemHeader header;
    std::memcpy(&header, static_cast<const unsigned char*>(p) - kHeaderSize, sizeof header);
    return header.recordedSize - kvBlockOverhead;
}

int kvCheckBlock(void* p, const char* file, int line) {
    if (p == nullptr) {
        return 0;
    }
    KvMemHeader header;
    std::memcpy(&header, headerOf(p), sizeof header);
    // A size below the overhead cannot have been written by this allocator
    // and would put the trailer before the caller's bytes.
    if (header.guard != kvGuardWord || header.recordedSize < kvBlockOverhead) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_MEMORY,
                       "Block header invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, file, line);
        return -1;
    }
    uint32_t trailer = 0;
    std::memcpy(&trailer, static_cast<unsigned char*>(p) + (header.recordedSize - kvBlockOverhead), sizeof trailer);
    if (trailer != kvGuardWord) {
        traceErrPrintf(kSourceName, __LINE__, traceFlag_MEMORY,
                       "Block trailer invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, file, line);
        return -1;
    }
    return 0;
}
