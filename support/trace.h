// Trace points and error reports.  Each component traces under a trace
// class whose flag byte is tested at the trace point; with the flag at 0 a
// trace point does nothing.  Error reports are handed to the error sink
// (the error log) as well.  No entry point changes the caller's errno.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "printf_like.h"
#include "psthread.h"
#include "traceclasses.h"

struct TraceLocation {
    const char* file;  // source file name with extension
    uint32_t line;
};

// Keeps tracePlusErrPrintf away from the error log when set.
extern uint8_t errorLogSuppressed;

// Size of a message buffer, of the wide message buffer, and the most bytes
// a wide message adds to a line.
constexpr size_t traceMessageBytes = 25854;
constexpr size_t traceWideMessageUnits = 25856;
constexpr size_t traceWideMessageBytes = 17918;
// Longest line prefix (time stamp, process id, thread tag, client tag).
constexpr size_t tracePrefixBytes = 127;
constexpr size_t traceNameBytes = 8448;

// Output callback: op 0 (text null) asks whether CONSOLE output may go to
// the callback (0 = yes), op 1 hands one trace text, op 2 (text null)
// says the output is closed.
using TraceOutputCallback = int (*)(int op, const char* text, void* context);
enum : int { traceOpConsole = 0, traceOpWrite = 1, traceOpClose = 2 };
// Thread tag provider: writes the thread tag into `tag` and may write a
// whole line to be output before the current one into `pendingLine`
// (both traceThreadTagBytes).
constexpr size_t traceThreadTagBytes = 128;
using TraceThreadTagProvider = void (*)(char* pendingLine, char* tag);

// The process's trace settings and output.
struct TraceControl {
    FILE* stream = nullptr;                  // open trace output, null = none
    int64_t startOfData = 0;                 // offset just after a wrapping file's header
    int64_t nextWrite = 0;                   // where the next line goes in a wrapping file
    psMutex controlMutex;                    // guards opening, closing and resetting
    int32_t clientType = 0;                  // 0 to 12 selects the client tag
    uint32_t wrapEnabled = 0;                // the trace file wraps at maxSizeMB
    uint32_t consoleOutput = 0;              // output to stdout/stderr allowed; open failures reported
    char baseFileName[traceNameBytes] = {};  // as configured, without segment suffix
    char fileName[traceNameBytes] = {};      // as opened, or STDOUT, STDERR, CONSOLE
    uint32_t maxSizeMB = 0;
    uint32_t timestampsRequested = 0;  // opening switches TIMESTAMP and PREFIX on
    uint32_t segmentSizeMB = 0;
    uint32_t segmentCount = 0;    // 0 or 1: a single file
    uint32_t currentSegment = 1;  // 1-based
    uint32_t previousSegment = 0;
    uint32_t lastSegmentSizeMB = 0;
    uint32_t switchingSegment = 0;  // set while moving to the next segment
    uint32_t enabled = 0;           // trace output may be produced
    uint32_t callbackMode = 0;      // lines go to outputCallback
    TraceOutputCallback outputCallback = nullptr;
    void* callbackContext = nullptr;
    TraceThreadTagProvider threadTagProvider = nullptr;  // used under TID
    uint32_t begun = 0;                                  // a trace has been opened before
};

// The installed control block; null until traceInstallControl().
extern TraceControl* traceControl;
// Serialises the writes to a wrapping trace file.
extern psMutex traceFileMutex;

// Installs the process's control block (once; later calls return the same
// block) and creates its mutexes.
TraceControl* traceInstallControl();

void tracePoint(const TraceLocation* loc, uint8_t classFlag, const char* fmt, ...) JBB_PRINTF_LIKE(3, 4);
// Wide format: %s takes a UTF-16 string (char16_t*), %c a char16_t.
void tracePointW(const TraceLocation* loc, uint8_t classFlag, const char16_t* fmt, ...);

int tracePrintf(const char* file, uint32_t line, const char* fmt, ...) JBB_PRINTF_LIKE(3, 4);
int traceVPrintf(const char* file, uint32_t line, const char* fmt, va_list ap);
int traceVPrintfW(const char* file, uint32_t line, const char16_t* fmt, va_list ap);
int traceErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...) JBB_PRINTF_LIKE(4, 5);
int tracePlusErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...) JBB_PRINTF_LIKE(4, 5);
int traceIsActive();
// Writes one formatted message as a line: prefix and message to the
// output.  Returns the write result (negative after a failure, which
// switches tracing off), or 0 when nothing was written.
int traceEmitLine(const char* message);
// Switches tracing off: every class but ERROR to 0, settings cleared;
// with closeToo the output is closed as well.
void traceReset(int closeToo);

// The receiver of error reports besides the trace: the error log, whose
// writer the message repository installs when it opens one (null: none).
// `engine` is nonzero for the engine's reports (tracePlusErrPrintf), which
// the error log puts after the text of message 361.  Returns what the
// error log's writer returns.
using TraceErrorSink = int (*)(const char* text, int engine);
void traceSetErrorSink(TraceErrorSink sink);
// Hands an error report to the installed receiver; 0 without one.
int traceErrorToSink(const char* text, int engine);
