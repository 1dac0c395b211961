// A small driver for the program's windows, used from another process: it starts
// the program, finds its main window by the property that the program puts on it,
// finds its message boxes, reads control texts and closes windows.
#pragma once

#include <string>
#include <vector>

#include "framework/win_types.h"

// A started program; ended (forcibly if need be) when the object goes.
class Program {
  public:
    Program() = default;
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts path (UTF-8) with the command-line tail; false when it cannot start.
    bool Start(const std::string& path, const std::string& arguments = std::string());
    DWORD Id() const { return m_info.dwProcessId; }
    // Waits up to milliseconds for the program to end; true if it did.
    bool WaitForExit(int milliseconds);
    DWORD ExitCode() const;

  private:
    PROCESS_INFORMATION m_info{};
};

// The top-level window of process processId (any process when 0) that carries the
// window property name, waiting up to milliseconds for it; null when none appears.
HWND WaitForWindowWithProperty(const std::string& name, DWORD processId, int milliseconds);
HWND FindWindowWithProperty(const std::string& name, DWORD processId);

// The visible dialog-class windows (message boxes, dialogs) of a process, waiting up
// to milliseconds for at least one.
std::vector<HWND> WaitForDialogs(DWORD processId, int milliseconds);

// Texts as UTF-8.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// The text of a message box (its static text control).
std::string MessageBoxText(HWND box);

// True when the window's thread answers within the time.
bool Responds(HWND window, int milliseconds = 2000);

// Copies a file; false on failure.
bool CopyFileUtf8(const std::string& from, const std::string& to);
// The folder of this executable, with a trailing backslash.
std::string ModuleFolder();
