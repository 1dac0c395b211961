// The Windows clock: the real Win32 calls.
#include "framework/clock.h"
#include "framework/clock_win.h"
#include "framework/system_dll_win.h"

namespace {

// The precise and the tick readings may differ by a tick and a little more; a
// difference beyond this is a precise clock gone wrong.
constexpr long long kMostDisagreement = 100LL * 10000;  // 100 ms in 100 ns units

long long Ticks(const FILETIME& time) {
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                                  time.dwLowDateTime);
}

FARPROC Kernel32Proc(const char* name) { return SystemFunction(L"kernel32.dll", name); }

// SetLocalTime converts with the daylight-saving state of the moment before the set;
// set again, it converts with the state of the new time.
BOOL SetLocalTimeTwice(const SYSTEMTIME* local) {
    return ::SetLocalTime(local) && ::SetLocalTime(local);
}

class Win32Clock : public IClock {
  public:
    Win32Clock() : m_precise(LookUpPreciseClock(&Kernel32Proc)) {}
    void GetSystemTimeAsFileTime(FILETIME* now) override {
        ReadClockWith(m_precise, &::GetSystemTimeAsFileTime, now);
    }
    void GetLocalTime(SYSTEMTIME* now) override { ::GetLocalTime(now); }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override { return Outcome(::SetSystemTime(utc)); }
    BOOL SetLocalTime(const SYSTEMTIME* local) override {
        return Outcome(SetLocalTimeTwice(local));
    }
    DWORD LastSetError() const override { return m_setError; }
    bool Precise() const { return m_precise != nullptr; }

  private:
    BOOL Outcome(BOOL set) {
        m_setError = set ? 0 : GetLastError();
        return set;
    }

    FileTimeReader m_precise;  // looked up once: the program still starts on Windows 7
    DWORD m_setError = 0;      // the clock is set on the user-interface thread only
};

Win32Clock& TheClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace

FileTimeReader LookUpPreciseClock(Kernel32Lookup lookup) {
    return FunctionAs<FileTimeReader>(lookup("GetSystemTimePreciseAsFileTime"));
}

void ReadClockWith(FileTimeReader precise, FileTimeReader tick, FILETIME* now) {
    if (precise) {
        FILETIME fine{}, coarse{};
        precise(&fine);
        tick(&coarse);
        const long long apart = Ticks(fine) - Ticks(coarse);
        if (apart <= kMostDisagreement && apart >= -kMostDisagreement) {
            *now = fine;
            return;
        }
    }
    tick(now);
}

const char* PlatformClockFunction() {
    return TheClock().Precise() ? "GetSystemTimePreciseAsFileTime" : "GetSystemTimeAsFileTime";
}

IClock& PlatformClock() { return TheClock(); }
