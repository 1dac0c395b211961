// The clock of the native build. It reads the host clock and never sets it: the
// native build exists for tests and tools, and no code in it may touch the clock.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "framework/clock.h"

namespace {

class PosixClock : public IClock {
  public:
    void GetSystemTimeAsFileTime(FILETIME* now) override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        std::uint64_t ticks = static_cast<std::uint64_t>(
            kFileTime1970 + static_cast<std::int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100);
        now->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
        now->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
    void GetLocalTime(SYSTEMTIME* now) override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        time_t seconds = ts.tv_sec;
        tm local{};
        localtime_r(&seconds, &local);
        now->wYear = static_cast<WORD>(local.tm_year + 1900);
        now->wMonth = static_cast<WORD>(local.tm_mon + 1);
        now->wDayOfWeek = static_cast<WORD>(local.tm_wday);
        now->wDay = static_cast<WORD>(local.tm_mday);
        now->wHour = static_cast<WORD>(local.tm_hour);
        now->wMinute = static_cast<WORD>(local.tm_min);
        now->wSecond = static_cast<WORD>(local.tm_sec);
        now->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
    }
    // Refused as Windows refuses a process without the right to set the time.
    BOOL SetSystemTime(const SYSTEMTIME*) override {
        errno = EPERM;
        return FALSE;
    }
    BOOL SetLocalTime(const SYSTEMTIME*) override {
        errno = EPERM;
        return FALSE;
    }
    DWORD LastSetError() const override { return kErrorPrivilegeNotHeld; }
};
}  // namespace

IClock& PlatformClock() {
    static PosixClock clock;
    return clock;
}
