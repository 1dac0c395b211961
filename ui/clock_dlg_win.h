// The main dialog: the program's only window. It shows the server and protocol, the
// last server time and PC time, and the status line; it runs the Check and Adjust
// commands, the daily adjustment and the retries, and answers the settings editor.
#pragma once

#include "framework/dialog_win.h"
#include "framework/timer_win.h"
#include "settings/service_link.h"
#include "settings/settings.h"
#include "ui/command_gate.h"
#include "engine/commands.h"
#include "ui/editor_link_win.h"
#include "engine/schedule.h"
#include "ui/status_line_win.h"
#include "ui/window_place_win.h"

// Posted to itself after a minimized first show.
constexpr UINT WM_GIVE_BACK_FOREGROUND = WM_USER + 101;

// Its window timers.
constexpr UINT_PTR TIMER_CLOCK = 1;     // the running clock, every second
constexpr UINT_PTR TIMER_RETRY = 2;     // the next retry of a failed adjustment
constexpr UINT_PTR TIMER_ADJUSTAT = 3;  // the daily adjustment, once at its time
constexpr UINT_PTR TIMER_EDITOR = 4;    // looks whether the settings editor still runs
constexpr UINT_PTR TIMER_CHECK = 10;    // a check; never armed by the window itself

class CClockDlg : public CDialog, private AdjustmentHost {
  public:
    // The window carries the property propertyName (named after the executable; none
    // when empty) from before its first show until it is destroyed. An instance that
    // the elevation offer started (startedByOffer) adjusts as soon as it is shown.
    explicit CClockDlg(const CString& propertyName = CString(), bool startedByOffer = false,
                       HWND parent = nullptr);

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCheck();
    void OnAdjust();
    void OnSettings();
    LRESULT OnSetEnvNotify(WPARAM code, LPARAM window);
    void OnTimer(UINT_PTR id);
    void OnShowWindow(BOOL shown, UINT status);
    LRESULT OnGiveBackForeground(WPARAM, LPARAM);
    void OnVoice();
    void OnDestroy();
    void OnTimeChange();
    void OnPowerBroadcast(UINT event);
    // Group Policy was applied again (lParam "Policy"): the settings it may set.
    void OnSettingChange(UINT, const wchar_t* area);

  private:
    // The icons and the system menu's entries (clock_dlg_chrome_win.cpp).
    void SetUpChrome();
    // The settings from the profile, into the window and its daily timer
    // (clock_dlg_settings_win.cpp).
    void LoadSettings();
    // Re-reads the settings; asked for during a command, it waits for its end.
    void ReloadSettings();
    void ReloadSettingsNow();
    void LayoutIndicatorLine();
    // What a command asks of the server, from the settings in force.
    ServerQuery Query() const;
    // Whether the user agrees to a correction of seconds beyond the limit.
    bool AskFarCorrection(double seconds);
    // The server field names the server that answered (or was asked last).
    void ShowAnsweringServer(const CString& server);
    // Whether a check or an adjustment that the user started may go out now.
    bool PreQueryGuard();
    // Runs a check or an adjustment run as one command; then, once no command is under
    // way, what had to wait for it.
    template <class Command>
    void RunCommand(Command command);
    // A command of a timer: now, or after the command under way.
    void RunTimerCommand(UINT_PTR id);
    // Work that waited for a command: a reload, a timer's command, the daily timer.
    void RunWork(int item);
    void RunDailyAdjustment();
    // An adjustment run as a command; one that the user asked for (asked) may end in
    // the elevation offer.
    void AdjustNow(bool asked);
    // One adjustment exchange with its display and history record; 1 on success.
    int AdjustClock();
    // An adjustment run with its retry series and result notice; 1 on success.
    int RunAdjustment();
    RetrySeries Series();
    // byService: the time service's answer that outcome is, or null.
    void RecordHistory(int mode, const CommandOutcome& outcome, const CString& pcTimeText,
                       const ServiceAnswer* byService);
    void TerminateAfterAdjust();
    // Arms the daily timer while the daily adjustment is on, for the next run from the
    // clock as it stands; after sleep or a clock change (rearm), for a run whose time
    // came meanwhile without its tick first. It waits an hour at most at a time.
    void ArmAdjustAtTimer(bool rearm = false);
    // A tick of the daily timer: arms it again at once and says whether the run it
    // pointed at is due now (then marked as had) or still to come.
    bool TakeAdjustAtTick();
    void KillAllTimers();

    // AdjustmentHost: what a run asks of the window.
    int AdjustOnce() override { return AdjustClock(); }
    void ShowResultNotice(bool success) override;
    bool RetryTimerArmed() const override { return m_retryTimer.IsRunning(); }
    void KillRetryTimer() override { m_retryTimer.Kill(); }
    void SetRetryTimer(std::uint32_t milliseconds) override { m_retryTimer.Set(milliseconds); }
    void ShowRetryText(const CString& text) override { m_statusLine.ShowRetryText(text); }
    void EndAfterSuccess() override {
        if (m_settings.autoTerminate) TerminateAfterAdjust();
    }

    CString m_strPropertyName;
    bool m_bStartedByOffer;
    HICON m_hIcon;
    // The settings as the last load read them; SHIFT at start turns two of them off.
    ProfileSettings m_settings;
    RetryState m_retry;
    CommandOutcome m_lastAdjustment;  // of the run under way
    bool m_bLastByService = false;    //   and whether the time service gave it
    bool m_bUserAdjusting = false;    // a clicked Adjust runs: a far correction is asked
    // Shown in the controls (data exchange).
    CString m_strPcTime;
    CString m_strServerTime;
    int m_bVoice = 0;  // the hidden Voice check box

    CDialogTimer m_retryTimer;
    CDialogTimer m_adjustAtTimer;
    DailyRun m_armedRun;  // the daily run the timer points at
    DailyRun m_doneRun;   // the last one whose tick came
    CStatusLine m_statusLine;
    CEditorLink m_editor;
    CWindowHeights m_heights;
    CommandGate m_gate;
    bool m_bShown = false;     // the first WM_SHOWWINDOW has come
    bool m_bDraining = false;  // running the work that waited for a command
    bool m_bEnding = false;    // OnOK or OnCancel has ended the dialog
    HWND m_hForegroundAtStart = nullptr;

    DECLARE_MESSAGE_MAP(CClockDlg)
};
