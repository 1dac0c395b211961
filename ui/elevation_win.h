// The offer to start this program again as administrator, on Windows.
#pragma once

#include "ui/elevation.h"

// Starts this program again through the elevation prompt ("runas"), with its own
// arguments and kElevatedSwitch; true once the new instance has started, false when
// the user refused the prompt or it could not start.
bool StartElevated();

// After an adjustment that the user asked for: asks whether to start again as
// administrator, or says that even so the clock refused, as OfferAfterAdjustment
// decides. True when a new instance has started, which this one must make way for; a
// refused prompt leaves this one as it was.
bool OfferElevation(const CommandOutcome& outcome, bool startedByOffer);
