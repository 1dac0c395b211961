// The main dialog's settings: read from the profile into the window and its daily
// timer, and read again when the settings editor has saved them.
#include <cwchar>
#include <vector>

#include "framework/winapp_win.h"
#include "res/resource.h"
#include "settings/profile_section_win.h"
#include "settings/registry_source_win.h"
#include "settings/setting_sources.h"
#include "ui/clock_dlg_win.h"

void CClockDlg::LoadSettings() {
    // What the controls show now survives the load.
    UpdateData(TRUE);
    // A key that Group Policy sets wins over the profile. An instance started as
    // administrator takes the time service's parameters over the profile too: the
    // installed profile is one that any user may write, and what the right to set the
    // clock acts on must come from what only administrators write. The reference time
    // and the restore flag keep their values where no source gives one.
    const RegistrySource policy(kPolicyKey);
    const RegistrySource parameters(kServiceParametersKey);
    const ProfileSection profile(AfxGetApp());
    std::vector<LayeredSource::Layer> layers = {{&policy, SettingOrigin::kPolicy}};
    if (m_bStartedByOffer) layers.push_back({&parameters, SettingOrigin::kParameters});
    layers.push_back({&profile, SettingOrigin::kProfile});
    const LayeredSource source(std::move(layers));
    m_settings = ReadProfileSettings(source, m_settings);
    m_retry.manualStart = 0;
    m_retry.scheduledStart = 0;
    SetDlgItemText(IDC_SERVER, m_settings.server);
    // Authenticated SNTP shows as NTS: the user sees which of the two the queries use.
    SetDlgItemText(IDC_PROTOCOL, ShownProtocolName(m_settings));
    m_statusLine.ShowTexts(m_settings);
    ShowRetryText(Series().CountText());
    ArmAdjustAtTimer();
    UpdateData(FALSE);
}

void CClockDlg::ReloadSettings() {
    // The command under way keeps the server, protocol and switches it started with.
    if (m_gate.Busy()) {
        m_gate.Defer(CommandGate::kReload);
        return;
    }
    ReloadSettingsNow();
}

void CClockDlg::OnSettingChange(UINT, const wchar_t* area) {
    if (area && std::wcscmp(area, L"Policy") == 0) ReloadSettings();
}

void CClockDlg::ReloadSettingsNow() {
    KillAllTimers();
    LoadSettings();
    LayoutIndicatorLine();
    m_statusLine.StartClock(m_settings);
}

void CClockDlg::LayoutIndicatorLine() {
    m_heights.Apply(m_hWnd, GetDlgItem(IDC_IND_MARKER), m_settings.indicatorLine != 0);
    if (m_settings.indicatorLine) m_statusLine.EnableIndicators(m_settings);
}
