// Shared by the engine's sources only: trace macros and datum access.
#pragma once

#include <cerrno>
#include <cstring>

#include "jbbtreev.h"
#include "keyorder.h"
#include "kvmem.h"
#include "trace.h"

// Source name the engine passes with its trace points and allocations.
#define BT_SOURCE "jbbtreev.cpp"

// A trace point under class BTREEDB; the flag is tested before anything is
// formatted or evaluated.
#define BT_TRACE(...)                                              \
    do {                                                           \
        if (traceFlag_BTREEDB) {                                   \
            TraceLocation btLoc_{BT_SOURCE, (uint32_t)__LINE__};   \
            tracePoint(&btLoc_, traceFlag_BTREEDB, __VA_ARGS__);   \
        }                                                          \
    } while (0)

// A trace point with a wide (UTF-16) format.
#define BT_TRACEW(...)                                             \
    do {                                                           \
        if (traceFlag_BTREEDB) {                                   \
            TraceLocation btLoc_{BT_SOURCE, (uint32_t)__LINE__};   \
            tracePointW(&btLoc_, traceFlag_BTREEDB, __VA_ARGS__);  \
        }                                                          \
    } while (0)

// An error report of the engine.
#define BT_ERROR(...) tracePlusErrPrintf(BT_SOURCE, (uint32_t)__LINE__, traceFlag_BTREEDB, __VA_ARGS__)

#define BT_MALLOC(n) kvMalloc((n), BT_SOURCE, __LINE__)
#define BT_CALLOC(c, n) kvCalloc((c), (n), BT_SOURCE, __LINE__)
#define BT_REALLOC(p, n) kvReAlloc((p), (n), BT_SOURCE, __LINE__)
#define BT_FREE(p) kvFree((p), BT_SOURCE, __LINE__)

namespace btdetail {

inline uint16_t get16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint8_t* nodeBytes(diskNode* p) { return reinterpret_cast<uint8_t*>(&p->nodeData); }
inline const uint8_t* nodeBytes(const diskNode* p) {
    return reinterpret_cast<const uint8_t*>(&p->nodeData);
}

// Datum k of a node, found by stepping over the lengths of the ones before.
inline uint8_t* datumAt(diskNode* p, int k) {
    uint8_t* d = nodeBytes(p) + nodeHeaderSize;
    for (int i = 0; i < k; ++i) d += get16(d);
    return d;
}

inline uint16_t datumLength(const uint8_t* d) { return get16(d); }
inline const uint8_t* datumKey(const uint8_t* d) { return d + datumKeyOffset; }
inline uint8_t* datumData(uint8_t* d) { return d + 2 + get16(d + 2); }

inline const char* dbStateName(uint32_t s) {
    return s == dbOpened ? "dbOpened" : s == dbClosed ? "dbClosed" : "dbCorrupt";
}

}  // namespace btdetail
