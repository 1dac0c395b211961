// How close the engine's SNTP adjustment sets the clock: AdjustSntp against a server
// whose clock runs ahead of this machine's by a known offset, with a clock seam that
// follows the real clock and records, instead of setting, the time it is given and
// the real time at that instant. The server's true time then was that real time plus
// the offset; the difference is the adjustment's error.
//
//   adjust_precision [--count N] [--timeout SECONDS] SERVER TRUE_OFFSET_SECONDS
//
// Prints one line per adjustment: the time set minus the server's true time, in
// seconds. The clock is set with millisecond resolution, so sub-millisecond errors are
// expected. A failed adjustment is told on standard error. Exits 1 when none succeeded.
// Portable: built natively and for Windows; nothing is ever set.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/check_adjust.h"
#include "framework/clock.h"
#include "framework/context.h"
#include "framework/crt_time.h"
#include "framework/cstring.h"
#include "framework/net_compat.h"

namespace {

constexpr int kMaxCount = 100000;
constexpr std::int64_t kMicrosecondsPerDay = 86400LL * 1000000;

std::int64_t RealMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The civil date of days since 1970-01-01 (proleptic Gregorian).
SYSTEMTIME SystemTimeOf(std::int64_t microseconds) {
    std::int64_t days = microseconds / kMicrosecondsPerDay;
    std::int64_t rest = microseconds % kMicrosecondsPerDay;
    if (rest < 0) {
        rest += kMicrosecondsPerDay;
        days -= 1;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
    t.wMonth = static_cast<WORD>(m);
    t.wDay = static_cast<WORD>(d);
    t.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    t.wHour = static_cast<WORD>(rest / 3600000000LL);
    t.wMinute = static_cast<WORD>(rest / 60000000LL % 60);
    t.wSecond = static_cast<WORD>(rest / 1000000 % 60);
    t.wMilliseconds = static_cast<WORD>(rest / 1000 % 1000);
    return t;
}

std::int64_t MicrosecondsOf(const SYSTEMTIME& t) {
    return SecondsSince1970(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond) * 1000000LL +
           t.wMilliseconds * 1000LL;
}

// The PC clock is the real clock; a setting is recorded with the real time it came at.
class RecordingClock : public IClock {
  public:
    void GetSystemTimeAsFileTime(FILETIME* now) override {
        const std::int64_t ticks = kFileTime1970 + RealMicroseconds() * 10;
        now->dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
        now->dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    }
    void GetLocalTime(SYSTEMTIME* now) override {
        *now = SystemTimeOf(RealMicroseconds() + 9LL * 3600 * 1000000);  // Japan's time
    }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override {
        realAtSet = RealMicroseconds();
        set = *utc;
        ++settings;
        return TRUE;
    }
    BOOL SetLocalTime(const SYSTEMTIME*) override { return FALSE; }
    DWORD LastSetError() const override { return 0; }

    std::int64_t realAtSet = 0;
    SYSTEMTIME set{};
    int settings = 0;
};

int Usage() {
    std::fprintf(stderr, "usage: adjust_precision [--count N] [--timeout SECONDS] SERVER "
                         "TRUE_OFFSET_SECONDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    int timeout = 3;
    const char* server = nullptr;
    const char* offsetText = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = std::atoi(argv[++i]);
        } else if (!server) {
            server = argv[i];
        } else if (!offsetText) {
            offsetText = argv[i];
        } else {
            return Usage();
        }
    }
    if (!server || !offsetText || count < 1 || count > kMaxCount || timeout < 1) return Usage();
    const std::int64_t trueOffset = std::llround(std::strtod(offsetText, nullptr) * 1e6);

#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
#endif
    RecordingClock clock;
    ScopedContext seams(CurrentContext().With(static_cast<IClock*>(&clock)));
    const CString serverName(server);
    int succeeded = 0;
    for (int i = 0; i < count; ++i) {
        CString serverTimeText;
        CString pcTimeText;
        CString statusText;
        CString errorText;
        const int before = clock.settings;
        if (!AdjustSntp(serverName, timeout, 0, 0, 0, serverTimeText, pcTimeText, statusText,
                        errorText) ||
            clock.settings == before) {
            std::fprintf(stderr, "adjust_precision: %s %s\n", statusText.GetString(),
                         errorText.GetString());
            continue;
        }
        ++succeeded;
        const std::int64_t error = MicrosecondsOf(clock.set) - (clock.realAtSet + trueOffset);
        std::printf("%.6f\n", static_cast<double>(error) / 1e6);
    }
    std::fflush(stdout);
#ifdef _WIN32
    WSACleanup();
#endif
    return succeeded > 0 ? 0 : 1;
}
