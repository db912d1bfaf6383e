// Wide-text duplication (see DStringUtils.h).

#include "DStringUtils.h"

#include <cstring>

#include "kvmem.h"
#include "platform.h"

char16_t* dsDupWide(const char16_t* s) {
    if (s == nullptr) return nullptr;
    const size_t bytes = (plat::wideLength(s) + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(kvMalloc(bytes, "DStringUtils.cpp", __LINE__));
    if (copy != nullptr) std::memcpy(copy, s, bytes);
    return copy;
}
