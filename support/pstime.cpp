// Local date and time helpers (see pstime.h).

#include "pstime.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"

char psDateFormat[psDateTextSize] = "%m/%d/%Y";
char psTimeFormat[psDateTextSize] = "%H:%M:%S";

namespace {

int yearOf(const DateTime7* dt) { return dt->yearHigh << 8 | dt->yearLow; }

std::tm brokenDown(const DateTime7* dt) {
    std::tm tm{};
    tm.tm_sec = dt->second;
    tm.tm_min = dt->minute;
    tm.tm_hour = dt->hour;
    tm.tm_mday = dt->day;
    tm.tm_mon = dt->month - 1;
    tm.tm_year = yearOf(dt) - 1900;
    tm.tm_isdst = 1;
    return tm;
}

void replaceAll(std::string* s, const char* what, const std::string& with) {
    for (size_t at = s->find(what); at != std::string::npos; at = s->find(what, at + with.size())) {
        s->replace(at, std::strlen(what), with);
    }
}

std::string twoDigits(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02u", v % 100);
    return buf;
}

// strftime into `out`; the fallback when it produces nothing.
void formatOne(const DateTime7* dt, const char* fmt, bool inRange, char out[psDateTextSize]) {
    out[0] = '\0';
    if (inRange) {
        const std::tm tm = brokenDown(dt);
        if (std::strftime(out, psDateTextSize, fmt, &tm) != 0 || fmt[0] == '\0') return;
    }
    psFallbackFormat(dt, fmt, out, psDateTextSize);
}

}  // namespace

void psPackTime(int64_t t, DateTime7* dt) {
    std::tm tm{};
    if (!plat::localTime(t, &tm)) plat::localTime(psFallbackMoment, &tm);
    const int year = 1900 + tm.tm_year;
    dt->yearHigh = static_cast<uint8_t>(year >> 8);
    dt->yearLow = static_cast<uint8_t>(year);
    dt->month = static_cast<uint8_t>(tm.tm_mon + 1);
    dt->day = static_cast<uint8_t>(tm.tm_mday);
    dt->hour = static_cast<uint8_t>(tm.tm_hour);
    dt->minute = static_cast<uint8_t>(tm.tm_min);
    dt->second = static_cast<uint8_t>(tm.tm_sec);
}

void psNow(DateTime7* dt) {
    unsigned long msTimes1000;
    psNowMs(dt, &msTimes1000);
}

void psNowMs(DateTime7* dt, unsigned long* msTimes1000) {
    int64_t seconds;
    unsigned ms;
    plat::wallClockNow(&seconds, &ms);
    psPackTime(seconds, dt);
    *msTimes1000 = static_cast<unsigned long>(ms) * 1000;
}

void psDateText(const DateTime7* dt, char out[psDateTextSize]) {
    const int year = yearOf(dt);
    const bool inRange = year <= 9999 && dt->month >= 1 && dt->month <= 12 && dt->day >= 1 && dt->day <= 31;
    formatOne(dt, psDateFormat, inRange, out);
    if (std::strlen(out) < 9) std::strcat(out, "  ");
}

void psTimeText(const DateTime7* dt, char out[psDateTextSize]) {
    const bool inRange = dt->second < 60 && dt->minute < 60 && dt->hour < 24;
    formatOne(dt, psTimeFormat, inRange, out);
}

size_t psFallbackFormat(const DateTime7* dt, const char* fmt, char* out, size_t cap) {
    std::string s = fmt;
    char year[8];
    std::snprintf(year, sizeof year, "%04u", static_cast<unsigned>(yearOf(dt) % 10000));
    replaceAll(&s, "%Y", year);
    replaceAll(&s, "%y", twoDigits(static_cast<unsigned>(yearOf(dt) % 100)));
    replaceAll(&s, "%m", twoDigits(dt->month));
    replaceAll(&s, "%d", twoDigits(dt->day));
    replaceAll(&s, "%H", twoDigits(dt->hour % 24));
    const unsigned h12 = dt->hour % 12 == 0 ? 12 : dt->hour % 12;
    replaceAll(&s, "%I", twoDigits(h12));
    replaceAll(&s, "%p", dt->hour < 12 ? "A.M." : "P.M.");
    replaceAll(&s, "%M", twoDigits(dt->minute));
    replaceAll(&s, "%S", twoDigits(dt->second));
    if (cap == 0) return 0;
    const size_t n = s.size() < cap ? s.size() : cap - 1;
    std::memcpy(out, s.data(), n);
    out[n] = '\0';
    return n;
}
