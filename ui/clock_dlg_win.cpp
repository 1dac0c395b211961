#include "ui/clock_dlg_win.h"

#include "framework/afx_win.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CClockDlg)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CClockDlg::CClockDlg(HWND parent)
    : CDialog(IDD_MAIN, parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN))) {}

BOOL CClockDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AfxSetMainWnd(m_hWnd);
    if (!m_strPropertyName.IsEmpty()) {
        SetPropW(m_hWnd, Widen(m_strPropertyName).c_str(), reinterpret_cast<HANDLE>(1));
    }

    // Neither sized nor maximized: only the status line changes the window's height.
    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu) {
        DeleteMenu(systemMenu, SC_SIZE, MF_BYCOMMAND);
        DeleteMenu(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND);
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    // The small size, so that the button's caption fits beside it.
    HICON adjust = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_ADJUST), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendDlgItemMessageW(m_hWnd, IDC_ADJUST, BM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(adjust));

    SetWindowText(LoadAppString(IDS_TITLE));
    return TRUE;
}

void CClockDlg::OnDestroy() {
    if (!m_strPropertyName.IsEmpty()) RemovePropW(m_hWnd, Widen(m_strPropertyName).c_str());
    if (AfxGetMainWnd() == m_hWnd) AfxSetMainWnd(nullptr);
}
