#include "ui/clock_dlg_win.h"

#include <string>
#include <vector>

#include "app/profile_section_win.h"
#include "framework/afx_win.h"
#include "framework/clock.h"
#include "framework/crt_time.h"
#include "framework/scan.h"
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
const char kError[] = "<< ERROR!! >>";
const char kExiting[] = "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81\x42";  // "終了します。"
constexpr int kModeCheck = 0;
constexpr int kModeAdjust = 1;
// How long closing the main window waits for the settings editor to close.
constexpr UINT kEditorCloseWaitMs = 5000;
// How long the notices stay: an adjustment's result, the automatic exit.
constexpr std::uint32_t kResultNoticeMs = 3000;
constexpr std::uint32_t kExitNoticeMs = 2000;
// Rounds of waiting work run after a command; work that keeps arriving during them
// waits for the next command.
constexpr int kDeferredRounds = 4;

// The status line's indicators and the setting each one shows.
struct Indicator {
    int id;
    int CClockDlg::*setting;
};
const Indicator kIndicators[] = {
    {IDC_IND_AUTO_EXIT, &CClockDlg::m_bAutoTerminate}, {IDC_IND_LOGFILE, &CClockDlg::m_bLogFile},
    {IDC_IND_BEEP, &CClockDlg::m_bBeep},               {IDC_IND_ICONIC, &CClockDlg::m_bIconicStart},
    {IDC_IND_AT, &CClockDlg::m_bAdjustAt},             {IDC_IND_ADJUST_AT, &CClockDlg::m_bAdjustAt},
    {IDC_IND_RETRY, &CClockDlg::m_bErrorRetry},        {IDC_IND_RETRY_COUNT, &CClockDlg::m_bErrorRetry},
    {IDC_IND_RETRY_INTERVAL, &CClockDlg::m_bErrorRetry},
};

long long Width(const RECT& r) { return static_cast<long long>(r.right) - r.left; }
long long Height(const RECT& r) { return static_cast<long long>(r.bottom) - r.top; }

LONG ToLong(long long value) {
    if (value > LONG_MAX) return LONG_MAX;
    if (value < LONG_MIN) return LONG_MIN;
    return static_cast<LONG>(value);
}

// The whole monitor nearest the rectangle: where a saved window is put back.
PixelRect MonitorNearest(const RECT& rect) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info)) {
        return PixelRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return PixelRect{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right,
                     info.rcMonitor.bottom};
}

// The offset of workspace coordinates (those of a window's placement) from screen
// coordinates on the monitor nearest the rectangle: the work area's corner.
POINT WorkspaceOrigin(const RECT& rect) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info)) return POINT{0, 0};
    return POINT{info.rcWork.left - info.rcMonitor.left, info.rcWork.top - info.rcMonitor.top};
}

}  // namespace

BEGIN_MESSAGE_MAP(CClockDlg)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_COMMAND(IDC_CHECK, OnCheck)
    ON_COMMAND(IDC_ADJUST, OnAdjust)
    ON_COMMAND(IDC_SETTINGS, OnSettings)
    ON_WM_TIMER()
    ON_MESSAGE(WM_SETENV_NOTIFY, OnSetEnvNotify)
    ON_WM_SHOWWINDOW()
    ON_MESSAGE(WM_GIVE_BACK_FOREGROUND, OnGiveBackForeground)
    ON_COMMAND(IDC_VOICE, OnVoice)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CClockDlg::CClockDlg(HWND parent)
    : CDialog(IDD_MAIN, parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN))),
      m_clockTimer(this, TIMER_CLOCK),
      m_retryTimer(this, TIMER_RETRY),
      m_adjustAtTimer(this, TIMER_ADJUSTAT),
      // The window the user works in, before this one exists to take its place.
      m_hForegroundAtStart(GetForegroundWindow()) {}

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
    }
    LayoutIndicatorLine(m_bIndicatorLine);
    StartClockDisplay();
    UpdateData(FALSE);
    return TRUE;
}

std::wstring CClockDlg::EditorPath() const {
    // Beside this program only, never a file of that name elsewhere on the search path.
    const std::wstring folder = AfxGetModuleFolder();
    return folder.empty() ? folder : folder + Widen(LoadAppString(IDS_EDITOR_FILE));
}

void CClockDlg::CheckSettingsEditor() {
    const std::wstring path = EditorPath();
    const DWORD attributes =
        path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ShowWindow(GetDlgItem(IDC_SETTINGS), SW_HIDE);
    }
}

DWORD LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                    DWORD* processId) {
    // The program by its full path, quoted, as the first word of its command line.
    std::wstring line = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
        return GetLastError();
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    *processId = started.dwProcessId;
    return 0;
}

