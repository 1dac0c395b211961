// The two commands of the main window, without the window: one check of the server's
// time, or one adjustment of the PC clock, with the texts the window shows and the
// history records. The time service makes its adjustments through the same one.
// Each runs exactly one query through the engine.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "engine/protocol.h"
#include "framework/cstring.h"

// Asked before an adjustment moves the clock further than the limit allows: true to
// set it anyway. The seconds are the correction (positive: the clock goes forward).
using FarCorrectionQuestion = std::function<bool(double seconds)>;

// What a command asks: the server, the protocol, the time-out in seconds, the beep on
// failure, and the SNTP reference-time test; the servers asked after it when it fails
// for a reason of its own, the SNTP samples, and the longest correction.
struct ServerQuery {
    CString server;
    Protocol protocol = kProtocolTime;
    int timeOut = 3;
    int beep = 0;
    int referenceCheck = 1;
    int referenceHours = 24;
    std::vector<CString> fallbackServers;  // in the order they are asked
    int samples = 1;                       // SNTP requests of one query, 1 to 8
    int maxCorrectionHours = 0;            // 0: any correction is made
    bool nts = false;                      // SNTP authenticated by NTS (every server)
    // An adjustment beyond the limit is made only when this answers true; without it
    // (an unattended run) it is not made at all.
    FarCorrectionQuestion askFarCorrection;
};

struct CommandOutcome {
    int success = 0;
    CString server;          // the server that answered, or the last one asked
    CString serverTimeText;  // the server's time; empty when none came
    CString pcTimeText;      // the PC's time, taken after the exchange
    CString statusText;      // "OK" or "ERROR (...)"
    CString errorText;       // SNTP: the engine's error text; TIME, DAYTIME: the error code
    bool authenticated = false;  // the query ran with NTS ("NTS" in the history)
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

// The status of an adjustment not made because it would move the clock further than
// the limit; the error text is the correction in seconds, signed.
constexpr char kTooFar[] = "ERROR (too-far)";

// Whether a failed query failed for a reason that is the server's (no such name, no
// connection, no reply in time, a refused reply, a kiss-o'-death or a reply that fails
// its tests), so that the next server may be asked; the user's cancel, a stopped
// service, a failure of this PC's own and a refused clock are not.
bool ServerAtFault(const CString& statusText);

// The longest a command may take: every server's countdown, one after another.
int LongestCommandSeconds(const ServerQuery& query);

// Whether a correction of seconds is beyond the query's limit.
bool BeyondLimit(const ServerQuery& query, double seconds);

// Without a server name neither asks anybody: the outcome is "ERROR (HostNotFound)".
// Otherwise the server, then each fallback server in turn while the one before failed
// for a reason of its own; the outcome is the last one asked, and names it. An
// adjustment beyond the query's limit is made only when askFarCorrection agrees.
CommandOutcome CheckServerTime(const ServerQuery& query);
CommandOutcome AdjustPcClock(const ServerQuery& query);
