// The Windows clock: the real Win32 calls.
#include "framework/clock.h"

namespace {
class Win32Clock : public IClock {
  public:
    void GetSystemTimeAsFileTime(FILETIME* now) override { ::GetSystemTimeAsFileTime(now); }
    void GetLocalTime(SYSTEMTIME* now) override { ::GetLocalTime(now); }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override { return ::SetSystemTime(utc); }
    BOOL SetLocalTime(const SYSTEMTIME* local) override { return ::SetLocalTime(local); }
};
}  // namespace

IClock& PlatformClock() {
    static Win32Clock clock;
    return clock;
}
