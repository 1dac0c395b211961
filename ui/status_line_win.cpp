#include "ui/status_line_win.h"

#include "framework/afx_win.h"
#include "framework/clock.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "res/resource.h"
#include "res/string_ids.h"
#include "ui/status_texts.h"

namespace {

// The status line's indicators and the setting each one shows.
struct Indicator {
    int id;
    int ProfileSettings::*setting;
};
const Indicator kIndicators[] = {
    {IDC_IND_AUTO_EXIT, &ProfileSettings::autoTerminate},
    {IDC_IND_LOGFILE, &ProfileSettings::logFile},
    {IDC_IND_BEEP, &ProfileSettings::beep},
    {IDC_IND_ICONIC, &ProfileSettings::iconicStart},
    {IDC_IND_AT, &ProfileSettings::adjustAt},
    {IDC_IND_ADJUST_AT, &ProfileSettings::adjustAt},
    {IDC_IND_RETRY, &ProfileSettings::errorRetry},
    {IDC_IND_RETRY_COUNT, &ProfileSettings::errorRetry},
    {IDC_IND_RETRY_INTERVAL, &ProfileSettings::errorRetry},
};

}  // namespace

CStatusLine::CStatusLine(CDialog* dialog, UINT_PTR clockTimerId)
    : m_pDialog(dialog), m_clockTimer(dialog, clockTimerId) {}

void CStatusLine::ShowTexts(const ProfileSettings& s) {
    m_pDialog->SetDlgItemText(IDC_IND_TIMEOUT, s.timeOutText);
    m_pDialog->SetDlgItemText(IDC_IND_RETRY_INTERVAL, RetryIntervalText(s.retryValue, s.retryUnit));
    m_pDialog->SetDlgItemText(IDC_IND_ADJUST_AT, AdjustAtText(s.adjustHour, s.adjustMinute));
}

void CStatusLine::EnableIndicators(const ProfileSettings& settings) {
    for (const Indicator& indicator : kIndicators) {
        EnableWindow(m_pDialog->GetDlgItem(indicator.id),
                     settings.*indicator.setting ? TRUE : FALSE);
    }
}

void CStatusLine::ShowRetryText(const CString& text) {
    m_pDialog->SetDlgItemText(IDC_IND_RETRY_COUNT, text);
}

void CStatusLine::SetTitle(const CString& text) {
    HWND main = AfxGetMainWnd();
    SetWindowTextW(main ? main : m_pDialog->GetSafeHwnd(), Widen(text).c_str());
}

void CStatusLine::StartClock(const ProfileSettings& settings) {
    m_nFormat = settings.clockFormat;
    m_nTarget = settings.clockTarget;
    m_pDialog->SetDlgItemText(IDC_PC_TIME, "");
    SetTitle(LoadAppString(IDS_TITLE));
    if (settings.clockDisplay) {
        if (!m_clockTimer.IsRunning()) m_clockTimer.Set(1000);
        OnClockTick();
    } else {
        m_clockTimer.Kill();
    }
}

void CStatusLine::OnClockTick() {
    FILETIME now{};
    PcClock().GetSystemTimeAsFileTime(&now);
    const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) |
                            static_cast<long long>(now.dwLowDateTime);
    const CString text = ClockDisplayText((ticks - kFileTime1970) / 10000000, m_nFormat);
    if (m_nTarget == 1) {
        SetTitle(text);
    } else if (m_nTarget == 0) {
        m_pDialog->SetDlgItemText(IDC_PC_TIME, text);
    }
}
