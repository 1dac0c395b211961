#include "ui/clock_dlg_win.h"

#include <string>

#include "framework/afx_win.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/winapp_win.h"
#include "logging/dialup_win.h"
#include "logging/history_log.h"
#include "res/resource.h"
#include "ui/notice_dlg_win.h"

namespace {

const char kConnecting[] = "connecting...";
const char kAdjusted[] = "<< ADJUSTED!! >>";
const char kExiting[] = "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42";  // "終了します。"
constexpr int kModeCheck = 0;
constexpr int kModeAdjust = 1;
// How long closing the main window waits for the settings editor to close.
constexpr UINT kEditorCloseWaitMs = 5000;

// Section Property of the application's profile.
class AppProfile : public ProfileSource {
  public:
    CString Text(const char* key) const override {
        const CWinApp* app = Profile();
        return app ? app->GetProfileString("Property", key) : CString();
    }
    int Int(const char* key, int defaultValue) const override {
        const CWinApp* app = Profile();
        return app ? app->GetProfileInt("Property", key, defaultValue) : defaultValue;
    }

  private:
    // The application, once it has a profile; without one every key is missing.
    static const CWinApp* Profile() {
        const CWinApp* app = AfxGetApp();
        return app && !app->GetProfilePath().empty() ? app : nullptr;
    }
};

}  // namespace

BEGIN_MESSAGE_MAP(CClockDlg)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_COMMAND(IDC_CHECK, OnCheck)
    ON_COMMAND(IDC_ADJUST, OnAdjust)
    ON_MESSAGE(WM_SETENV_NOTIFY, OnSetEnvNotify)
    ON_COMMAND(IDC_VOICE, OnVoice)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CClockDlg::CClockDlg(HWND parent)
    : CDialog(IDD_MAIN, parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN))) {}

void CClockDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_PC_TIME, m_strPcTime);
    DDX_Text(pDX, IDC_SERVER_TIME, m_strServerTime);
    DDX_Text(pDX, IDC_SERVER, m_strServer);
    DDX_Text(pDX, IDC_IND_TIMEOUT, m_strTimeOut);
    DDX_Text(pDX, IDC_PROTOCOL, m_strProtocol);
    DDX_Check(pDX, IDC_VOICE, m_bVoice);
}

BOOL CClockDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AfxSetMainWnd(m_hWnd);
    if (!m_strPropertyName.IsEmpty()) {
        SetPropW(m_hWnd, Widen(m_strPropertyName).c_str(), reinterpret_cast<HANDLE>(1));
    }

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

    CheckSettingsEditor();
    LoadSettings();
    // Started with SHIFT held: no adjustment at start-up and no minimized start this
    // time; the stored settings stay as they are.
    if (GetKeyState(VK_SHIFT) & 0x80) {
        PlayBeep(256, 100);
        m_bAutoAdjust = 0;
        m_bIconicStart = 0;
        UpdateData(FALSE);
    }

    SetWindowText(LoadAppString(IDS_TITLE));
    UpdateData(FALSE);
    return TRUE;
}

