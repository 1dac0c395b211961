// SYSTEMTIME values written out field by field in tests.
#pragma once

#include "framework/win_types.h"

inline SYSTEMTIME MakeSystemTime(int year, int month, int dayOfWeek, int day, int hour, int minute,
                                 int second, int milliseconds) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDayOfWeek = static_cast<WORD>(dayOfWeek);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    t.wMilliseconds = static_cast<WORD>(milliseconds);
    return t;
}
