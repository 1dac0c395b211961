// Setting the PC clock needs the right to change the system time, which Windows gives
// only to a program run as administrator. When an adjustment that the user asked for
// is refused for lack of it, the program offers to start itself again as
// administrator; the instance so started (it carries a switch of its own) adjusts at
// once, and never offers again: if it is refused too, a policy forbids the setting.
#pragma once

#include "engine/commands.h"

// Marks, on its command line, an instance that the offer started.
constexpr char kElevatedSwitch[] = "/Elevated";

// Whether the command line carries kElevatedSwitch.
bool StartedByElevationOffer(const char* commandLine);

enum class ElevationOffer {
    kNone,            // nothing to say: set, or refused for another reason
    kRestart,         // ask whether to start again as administrator
    kRefusedAsAdmin,  // say that the setting was refused even so
};

// What follows an adjustment that the user asked for (the Adjust button, or the
// adjustment an elevated instance makes at once).
ElevationOffer OfferAfterAdjustment(const CommandOutcome& outcome, bool startedByOffer);
