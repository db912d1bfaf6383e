// The global return code and its classification of messages.
//
// A lock failure is shown as message 9999.  Showing a message counts it
// through GlobalRC::set, which would take the failing lock again, and
// again: while a lock failure is being shown, set() therefore returns 0 at
// once on that thread, and the message is shown without being counted.

#include "GlobalRC.h"

#include <algorithm>
#include <iterator>

#include "lockhandle.h"
#include "trace.h"
#include "traceclasses.h"

uint8_t msg2046RcOverride = 0;
int msg2046Rc = 0;
GlobalRC* globalRC = nullptr;

namespace {

const char kSource[] = "GlobalRC";

#define RC_TRACE(flag, ...)                          \
    do {                                             \
        const TraceLocation loc_{kSource, __LINE__}; \
        tracePoint(&loc_, flag, __VA_ARGS__);        \
    } while (0)

// Messages whose return code is 4 whatever their severity (ascending).
const int32_t kWarningMessages[] = {
    326,   1086,  1115,  1136,  1147,  1154,  1159,  1228,  1242,  1243,  1269,  1413,  1469,
    1753,  1754,  1802,  1803,  1804,  1946,  1947,  3008,  5154,  5279,  5823,  14005, 14007,
    14008, 14017, 14018, 14025, 14037, 14042, 14044, 14045, 14084, 14973, 14987,
};
static_assert(std::size(kWarningMessages) == 37, "the 37 warning messages");

thread_local bool showingLockFailure = false;

int severityBeforeSetup(uint32_t) { return 6; }

GlobalRCSeverityFn severityOf = severityBeforeSetup;
GlobalRCShowFailureFn showFailure = nullptr;

void showLockFailure(int line, const char* text) {
    const GlobalRCShowFailureFn show = __atomic_load_n(&showFailure, __ATOMIC_ACQUIRE);
    if (show == nullptr) return;
    showingLockFailure = true;
    show(kSource, line, text);
    showingLockFailure = false;
}

}  // namespace

void globalRCSetMessageSource(GlobalRCSeverityFn severity, GlobalRCShowFailureFn show) {
    __atomic_store_n(&severityOf, severity != nullptr ? severity : severityBeforeSetup, __ATOMIC_RELEASE);
    __atomic_store_n(&showFailure, show, __ATOMIC_RELEASE);
}

int32_t globalRCClassify(int32_t msgNum) {
    if (std::binary_search(std::begin(kWarningMessages), std::end(kWarningMessages), msgNum)) return 4;
    if (msgNum == 2046) {
        if (msg2046RcOverride == 0) return 12;
        return msg2046Rc < 1 ? 8 : msg2046Rc;
    }
    if (msgNum == 9999) return 12;
    switch (__atomic_load_n(&severityOf, __ATOMIC_ACQUIRE)(static_cast<uint32_t>(msgNum))) {
        case 3:
        case 6:
        case 7:
            return 12;
        case 5:
            return 8;
        default:
            return 0;
    }
}

GlobalRC::GlobalRC() : lock(lockHandleCreate()) {}

GlobalRC::~GlobalRC() { lockHandleDestroy(lock); }

int GlobalRC::set(int32_t msgNum) {
    if (showingLockFailure) return 0;
    RC_TRACE(traceFlag_EXTRC_DETAIL, "%s", "GlobalrC::set() entry.\n");
    // Classified before the lock is taken: the classification takes the
    // repository's lock, and a lookup that holds that lock counts its
    // failures here, so holding both in the other order could deadlock.
    const int32_t msgRC = globalRCClassify(msgNum);
    if (lockHandle(lock) != 0) {
        RC_TRACE(traceFlag_EXTRC, "%s", "Unable to acquire global rc mutex\n");
        showLockFailure(__LINE__, "Unable to acquire global rc mutex");
        RC_TRACE(traceFlag_EXTRC_DETAIL, "%s", "GlobalrC::set() exit.\n");
        return 0;
    }
    RC_TRACE(traceFlag_EXTRC_DETAIL, "msgNum = %d.\n", static_cast<int>(msgNum));
    RC_TRACE(traceFlag_EXTRC_DETAIL, "Before processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", static_cast<int>(rc),
             static_cast<int>(rcMacroMax), static_cast<int>(rcMax));
    RC_TRACE(traceFlag_EXTRC_DETAIL, "msgRC = %d.\n", static_cast<int>(msgRC));
    int result = 0;
    if (msgRC > rc) {
        RC_TRACE(traceFlag_EXTRC, "msgNum = %d changed the Global RC.\n", static_cast<int>(msgNum));
        RC_TRACE(traceFlag_EXTRC, "Old values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", static_cast<int>(rc),
                 static_cast<int>(rcMacroMax), static_cast<int>(rcMax));
        rc = msgRC;
        rcMacroMax = std::max(rcMacroMax, msgRC);
        rcMax = std::max(rcMax, msgRC);
        RC_TRACE(traceFlag_EXTRC, "New values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", static_cast<int>(rc),
                 static_cast<int>(rcMacroMax), static_cast<int>(rcMax));
        result = 1;
    }
    RC_TRACE(traceFlag_EXTRC_DETAIL, "After processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", static_cast<int>(rc),
             static_cast<int>(rcMacroMax), static_cast<int>(rcMax));
    if (unlockHandle(lock) != 0) {
        RC_TRACE(traceFlag_EXTRC, "%s", "Unable to release global rc mutex\n");
        showLockFailure(__LINE__, "Unable to release global rc mutex");
        result = 0;
    }
    RC_TRACE(traceFlag_EXTRC_DETAIL, "%s", "GlobalrC::set() exit.\n");
    return result;
}
