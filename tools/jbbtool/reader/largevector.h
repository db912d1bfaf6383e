// std::vector for the large tables of jbbtool's passes (node lists, the
// directory table, slot maps, stored keys): blocks of 2 MiB and more come
// from plat::allocLarge, which makes their first touch cheap where the
// system offers huge pages; smaller ones from the usual allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "platform.h"

namespace jbbtool {

// Under AddressSanitizer every block comes from the usual allocator, so
// that the sanitizer guards the tables too.
#if defined(__SANITIZE_ADDRESS__)
#define JBB_LARGE_ALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JBB_LARGE_ALLOC 0
#endif
#endif
#ifndef JBB_LARGE_ALLOC
#define JBB_LARGE_ALLOC 1
#endif

template <typename T>
struct LargeAllocator {
    using value_type = T;
    static constexpr size_t kLargeBytes = JBB_LARGE_ALLOC ? 2u << 20 : SIZE_MAX;

    LargeAllocator() = default;
    template <typename U>
    LargeAllocator(const LargeAllocator<U>&) {}

    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes) return std::allocator<T>().allocate(n);
        void* p = plat::allocLarge(bytes);
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < kLargeBytes || !JBB_LARGE_ALLOC)
            std::allocator<T>().deallocate(p, n);
        else
            plat::freeLarge(p, n * sizeof(T));
    }
    template <typename U>
    bool operator==(const LargeAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const LargeAllocator<U>&) const {
        return false;
    }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace jbbtool
