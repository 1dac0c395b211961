#include "service/time_service_win.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "engine/commands.h"
#include "engine/nts_client.h"
#include "framework/clock.h"
#include "framework/context.h"
#include "logging/history_log.h"
#include "service/adjust_channel_win.h"
#include "service/query_until_stopped_win.h"
#include "service/service_config.h"
#include "service/service_records_win.h"
#include "settings/registry_source_win.h"
#include "settings/setting_sources.h"

namespace {

constexpr int kModeAdjust = 1;
// How long the service stays once nothing is scheduled.
constexpr DWORD kLingerMs = 30000;
// The longest wait between looks at the schedule: a clock change, or a change of the
// zone's offset, is seen this soon.
constexpr DWORD kLongestWaitMs = static_cast<DWORD>(kLongestDailyWaitSeconds) * 1000;

// The one service of the process, for the callbacks of the service manager.
CTimeService* theService = nullptr;

DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID, LPVOID) {
    return theService ? theService->Control(control, eventType) : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    CTimeService service;
    theService = &service;
    service.Main();
    theService = nullptr;
}

// The NTS sessions of the process, bound for the service's queries. Never destroyed: a
// worker that a stop abandoned may still put its session back while the process ends.
// The cryptography's DLL is loaded at the first NTS query, not when the service starts.
CNtsClient& ServiceNtsClient() {
    static CNtsClient* const client = new CNtsClient(&LoadNtsBackendBesideProgram);
    return *client;
}

// The C runtime's local time is Japan's for every text the service writes, as in the
// main window; the Win32 clock calls keep the PC's own zone.
void FixRuntimeZoneAtJst() {
    _putenv("TZ=JST-9");
    _tzset();
    _daylight = 0;
}

// "YYYY/MM/DD HH:MM" of the local time seconds from now.
CString LocalTimeAfter(std::uint64_t milliseconds) {
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    FILETIME file{};
    if (!SystemTimeToFileTime(&now, &file)) return CString();
    ULARGE_INTEGER value{};
    value.LowPart = file.dwLowDateTime;
    value.HighPart = file.dwHighDateTime;
    value.QuadPart += milliseconds * 10000ULL;
    file.dwLowDateTime = value.LowPart;
    file.dwHighDateTime = value.HighPart;
    SYSTEMTIME then{};
    if (!FileTimeToSystemTime(&file, &then)) return CString();
    CString text;
    text.Format("%04u/%02u/%02u %02u:%02u", then.wYear, then.wMonth, then.wDay, then.wHour,
                then.wMinute);
    return text;
}

}  // namespace

bool RunTimeService() {
    wchar_t name[] = L"TavrinoService";
    SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) != FALSE;
}

ProfileSettings ReadServiceSettings() {
    return ReadMachineSettings(RegistrySource(kPolicyKey), RegistrySource(kServiceParametersKey));
}

CTimeService::CTimeService() : m_gate([] { return GetTickCount64(); }) {
    InitializeCriticalSection(&m_statusLock);
    ServiceAnswer last;
    std::uint64_t lastEnd = 0;
    if (m_state.Earlier(&last, &lastEnd)) m_gate.Seed(last, lastEnd);
}

CTimeService::~CTimeService() { DeleteCriticalSection(&m_statusLock); }

void CTimeService::Report(DWORD state, DWORD waitHintMs) {
    EnterCriticalSection(&m_statusLock);
    // Once stopping, the service never reports itself running again.
    if (!(m_status.dwCurrentState == SERVICE_STOP_PENDING && state == SERVICE_RUNNING)) {
        m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        m_status.dwCurrentState = state;
        m_status.dwControlsAccepted =
            state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                           SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_POWEREVENT
                                     : 0;
        m_status.dwWin32ExitCode = NO_ERROR;
        m_status.dwWaitHint = waitHintMs;
        if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
            ++m_status.dwCheckPoint;
        } else {
            m_status.dwCheckPoint = 0;
        }
        if (m_hStatus) SetServiceStatus(m_hStatus, &m_status);
    }
    LeaveCriticalSection(&m_statusLock);
}

