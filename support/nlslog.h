// The message repository's two logs: the error log, which receives the
// error reports of the trace facility and issued messages of severity W
// and above, and the echo log, which receives every issued message while
// the echo switch is on.  Both are wrapping log files (layout in
// tracefile.h) opened by nlsOpen and kept within their maximum size.
#pragma once

#include <cstdint>

#include "logutils.h"

// One log file: its wrapping control, whether it is enabled, and the
// run-time's error number of its last failed write (the log stays open).
struct NlsLogFile {
    LogFileCtl ctl;
    uint32_t enabled = 0;
    int lastError = 0;
    uint32_t atLineStart = 1;  // when opened: its last record ended its line
};

extern NlsLogFile nlsErrorLog;
extern NlsLogFile nlsEchoLog;
// 1: issued messages are copied to the echo log.
extern uint32_t nlsEchoSwitch;

// Smallest and default maximum size of a log file in bytes.
constexpr uint32_t kNlsLogMinBytes = 256;
constexpr uint32_t kNlsLogDefaultBytes = 1048576;

// Opens `path` as a wrapping log of at most maxBytes bytes: an existing
// log whose header is sound and that is no larger is continued, any other
// file is made anew (on POSIX systems readable by its owner only; a
// symbolic link is refused).  Fills the end-of-data and wrap markers.
// 0, or 942 with errno set.
int nlsLogOpen(NlsLogFile* log, const char* path, uint32_t maxBytes);
// Closes the log and disables it.
void nlsLogClose(NlsLogFile* log);

// Writes "DATE TIME text" to the error log, with a newline after a text
// that does not end with one, under the repository's lock.  The count
// written; 621 when the write failed; 109 without a text or a lock; 0
// when the error log is not enabled.
int errorLogWrite(const char* text);
// Copies an issued text to the echo log: the date and time go in front
// only at the start of a line.  Nothing while message 11025 heads the
// primary cache.  0.
int echoLogWrite(const char* text);
