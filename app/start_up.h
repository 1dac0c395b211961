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

// One copy per executable name, decided from what CreateMutexW gave for the name.
enum class InstanceStart {
    kRun,              // the mutex is this instance's (or none could be made: run as ever)
    kWaitForHandOver,  // wait for the instance that offered elevation to end
    kRefuse,           // another instance is there: say so and end
};

// Win32's last errors that the decision tells apart (winerror.h's values).
constexpr unsigned long kErrorAccessDenied = 5;     // ERROR_ACCESS_DENIED
constexpr unsigned long kErrorAlreadyExists = 183;  // ERROR_ALREADY_EXISTS

// How long an instance started by the elevation offer waits for the one that offered,
// and, when it may not even open that one's mutex, how often it tries again.
constexpr unsigned long kHandOverWaitMs = 10000;
constexpr unsigned long kHandOverRetryMs = 100;

// gotHandle: CreateMutexW returned a handle; lastError: GetLastError() right after;
// startedByOffer: the command line carries the elevation offer's switch. A mutex that
// another account's instance made cannot be opened at all (access denied): that
// instance is there all the same.
InstanceStart DecideInstanceStart(bool gotHandle, unsigned long lastError, bool startedByOffer);
