#include "framework/crt_time.h"

#include <cstring>

bool UtcTm(long long seconds, std::tm* out) {
#ifdef _WIN32
    __time64_t t = seconds;
    bool ok = _gmtime64_s(out, &t) == 0;
#else
    time_t t = static_cast<time_t>(seconds);
    bool ok = gmtime_r(&t, out) != nullptr;
#endif
    if (!ok) std::memset(out, 0, sizeof *out);
    return ok;
}

bool LocalTm(long long seconds, std::tm* out) {
#ifdef _WIN32
    __time64_t t = seconds;
    bool ok = _localtime64_s(out, &t) == 0;
#else
    time_t t = static_cast<time_t>(seconds);
    bool ok = localtime_r(&t, out) != nullptr;
#endif
    if (!ok) std::memset(out, 0, sizeof *out);
    return ok;
}

long long LocalMktime(std::tm* when) {
#ifdef _WIN32
    long long seconds = _mktime64(when);
#else
    // The last second that _mktime64 accepts, 3000-12-31 23:59:59 UTC, and its last
    // year. It also checks the local year, which matters east of UTC (as here, at
    // UTC+9) in the first hours of 3001.
    constexpr long long kLastSecond = 32535215999LL;
    constexpr int kLastYear = 3000 - 1900;
    long long seconds = static_cast<long long>(std::mktime(when));
    if (seconds > kLastSecond || when->tm_year > kLastYear) seconds = -1;
#endif
    // Before 1970 glibc answers with a negative count where Windows fails.
    return seconds < 0 ? -1 : seconds;
}

CString FormatTm(const char* format, const std::tm& when) {
    char text[256];
    size_t length = std::strftime(text, sizeof text, format, &when);
    return CString(text, static_cast<int>(length));
}

CString CTime::Format(const char* format) const {
    std::tm local{};
    if (!LocalTm(m_time, &local)) return CString();
    return FormatTm(format, local);
}

long long DaysSince1970(long long year, int month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

long long SecondsSince1970(long long year, int month, long long day, long long hour,
                           long long minute, long long second) {
    return DaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}
