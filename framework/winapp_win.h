// The application object of the framework: start-up through InitInstance, and the
// profile file (a Windows INI file) that the whole program reads and writes.
#pragma once

#include <string>

#include "framework/cstring.h"
#include "framework/win_types.h"

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The program's start-up; false ends the program without a message loop.
    virtual BOOL InitInstance() { return FALSE; }

    // The profile file, a Windows INI file: its full path, fixed once at start-up.
    // Paths stay wide, so that any folder name works whatever the code page.
    const std::wstring& GetProfilePath() const { return m_strProfilePath; }
    void SetProfilePath(const std::wstring& path) { m_strProfilePath = path; }

    // The profile file's values, through the Windows private-profile functions.
    // Section and key names match without regard to case. (windows.h renames these
    // members to their "A" forms everywhere alike, which is harmless.)
    int GetProfileInt(const CString& section, const CString& key, int defaultValue) const;
    CString GetProfileString(const CString& section, const CString& key) const;
    BOOL WriteProfileString(const CString& section, const CString& key, const CString& value);

    // The command line after the program's name (code page 932).
    CString m_lpCmdLine;

  private:
    std::wstring m_strProfilePath;
};

// The application object, or null before it is constructed.
CWinApp* AfxGetApp();

// The command line after the program's name, read as UTF-16 and held as code page 932.
CString AfxGetCommandTail();
// The same as the system gives it (wide).
std::wstring AfxGetCommandTailW();
