// The engine's entry points for the main window: check the server's time, or check
// and set the PC clock. Each runs exactly one query and returns 1 or 0; results go
// to the caller's places, and places an outcome does not name keep their contents.
#pragma once

#include <cstdint>

#include "engine/protocol.h"
#include "framework/cstring.h"

// SNTP check of samples requests (1 to 8; see RunQuery). serverTimeText, pcTimeText and
// offset may be null.
int CheckSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
              CString* serverTimeText, CString* pcTimeText, double* offset, CString& statusText,
              CString& errorText, int samples = 1, bool nts = false);

// The status of an adjustment whose setting the clock refused; the clock's error code
// goes with it (errorText, errorCode).
constexpr char kClockRefused[] = "ERROR (localtime-set)";

// SNTP check, then the PC clock set in UTC by the measured offset, on a whole
// millisecond.
int AdjustSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
               CString& serverTimeText, CString& pcTimeText, CString& statusText,
               CString& errorText);

// The second half of AdjustSntp: the PC clock set in UTC by offset, on a whole
// millisecond. 1 with the new time's text; 0 with kClockRefused and the error code.
int SetClockByOffset(double offset, CString& serverTimeText, CString& statusText,
                     CString& errorText);

// The seconds by which a TIME answer (an instant, serverSeconds) or a DAYTIME text
// (the PC's own local time, as it is set) would move the PC clock; 0 for a text that
// does not read as a time, which the clock then refuses as before.
double TimeOrDaytimeCorrection(Protocol protocol, std::uint32_t serverSeconds,
                               const CString& serverTimeText);

// The second half of AdjustTimeOrDaytime: the clock set to the answer. 1 with "OK",
// 0 with kClockRefused and the clock's error code.
int SetClockToTimeOrDaytime(Protocol protocol, std::uint32_t serverSeconds,
                            const CString& serverTimeText, CString& statusText, int& errorCode);

// TIME or DAYTIME check (kProtocolTime or kProtocolDaytime), then the PC clock set:
// in UTC to the instant a TIME server sent (whole seconds), or in local time from a
// DAYTIME server's text.
int AdjustTimeOrDaytime(Protocol protocol, const CString& server, int timeout, int beep,
                        CString& serverTimeText, CString& pcTimeText, CString& statusText,
                        int& errorCode);
