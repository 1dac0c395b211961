// The texts of the status line and the running clock.
#pragma once

#include "engine/schedule.h"  // RetryCountText, shown beside these
#include "framework/cstring.h"

// "%i%s" of the retry interval with the unit letter ("s", "m",
// "h"; none for another unit), "%02i:%02i" of the daily adjustment time.
CString RetryIntervalText(int value, int unit);
CString AdjustAtText(int hour, int minute);

// The running clock's text of the time (seconds since 1970) in the C runtime's local
// time: format 0 the time ("%X"), 1 date and time ("%c"), both as the locale writes
// them, 2 "%a %b %d %H:%M:%S %Y"; any other format as 0.
CString ClockDisplayText(long long seconds, int format);
