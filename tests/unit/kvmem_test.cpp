// Tracked allocator: block layout, guard checks, and the failure paths.

#include <gtest/gtest.h>

#include <cstring>

#include "kvmem.h"

namespace {

KvMemHeader headerOf(const void* p) {
    KvMemHeader h;
    std::memcpy(&h, static_cast<const unsigned char*>(p) - sizeof(KvMemHeader), sizeof h);
    return h;
}

uint32_t trailerAt(const void* p, uint64_t size) {
    uint32_t t;
    std::memcpy(&t, static_cast<const unsigned char*>(p) + size, sizeof t);
    return t;
}

void expectBlock(const void* p, uint64_t size) {
    ASSERT_NE(p, nullptr);
    const KvMemHeader h = headerOf(p);
    EXPECT_EQ(h.guard, kvGuardWord);
    EXPECT_EQ(h.recordedSize, size + kvBlockOverhead);
    EXPECT_EQ(trailerAt(p, size), kvGuardWord);
}

int oomHandlerCalls = 0;
int oomHandlerResult = 0;
int oomSecondHookCalls = 0;
int countingOomHandler() {
    ++oomHandlerCalls;
    return oomHandlerResult;
}
void countingSecondHook() { ++oomSecondHookCalls; }

// Installs the counting hooks for one test and removes them afterwards.
class KvMemOomTest : public ::testing::Test {
protected:
    void SetUp() override {
        oomHandlerCalls = oomSecondHookCalls = 0;
        oomHandlerResult = 0;
        kvOomHandler = countingOomHandler;
        kvOomSecondHook = countingSecondHook;
    }
    void TearDown() override {
        kvOomHandler = nullptr;
        kvOomSecondHook = nullptr;
    }
};

}  // namespace

TEST(KvMem, MallocLaysOutHeaderCallerBytesAndTrailer) {
    for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{3}, uint64_t{16}, uint64_t{1001}}) {
        SCOPED_TRACE(size);
        void* p = kvMalloc(size, "kvmem_test", __LINE__);
        expectBlock(p, size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "caller's bytes stay 16-byte aligned";
        std::memset(p, 0x5A, size);  // the whole size is usable without touching the guard
        EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), 0);
        kvFree(p, "kvmem_test", __LINE__);
    }
}

TEST(KvMem, CallocClearsCountTimesSizeBytes) {
    void* p = kvCalloc(3, 8, "kvmem_test", __LINE__);
    expectBlock(p, 24);
    const unsigned char* bytes = static_cast<const unsigned char*>(p);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
    kvFree(p, "kvmem_test", __LINE__);

    void* empty = kvCalloc(0, 8, "kvmem_test", __LINE__);
    expectBlock(empty, 0);
    kvFree(empty, "kvmem_test", __LINE__);
}

TEST(KvMem, CheckBlockFindsDamagedGuards) {
    EXPECT_EQ(kvCheckBlock(nullptr, "kvmem_test", __LINE__), 0);
    kvFree(nullptr, "kvmem_test", __LINE__);  // reported, nothing else

    unsigned char* p = static_cast<unsigned char*>(kvMalloc(10, "kvmem_test", __LINE__));
    ASSERT_NE(p, nullptr);

    p[10] ^= 0xFF;  // one byte past the caller's size
    EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), -1);
    p[10] ^= 0xFF;
    EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), 0);

    p[-16] ^= 0xFF;  // first byte of the header guard
    EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), -1);
    p[-16] ^= 0xFF;

    // A header whose recorded size is smaller than the overhead is damaged,
    // whatever the trailer position it would imply.
    KvMemHeader bad{kvGuardWord, 3};
    KvMemHeader saved;
    std::memcpy(&saved, p - 16, sizeof saved);
    std::memcpy(p - 16, &bad, sizeof bad);
    EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), -1);
    std::memcpy(p - 16, &saved, sizeof saved);

    kvFree(p, "kvmem_test", __LINE__);
}

