#include "editor/settings_dlg_win.h"

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "editor/resource.h"
#include "framework/afx_win.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/winapp_win.h"
#include "settings/profile_section_win.h"
#include "settings/registry_source_win.h"

namespace {

// Posted to itself once the dialog is up: the main window then hears of it.
constexpr UINT WM_EDITOR_STARTED = WM_APP + 1;
// The window property that marks the dialog for the tools that look for it.
const wchar_t kProperty[] = L"Quillet";
const char kSection[] = "Property";

// The selection of a drop-down list.
void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    HWND dialog = pDX->m_pDlgWnd->GetSafeHwnd();
    if (pDX->m_bSaveAndValidate) {
        index = static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
    } else {
        SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

}  // namespace

BEGIN_MESSAGE_MAP(CSettingsDlg)
    ON_WM_SYSCOMMAND()
    ON_WM_DESTROY()
    ON_WM_CLOSE()
    ON_COMMAND(IDC_APPLY, OnApply)
    ON_MESSAGE(WM_EDITOR_STARTED, OnStarted)
    ON_WM_SETTINGCHANGE()
    ON_CBN_SELCHANGE(IDC_PROP_PROTOCOL, ShowNtsChoice)
END_MESSAGE_MAP()

CSettingsDlg::CSettingsDlg(CWinApp& app, HWND mainWindow)
    : CDialog(IDD_PROPERTY), m_app(app), m_hMainWnd(mainWindow) {}

BOOL CSettingsDlg::OnInitDialog() {
    // Message boxes belong to this dialog.
    AfxSetMainWnd(m_hWnd);
    SetPropW(m_hWnd, kProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QUILLET));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    for (Protocol protocol : kProtocols) {
        SendDlgItemMessageW(m_hWnd, IDC_PROP_PROTOCOL, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Widen(ProtocolName(protocol)).c_str()));
    }
    FillList(IDC_PROP_CLOCK_FORMAT, IDS_CLOCK_FORMAT_FIRST, 3);
    FillList(IDC_PROP_CLOCK_TARGET, IDS_CLOCK_TARGET_FIRST, 2);
    FillList(IDC_PROP_RETRY_UNIT, IDS_RETRY_UNIT_FIRST, 3);
    for (int samples = 1; samples <= kMostSamples; ++samples) {
        SendDlgItemMessageW(m_hWnd, IDC_PROP_SAMPLES, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(std::to_wstring(samples).c_str()));
    }

    ReadPolicy();
    m_loaded = ReadSettings();
    m_form = FormFromSettings(m_loaded);
    UpdateData(FALSE);
    ShowPolicy();
    PostMessageW(m_hWnd, WM_EDITOR_STARTED, 0, 0);
    // A greyed control cannot take the focus: the first one that the user may change
    // does.
    HWND first = GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
    if (first && first != GetDlgItem(IDC_PROP_SERVER)) {
        SetFocus(first);
        return FALSE;
    }
    return TRUE;
}

void CSettingsDlg::ReadPolicy() { m_policy = PolicySnapshot(RegistrySource(kPolicyKey)); }

ProfileSettings CSettingsDlg::ReadSettings() const {
    const ProfileSection profile(&m_app);
    const LayeredSource inForce(
        {{&m_policy, SettingOrigin::kPolicy}, {&profile, SettingOrigin::kProfile}});
    return ReadProfileSettings(inForce, ProfileSettings());
}

void CSettingsDlg::ShowPolicy() {
    bool anySet = false;
    for (const KeyControls& shown : kKeyControls) {
        const bool set = m_policy.Has(shown.key);
        anySet = anySet || set;
        for (int id : shown.controls) {
            if (id != 0) EnableWindow(GetDlgItem(id), set ? FALSE : TRUE);
        }
    }
    ShowWindow(GetDlgItem(IDC_POLICY_NOTE), anySet ? SW_SHOWNA : SW_HIDE);
    ShowNtsChoice();
}

void CSettingsDlg::ShowNtsChoice() {
    const int protocol =
        static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_PROP_PROTOCOL, CB_GETCURSEL, 0, 0));
    EnableWindow(GetDlgItem(IDC_PROP_NTS), NtsChoiceEnabled(protocol, m_policy) ? TRUE : FALSE);
}

