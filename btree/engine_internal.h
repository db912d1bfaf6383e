// Shared by the engine's sources only: trace macros and datum access.
#pragma once

#include <cerrno>
#include <cstring>

#include "jbbtreev.h"
#include "keyorder.h"
#include "kvmem.h"
#include "trace.h"

namespace btdetail {
// The file name of a source path, without its folders.
constexpr const char* sourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != 0; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}
}  // namespace btdetail

// Source name the engine passes with its trace points and allocations: the
// name of the engine's source file that makes the call (found while
// compiling).
#define BT_SOURCE                                                                 \
    ([] {                                                                         \
        constexpr const char* btSourceName_ = btdetail::sourceBaseName(__FILE__); \
        return btSourceName_;                                                     \
    }())

// A trace point under class BTREEDB; the flag is tested before anything is
// formatted or evaluated.
#define BT_TRACE(...)                                            \
    do {                                                         \
        if (traceFlag_BTREEDB) {                                 \
            TraceLocation btLoc_{BT_SOURCE, (uint32_t)__LINE__}; \
            tracePoint(&btLoc_, traceFlag_BTREEDB, __VA_ARGS__); \
        }                                                        \
    } while (0)

// A trace point with a wide (UTF-16) format.
#define BT_TRACEW(...)                                            \
    do {                                                          \
        if (traceFlag_BTREEDB) {                                  \
            TraceLocation btLoc_{BT_SOURCE, (uint32_t)__LINE__};  \
            tracePointW(&btLoc_, traceFlag_BTREEDB, __VA_ARGS__); \
        }                                                         \
    } while (0)

// An error report of the engine.
#define BT_ERROR(...) tracePlusErrPrintf(BT_SOURCE, (uint32_t)__LINE__, traceFlag_BTREEDB, __VA_ARGS__)

#define BT_MALLOC(n) kvMalloc((n), BT_SOURCE, __LINE__)
#define BT_CALLOC(c, n) kvCalloc((c), (n), BT_SOURCE, __LINE__)
#define BT_REALLOC(p, n) kvReAlloc((p), (n), BT_SOURCE, __LINE__)
#define BT_FREE(p) kvFree((p), BT_SOURCE, __LINE__)

namespace btdetail {

using btformat::datumData;
using btformat::datumKey;
using btformat::datumLength;
inline uint16_t get16(const uint8_t* p) { return btformat::load16(p); }

inline uint8_t* nodeBytes(diskNode* p) { return reinterpret_cast<uint8_t*>(&p->nodeData); }
inline const uint8_t* nodeBytes(const diskNode* p) { return reinterpret_cast<const uint8_t*>(&p->nodeData); }

// Datum k of a node, found by stepping over the lengths of the ones before.
inline uint8_t* datumAt(diskNode* p, int k) {
    uint8_t* d = nodeBytes(p) + nodeOff::datums;
    for (int i = 0; i < k; ++i) d += datumLength(d);
    return d;
}

// Runs its function when the scope ends, unless dismissed first.
template <class F>
class OnExit {
public:
    explicit OnExit(F f) : f_(f) {}
    ~OnExit() {
        if (armed_) f_();
    }
    OnExit(const OnExit&) = delete;
    OnExit& operator=(const OnExit&) = delete;
    void dismiss() { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

inline const char* dbStateName(uint32_t s) {
    return s == dbOpened ? "dbOpened" : s == dbClosed ? "dbClosed" : "dbCorrupt";
}

}  // namespace btdetail
