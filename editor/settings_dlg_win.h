// The settings editor's dialog: every setting of section Property that the main
// window reads; of the window's place only whether it is restored at start. It reads
// the policy and the profile when it opens and writes the profile on Apply and OK, and
// tells the main window that started it what it did. A key that Group Policy sets
// shows the policy's value, greyed, with a note why; it is never written.
#pragma once

#include "editor/settings_form.h"
#include "framework/dialog_win.h"
#include "settings/editor_link.h"
#include "settings/setting_sources.h"
#include "settings/settings.h"

class CWinApp;

class CSettingsDlg : public CDialog {
  public:
    // The dialog over the application's profile; mainWindow (may be null) gets the
    // notices while it is a window.
    CSettingsDlg(CWinApp& app, HWND mainWindow);

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnApply();
    void OnDestroy();
    LRESULT OnStarted(WPARAM, LPARAM);
    // WM_CLOSE comes only from another window (the main window closing), as the
    // user's close box comes as SC_CLOSE first.
    void OnClose();
    // The policy is read again when the system says it changed ("Policy").
    void OnSettingChange(UINT, const wchar_t* area);

  private:
    // Checks the controls and writes the profile; false, with the user told why, when
    // an entry is out of range or the file cannot be written.
    bool Save();
    // Tells the main window (WM_SETENV_NOTIFY).
    void Notify(EditorCode code, LPARAM lParam = 0);
    void FillList(int id, unsigned firstText, int count);
    // The policy's snapshot, and the settings in force: the policy over the profile.
    void ReadPolicy();
    ProfileSettings ReadSettings() const;
    // Greys the controls of the keys that policy sets and shows the note while any is.
    void ShowPolicy();
    // Takes the policy again: the keys it sets, or set until now, show the values now
    // in force; what the user typed elsewhere stays.
    void ReloadPolicy();
    // The NTS check box: open to the user only while SNTP is chosen and policy leaves it.
    void ShowNtsChoice();

    CWinApp& m_app;
    HWND m_hMainWnd;
    MapSource m_policy;        // the editor's keys that policy sets, as read
    ProfileSettings m_loaded;  // the settings in force as last read or written
    SettingsForm m_form;
    bool m_bEnding = false;  // the user has ended the dialog

    DECLARE_MESSAGE_MAP(CSettingsDlg)
};
