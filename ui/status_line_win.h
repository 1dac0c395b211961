// The main window's status line and running clock. The status line shows which
// settings are on (their indicators greyed when off), the time-out, the daily time
// and the retries; the running clock shows the PC's time each second in the PC-time
// field or in the title.
#pragma once

#include "framework/dialog_win.h"
#include "framework/timer_win.h"
#include "settings/settings.h"

class CStatusLine {
  public:
    // The line of the dialog; its timer clockTimerId ticks the running clock, and the
    // dialog hands its ticks to OnClockTick.
    CStatusLine(CDialog* dialog, UINT_PTR clockTimerId);

    // The texts that follow the settings: the time-out, the retry interval, the daily
    // time. The retry text is the dialog's (ShowRetryText).
    void ShowTexts(const ProfileSettings& settings);
    // Each indicator lit while its setting is on, greyed while it is off.
    void EnableIndicators(const ProfileSettings& settings);
    void ShowRetryText(const CString& text);

    // Starts or stops the running clock as the settings say; the title and the PC-time
    // field start from their plain texts.
    void StartClock(const ProfileSettings& settings);
    void OnClockTick();
    void StopClock() { m_clockTimer.Kill(); }

  private:
    // The main window's title, reached as the application's main window.
    void SetTitle(const CString& text);

    CDialog* m_pDialog;
    CDialogTimer m_clockTimer;
    int m_nFormat = 0;  // the clock's text: ClockDisplayText's format
    int m_nTarget = 0;  // 0 the PC-time field, 1 the title
};
