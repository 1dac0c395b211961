#include "app/start_up.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/app_state.h"

namespace {
// The names differ between the Microsoft runtime and POSIX.
#ifdef _WIN32
int RuntimeDaylight() { return _daylight; }
long RuntimeTimezone() { return _timezone; }
const char* RuntimeZoneName(int which) { return _tzname[which]; }
int PutTz() { return _putenv("TZ=JST-9"); }
void RecomputeZone() { _tzset(); }
void ZeroDaylight() { _daylight = 0; }
#else
int RuntimeDaylight() { return daylight; }
long RuntimeTimezone() { return timezone; }
const char* RuntimeZoneName(int which) { return tzname[which]; }
int PutTz() { return setenv("TZ", "JST-9", 1); }
void RecomputeZone() { tzset(); }
void ZeroDaylight() { daylight = 0; }
#endif
}  // namespace

unsigned short ScanCommandLine(const char* commandLine) {
    traceFlags = 0;
    if (commandLine && std::strstr(commandLine, "/Dsntp")) traceFlags |= kTracePackets;
    return traceFlags;
}

std::wstring MakeProfilePath(const std::wstring& modulePath) {
    const std::size_t kept = modulePath.size() > 3 ? modulePath.size() - 3 : 0;
    return modulePath.substr(0, kept) + L"INI";
}

CString TimeZoneRecord() {
    const char* standard = RuntimeZoneName(0);
    const char* summer = RuntimeZoneName(1);
    const char* tz = std::getenv("TZ");
    CString record;
    record.Format("%d,%ld,%s,%s,%s", RuntimeDaylight(), RuntimeTimezone() / 3600,
                  standard ? standard : "", summer ? summer : "", tz ? tz : "");
    return record;
}

bool FixTimeZoneAtJst() {
    bool put = PutTz() == 0;
    RecomputeZone();
    return put;
}

void ClearDaylightFlag() { ZeroDaylight(); }

InstanceStart DecideInstanceStart(bool gotHandle, unsigned long lastError, bool startedByOffer) {
    const bool anotherThere =
        gotHandle ? lastError == kErrorAlreadyExists : lastError == kErrorAccessDenied;
    // Any other failure leaves nothing to tell a copy by: run, unguarded, rather than
    // not at all.
    if (!anotherThere) return InstanceStart::kRun;
    return startedByOffer ? InstanceStart::kWaitForHandOver : InstanceStart::kRefuse;
}