void CClockDlg::OnSettings() {
    HWND button = GetDlgItem(IDC_SETTINGS);
    EnableWindow(button, FALSE);
    SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);

    const CWinApp* app = AfxGetApp();
    const std::wstring profile = app ? app->GetProfilePath() : std::wstring();
    // The window the editor answers: the active one, this one when none is active.
    HWND answer = GetActiveWindow();
    if (!answer) answer = m_hWnd;
    const std::wstring arguments =
        L"-profile=\"" + profile + L"\" -geohwnd=" +
        std::to_wstring(static_cast<long long>(reinterpret_cast<INT_PTR>(answer))) + L" xyz";
    // The editor's file name, a blank and the arguments fit its 255 characters.
    const size_t length = Widen(LoadAppString(IDS_EDITOR_FILE)).size() + 1 + arguments.size();
    if (length > 255) {
        ReleaseSettingsButton();
        AfxMessageBox(LoadAppString(IDS_EDITOR_LINE_TOO_LONG));
        return;
    }
    DWORD process = 0;
    const DWORD error = LaunchProgram(EditorPath(), arguments, &process);
    if (error != 0) {
        ReleaseSettingsButton();
        CString text;
        text.Format(" (%lu)", static_cast<unsigned long>(error));
        AfxMessageBox(LoadAppString(IDS_EDITOR_NOT_STARTED) + text);
        return;
    }
    m_dwEditorProcess = process;
}

BOOL CClockDlg::LoadDefaultServer() {
    // What the controls show now survives; only the server name changes.
    UpdateData(TRUE);
    m_strServer = ProfileSection(AfxGetApp()).Text("DefaultServer");
    UpdateData(FALSE);
    return TRUE;
}

BOOL CClockDlg::LoadSettings() {
    LoadDefaultServer();
    ProfileSettings kept;
    kept.referenceCheck = m_bReferenceCheck;
    kept.referenceHours = m_nReferenceHours;
    kept.windowPos = m_bWindowPos;
    const ProfileSettings s = ReadProfileSettings(ProfileSection(AfxGetApp()), kept);

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
    ShowRetryCount();
    SetDlgItemText(IDC_IND_RETRY_INTERVAL, RetryIntervalText(s.retryValue, s.retryUnit));
    m_bAdjustAt = s.adjustAt;
    m_nAdjustHour = s.adjustHour;
    m_nAdjustMinute = s.adjustMinute;
    SetDlgItemText(IDC_IND_ADJUST_AT, AdjustAtText(s.adjustHour, s.adjustMinute));
    if (m_bAdjustAt) {
        ArmAdjustAtTimer();
    } else {
        KillAdjustAtTimer();
    }
    UpdateData(FALSE);
    return TRUE;
}

void CClockDlg::ReloadSettings() {
    // The command under way keeps the server, protocol and switches it started with.
    if (m_gate.Busy()) {
        m_gate.Defer(CommandGate::kReload);
        return;
    }
    ReloadSettingsNow();
}

void CClockDlg::ReloadSettingsNow() {
    KillAllTimers();
    LoadSettings();
    LayoutIndicatorLine(m_bIndicatorLine);
    StartClockDisplay();
}

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

template <class Command>
void CClockDlg::RunCommand(Command command) {
    {
        CommandGate::Scope busy(m_gate);
        command();
    }
    if (m_gate.Busy() || m_bDraining) return;
    m_bDraining = true;
    for (int round = 0; round < kDeferredRounds && !m_bEnding; ++round) {
        const std::vector<int> work = m_gate.TakeDeferred();
        if (work.empty()) break;
        for (int item : work) {
            if (m_bEnding) break;
            if (item == CommandGate::kReload) {
                ReloadSettingsNow();
            } else {
                RunTimerCommand(static_cast<UINT_PTR>(item));
            }
        }
    }
    m_bDraining = false;
}

void CClockDlg::OnCheck() {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    RunCommand([this] {
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
    });
}

void CClockDlg::OnAdjust() {
    UpdateData(TRUE);
    if (!PreQueryGuard()) return;
    m_bManualStart = 1;
    RunCommand([this] { RunAdjustment(); });
    UpdateData(FALSE);
}

RetrySeries CClockDlg::Series() {
    return RetrySeries{m_bErrorRetry,   m_nRetryCount,  m_nRetryInterval,
                       m_nRetryAttempt, m_bManualStart, m_bScheduledStart};
}

int CClockDlg::RunAdjustment() { return ::RunAdjustment(Series(), *this); }

