// Process-wide state that start-up fixes and the rest of the program reads.
#pragma once

#include "framework/cstring.h"

// Trace switches, cleared at start. Only the packet trace exists.
extern unsigned short traceFlags;
constexpr unsigned short kTracePackets = 0x8000;

// Full path of the profile file; the log files are named after it.
const CString& AppProfilePath();
void SetAppProfilePath(const CString& path);
