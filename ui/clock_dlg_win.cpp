#include "ui/clock_dlg_win.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/afx_win.h"
#include "framework/clock.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/winapp_win.h"
#include "logging/dialup_win.h"
#include "logging/history_log.h"
#include "res/resource.h"
#include "res/string_ids.h"
#include "settings/editor_link.h"
#include "settings/registry_source_win.h"
#include "settings/setting_sources.h"
#include "ui/elevation_win.h"
#include "ui/notice_dlg_win.h"
#include "ui/service_link_win.h"

namespace {

const char kConnecting[] = "connecting...";
const char kAdjusted[] = "<< ADJUSTED!! >>";
const char kError[] = "<< ERROR!! >>";
constexpr int kModeCheck = 0;
constexpr int kModeAdjust = 1;
// How long the notices stay: an adjustment's result, the automatic exit.
constexpr std::uint32_t kResultNoticeMs = 3000;
constexpr std::uint32_t kExitNoticeMs = 2000;
// Rounds of waiting work run after a command; work that keeps arriving during them
// waits for the next command.
constexpr int kDeferredRounds = 4;
// Work that may wait for a command besides the timers and a reload: the daily timer
// armed anew after a clock change, or after the PC woke up.
constexpr int kWorkRearm = -2;

// How long the window waits for the time service: its query takes as long as the
// service's own time-out (a machine setting, not this window's), and a little more.
DWORD ServiceWaitMs() {
    const ProfileSettings machine =
        ReadMachineSettings(RegistrySource(kPolicyKey), RegistrySource(kServiceParametersKey));
    // Every server the service may ask, each with its whole countdown, and a margin.
    ServerQuery query = QueryOf(machine);
    query.timeOut = std::min(std::max(machine.timeOut, 1), 600);
    const long long seconds = static_cast<long long>(LongestCommandSeconds(query)) + 15;
    return static_cast<DWORD>(seconds * 1000);
}

}  // namespace

BEGIN_MESSAGE_MAP(CClockDlg)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_COMMAND(IDC_CHECK, OnCheck)
    ON_COMMAND(IDC_ADJUST, OnAdjust)
    ON_COMMAND(IDC_SETTINGS, OnSettings)
    ON_WM_TIMER()
    ON_MESSAGE(WM_SETENV_NOTIFY, OnSetEnvNotify)
    ON_WM_SHOWWINDOW()
    ON_MESSAGE(WM_GIVE_BACK_FOREGROUND, OnGiveBackForeground)
    ON_COMMAND(IDC_VOICE, OnVoice)
    ON_WM_DESTROY()
    ON_WM_TIMECHANGE()
    ON_WM_POWERBROADCAST()
    ON_WM_SETTINGCHANGE()
END_MESSAGE_MAP()

CClockDlg::CClockDlg(const CString& propertyName, bool startedByOffer, HWND parent)
    : CDialog(IDD_MAIN, parent),
      m_strPropertyName(propertyName),
      m_bStartedByOffer(startedByOffer),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN))),
      m_retryTimer(this, TIMER_RETRY),
      m_adjustAtTimer(this, TIMER_ADJUSTAT),
      m_statusLine(this, TIMER_CLOCK),
      m_editor(this, IDC_SETTINGS, TIMER_EDITOR),
      // The window the user works in, before this one exists to take its place.
      m_hForegroundAtStart(GetForegroundWindow()) {}

void CClockDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_PC_TIME, m_strPcTime);
    DDX_Text(pDX, IDC_SERVER_TIME, m_strServerTime);
    DDX_Check(pDX, IDC_VOICE, m_bVoice);
}

BOOL CClockDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AfxSetMainWnd(m_hWnd);
    if (!m_strPropertyName.IsEmpty()) {
        SetPropW(m_hWnd, Widen(m_strPropertyName).c_str(), reinterpret_cast<HANDLE>(1));
    }

    SetUpChrome();
    m_editor.HideButtonWithoutEditor();
    LoadSettings();
    // Started with SHIFT held: no adjustment at start-up and no minimized start this
    // time; the stored settings stay as they are.
    if (GetKeyState(VK_SHIFT) & 0x80) {
        PlayBeep(256, 100);
        m_settings.autoAdjust = 0;
        m_settings.iconicStart = 0;
    }
    LayoutIndicatorLine();
    m_statusLine.StartClock(m_settings);
    UpdateData(FALSE);
    return TRUE;
}

