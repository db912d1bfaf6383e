// The trace output: opening and closing it, keeping a trace file within
// its maximum size by wrapping it or by moving through a ring of segment
// files, and writing text without a line prefix.  Also the two routines
// that keep a wrapping log file within its size.  The file layouts are in
// tracefile.h.
#pragma once

#include <cstdint>
#include <cstdio>

#include "printf_like.h"

// Results of traceOpen.
constexpr int traceErrInvalidName = -1;
constexpr int traceErrOpen = 426;

// Sets the name of the trace output: STDOUT, STDERR or CONSOLE (any letter
// case), or a file name, which is qualified with the current directory
// when it has no directory part.  A name that begins with a quote is taken
// as a quoted token.  Once a base file name is set, only the three special
// names replace it.  0, or traceErrInvalidName ("Invalid trace file name"
// on standard output).
int traceSetFileName(const char* name);
// Opens the trace output named `name` (see traceSetFileName); with
// `announce`, the first open traces the file name, the maximum size and
// the time it began.  0 (also when an output is open already),
// traceErrInvalidName, or traceErrOpen.
int traceOpen(const char* name, int announce);
// Closes the trace output; with resetToo, tracing is reset first.
void traceClose(int resetToo);
// Records the stream's position as the next-write offset in the header.
void traceSaveNextWrite(FILE* stream);
// Before `length` bytes are written to a wrapping file: wraps the file (or
// moves to the next segment) when they would not fit, and positions the
// stream at the next-write offset.
void traceCheckWrap(int length);
// Writes text without a prefix: the write result, negative after a failure
// (which switches tracing off), 0 when nothing was written.
int traceWriteRaw(const char* text);
void traceRawPrintf(const char* fmt, ...) JBB_PRINTF_LIKE(1, 2);

// One wrapping log file.
struct LogFileCtl {
    uint32_t maxBytes = 0;     // the file's maximum size
    uint32_t wrapEnabled = 0;  // nonzero: the file wraps
    int64_t nextWrite = 0;     // where the next record goes
    FILE* stream = nullptr;
};

// The log files' end-of-data and wrap markers (empty until a log is set up).
extern char logEndOfDataMarker[128];
extern char logWrapMarker[128];

// Before a record of `length` bytes: wraps the log file when the record
// would not fit, and positions it at the next-write offset.
void utMakeRoom(LogFileCtl* log, int length);
// After a record: records the next-write offset in the header and writes
// the end-of-data marker.
void utSetNextWrite(LogFileCtl* log);
