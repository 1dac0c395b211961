// The two commands of the main window, without the window: one check of the server's
// time, or one adjustment of the PC clock, with the texts the window shows and the
// history records. The time service makes its adjustments through the same one.
// Each runs exactly one query through the engine.
#pragma once

#include <optional>

#include "engine/protocol.h"
#include "framework/cstring.h"

// What a command asks: the server, the protocol, the time-out in seconds, the beep on
// failure, and the SNTP reference-time test.
struct ServerQuery {
    CString server;
    Protocol protocol = kProtocolTime;
    int timeOut = 3;
    int beep = 0;
    int referenceCheck = 1;
    int referenceHours = 24;
};

struct CommandOutcome {
    int success = 0;
    CString serverTimeText;  // the server's time; empty when none came
    CString pcTimeText;      // the PC's time, taken after the exchange
    CString statusText;      // "OK" or "ERROR (...)"
    CString errorText;       // SNTP: the engine's error text; TIME, DAYTIME: the error code
    // SNTP and TIME: the PC's zone, in which pcTimeText is written, in seconds east of
    // UTC; the server's text shows an instant. DAYTIME's text has no zone: none.
    std::optional<int> pcZoneOffset;

    // The history record's detail: the status, and after a failure ":" and the error
    // text when there is one.
    CString HistoryDetail() const;
};

// Whether the clock refused the adjustment for want of the right to set it (1314):
// the refusal that the time service, or an instance started as administrator, can
// overcome.
bool ClockRightMissing(const CommandOutcome& outcome);

// Without a server name neither asks anybody: the outcome is "ERROR (HostNotFound)".
CommandOutcome CheckServerTime(const ServerQuery& query);
CommandOutcome AdjustPcClock(const ServerQuery& query);
