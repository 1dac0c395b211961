// The settings of section Property of the profile, read and normalised. Reading is a
// pure function of the profile's values, so that the main window and the settings
// editor read the same file the same way: the main window keeps the result as its
// settings and shows it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/commands.h"
#include "engine/protocol.h"
#include "framework/cstring.h"

// The values of section Property as the platform's profile functions give them, or
// the same keys as another source holds them (policy, the service's parameters).
class ProfileSource {
  public:
    virtual ~ProfileSource() = default;
    // The value's text; empty when the key (or the file) is missing.
    virtual CString Text(const char* key) const = 0;
    // The private-profile integer conversion of the value; defaultValue when the key
    // is missing.
    virtual int Int(const char* key, int defaultValue) const = 0;
    // Whether the source holds the key. The profile's functions cannot tell a missing
    // key from an empty value, so by default an empty value is none.
    virtual bool Has(const char* key) const { return !Text(key).IsEmpty(); }
};

struct ProfileSettings {
    CString server;                   // DefaultServer
    Protocol protocol = kProtocolTime;  // protocol, by its name
    int referenceCheck = 1;           // ServerReferenceTime: check flag
    int referenceHours = 24;          //   and hours, 1 to 24
    int clockDisplay = 0;             // CurrentTimeDisplay: flag,
    int clockFormat = 0;              //   format 0 to 2,
    int clockTarget = 0;              //   target 0 (PC-time field) or 1 (title)
    int logFile = 0;                  // the on/off settings: 1 or 0
    int beep = 0;
    int autoAdjust = 0;
    int autoTerminate = 0;
    int iconicStart = 0;
    int indicatorLine = 0;
    int timeOut = 3;                  // seconds, as stored
    CString timeOutText = "3s";       // "%is" of it
    int windowPos = 0;                // WindowPos: the restore flag only
    int errorRetry = 0;               // ErrorRetry: flag,
    int retryCount = 0;               //   count,
    int retryValue = 0;               //   interval value
    int retryUnit = 0;                //   and unit (1 minutes, 2 hours, else seconds)
    std::uint32_t retryInterval = 0;  //   interval in milliseconds
    int adjustAt = 0;                 // AdjustAt: flag,
    int adjustHour = 0;               //   hour 0 to 23
    int adjustMinute = 0;             //   and minute 0 to 59
    CString fallbackServers;          // FallbackServers: names or addresses, by commas
    int samples = 1;                  // Samples: SNTP requests a query, 1 to 8
    int maxCorrection = 0;            // MaxCorrection: hours, 0 for no limit
    int nts = 0;                      // nts: SNTP authenticated by NTS, 1 or 0
};

// Reads every key of section Property. ServerReferenceTime's and WindowPos's numbers
// that the scan does not reach keep their values in kept (the settings before this
// read); every other value comes from the profile or its default.
ProfileSettings ReadProfileSettings(const ProfileSource& profile, const ProfileSettings& kept);

// What a check or an adjustment asks of the server under these settings: the window's
// commands and the time service's adjustments alike. Of the fallback servers, the
// first kMostFallbackServers names are asked. NTS authenticates SNTP only: TIME and
// DAYTIME are asked as ever whatever nts says.
ServerQuery QueryOf(const ProfileSettings& settings);

// The protocol as the main window names it: "NTS" for SNTP with nts on, otherwise the
// protocol's own name.
const char* ShownProtocolName(const ProfileSettings& settings);

// The most fallback servers that one query asks: with a time-out each, more would keep
// the user (or the service's caller) waiting for minutes.
constexpr int kMostFallbackServers = 8;
// The most SNTP requests of one query.
constexpr int kMostSamples = 8;
// The longest correction limit, a year in hours: anything above it reads as this, so
// that the limit in seconds stays far inside an int.
constexpr int kLongestMaxCorrection = 8760;

// The names of a FallbackServers list: split at the commas, the blanks around each
// name trimmed, the empty ones dropped; every name, however many.
std::vector<CString> FallbackServerNames(const CString& list);

// One value of section Property as the settings editor writes it.
struct ProfileEntry {
    const char* key;
    CString value;
};

// Every key that ReadProfileSettings reads except WindowPos (the main window's own),
// each written in plain decimal so that reading it back gives the same settings: no
// leading zeros, which the reader would take for octal ("8:5", never "08:05").
std::vector<ProfileEntry> ProfileEntries(const ProfileSettings& settings);

// WindowPos with its first number, the restore flag, set to flag (1 or 0): a saved
// place after it (three numbers or four, as the main window writes them) is kept as
// it stands; a value without one becomes the flag alone, which reads back the same.
CString WindowPosWithFlag(const CString& stored, int flag);

// The retry interval in milliseconds: value minutes for unit 1, hours for unit 2,
// seconds for any other unit. Computed in 64 bits and held to the longest period a
// window timer takes (0x7FFFFFFF ms, about 24.8 days); a negative product gives that
// longest period too, as the timer would take the wrapped number.
std::uint32_t RetryIntervalToMs(int value, int unit);
