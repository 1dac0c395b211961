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
