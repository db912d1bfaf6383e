// Trace points and error reports.  Each component traces under a trace
// class whose flag byte is tested at the trace point; with the flag at 0 a
// trace point does nothing.  Error reports are handed to the error log as
// well.  No entry point changes the caller's errno.
#pragma once

#include <cstdarg>
#include <cstdint>

struct TraceLocation {
    const char* file;  // source file name with extension
    uint32_t line;
};

// printf-style argument checks; gnu_printf makes mingw-w64's gcc check the
// C99 formats the run-time is given, which clang knows as plain printf.
#if defined(__clang__)
#define JBB_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define JBB_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#endif

// Class flag bytes, one process-wide variable per trace class; 0 = off.
extern uint8_t traceFlag_ERROR;
extern uint8_t traceFlag_GENERAL;
extern uint8_t traceFlag_MEMORY;
extern uint8_t traceFlag_PREFIX;
extern uint8_t traceFlag_BTREEDB;

// Keeps tracePlusErrPrintf away from the error log when set.
extern uint8_t errorLogSuppressed;

void tracePoint(const TraceLocation* loc, uint8_t classFlag, const char* fmt, ...)
    JBB_PRINTF_LIKE(3, 4);
// Wide format: %s takes a UTF-16 string (char16_t*), %c a char16_t.
void tracePointW(const TraceLocation* loc, uint8_t classFlag, const char16_t* fmt, ...);

int tracePrintf(const char* file, uint32_t line, const char* fmt, ...)
    JBB_PRINTF_LIKE(3, 4);
int traceVPrintf(const char* file, uint32_t line, const char* fmt, va_list ap);
int traceVPrintfW(const char* file, uint32_t line, const char16_t* fmt, va_list ap);
int traceErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...)
    JBB_PRINTF_LIKE(4, 5);
int tracePlusErrPrintf(const char* file, uint32_t line, uint8_t classFlag, const char* fmt, ...)
    JBB_PRINTF_LIKE(4, 5);
int traceIsActive();

// Writes one error report to the error log; returns what the log writer
// returned.  No error log is ever opened by these programs, so the text
// goes nowhere.
int errorLogWrite(const char* text);
