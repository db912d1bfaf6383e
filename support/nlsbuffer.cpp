// Growing text buffers of the message repository.  A buffer grows in
// steps of 4096 bytes: to the next multiple of 4096 above what it must
// hold, with its capacity (in units of 1024) following.

#include <cstring>

#include "kvmem.h"
#include "nls.h"

namespace {

const char kSource[] = "nlsbuffer.cpp";

// A buffer never holds more than this; a need beyond it counts as a
// failed reallocation.
constexpr uint64_t kMaxBufferBytes = uint64_t{1} << 30;

}  // namespace

nlsBuffer::~nlsBuffer() {
    if (buffer != nullptr) kvFree(buffer, kSource, __LINE__);
    buffer = nullptr;
}

nlsCharBuffer::nlsCharBuffer() {
    length = 0;
    capacity = 4;
    buffer = static_cast<char*>(kvCalloc(4, 1024, kSource, __LINE__));
}

uint32_t nlsCharBuffer::append(const char* text, uint32_t count) {
    if (buffer == nullptr) {
        length = 0;
        return 0;
    }
    if (text == nullptr) text = "";
    size_t available = count;
    if (count == 0) {
        available = std::strlen(text);
    } else if (const void* nul = std::memchr(text, '\0', count)) {
        available = static_cast<size_t>(static_cast<const char*>(nul) - text);
    }
    if (count == 0) count = static_cast<uint32_t>(available);
    const uint64_t need = uint64_t{length} + count + 1;
    if (need > uint64_t{capacity} * 1024) {
        void* grown =
            need <= kMaxBufferBytes ? kvReAlloc(buffer, ((need >> 12) + 1) * 4096, kSource, __LINE__) : nullptr;
        if (grown == nullptr) {
            kvFree(buffer, kSource, __LINE__);
            buffer = nullptr;
            capacity = 0;
        } else {
            buffer = static_cast<char*>(grown);
            capacity = static_cast<uint32_t>(((need >> 10) & ~uint64_t{3}) + 4);
        }
    }
    if (buffer == nullptr) {
        length = 0;
        return 0;
    }
    std::memcpy(buffer + length, text, available);
    buffer[length + available] = '\0';
    length = static_cast<uint32_t>(std::strlen(buffer));
    return length;
}
