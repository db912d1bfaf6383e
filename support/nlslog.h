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

// Opens `path` as a wrapping log of at most maxBytes bytes and fills the
// end-of-data and wrap markers.  An existing log of ours whose header is
// sound is continued (one larger than maxBytes wraps at its next record,
// and keeps its bytes); one of ours that is damaged is made anew; a file
// that is not empty and does not begin with "LOGHEADERREC" is refused and
// left as it is.  Opened through plat::openPrivateFile (no symbolic or
// hard link, nothing but a regular file).  0, or 942 with errno set and
// nlsLogOpenProblem() saying why.
int nlsLogOpen(NlsLogFile* log, const char* path, uint32_t maxBytes);
// Why the last nlsLogOpen failed ("PATH: reason"), empty after a success.
const char* nlsLogOpenProblem();
// Closes the log and disables it.
void nlsLogClose(NlsLogFile* log);

// Writes "DATE TIME text" to the error log, with a newline after a text
// that does not end with one, under the repository's lock.  A text longer
// than the log is written whole.  The count
// written; 621 when the write failed (also when only the flush or the
// header's update failed), with the error number kept in
// nlsErrorLog.lastError; 109 without a text or a lock; 0 when the error
// log is not enabled.
int errorLogWrite(const char* text);
// Copies an issued text to the echo log: the date and time go in front
// only at the start of a line.  Nothing while message 11025 heads the
// primary cache.  A failed write keeps its error number in
// nlsEchoLog.lastError.  0.
int echoLogWrite(const char* text);
// The trace facility's error sink (traceSetErrorSink): the report to the
// error log, an engine's report after the text of message 361.
int nlsErrorLogSink(const char* text, int engine);
