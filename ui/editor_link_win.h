// The main window's side of the settings editor. The Settings button starts the
// editor beside this program and stays pressed while it runs; the editor announces
// its window (which the main window closes when it closes itself) and reports its
// saves and its end. An editor that ends without reporting (it crashed, or was ended
// from the task manager) releases the button as well: the link holds the process the
// button started and looks at it while the button is pressed.
#pragma once

#include <string>

#include "framework/dialog_win.h"
#include "framework/handles_win.h"
#include "framework/timer_win.h"

// Starts a program by its full path with the arguments after it, without waiting;
// 0 with the new process held in process and its id in processId, or the system's
// error code.
DWORD LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                    ScopedHandle* process, DWORD* processId);

class CEditorLink {
  public:
    // The link of the dialog's button buttonId; the dialog's timer timerId watches
    // the editor's process, and the dialog hands its ticks to OnTimer.
    CEditorLink(CDialog* dialog, int buttonId, UINT_PTR timerId);

    // The editor's full path, beside this program only; empty when unknown.
    static std::wstring EditorPath();
    // Hides the button when the editor is not beside this program.
    void HideButtonWithoutEditor();

    // The button's click: presses it and starts the editor on the profile, for the
    // window answer. A failure releases the button and tells the user why.
    void Start(const std::wstring& profile, HWND answer);
    // The editor the button started: the button stays pressed while it runs.
    void Watch(ScopedHandle process, DWORD processId);

    // A WM_SETENV_NOTIFY from an editor; true when the settings must be read again.
    bool OnNotice(WPARAM code, LPARAM window);
    // The watch timer's tick.
    void OnTimer();
    // Closes an announced editor and forgets it: the main window is closing.
    void Close();

  private:
    // The button back up, the editor forgotten.
    void Release();

    CDialog* m_pDialog;
    int m_nButton;
    CDialogTimer m_watch;
    ScopedHandle m_hProcess;      // the editor the button started, while it may run
    DWORD m_dwProcess = 0;        // its id: only its windows may announce themselves
    HWND m_hEditorWnd = nullptr;  // the window the editor announced
};
