#include "ui/elevation.h"

#include <cstring>

#include "engine/check_adjust.h"
#include "framework/clock.h"

bool StartedByElevationOffer(const char* commandLine) {
    return commandLine && std::strstr(commandLine, kElevatedSwitch) != nullptr;
}

ElevationOffer OfferAfterAdjustment(const CommandOutcome& outcome, bool startedByOffer) {
    // Decided by the refusal and the switch, never by the token: a token may look
    // elevated and still lack the right, and the right may be held without it.
    CString rightMissing;
    rightMissing.Format("%lu", static_cast<unsigned long>(kErrorPrivilegeNotHeld));
    if (outcome.success || outcome.statusText != kClockRefused ||
        outcome.errorText != rightMissing) {
        return ElevationOffer::kNone;
    }
    return startedByOffer ? ElevationOffer::kRefusedAsAdmin : ElevationOffer::kRestart;
}
