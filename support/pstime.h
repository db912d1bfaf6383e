// Local date and time as a packed record, and its texts for trace lines.
#pragma once

#include <cstddef>
#include <cstdint>

// Packed local date and time: year (high byte first), month 1-12, day of
// month, hour, minute, second.
struct DateTime7 {
    uint8_t yearHigh;
    uint8_t yearLow;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
};
static_assert(sizeof(DateTime7) == 7, "seven bytes, no padding");

// Room for a date or time text and its terminator.
constexpr size_t psDateTextSize = 16;

// The date and time formats (strftime) of the texts; at most 15
// characters each.
extern char psDateFormat[psDateTextSize];
extern char psTimeFormat[psDateTextSize];

// Moment used when the run-time cannot convert the clock to local time.
constexpr int64_t psFallbackMoment = 172800;

// The current local date and time.  psNowMs also gives the milliseconds
// of the current second multiplied by 1000, that is in microseconds but
// counted in whole milliseconds: 0, 1000, ... 999000.
void psNow(DateTime7* dt);
void psNowMs(DateTime7* dt, unsigned long* msTimes1000);
// Packs the local time of moment `t` (seconds since the epoch), or of
// psFallbackMoment when `t` cannot be converted.
void psPackTime(int64_t t, DateTime7* dt);

// The date text (psDateFormat; two blanks appended when shorter than 9
// characters) and the time text (psTimeFormat) of `dt`.  A date or time
// the run-time would not format goes to psFallbackFormat.
void psDateText(const DateTime7* dt, char out[psDateTextSize]);
void psTimeText(const DateTime7* dt, char out[psDateTextSize]);

// Replaces %Y, %y, %m, %d, %H, %I, %p, %M and %S in `fmt` (in that order)
// with the fields of `dt`, each number modulo 100 in two digits (the year
// modulo 10000 in four); writes at most cap - 1 bytes and returns the
// length written.
size_t psFallbackFormat(const DateTime7* dt, const char* fmt, char* out, size_t cap);
