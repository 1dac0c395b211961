// How the Windows clock reads UTC. GetSystemTimeAsFileTime gives the time of the last
// clock tick (every 15.6 ms by default); GetSystemTimePreciseAsFileTime, which kernel32
// has since Windows 8, resolves below a microsecond. The program takes the precise one
// where it is there, and the tick whenever the two disagree: a misconfigured precise
// clock is never trusted over the tick.
#pragma once

#include "framework/win_types.h"

using FileTimeReader = VOID(WINAPI*)(LPFILETIME);
// GetProcAddress on kernel32, as the clock looks its function up.
using Kernel32Lookup = FARPROC (*)(const char* name);

// The precise reader that kernel32 offers, or null where it has none.
FileTimeReader LookUpPreciseClock(Kernel32Lookup lookup);

// The time now: the precise reading when there is a precise reader and its reading is
// within 100 ms of the tick's, the tick's otherwise.
void ReadClockWith(FileTimeReader precise, FileTimeReader tick, FILETIME* now);

// The name of the function that the platform clock reads with.
const char* PlatformClockFunction();
