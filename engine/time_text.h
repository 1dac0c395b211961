// TIME and DAYTIME results, and the time texts that the check and adjust operations
// show and read back. Every text has the layout day name, month name, day, time,
// year, as in Sun Jan 06 12:34:56 2002.
#pragma once

#include <cstdint>

#include "engine/protocol.h"
#include "framework/cstring.h"
#include "framework/win_types.h"

// One TIME or DAYTIME query (kProtocolTime or kProtocolDaytime). 1 with statusText
// "OK" and the server's time text; 0 with statusText "ERROR (...)" and the places as
// the failure leaves them. A DAYTIME text is the reply's first line without its line
// end. A TIME answer also leaves the instant the server sent, in seconds since 1970
// UTC, in *serverSeconds (when given); DAYTIME leaves it alone, its text having no
// zone.
int QueryTimeOrDaytime(Protocol protocol, const CString& server, int timeout, int beep,
                       CString& serverTimeText, CString& statusText, int& errorCode,
                       std::uint32_t* serverSeconds = nullptr);

// Seconds since 1970 as C runtime local time: "%a %b %d %H:%M:%S %Y".
CString FormatServerTime(long long seconds);

// The PC's local time (Windows time zone, through the clock seam) in the same layout.
CString FormatPcLocalTime();

// The offset of the PC's time zone east of UTC in seconds, as the clock seam's local
// and UTC readings differ, to the nearest quarter of an hour.
int PcZoneOffsetSeconds();

// Reads a text in the shared layout; fields that are missing or not numbers give 0.
int ParseTimeText(const CString& text, SYSTEMTIME* out);

// 1 to 12 for "Jan" to "Dec" (exactly, case-sensitive), 0 for anything else.
int MonthFromName(const char* text);
