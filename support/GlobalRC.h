// The global return code: the worst outcome of the run.  Every message
// that is issued is classified into a return code (0, 4, 8 or 12), and the
// highest codes seen go into three counters that only rise.
#pragma once

#include <cstdint>

struct LockHandle;

// Message 2046's return code: msg2046Rc (8 when below 1) while the
// override is set, else 12.
extern uint8_t msg2046RcOverride;
extern int msg2046Rc;

class GlobalRC {
public:
    GlobalRC();  // counters at 0, a lock of its own (lockhandle.h)
    ~GlobalRC();
    GlobalRC(const GlobalRC&) = delete;
    GlobalRC& operator=(const GlobalRC&) = delete;

    // Raises the counters to message msgNum's return code; 1 when rc rose,
    // else 0.  A lock that cannot be taken or released is traced and shown
    // as message 9999; showing it does not count it again.
    int set(int32_t msgNum);

    int32_t rc = 0;          // current return code
    int32_t rcMacroMax = 0;  // highest in the current macro scope
    int32_t rcMax = 0;       // highest in the process
    LockHandle* lock = nullptr;
};

// What GlobalRC needs of the message repository, installed by the
// repository's setup (nlsOpen) so that neither calls into the other
// directly: a message's severity code (nlGetSeverity), and the showing of
// a lock failure as message 9999 (not counted).  Before it is installed a
// severity reads as 6, the repository's answer while it is not set up,
// and a lock failure is only traced.
using GlobalRCSeverityFn = int (*)(uint32_t msgNum);
using GlobalRCShowFailureFn = void (*)(const char* source, int line, const char* text);
void globalRCSetMessageSource(GlobalRCSeverityFn severity, GlobalRCShowFailureFn showFailure);

// The process's one GlobalRC; null until a program installs one.
extern GlobalRC* globalRC;

// Return code of message msgNum: 4 for the listed warnings, the rule of
// 2046, 12 for 9999, otherwise by the message's severity (nlGetSeverity:
// 3, 6, 7 give 12; 5 gives 8; anything else 0).
int32_t globalRCClassify(int32_t msgNum);
