#include "ui/notice_dlg_win.h"

#include "framework/strings.h"
#include "res/resource.h"
#include "res/string_ids.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

// The window is attached to this object at WM_INITDIALOG, so the caption and the
// texts are filled here, before the base class moves them into the controls.
BOOL CAboutDlg::OnInitDialog() {
    SetWindowText(LoadAppString(IDS_TITLE));
    m_strName = LoadAppString(IDS_TITLE) + "   " + LoadAppString(IDS_VERSION);
    m_strCredit = LoadAppString(IDS_CREDIT);
    m_strFooter = LoadAppString(IDS_FOOTER);
    return CDialog::OnInitDialog();
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_ABOUT_NAME, m_strName);
    DDX_Text(pDX, IDC_ABOUT_CREDIT, m_strCredit);
    DDX_Text(pDX, IDC_ABOUT_FOOTER, m_strFooter);
}

BEGIN_MESSAGE_MAP(CNoticeDlg)
    ON_WM_TIMER()
END_MESSAGE_MAP()

CNoticeDlg::CNoticeDlg(HWND parent) : CDialog(IDD_NOTICE, parent), m_displayTimer(this, 1) {}

BOOL CNoticeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(LoadAppString(IDS_TITLE));
    if (m_nDisplayTime != 0) m_displayTimer.Set(m_nDisplayTime);
    UpdateData(FALSE);
    return TRUE;
}

void CNoticeDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_NOTICE_LOWER, m_strLower);
    DDX_Text(pDX, IDC_NOTICE_UPPER, m_strUpper);
}

// Shown once for its time, never again.
void CNoticeDlg::OnTimer(UINT_PTR) {
    m_displayTimer.Kill();
    OnOK();
}
