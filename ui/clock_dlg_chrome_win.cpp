// The main dialog's window chrome: its icons, the system menu with the about box,
// the minimized window's icon, and the goodbye of the hidden Voice box.
#include "framework/afx_win.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "res/resource.h"
#include "res/string_ids.h"
#include "ui/clock_dlg_win.h"
#include "ui/notice_dlg_win.h"

namespace {

const char kExiting[] = "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42";  // "終了します。"
constexpr std::uint32_t kGoodbyeNoticeMs = 2000;

}  // namespace

void CClockDlg::SetUpChrome() {
    // The about box's entry; neither sized nor maximized, as only the status line
    // changes the window's height.
    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu) {
        const CString about = LoadAppString(IDS_ABOUTBOX);
        if (!about.IsEmpty()) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, Widen(about).c_str());
        }
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
}

void CClockDlg::OnDestroy() {
    if (!m_strPropertyName.IsEmpty()) RemovePropW(m_hWnd, Widen(m_strPropertyName).c_str());
    if (AfxGetMainWnd() == m_hWnd) AfxSetMainWnd(nullptr);
    if (m_bVoice) {
        CNoticeDlg notice;
        notice.m_strUpper = LoadAppString(IDS_TITLE);
        notice.m_strLower = kExiting;
        notice.m_nDisplayTime = kGoodbyeNoticeMs;
        notice.DoModal();
    }
}

void CClockDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if (id == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

// A minimized window draws its icon centred in the client area.
void CClockDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
}

HCURSOR CClockDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CClockDlg::OnVoice() {
    UpdateData(TRUE);
    UpdateData(FALSE);
}