void CSettingsDlg::ReloadPolicy() {
    UpdateData(TRUE);
    const MapSource before = m_policy;
    ReadPolicy();
    m_loaded = ReadSettings();
    const SettingsForm inForce = FormFromSettings(m_loaded);
    for (const KeyControls& shown : kKeyControls) {
        if (before.Has(shown.key) || m_policy.Has(shown.key)) {
            TakeKeyFromForm(shown.key, inForce, &m_form);
        }
    }
    UpdateData(FALSE);
    ShowPolicy();
    // The focus may have been on a control now greyed.
    HWND focus = ::GetFocus();
    if (!focus || !IsWindowEnabled(focus)) {
        HWND first = GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
        if (first) SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
}

void CSettingsDlg::OnSettingChange(UINT, const wchar_t* area) {
    if (area && std::wcscmp(area, L"Policy") == 0) ReloadPolicy();
}

void CSettingsDlg::FillList(int id, unsigned firstText, int count) {
    for (int item = 0; item < count; ++item) {
        const std::wstring text = Widen(LoadAppString(firstText + static_cast<unsigned>(item)));
        SendDlgItemMessageW(m_hWnd, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void CSettingsDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_PROP_SERVER, m_form.server);
    DDX_CBIndex(pDX, IDC_PROP_PROTOCOL, m_form.protocol);
    DDX_Check(pDX, IDC_PROP_NTS, m_form.nts);
    DDX_Text(pDX, IDC_PROP_TIMEOUT, m_form.timeOut);
    DDX_Check(pDX, IDC_PROP_REFERENCE, m_form.referenceCheck);
    DDX_Text(pDX, IDC_PROP_REFERENCE_HOURS, m_form.referenceHours);
    DDX_Text(pDX, IDC_PROP_FALLBACK, m_form.fallbackServers);
    DDX_CBIndex(pDX, IDC_PROP_SAMPLES, m_form.samples);
    DDX_Check(pDX, IDC_PROP_CLOCK, m_form.clockDisplay);
    DDX_CBIndex(pDX, IDC_PROP_CLOCK_FORMAT, m_form.clockFormat);
    DDX_CBIndex(pDX, IDC_PROP_CLOCK_TARGET, m_form.clockTarget);
    DDX_Check(pDX, IDC_PROP_LOGFILE, m_form.logFile);
    DDX_Check(pDX, IDC_PROP_BEEP, m_form.beep);
    DDX_Check(pDX, IDC_PROP_AUTO_ADJUST, m_form.autoAdjust);
    DDX_Check(pDX, IDC_PROP_AUTO_TERMINATE, m_form.autoTerminate);
    DDX_Check(pDX, IDC_PROP_ICONIC, m_form.iconicStart);
    DDX_Check(pDX, IDC_PROP_INDICATOR, m_form.indicatorLine);
    DDX_Check(pDX, IDC_PROP_WINDOW_POS, m_form.windowPos);
    DDX_Check(pDX, IDC_PROP_RETRY, m_form.errorRetry);
    DDX_Text(pDX, IDC_PROP_RETRY_COUNT, m_form.retryCount);
    DDX_Text(pDX, IDC_PROP_RETRY_VALUE, m_form.retryValue);
    DDX_CBIndex(pDX, IDC_PROP_RETRY_UNIT, m_form.retryUnit);
    DDX_Check(pDX, IDC_PROP_ADJUST_AT, m_form.adjustAt);
    DDX_Text(pDX, IDC_PROP_ADJUST_HOUR, m_form.adjustHour);
    DDX_Text(pDX, IDC_PROP_ADJUST_MINUTE, m_form.adjustMinute);
    DDX_Text(pDX, IDC_PROP_MAX_CORRECTION, m_form.maxCorrection);
}

bool CSettingsDlg::Save() {
    UpdateData(TRUE);
    ProfileSettings settings;
    const FormProblem problem = SettingsFromForm(m_form, m_loaded, m_policy, &settings);
    if (problem.message != 0) {
        AfxMessageBox(LoadAppString(problem.message));
        HWND control = GetDlgItem(problem.control);
        SetFocus(control);
        SendMessageW(control, EM_SETSEL, 0, -1);
        return false;
    }
    std::vector<ProfileEntry> entries = ProfileEntries(settings);
    // The window's place is the main window's: only its restore flag is ours, and
    // only when the user changed it.
    if (settings.windowPos != m_loaded.windowPos) {
        const CString stored = ProfileSection(&m_app).Text("WindowPos");
        entries.push_back({"WindowPos", WindowPosWithFlag(stored, settings.windowPos)});
    }
    // What policy sets is the administrator's: the profile keeps the user's own value
    // for when the policy goes.
    entries = EntriesNotSetBy(m_policy, std::move(entries));
    for (const ProfileEntry& entry : entries) {
        if (!m_app.WriteProfileString(kSection, entry.key, entry.value)) {
            AfxMessageBox(LoadAppString(IDS_WRITE_FAILED));
            return false;
        }
    }
    m_loaded = settings;
    m_form = FormFromSettings(settings);
    UpdateData(FALSE);
    return true;
}

void CSettingsDlg::Notify(EditorCode code, LPARAM lParam) {
    // Only a live window is told: the main window may have ended before the editor.
    if (!m_hMainWnd || !IsWindow(m_hMainWnd)) return;
    SendMessageW(m_hMainWnd, WM_SETENV_NOTIFY, static_cast<WPARAM>(code), lParam);
}

LRESULT CSettingsDlg::OnStarted(WPARAM, LPARAM) {
    Notify(EditorCode::kAnnounce, reinterpret_cast<LPARAM>(m_hWnd));
    return 0;
}

void CSettingsDlg::OnApply() {
    if (Save()) Notify(EditorCode::kSaved);
}

void CSettingsDlg::OnOK() {
    if (m_bEnding || !Save()) return;
    m_bEnding = true;
    Notify(EditorCode::kSavedAndClosed);
    EndDialog(IDOK);
}

void CSettingsDlg::OnCancel() {
    if (m_bEnding) return;
    m_bEnding = true;
    Notify(EditorCode::kClosed);
    EndDialog(IDCANCEL);
}

// The close box and Alt+F4 are the user's Cancel.
void CSettingsDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if (id == SC_CLOSE) {
        OnCancel();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

// The main window is closing: the dialog ends unsaved, and tells nobody.
void CSettingsDlg::OnClose() {
    if (m_bEnding) return;
    m_bEnding = true;
    EndDialog(IDCANCEL);
}

void CSettingsDlg::OnDestroy() {
    RemovePropW(m_hWnd, kProperty);
    if (AfxGetMainWnd() == m_hWnd) AfxSetMainWnd(nullptr);
}
