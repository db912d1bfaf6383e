// Asking the processor for memory ahead of its use, where the compiler
// offers a way to; elsewhere a no-op.  Only a hint: it never changes what
// the program computes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jbbtool {

// Every 64-byte cache line that [p, p + bytes) touches.
inline void prefetchLines(const void* p, size_t bytes) {
#if defined(__GNUC__)
    const uintptr_t first = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{63};
    const uintptr_t last = reinterpret_cast<uintptr_t>(p) + (bytes > 0 ? bytes - 1 : 0);
    for (uintptr_t line = first; line <= last; line += 64) __builtin_prefetch(reinterpret_cast<const void*>(line));
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace jbbtool
