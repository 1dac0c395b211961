// The time service as the service control manager runs it: one adjustment (with its
// retries) when it starts and after the PC wakes up, one every day at the daily time
// when one is set, and the users' requests on its pipe; with no daily time it stops
// once its adjustment and retries are done. A stop, shutdown or pre-shutdown is
// answered at once, also in the middle of a query, which it abandons.
#pragma once

#include <cstdint>

#include "engine/schedule.h"
#include "framework/handles_win.h"
#include "service/adjustment_gate.h"
#include "service/service_records_win.h"
#include "settings/settings.h"

// Hands the process to the service control manager. false (with the system's error
// in GetLastError) when the program was not started by it.
bool RunTimeService();

// The service's settings as they stand: policy over its parameters over the defaults.
ProfileSettings ReadServiceSettings();

class CTimeService : private AdjustmentHost {
  public:
    CTimeService();
    ~CTimeService();
    CTimeService(const CTimeService&) = delete;
    CTimeService& operator=(const CTimeService&) = delete;
    void Main();
    DWORD Control(DWORD control, DWORD eventType);

  private:
    void Report(DWORD state, DWORD waitHintMs = 0);
    void Schedule();
    void StartSeries();
    // Sets the due time of the next daily run (rearm: after a wake-up or a look at the
    // clock); the schedule looks again within kLongestDailyWaitSeconds all the same.
    void ArmDaily(bool rearm);
    // At the due time: whether the armed run is due by the local clock (then marked as
    // had) or still to come.
    bool DailyRunDueNow();
    void RecordNextRun();
    // One adjustment with the settings as they stand now, recorded in the history, the
    // event log and the state.
    ServiceAnswer AdjustAndRecord();
    RetrySeries Series();

    // AdjustmentHost: the service shows nothing; its retry timer is a due time.
    int AdjustOnce() override;
    void ShowResultNotice(bool) override {}
    bool RetryTimerArmed() const override { return m_retryDue != 0; }
    void KillRetryTimer() override { m_retryDue = 0; }
    void SetRetryTimer(std::uint32_t milliseconds) override;
    void ShowRetryText(const CString&) override {}
    void EndAfterSuccess() override {}

    SERVICE_STATUS_HANDLE m_hStatus = nullptr;
    SERVICE_STATUS m_status{};
    CRITICAL_SECTION m_statusLock;
    ScopedHandle m_hStop;  // set by a stop, a shutdown or a pre-shutdown
    ScopedHandle m_hWake;  // set when the PC has woken up

    // The schedule, on the service's own thread only.
    ProfileSettings m_settings;
    RetryState m_retry;
    std::uint64_t m_retryDue = 0;  // GetTickCount64 of the next retry; 0 none
    std::uint64_t m_dailyDue = 0;  // of the daily run; 0 none
    DailyRun m_armedRun;
    DailyRun m_doneRun;
    AdjustmentGate m_gate;
    CServiceState m_state;
};
