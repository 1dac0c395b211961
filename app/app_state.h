// The trace switches that start-up reads from the command line.
#pragma once

// Trace switches, cleared at start. Only the packet trace exists.
extern unsigned short traceFlags;
constexpr unsigned short kTracePackets = 0x8000;