DWORD CTimeService::Control(DWORD control, DWORD eventType) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN:
            Report(SERVICE_STOP_PENDING, 1000);
            SetEvent(m_hStop.Get());
            return NO_ERROR;
        case SERVICE_CONTROL_POWEREVENT:
            if (eventType == PBT_APMRESUMEAUTOMATIC) SetEvent(m_hWake.Get());
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void CTimeService::Main() {
    m_hStatus = RegisterServiceCtrlHandlerExW(kServiceName, &ControlHandler, nullptr);
    if (!m_hStatus) return;
    m_hStop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_hWake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hStop || !m_hWake) {
        Report(SERVICE_STOPPED);
        return;
    }
    Report(SERVICE_START_PENDING, 3000);
    // The exchange's sockets.
    WSADATA sockets{};
    const bool socketsReady = WSAStartup(MAKEWORD(2, 2), &sockets) == 0;
    FixRuntimeZoneAtJst();
    PrepareServiceDataFolder();
    SetQueryStopEvent(m_hStop.Get());
    ScopedContext seams(CurrentContext()
                            .With(&RunQueryUntilStopped)
                            .With(&ReportMessageEvent)
                            .With(&ServiceNtsClient()));

    CAdjustChannel channel(
        [this] {
            bool reused = false;
            return m_gate.Request([this] { return AdjustAndRecord(); }, &reused);
        },
        [](unsigned long bytes) {
            CString count;
            count.Format("%lu", bytes);
            ReportServiceEvent(kEventRequestRefused, true, &count, 1);
        });
    // Without its pipe the service still keeps the clock; users then get no answer.
    channel.Start(m_hStop.Get());
    Report(SERVICE_RUNNING);

    Schedule();

    SetEvent(m_hStop.Get());
    channel.Stop();
    // A stopped service keeps no keys: it starts again with a fresh key establishment.
    ServiceNtsClient().Forget();
    if (socketsReady) WSACleanup();
    Report(SERVICE_STOPPED);
}

RetrySeries CTimeService::Series() {
    return RetrySeries{m_settings.errorRetry, m_settings.retryCount, m_settings.retryInterval,
                       m_retry.attempt,       m_retry.manualStart,   m_retry.scheduledStart};
}

int CTimeService::AdjustOnce() {
    const auto adjust = [this] { return AdjustAndRecord(); };
    // The adjustment at start and after waking is held to the minute as a user's request
    // is: a request starts a stopped service, which must not make it query again.
    if (m_retry.manualStart) {
        bool reused = false;
        return m_gate.Request(adjust, &reused).outcome.success;
    }
    return m_gate.Run(adjust).outcome.success;
}

void CTimeService::SetRetryTimer(std::uint32_t milliseconds) {
    m_retryDue = GetTickCount64() + std::max<std::uint32_t>(milliseconds, 1);
}

void CTimeService::StartSeries() {
    m_settings = ReadServiceSettings();
    m_retry = RetryState();
    m_retryDue = 0;
    m_retry.manualStart = 1;
    RunAdjustment(Series(), *this);
}

void CTimeService::ArmDaily(bool rearm) {
    m_dailyDue = 0;
    if (!m_settings.adjustAt) return;
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    const DailyRun armed = m_armedRun;
    const int seconds =
        rearm ? RearmDailyRun(now, m_settings.adjustHour, m_settings.adjustMinute, armed,
                              m_doneRun, &m_armedRun)
              : NextDailyRun(now, m_settings.adjustHour, m_settings.adjustMinute, m_doneRun,
                             &m_armedRun);
    m_dailyDue = GetTickCount64() + static_cast<std::uint64_t>(seconds) * 1000;
}

bool CTimeService::DailyRunDueNow() {
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    return DailyTickDue(now, m_settings.adjustHour, m_settings.adjustMinute, m_armedRun,
                        &m_doneRun);
}