void CClockDlg::OnSettings() {
    const CWinApp* app = AfxGetApp();
    // The window the editor answers: the active one, this one when none is active.
    HWND answer = GetActiveWindow();
    m_editor.Start(app ? app->GetProfilePath() : std::wstring(), answer ? answer : m_hWnd);
}

LRESULT CClockDlg::OnSetEnvNotify(WPARAM code, LPARAM window) {
    if (m_editor.OnNotice(code, window)) ReloadSettings();
    return 0;
}

ServerQuery CClockDlg::Query() const { return QueryOf(m_settings); }

void CClockDlg::ShowAnsweringServer(const CString& server) {
    SetDlgItemText(IDC_SERVER, server.IsEmpty() ? m_settings.server : server);
}

bool CClockDlg::AskFarCorrection(double seconds) {
    const long long minutes = std::llround(std::fabs(seconds) / 60.0);
    CString duration;
    duration.Format(LoadAppString(IDS_DURATION), static_cast<int>(minutes / 1440),
                    static_cast<int>(minutes / 60 % 24), static_cast<int>(minutes % 60));
    CString question;
    question.Format(LoadAppString(seconds >= 0 ? IDS_FAR_FORWARD : IDS_FAR_BACK),
                    duration.GetString(), m_settings.maxCorrection);
    return AfxMessageBox(question, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

bool CClockDlg::PreQueryGuard() {
    if (m_settings.server.IsEmpty()) {
        AfxMessageBox(LoadAppString(IDS_NO_SERVER_NAME));
        return false;
    }
    return CheckDialupConnection() != 0;
}

void CClockDlg::RecordHistory(int mode, const CommandOutcome& outcome, const CString& pcTimeText,
                              const ServiceAnswer* byService) {
    if (!m_settings.logFile) return;
    const CWinApp* app = AfxGetApp();
    if (!app) return;
    // The service's result names the server it asked, and says that it set the clock.
    const CString detail =
        byService ? outcome.HistoryDetail() + LoadAppString(IDS_BY_SERVICE) : outcome.HistoryDetail();
    // The server that answered, which may be a fallback server.
    const CString& asked = outcome.server.IsEmpty() ? m_settings.server : outcome.server;
    WriteHistoryRecord(HistoryLogPath(app->GetProfilePath()), pcTimeText,
                       byService ? byService->server : asked,
                       byService ? byService->protocol : m_settings.protocol, mode, detail,
                       outcome.serverTimeText,
                       outcome.pcZoneOffset ? &*outcome.pcZoneOffset : nullptr,
                       outcome.authenticated);
}

template <class Command>
void CClockDlg::RunCommand(Command command) {
    {
        CommandGate::Scope busy(m_gate);
        command();
    }
    if (m_gate.Busy() || m_bDraining) return;
    m_bDraining = true;
    for (int round = 0; round < kDeferredRounds && !m_bEnding; ++round) {
        const std::vector<int> work = m_gate.TakeDeferred();
        if (work.empty()) break;
        for (int item : work) {
            if (m_bEnding) break;
            RunWork(item);
        }
    }
    m_bDraining = false;
}

void CClockDlg::RunWork(int item) {
    if (item == CommandGate::kReload) {
        ReloadSettingsNow();
    } else if (item == kWorkRearm) {
        ArmAdjustAtTimer(true);
    } else {
        RunTimerCommand(static_cast<UINT_PTR>(item));
    }
}

// The clock was set (by this program too), or the PC woke up, which a window timer
// counts in its own way: the daily time is counted again from the clock as it stands.
void CClockDlg::OnTimeChange() {
    if (m_gate.Busy()) {
        m_gate.Defer(kWorkRearm);
    } else {
        RunWork(kWorkRearm);
    }
}

void CClockDlg::OnPowerBroadcast(UINT event) {
    if (event == PBT_APMRESUMEAUTOMATIC) OnTimeChange();
}

void CClockDlg::OnCheck() {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    RunCommand([this] {
        m_strServerTime = kConnecting;
        UpdateData(FALSE);

        const CommandOutcome outcome = CheckServerTime(Query());
        RecordHistory(kModeCheck, outcome, outcome.pcTimeText, nullptr);
        ShowAnsweringServer(outcome.server);
        m_strServerTime = outcome.success ? outcome.serverTimeText : outcome.statusText;
        m_strPcTime = outcome.pcTimeText;
        UpdateData(FALSE);
        // The PC time stays in view a moment before the running clock writes over it.
        if (m_settings.clockDisplay) Sleep(1000);
    });
}

void CClockDlg::OnAdjust() { AdjustNow(true); }

void CClockDlg::AdjustNow(bool asked) {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    m_retry.manualStart = 1;
    RunCommand([this, asked] {
        m_lastAdjustment = CommandOutcome();
        m_bLastByService = false;
        // Only the adjustment the user clicked asks before a far correction; the one at
        // start-up, the daily one and the retries are not made.
        m_bUserAdjusting = asked;
        RunAdjustment();
        m_bUserAdjusting = false;
        // An instance started as administrator takes over: this one ends. Where the time
        // service answered for this one, there is nothing to offer.
        if (asked && !m_bEnding && !m_bLastByService &&
            OfferElevation(m_lastAdjustment, m_bStartedByOffer)) {
            OnCancel();
        }
    });
    UpdateData(FALSE);
}

int CClockDlg::AdjustClock() {
    m_strServerTime = kConnecting;
    UpdateData(FALSE);

    ServerQuery query = Query();
    if (m_bUserAdjusting) {
        query.askFarCorrection = [this](double seconds) { return AskFarCorrection(seconds); };
    }
    CommandOutcome outcome = AdjustPcClock(query);
    // This user may not set the clock: the time service, which may, is asked instead,
    // with the machine's own server and settings.
    ServiceAnswer answer;
    const bool byService =
        ClockRightMissing(outcome) &&
        AskServiceWhileWaiting(m_hWnd, ServiceWaitMs(), &answer) ==
            ServiceReply::kAnswered;
    if (byService) outcome = answer.outcome;
    ShowAnsweringServer(byService ? answer.server : outcome.server);
    m_lastAdjustment = outcome;
    m_bLastByService = byService;
    RecordHistory(kModeAdjust, outcome, outcome.pcTimeText, byService ? &answer : nullptr);
    const CString word = byService ? LoadAppString(IDS_BY_SERVICE) : CString();
    if (outcome.success) {
        m_strServerTime = outcome.serverTimeText;
        m_strPcTime = CString(kAdjusted) + word;
    } else {
        m_strServerTime = outcome.statusText + word;
        m_strPcTime = outcome.pcTimeText;
    }
    UpdateData(FALSE);
    return outcome.success;
}

RetrySeries CClockDlg::Series() {
    return RetrySeries{m_settings.errorRetry, m_settings.retryCount, m_settings.retryInterval,
                       m_retry.attempt,       m_retry.manualStart,   m_retry.scheduledStart};
}

int CClockDlg::RunAdjustment() { return ::RunAdjustment(Series(), *this); }

void CClockDlg::ShowResultNotice(bool success) {
    CNoticeDlg notice;
    notice.m_strUpper = success ? m_strServerTime : CString(kError);
    notice.m_strLower = m_strPcTime;
    notice.m_nDisplayTime = kResultNoticeMs;
    notice.DoModal();
}

void CClockDlg::TerminateAfterAdjust() {
    if (!m_settings.autoAdjust) {
        OnOK();
        return;
    }
    CNoticeDlg notice;
    notice.m_strUpper = LoadAppString(IDS_AUTO_EXIT);
    notice.m_strLower = LoadAppString(IDS_ESC_CANCELS);
    notice.m_nDisplayTime = kExitNoticeMs;
    if (notice.DoModal() == IDOK) {
        OnCancel();
    } else {
        ShowWindow(m_hWnd, SW_RESTORE);
    }
}

void CClockDlg::OnTimer(UINT_PTR id) {
    switch (id) {
        case TIMER_CLOCK:
            m_statusLine.OnClockTick();
            break;
        case TIMER_EDITOR:
            m_editor.OnTimer();
            break;
        case TIMER_ADJUSTAT:
            // A tick before its run's time only waits on.
            if (!TakeAdjustAtTick()) break;
            [[fallthrough]];
        case TIMER_RETRY:
        case TIMER_CHECK:
            // A second query or a second run's notices must not start inside a command.
            if (m_gate.Busy()) {
                m_gate.Defer(static_cast<int>(id));
            } else {
                RunTimerCommand(id);
            }
            break;
        default: {
            KillTimer(id);
            CString text;
            text.Format("timerID=%i is killed", static_cast<int>(id));
            AfxMessageBox(text);
            break;
        }
    }
}

void CClockDlg::RunTimerCommand(UINT_PTR id) {
    if (id == TIMER_CHECK) {
        OnCheck();
    } else if (id == TIMER_RETRY) {
        // A retry that a reload or another run has taken away meanwhile is gone.
        if (m_retryTimer.IsRunning()) RunCommand([this] { RunAdjustment(); });
    } else if (id == TIMER_ADJUSTAT) {
        if (m_settings.adjustAt) RunCommand([this] { RunDailyAdjustment(); });
    }
}

void CClockDlg::RunDailyAdjustment() {
    m_retry.scheduledStart = 1;
    RunAdjustment();
    // From the end of this run to the next, while still wanted.
    ArmAdjustAtTimer();
}

void CClockDlg::ArmAdjustAtTimer(bool rearm) {
    m_adjustAtTimer.Kill();
    if (!m_settings.adjustAt) return;
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    const int hour = m_settings.adjustHour, minute = m_settings.adjustMinute;
    const DailyRun armed = m_armedRun;
    const int seconds = rearm ? RearmDailyRun(now, hour, minute, armed, m_doneRun, &m_armedRun)
                              : NextDailyRun(now, hour, minute, m_doneRun, &m_armedRun);
    m_adjustAtTimer.Set(static_cast<UINT>(DailyTimerWaitSeconds(seconds)) * 1000u);
}

bool CClockDlg::TakeAdjustAtTick() {
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    const bool due = DailyTickDue(now, m_settings.adjustHour, m_settings.adjustMinute,
                                  m_armedRun, &m_doneRun);
    // One firing is at most one run: the timer points at the next run (or the rest of
    // the wait for this one) at once, so no second tick comes while this one waits or
    // runs.
    ArmAdjustAtTimer();
    return due;
}

void CClockDlg::KillAllTimers() {
    m_statusLine.StopClock();
    m_retryTimer.Kill();
    m_adjustAtTimer.Kill();
}

void CClockDlg::OnShowWindow(BOOL, UINT) {
    if (m_bShown) return;
    m_bShown = true;
    if (m_settings.iconicStart) {
        StartMinimized(m_hWnd, SW_SHOWMINNOACTIVE);
        // The dialog manager activates the window as its first show goes on.
        PostMessageW(m_hWnd, WM_GIVE_BACK_FOREGROUND, 0, 0);
    } else if (m_settings.windowPos) {
        RestoreWindowPos(m_hWnd);
    }
    if (m_bStartedByOffer) {
        AdjustNow(true);
    } else if (m_settings.autoAdjust) {
        AdjustNow(false);
    }
}

// A window that starts minimized takes no keystrokes meant for another.
LRESULT CClockDlg::OnGiveBackForeground(WPARAM, LPARAM) {
    GiveBackForeground(m_hWnd, m_hForegroundAtStart);
    return 0;
}

void CClockDlg::OnOK() {
    UpdateData(TRUE);
    SaveWindowPos(m_hWnd, m_settings.windowPos);
    m_editor.Close();
    KillAllTimers();
    m_bEnding = true;
    CDialog::OnOK();
}

void CClockDlg::OnCancel() {
    m_editor.Close();
    KillAllTimers();
    m_bEnding = true;
    CDialog::OnCancel();
}
