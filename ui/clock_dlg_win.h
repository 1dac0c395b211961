// The main dialog: the program's only window. It shows the server and protocol, the
// last server time and PC time, and the status line; it runs the Check and Adjust
// commands and answers the settings editor.
#pragma once

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "framework/dialog_win.h"
#include "framework/timer_win.h"
#include "ui/commands.h"
#include "ui/schedule.h"

// Sent by the settings editor to the main window: wParam 0 announces the editor's
// window (lParam), 1 its end after saving, 2 its end without saving, 3 a save.
constexpr UINT WM_SETENV_NOTIFY = WM_USER + 100;
// Posted to itself after a minimized first show.
constexpr UINT WM_GIVE_BACK_FOREGROUND = WM_USER + 101;

// Starts a program by its full path with the arguments after it, without waiting;
// 0 with the new process's id, or the system's error code.
DWORD LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                    DWORD* processId);

// Its window timers.
constexpr UINT_PTR TIMER_CLOCK = 1;     // the running clock, every second
constexpr UINT_PTR TIMER_RETRY = 2;     // the next retry of a failed adjustment
constexpr UINT_PTR TIMER_ADJUSTAT = 3;  // the daily adjustment
constexpr UINT_PTR TIMER_CHECK = 10;    // a check; never armed by the window itself

class CClockDlg : public CDialog, private AdjustmentHost {
  public:
    explicit CClockDlg(HWND parent = nullptr);

    // The window property that marks this window, named after the executable; set
    // before the window is first shown and removed when it is destroyed.
    CString m_strPropertyName;

    // Shown in the controls (data exchange).
    CString m_strPcTime;      // 1003
    CString m_strServerTime;  // 1001
    CString m_strServer;      // 1034: DefaultServer
    // The settings, as LoadSettings reads them from the profile.
    int m_bAutoAdjust = 0;
    int m_bAutoTerminate = 0;
    int m_nProtocol = 1;  // 0 SNTP, 1 TIME, 2 DAYTIME
    int m_bLogFile = 0;
    int m_bBeep = 0;
    int m_bIconicStart = 0;
    CString m_strTimeOut;  // 1042: "%is" of the time-out
    CString m_strProtocol;  // 1035: "SNTP", "time" or "daytime"
    int m_bVoice = 0;       // the hidden Voice check box 1004
    HICON m_hIcon;
    int m_nReferenceHours = 24;
    int m_bReferenceCheck = 1;
    int m_bWindowPos = 0;
    int m_nClockFormat = 0;
    int m_nClockTarget = 0;
    int m_bClockDisplay = 0;
    HWND m_hEditorWnd = nullptr;  // the window the running settings editor announced
    DWORD m_dwEditorProcess = 0;  // the settings editor the Settings button started
    int m_bAdjustAt = 0;
    int m_nAdjustHour = 0;
    int m_nAdjustMinute = 0;
    int m_bShown = 0;  // the first WM_SHOWWINDOW has come
    int m_bErrorRetry = 0;
    int m_nRetryCount = 0;
    std::uint32_t m_nRetryInterval = 0;  // milliseconds
    int m_nRetryAttempt = 0;             // the retry being made, 0 outside a series
    int m_bManualStart = 0;     // the Adjust command started the adjustment run
    int m_bScheduledStart = 0;  // the daily timer started the adjustment run
    // The window timers; each knows it runs only from what SetTimer and KillTimer said.
    CDialogTimer m_clockTimer;
    CDialogTimer m_retryTimer;
    CDialogTimer m_adjustAtTimer;
    int m_bIndicatorLine = 0;
    int m_nTimeOut = 3;
    CString m_strLastPcTime;  // the PC time of the last check or adjustment

    // Reads every setting from the profile into the members and the controls.
    BOOL LoadDefaultServer();
    BOOL LoadSettings();
    // One adjustment exchange with its display and history record; 1 on success.
    int AdjustClock();
    // Sends WM_CLOSE to an announced settings editor and forgets it.
    int CloseEditor();
    // An adjustment run with its retry series and result notice; 1 on success.
    int RunAdjustment();
    void TerminateAfterAdjust();
    void ArmAdjustAtTimer();
    void KillAdjustAtTimer();
    void KillAllTimers();
    // Re-reads the settings; asked for during a command, it waits for its end.
    void ReloadSettings();

    // The status line and the running clock.
    void ShowRetryCount();
    void ShowRetryProgress();
    void StartClockDisplay();
    void UpdateClockDisplay();

    // The window's place: saved at a Close-button exit, put back at the first show.
    int SaveWindowPos();
    void RestoreWindowPos();
    BOOL StartMinimized(int showCommand);
    void LayoutIndicatorLine(int showLine);
    void EnableIndicators();

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

  private:
    // Hides the Settings button when the editor program is not beside this one.
    void CheckSettingsEditor();
    // The settings editor's full path, beside this program; empty when unknown.
    std::wstring EditorPath() const;
    // Whether a check or an adjustment that the user started may go out now.
    bool PreQueryGuard();
    // Runs a check or an adjustment run as one command; then, once no command is under
    // way, what had to wait for it.
    template <class Command>
    void RunCommand(Command command);
    // A command of a timer: now, or after the command under way.
    void RunTimerCommand(UINT_PTR id);
    void ReloadSettingsNow();
    RetrySeries Series();
    ServerQuery Query() const;
    void RecordHistory(int mode, const CommandOutcome& outcome, const CString& pcTimeText);
    void ReleaseSettingsButton();
    void SetTitle(const CString& text);

    // AdjustmentHost: what a run asks of the window.
    int AdjustOnce() override { return AdjustClock(); }
    void ShowResultNotice(bool success) override;
    bool RetryTimerArmed() const override { return m_retryTimer.IsRunning(); }
    void KillRetryTimer() override { m_retryTimer.Kill(); }
    void SetRetryTimer(std::uint32_t milliseconds) override { m_retryTimer.Set(milliseconds); }
    void ShowRetryText(const CString& text) override;
    void EndAfterSuccess() override {
        if (m_bAutoTerminate) TerminateAfterAdjust();
    }

    CommandGate m_gate;
    bool m_bDraining = false;  // running the work that waited for a command
    bool m_bEnding = false;    // OnOK or OnCancel has ended the dialog
    HWND m_hForegroundAtStart = nullptr;
    // The window's full and compact rectangles, taken once at the first layout.
    RECT m_rcFull{};
    RECT m_rcCompact{};

    DECLARE_MESSAGE_MAP(CClockDlg)
};
