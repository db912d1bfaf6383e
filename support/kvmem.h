// Tracked memory allocation.  Every buffer of the engine and the support
// library comes from here: each block carries a guard word before and
// after the caller's bytes so that overwrites are caught when the block is
// resized, freed or checked.
#pragma once

#include <cstdint>

// Header in front of every tracked block.
struct KvMemHeader {
    uint32_t guard;         // kvGuardWord
    uint64_t recordedSize;  // caller's size + kvBlockOverhead
};
static_assert(sizeof(KvMemHeader) == 16, "the header keeps the caller's bytes 16-byte aligned");

constexpr uint32_t kvGuardWord = 0xABCDDCBAu;
constexpr uint64_t kvBlockOverhead = 20;  // 16-byte header + 4-byte trailer guard

void* kvMalloc(uint64_t size, const char* file, int line);
void* kvCalloc(int32_t count, uint64_t size, const char* file, int line);
void* kvReAlloc(void* old, uint64_t newSize, const char* file, int line);
void kvFree(void* p, const char* file, int line);
int kvCheckBlock(void* p, const char* file, int line);
// The caller's bytes of the tracked block p (its size as asked for), read
// from its header; 0 for null.  The block must be sound (kvCheckBlock).
uint64_t kvBlockBytes(const void* p);

// Tracked blocks allocated and not yet freed, in the whole process: a
// program or a test compares it before and after a piece of work to find
// what that work left behind.
int64_t kvBlocksInUse();

// Out-of-memory hooks: null unless a program installs them.
using kvOutOfMemoryHandler = int (*)();
using kvOutOfMemoryHook = void (*)();
extern kvOutOfMemoryHandler kvOomHandler;
extern kvOutOfMemoryHook kvOomSecondHook;