void CClockDlg::CheckSettingsEditor() {
    // Beside this program only, never a file of that name in the working directory.
    std::wstring path = AfxGetModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (slash != std::wstring::npos) {
        path.resize(slash + 1);
        path += Widen(LoadAppString(IDS_EDITOR_FILE));
        attributes = GetFileAttributesW(path.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ShowWindow(GetDlgItem(IDC_SETTINGS), SW_HIDE);
    }
}

BOOL CClockDlg::LoadDefaultServer() {
    // What the controls show now survives; only the server name changes.
    UpdateData(TRUE);
    m_strServer = AppProfile().Text("DefaultServer");
    UpdateData(FALSE);
    return TRUE;
}

BOOL CClockDlg::LoadSettings() {
    LoadDefaultServer();
    ProfileSettings kept;
    kept.referenceCheck = m_bReferenceCheck;
    kept.referenceHours = m_nReferenceHours;
    kept.windowPos = m_bWindowPos;
    const ProfileSettings s = ReadProfileSettings(AppProfile(), kept);

    m_nProtocol = s.protocol;
    m_strProtocol = s.protocolName;
    m_bReferenceCheck = s.referenceCheck;
    m_nReferenceHours = s.referenceHours;
    m_bClockDisplay = s.clockDisplay;
    m_nClockFormat = s.clockFormat;
    m_nClockTarget = s.clockTarget;
    m_bLogFile = s.logFile;
    m_bBeep = s.beep;
    m_bAutoAdjust = s.autoAdjust;
    m_bAutoTerminate = s.autoTerminate;
    m_bIconicStart = s.iconicStart;
    m_bIndicatorLine = s.indicatorLine;
    m_nTimeOut = s.timeOut;
    m_strTimeOut = s.timeOutText;
    m_bWindowPos = s.windowPos;
    m_bManualStart = 0;
    m_bScheduledStart = 0;
    m_bErrorRetry = s.errorRetry;
    m_nRetryCount = s.retryCount;
    m_nRetryInterval = s.retryInterval;
    SetDlgItemText(IDC_IND_RETRY_COUNT, RetryCountText(s.retryCount));
    SetDlgItemText(IDC_IND_RETRY_INTERVAL, RetryIntervalText(s.retryValue, s.retryUnit));
    m_bAdjustAt = s.adjustAt;
    m_nAdjustHour = s.adjustHour;
    m_nAdjustMinute = s.adjustMinute;
    SetDlgItemText(IDC_IND_ADJUST_AT, AdjustAtText(s.adjustHour, s.adjustMinute));
    UpdateData(FALSE);
    return TRUE;
}

void CClockDlg::ReloadSettings() { LoadSettings(); }

bool CClockDlg::PreQueryGuard() {
    if (m_strServer.IsEmpty()) {
        AfxMessageBox(LoadAppString(IDS_NO_SERVER_NAME));
        return false;
    }
    return CheckDialupConnection() != 0;
}

ServerQuery CClockDlg::Query() const {
    ServerQuery query;
    query.server = m_strServer;
    query.protocol = m_nProtocol;
    query.timeOut = m_nTimeOut;
    query.beep = m_bBeep;
    query.referenceCheck = m_bReferenceCheck;
    query.referenceHours = m_nReferenceHours;
    return query;
}

void CClockDlg::RecordHistory(int mode, const CommandOutcome& outcome, const CString& pcTimeText) {
    if (!m_bLogFile) return;
    const CWinApp* app = AfxGetApp();
    if (!app) return;
    WriteHistoryRecord(HistoryLogPath(app->GetProfilePath()), pcTimeText, m_strServer,
                       m_nProtocol, mode, outcome.HistoryDetail(), outcome.serverTimeText);
}

void CClockDlg::OnCheck() {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    m_strServerTime = kConnecting;
    UpdateData(FALSE);

    const CommandOutcome outcome = CheckServerTime(Query());
    RecordHistory(kModeCheck, outcome, outcome.pcTimeText);
    m_strServerTime = outcome.success ? outcome.serverTimeText : outcome.statusText;
    m_strPcTime = outcome.pcTimeText;
    m_strLastPcTime = outcome.pcTimeText;
    UpdateData(FALSE);
    // The PC time stays in view a moment before the running clock writes over it.
    if (m_bClockDisplay) Sleep(1000);
}

void CClockDlg::OnAdjust() {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    m_bManualStart = 1;
    RunAdjustment();
    UpdateData(FALSE);
}

// One adjustment for now; the retry series and the result notice belong here.
void CClockDlg::RunAdjustment() { AdjustClock(); }

int CClockDlg::AdjustClock() {
    m_strServerTime = kConnecting;
    UpdateData(FALSE);

    const CommandOutcome outcome = AdjustPcClock(Query());
    m_strLastPcTime = outcome.pcTimeText;
    RecordHistory(kModeAdjust, outcome, m_strLastPcTime);
    if (outcome.success) {
        m_strServerTime = outcome.serverTimeText;
        m_strPcTime = kAdjusted;
    } else {
        m_strServerTime = outcome.statusText;
        m_strPcTime = m_strLastPcTime;
    }
    UpdateData(FALSE);
    return outcome.success;
}

void CClockDlg::ReleaseSettingsButton() {
    HWND button = GetDlgItem(IDC_SETTINGS);
    EnableWindow(button, TRUE);
    SendMessageW(button, BM_SETCHECK, BST_UNCHECKED, 0);
    m_hEditorWnd = nullptr;
}

LRESULT CClockDlg::OnSetEnvNotify(WPARAM code, LPARAM window) {
    switch (code) {
        case 0: {
            // Only a window can be closed later; anything else is no announcement.
            HWND editor = reinterpret_cast<HWND>(window);
            if (!IsWindow(editor)) break;
            if (m_hEditorWnd) {
                AfxMessageBox("SetEnv is already running.");
            } else {
                m_hEditorWnd = editor;
            }
            break;
        }
        case 1:
            ReleaseSettingsButton();
            ReloadSettings();
            break;
        case 2:
            ReleaseSettingsButton();
            break;
        case 3:
            ReloadSettings();
            break;
        default:
            break;
    }
    return 0;
}

int CClockDlg::CloseEditor() {
    if (m_hEditorWnd) {
        // A window that has gone or hangs must not hold up the end of this one.
        if (IsWindow(m_hEditorWnd)) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(m_hEditorWnd, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kEditorCloseWaitMs,
                                &ignored);
        }
        m_hEditorWnd = nullptr;
    }
    return 1;
}

void CClockDlg::OnOK() {
    CloseEditor();
    CDialog::OnOK();
}

void CClockDlg::OnCancel() {
    CloseEditor();
    CDialog::OnCancel();
}

void CClockDlg::OnDestroy() {
    if (!m_strPropertyName.IsEmpty()) RemovePropW(m_hWnd, Widen(m_strPropertyName).c_str());
    if (AfxGetMainWnd() == m_hWnd) AfxSetMainWnd(nullptr);
    if (m_bVoice) {
        CNoticeDlg notice;
        notice.m_strUpper = LoadAppString(IDS_TITLE);
        notice.m_strLower = kExiting;
        notice.m_nDisplayTime = 2000;
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
