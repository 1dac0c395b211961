#include "ui/elevation.h"

#include <cstring>

bool StartedByElevationOffer(const char* commandLine) {
    return commandLine && std::strstr(commandLine, kElevatedSwitch) != nullptr;
}

ElevationOffer OfferAfterAdjustment(const CommandOutcome& outcome, bool startedByOffer) {
    // Decided by the refusal and the switch, never by the token: a token may look
    // elevated and still lack the right, and the right may be held without it.
    if (!ClockRightMissing(outcome)) return ElevationOffer::kNone;
    return startedByOffer ? ElevationOffer::kRefusedAsAdmin : ElevationOffer::kRestart;
}
