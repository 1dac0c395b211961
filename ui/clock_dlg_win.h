// The main dialog: the program's only window. It shows the server and protocol, the
// last server time and PC time, and the status line; it runs the Check and Adjust
// commands and answers the settings editor.
#pragma once

#include <cstdint>

#include "app/settings.h"
#include "framework/dialog_win.h"
#include "ui/commands.h"

// Sent by the settings editor to the main window: wParam 0 announces the editor's
// window (lParam), 1 its end after saving, 2 its end without saving, 3 a save.
constexpr UINT WM_SETENV_NOTIFY = WM_USER + 100;

class CClockDlg : public CDialog {
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
    int m_bAdjustAt = 0;
    int m_nAdjustHour = 0;
    int m_nAdjustMinute = 0;
    int m_bErrorRetry = 0;
    int m_nRetryCount = 0;
    std::uint32_t m_nRetryInterval = 0;  // milliseconds
    int m_bManualStart = 0;     // the Adjust command started the adjustment run
    int m_bScheduledStart = 0;  // the daily timer started the adjustment run
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
    LRESULT OnSetEnvNotify(WPARAM code, LPARAM window);
    void OnVoice();
    void OnDestroy();

  private:
    // Hides the Settings button when the editor program is not beside this one.
    void CheckSettingsEditor();
    // Whether a check or an adjustment that the user started may go out now.
    bool PreQueryGuard();
    // Re-reads the settings after the settings editor has saved them.
    void ReloadSettings();
    // The adjustment run of the Adjust command.
    void RunAdjustment();
    ServerQuery Query() const;
    void RecordHistory(int mode, const CommandOutcome& outcome, const CString& pcTimeText);
    void ReleaseSettingsButton();

    DECLARE_MESSAGE_MAP(CClockDlg)
};
