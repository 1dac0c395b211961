#include "app/clock_app_win.h"

#include "app/app_state.h"
#include "app/start_up.h"
#include "framework/afx_win.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "ui/clock_dlg_win.h"

CClockApp theApp;

void CClockApp::RecordTimeZone(const char* key) { WriteProfileString("TZ", key, TimeZoneRecord()); }

BOOL CClockApp::InitInstance() {
    const CString appName = AfxGetAppName();

    // One copy per executable name. The handle is kept, unreleased, for the
    // process's life; a copy under another name is another program.
    HANDLE instance = CreateMutexW(nullptr, TRUE, Widen(appName).c_str());
    if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
        AfxMessageBox(LoadAppString(IDS_TITLE) + LoadAppString(IDS_ALREADY_RUNNING));
        return FALSE;
    }

    if (!AfxSocketInit()) {
        AfxMessageBox(LoadAppString(IDS_SOCKET_INIT_FAILED));
        return FALSE;
    }

    ScanCommandLine(m_lpCmdLine);
    SetAppProfilePath(MakeProfilePath(AfxGetModulePath()));

    // The C runtime's local time is Japan Standard Time for every text the program
    // makes; the Win32 clock calls keep the host's own zone.
    RecordTimeZone("tz0");
    if (!FixTimeZoneAtJst()) AfxMessageBox("can't set putenv().");
    RecordTimeZone("tz1");
    ClearDaylightFlag();
    RecordTimeZone("tz2");

    CClockDlg dialog;
    dialog.m_strPropertyName = appName;
    dialog.DoModal();
    return FALSE;
}