void CClockDlg::ShowResultNotice(bool success) {
    CNoticeDlg notice;
    notice.m_strUpper = success ? m_strServerTime : CString(kError);
    notice.m_strLower = m_strPcTime;
    notice.m_nDisplayTime = kResultNoticeMs;
    notice.DoModal();
}

void CClockDlg::ShowRetryText(const CString& text) { SetDlgItemText(IDC_IND_RETRY_COUNT, text); }

void CClockDlg::ShowRetryCount() { ShowRetryText(Series().CountText()); }

void CClockDlg::ShowRetryProgress() { ShowRetryText(Series().ProgressText()); }

void CClockDlg::TerminateAfterAdjust() {
    if (!m_bAutoAdjust) {
        OnOK();
        return;
    }
    CNoticeDlg notice;
    notice.m_strUpper = LoadAppString(IDS_AUTO_EXIT);
    notice.m_strLower = LoadAppString(IDS_ESC_CANCELS);
    notice.m_nDisplayTime = kExitNoticeMs;
    if (notice.DoModal() == IDOK) {
        OnCancel();
    } else {
        ShowWindow(m_hWnd, SW_RESTORE);
    }
}

void CClockDlg::OnTimer(UINT_PTR id) {
    switch (id) {
        case TIMER_CLOCK:
            UpdateClockDisplay();
            break;
        case TIMER_RETRY:
        case TIMER_ADJUSTAT:
        case TIMER_CHECK:
            // A second query or a second run's notices must not start inside a command.
            if (m_gate.Busy()) {
                m_gate.Defer(static_cast<int>(id));
            } else {
                RunTimerCommand(id);
            }
            break;
        default: {
            KillTimer(id);
            CString text;
            text.Format("timerID=%i is killed", static_cast<int>(id));
            AfxMessageBox(text);
            break;
        }
    }
}

void CClockDlg::RunTimerCommand(UINT_PTR id) {
    if (id == TIMER_CHECK) {
        OnCheck();
    } else if (id == TIMER_RETRY) {
        // A retry that a reload or another run has taken away meanwhile is gone.
        if (m_retryTimer.IsRunning()) RunCommand([this] { RunAdjustment(); });
    } else if (id == TIMER_ADJUSTAT) {
        if (!m_bAdjustAt) return;
        RunCommand([this] {
            m_bScheduledStart = 1;
            RunAdjustment();
            // From the end of this run to the same time tomorrow, while still wanted.
            KillAdjustAtTimer();
            if (m_bAdjustAt) ArmAdjustAtTimer();
        });
    }
}

void CClockDlg::ArmAdjustAtTimer() {
    KillAdjustAtTimer();
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    const int delay =
        AdjustAtDelaySeconds(now.wHour, now.wMinute, now.wSecond, m_nAdjustHour, m_nAdjustMinute);
    m_adjustAtTimer.Set(static_cast<UINT>(delay) * 1000u);
}

void CClockDlg::KillAdjustAtTimer() { m_adjustAtTimer.Kill(); }

void CClockDlg::KillAllTimers() {
    m_clockTimer.Kill();
    m_retryTimer.Kill();
    m_adjustAtTimer.Kill();
}

void CClockDlg::OnShowWindow(BOOL, UINT) {
    if (m_bShown) return;
    m_bShown = 1;
    if (m_bIconicStart) {
        StartMinimized(SW_SHOWMINNOACTIVE);
        // The dialog manager activates the window as its first show goes on.
        PostMessageW(m_hWnd, WM_GIVE_BACK_FOREGROUND, 0, 0);
    } else if (m_bWindowPos) {
        RestoreWindowPos();
    }
    if (m_bAutoAdjust) OnAdjust();
}

// A window that starts minimized takes no keystrokes meant for another: the window
// in front before it started is put in front again.
LRESULT CClockDlg::OnGiveBackForeground(WPARAM, LPARAM) {
    HWND previous = m_hForegroundAtStart;
    if (IsIconic(m_hWnd) && GetForegroundWindow() == m_hWnd && previous != m_hWnd &&
        IsWindow(previous)) {
        SetForegroundWindow(previous);
    }
    return 0;
}

// The main window's title, reached as the application's main window.
void CClockDlg::SetTitle(const CString& text) {
    HWND main = AfxGetMainWnd();
    SetWindowTextW(main ? main : m_hWnd, Widen(text).c_str());
}

void CClockDlg::StartClockDisplay() {
    SetDlgItemText(IDC_PC_TIME, "");
    SetTitle(LoadAppString(IDS_TITLE));
    if (m_bClockDisplay) {
        if (!m_clockTimer.IsRunning()) m_clockTimer.Set(1000);
        UpdateClockDisplay();
    } else {
        m_clockTimer.Kill();
    }
}