// An overwritten block must be neither released nor resized.  The test
// repairs the guard afterwards and frees the block: had the damaged free
// released it, that second free would be a double free (reported by the
// sanitizer build), and had realloc moved it, the contents would differ.
TEST(KvMem, DamagedBlockIsKeptByFreeAndRealloc) {
    unsigned char* p = static_cast<unsigned char*>(kvMalloc(8, "kvmem_test", __LINE__));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefgh", 8);

    p[8] = 0;  // overwrite the trailer
    kvFree(p, "kvmem_test", __LINE__);
    EXPECT_EQ(std::memcmp(p, "abcdefgh", 8), 0);

    EXPECT_EQ(kvReAlloc(p, 4096, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(std::memcmp(p, "abcdefgh", 8), 0);

    const uint32_t guard = kvGuardWord;
    std::memcpy(p + 8, &guard, sizeof guard);
    p[-13] = 0;  // now only the header guard is damaged
    EXPECT_EQ(kvReAlloc(p, 4096, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(std::memcmp(p, "abcdefgh", 8), 0);

    std::memcpy(p - 16, &guard, sizeof guard);
    EXPECT_EQ(kvCheckBlock(p, "kvmem_test", __LINE__), 0);
    kvFree(p, "kvmem_test", __LINE__);
}

TEST(KvMem, ReAllocKeepsContentsAndRestampsGuards) {
    const int64_t before = kvBlocksInUse();
    void* fresh = kvReAlloc(nullptr, 5, "kvmem_test", __LINE__);
    EXPECT_EQ(before + 1, kvBlocksInUse());
    expectBlock(fresh, 5);
    std::memcpy(fresh, "12345", 5);

    void* grown = kvReAlloc(fresh, 5000, "kvmem_test", __LINE__);
    expectBlock(grown, 5000);
    EXPECT_EQ(std::memcmp(grown, "12345", 5), 0);

    void* shrunk = kvReAlloc(grown, 2, "kvmem_test", __LINE__);
    expectBlock(shrunk, 2);
    EXPECT_EQ(std::memcmp(shrunk, "12", 2), 0);

    void* zero = kvReAlloc(shrunk, 0, "kvmem_test", __LINE__);
    expectBlock(zero, 0);
    void* other = kvCalloc(3, 8, "kvmem_test", __LINE__);
    void* third = kvMalloc(1, "kvmem_test", __LINE__);
    EXPECT_EQ(before + 3, kvBlocksInUse()) << "a block resized is still one block";
    kvFree(zero, "kvmem_test", __LINE__);
    kvFree(other, "kvmem_test", __LINE__);
    kvFree(third, "kvmem_test", __LINE__);
    kvFree(nullptr, "kvmem_test", __LINE__);
    EXPECT_EQ(before, kvBlocksInUse());
}

TEST_F(KvMemOomTest, UnrepresentableSizesFailAndCallTheHandler) {
    EXPECT_EQ(kvMalloc(UINT64_MAX - 10, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(kvCalloc(2, UINT64_MAX / 2 + 1, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(kvCalloc(-1, 8, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(oomHandlerCalls, 3);
    EXPECT_EQ(oomSecondHookCalls, 0) << "the second hook runs only when the handler returns 2";

    oomHandlerResult = 2;
    EXPECT_EQ(kvMalloc(UINT64_MAX, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(oomHandlerCalls, 4);
    EXPECT_EQ(oomSecondHookCalls, 1);
}

TEST_F(KvMemOomTest, FailedReAllocLeavesTheOldBlockValid) {
    void* p = kvMalloc(4, "kvmem_test", __LINE__);
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "wxyz", 4);
    EXPECT_EQ(kvReAlloc(p, UINT64_MAX - 1, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(oomHandlerCalls, 1);
    expectBlock(p, 4);
    EXPECT_EQ(std::memcmp(p, "wxyz", 4), 0);
    kvFree(p, "kvmem_test", __LINE__);
}

TEST_F(KvMemOomTest, DamagedBlockDoesNotCallTheHandler) {
    // A damaged block fails realloc before any allocation is attempted.
    unsigned char* p = static_cast<unsigned char*>(kvMalloc(1, "kvmem_test", __LINE__));
    ASSERT_NE(p, nullptr);
    p[1] = 0;
    EXPECT_EQ(kvReAlloc(p, 0, "kvmem_test", __LINE__), nullptr);
    EXPECT_EQ(oomHandlerCalls, 0);
    const uint32_t guard = kvGuardWord;
    std::memcpy(p + 1, &guard, sizeof guard);
    kvFree(p, "kvmem_test", __LINE__);
}
