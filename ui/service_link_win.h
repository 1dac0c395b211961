// The main window asks the time service to adjust the clock when the clock refused it
// the right. The window stays drawn and its clock runs while it waits, but takes no
// input, as under the countdown dialog of its own queries.
#pragma once

#include "framework/win_types.h"
#include "settings/service_client_win.h"

// AskServiceToAdjust on a thread of its own, dispatching the thread's messages until
// it ends; window (the main window) is disabled meanwhile.
ServiceReply AskServiceWhileWaiting(HWND window, DWORD waitMs, ServiceAnswer* answer);
