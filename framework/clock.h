// The clock seam: every read and every setting of the PC clock goes through the
// bound IClock. The program binds the platform clock; tests bind a fake that
// answers with chosen times and records what would have been set.
#pragma once

#include "framework/win_types.h"

class IClock {
  public:
    virtual ~IClock() = default;
    // The PC clock in UTC, as 100-nanosecond intervals since 1601-01-01.
    virtual void GetSystemTimeAsFileTime(FILETIME* now) = 0;
    // The PC clock in the Windows time zone.
    virtual void GetLocalTime(SYSTEMTIME* now) = 0;
    // Set the PC clock; FALSE when refused.
    virtual BOOL SetSystemTime(const SYSTEMTIME* utc) = 0;
    virtual BOOL SetLocalTime(const SYSTEMTIME* local) = 0;
    // The system's error code of the last refused setting (1314 without the right to
    // change the system time).
    virtual DWORD LastSetError() const = 0;
};

// Windows' code for a call that needs a right the process does not hold.
constexpr DWORD kErrorPrivilegeNotHeld = 1314;

// The clock in force: the context's, or the platform clock when it has none.
IClock& PcClock();

// FILETIME of 1970-01-01 00:00:00 UTC: 100-nanosecond intervals since 1601.
constexpr long long kFileTime1970 = 116444736000000000LL;
