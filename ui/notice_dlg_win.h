// The two small boxes that serve the main window: the about box, opened from the
// system menu, and the notice box, a two-line message without buttons that closes
// itself when its display time has run out.
#pragma once

#include <cstdint>

#include "framework/dialog_win.h"
#include "framework/timer_win.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();

    CString m_strName;    // the product title, three blanks, the version
    CString m_strCredit;  // string 136
    CString m_strFooter;  // string 138

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
};

class CNoticeDlg : public CDialog {
  public:
    explicit CNoticeDlg(HWND parent = nullptr);

    // DoModal gives IDOK when the display time ran out, IDCANCEL when the box was
    // cancelled (Esc) first. A display time of 0 starts no timer: the box stays
    // until it is cancelled.
    std::uint32_t m_nDisplayTime = 0;  // milliseconds
    CString m_strLower;
    CString m_strUpper;

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnTimer(UINT_PTR id);

  private:
    // The display timer; killed when it fires, and with the window when the box is
    // cancelled first, so that no timer is left behind.
    CDialogTimer m_displayTimer;

    DECLARE_MESSAGE_MAP(CNoticeDlg)
};
