// The main dialog: the program's only window.
#pragma once

#include "framework/dialog_win.h"

class CClockDlg : public CDialog {
  public:
    explicit CClockDlg(HWND parent = nullptr);

    // The window property that marks this window, named after the executable; set
    // before the window is first shown and removed when it is destroyed.
    CString m_strPropertyName;

  protected:
    BOOL OnInitDialog() override;
    void OnDestroy();

  private:
    HICON m_hIcon;

    DECLARE_MESSAGE_MAP(CClockDlg)
};
