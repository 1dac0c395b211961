// The engine's entry points for the main window: check the server's time, or check
// and set the PC clock. Each runs exactly one query and returns 1 or 0; results go
// to the caller's places, and places an outcome does not name keep their contents.
#pragma once

#include "engine/protocol.h"
#include "framework/cstring.h"

// SNTP check. serverTimeText, pcTimeText and offset may be null.
int CheckSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
              CString* serverTimeText, CString* pcTimeText, double* offset, CString& statusText,
              CString& errorText);

// The status of an adjustment whose setting the clock refused; the clock's error code
// goes with it (errorText, errorCode).
constexpr char kClockRefused[] = "ERROR (localtime-set)";

// SNTP check, then the PC clock set in UTC by the measured offset, on a whole
// millisecond.
int AdjustSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
               CString& serverTimeText, CString& pcTimeText, CString& statusText,
               CString& errorText);

// TIME or DAYTIME check (kProtocolTime or kProtocolDaytime), then the PC clock set:
// in UTC to the instant a TIME server sent (whole seconds), or in local time from a
// DAYTIME server's text.
int AdjustTimeOrDaytime(Protocol protocol, const CString& server, int timeout, int beep,
                        CString& serverTimeText, CString& pcTimeText, CString& statusText,
                        int& errorCode);