void CClockDlg::UpdateClockDisplay() {
    FILETIME now{};
    PcClock().GetSystemTimeAsFileTime(&now);
    const long long ticks =
        (static_cast<long long>(now.dwHighDateTime) << 32) | static_cast<long long>(now.dwLowDateTime);
    const CString text = ClockDisplayText((ticks - kFileTime1970) / 10000000, m_nClockFormat);
    if (m_nClockTarget == 1) {
        SetTitle(text);
    } else if (m_nClockTarget == 0) {
        SetDlgItemText(IDC_PC_TIME, text);
    }
}

int CClockDlg::SaveWindowPos() {
    UpdateData(TRUE);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(m_hWnd, &placement);
    // Saved as the restore reads it, in screen pixels: the window's own rectangle, or
    // for a minimized or maximized window its normal one, which the placement gives in
    // workspace pixels (shifted by a task bar at the top or left).
    RECT rect{};
    if (IsIconic(m_hWnd) || IsZoomed(m_hWnd)) {
        rect = placement.rcNormalPosition;
        const POINT origin = WorkspaceOrigin(rect);
        OffsetRect(&rect, origin.x, origin.y);
    } else {
        GetWindowRect(m_hWnd, &rect);
    }
    CString value;
    value.Format("%i,%i,%i,%i", m_bWindowPos, static_cast<int>(rect.left),
                 static_cast<int>(rect.top), static_cast<int>(placement.showCmd));
    if (CWinApp* app = AfxGetApp(); app && !app->GetProfilePath().empty()) {
        app->WriteProfileString("Property", "WindowPos", value);
    }
    return 1;
}

void CClockDlg::RestoreWindowPos() {
    RECT rect{};
    GetWindowRect(m_hWnd, &rect);
    int saved[3] = {0, 0, 0};
    const int read = ScanIntegers(ProfileSection(AfxGetApp()).Text("WindowPos"), ",,", saved, 3);
    // Without a position the window stays where the system put it.
    if (saved[0] == 0 || read < 3) return;
    const long long width = Width(rect), height = Height(rect);
    const RECT wanted{ToLong(saved[1]), ToLong(saved[2]), ToLong(saved[1] + width),
                      ToLong(saved[2] + height)};
    long long left = 0, top = 0;
    PlaceOnScreen(width, height, saved[1], saved[2], MonitorNearest(wanted), &left, &top);
    MoveWindow(m_hWnd, ToLong(left), ToLong(top), ToLong(width), ToLong(height), TRUE);
}

BOOL CClockDlg::StartMinimized(int showCommand) {
    RestoreWindowPos();
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(m_hWnd, &placement);
    placement.showCmd = static_cast<UINT>(showCommand);
    placement.length = sizeof placement;
    placement.flags = WPF_SETMINPOSITION;
    return SetWindowPlacement(m_hWnd, &placement);
}

void CClockDlg::LayoutIndicatorLine(int showLine) {
    if (m_rcFull.left == 0 && m_rcFull.top == 0 && m_rcFull.right == 0 && m_rcFull.bottom == 0) {
        GetWindowRect(m_hWnd, &m_rcFull);
        m_rcCompact = m_rcFull;
        RECT marker{};
        GetWindowRect(GetDlgItem(IDC_IND_MARKER), &marker);
        m_rcCompact.bottom = marker.top;
    }
    const RECT& size = showLine ? m_rcFull : m_rcCompact;
    SetWindowPos(m_hWnd, nullptr, 0, 0, ToLong(Width(size)), ToLong(Height(size)),
                 SWP_NOMOVE | SWP_NOZORDER);
    if (showLine) EnableIndicators();
}

void CClockDlg::EnableIndicators() {
    for (const Indicator& indicator : kIndicators) {
        EnableWindow(GetDlgItem(indicator.id), this->*indicator.setting ? TRUE : FALSE);
    }
}

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
            // Anybody may send this message: only a live window of the editor that the
            // Settings button started is one to close later.
            HWND editor = reinterpret_cast<HWND>(window);
            DWORD owner = 0;
            if (!IsWindow(editor) || !GetWindowThreadProcessId(editor, &owner) ||
                owner != m_dwEditorProcess || owner == 0) {
                break;
            }
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
    SaveWindowPos();
    CloseEditor();
    KillAllTimers();
    m_bEnding = true;
    CDialog::OnOK();
}

void CClockDlg::OnCancel() {
    CloseEditor();
    KillAllTimers();
    m_bEnding = true;
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
