// The computations of start-up: the command-line switch, the profile file's path
// and the C runtime's time zone, which start-up fixes at UTC+9 without daylight
// saving for the whole process.
#pragma once

#include <string>

#include "framework/cstring.h"

// Sets traceFlags from the command line (the text after the program name) and
// returns it: the packet trace is on when "/Dsntp" stands anywhere in it.
unsigned short ScanCommandLine(const char* commandLine);

// The profile beside the executable: its full path with the last three characters
// replaced by "INI", whatever they are (D:\Tools\clock.exe gives D:\Tools\clock.INI).
std::wstring MakeProfilePath(const std::wstring& modulePath);

// The C runtime's time-zone state as start-up records it: daylight flag, offset in
// whole hours east-negative ("-9" for UTC+9), standard and daylight zone names, and
// the TZ variable (empty when it is not set).
CString TimeZoneRecord();

// Puts "TZ=JST-9" into the environment and recomputes the runtime's zone from it;
// false when the environment refused it (the zone is then recomputed all the same).
bool FixTimeZoneAtJst();

// Clears the runtime's daylight-saving flag.
void ClearDaylightFlag();
