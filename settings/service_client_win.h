// Asking the time service, from a user's program, to adjust the clock now: the main
// window after the clock refused it the right, and the service's adjust command.
#pragma once

#include "framework/win_types.h"
#include "settings/service_link.h"

enum class ServiceReply {
    kAnswered,   // *answer holds the service's result
    kNoService,  // no service is installed, or it cannot be started
    kNoAnswer,   // the service did not answer in time, or not in its form
};

// Sends the request and waits up to waitMs for the answer. A service that is installed
// but stopped (it stops after its adjustment when no daily time is set) is started
// first: its users may start it. Only the service's own process is believed: a pipe of
// that name served by any other process is no answer, and the service may only
// identify, never impersonate, the caller.
ServiceReply AskServiceToAdjust(DWORD waitMs, ServiceAnswer* answer);
