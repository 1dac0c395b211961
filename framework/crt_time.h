// Broken-down times from the C runtime with a 64-bit time on every platform, so
// that times after 2038 convert correctly. Local time follows the runtime's TZ
// (fixed at UTC+9 by start-up).
#pragma once

#include <ctime>

#include "framework/cstring.h"

// False (and a zeroed result) when the runtime cannot convert the time.
bool UtcTm(long long seconds, std::tm* out);
bool LocalTm(long long seconds, std::tm* out);

// The runtime's mktime with a 64-bit result: the broken-down local time (normalised in
// place) as seconds since 1970, or -1 when it lies outside 1970-01-01 00:00:00 UTC to
// the end of the year 3000. That is the Windows runtime's range; the native build keeps
// to it too, so that both builds give the same answer for the same text.
long long LocalMktime(std::tm* when);

// Days from 1970-01-01 to the given day (month 1 to 12) of the proleptic Gregorian
// calendar; the day of the month may lie outside the month, as mktime allows.
long long DaysSince1970(long long year, int month, long long day);

// Seconds from 1970-01-01 00:00:00 to the given date and time of day, read as UTC; the
// fields may lie outside their ranges, as mktime allows.
long long SecondsSince1970(long long year, int month, long long day, long long hour,
                           long long minute, long long second);

// strftime into a CString; empty when the result would not fit 255 bytes.
CString FormatTm(const char* format, const std::tm& when);

// A point in time as seconds since 1970 (64-bit), formatted in C runtime local time.
class CTime {
  public:
    explicit CTime(long long seconds) : m_time(seconds) {}
    long long GetTime() const { return m_time; }
    // strftime-style; empty when the runtime cannot convert the time.
    CString Format(const char* format) const;

  private:
    long long m_time;
};