void CTimeService::RecordNextRun() {
    const std::uint64_t now = GetTickCount64();
    std::uint64_t next = 0;
    if (m_retryDue) next = m_retryDue;
    if (m_dailyDue && (!next || m_dailyDue < next)) next = m_dailyDue;
    m_state.SetNextRun(next ? LocalTimeAfter(next > now ? next - now : 0) : CString());
}

void CTimeService::Schedule() {
    StartSeries();
    ArmDaily(false);
    const HANDLE waits[2] = {m_hStop.Get(), m_hWake.Get()};
    for (;;) {
        RecordNextRun();
        const bool idle = !m_retryDue && !m_dailyDue;
        const std::uint64_t now = GetTickCount64();
        std::uint64_t due = m_retryDue ? m_retryDue : m_dailyDue;
        if (m_dailyDue) due = std::min(due, m_dailyDue);
        // Nothing left to do: the service stops, after a while in which the request of
        // a user who started it (or is about to ask) is still answered.
        const DWORD waitMs =
            idle ? kLingerMs
                 : due <= now ? 0
                              : static_cast<DWORD>(std::min<std::uint64_t>(due - now, kLongestWaitMs));
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
        if (idle && woken == WAIT_TIMEOUT) break;
        if (woken == WAIT_OBJECT_0 + 1) {
            // Awake again: adjust once, and count the daily time again from the clock.
            StartSeries();
            ArmDaily(true);
            continue;
        }
        const std::uint64_t at = GetTickCount64();
        if (m_retryDue && at >= m_retryDue) {
            m_settings = ReadServiceSettings();
            RunAdjustment(Series(), *this);
        } else if (m_dailyDue && at >= m_dailyDue) {
            // The due time counts elapsed time; the run keeps to the local clock, which
            // a change of the zone's offset may have put back meanwhile: then it waits on.
            if (DailyRunDueNow()) {
                m_settings = ReadServiceSettings();
                m_retry.scheduledStart = 1;
                RunAdjustment(Series(), *this);
            }
            ArmDaily(false);
        } else if (m_dailyDue) {
            // A long wait's look: the clock may have been changed meanwhile.
            ArmDaily(true);
        }
        if (WaitForSingleObject(m_hStop.Get(), 0) == WAIT_OBJECT_0) break;
    }
}

ServiceAnswer CTimeService::AdjustAndRecord() {
    const ProfileSettings settings = ReadServiceSettings();
    ServiceAnswer answer;
    // Nobody is asked about a far correction here: the service never makes one.
    answer.outcome = AdjustPcClock(QueryOf(settings));
    const CommandOutcome& o = answer.outcome;
    // The server that answered: a fallback server when the first failed.
    answer.server = o.server.IsEmpty() ? settings.server : o.server;
    answer.protocol = settings.protocol;

    if (settings.logFile) {
        WriteHistoryRecord(ServiceHistoryPath(), o.pcTimeText, answer.server, settings.protocol,
                           kModeAdjust, o.HistoryDetail(), o.serverTimeText,
                           o.pcZoneOffset ? &*o.pcZoneOffset : nullptr, o.authenticated);
    }
    // The events name the protocol as the history does.
    const CString protocol = o.authenticated ? "NTS" : ProtocolName(settings.protocol);
    if (o.statusText == kTooFar) {
        CString limit;
        limit.Format("%i", settings.maxCorrection);
        const CString inserts[6] = {answer.server, protocol,     o.errorText,
                                    o.pcTimeText,  limit,        o.serverTimeText};
        ReportServiceEvent(kEventTooFar, true, inserts, 6);
    } else {
        const CString inserts[4] = {answer.server, protocol,
                                    o.success ? o.serverTimeText : o.HistoryDetail(), o.pcTimeText};
        ReportServiceEvent(o.success ? kEventClockSet : kEventAdjustFailed, !o.success, inserts, 4);
    }
    m_state.SetLast(answer, GetTickCount64());
    return answer;
}
