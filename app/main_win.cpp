// The program's entry: the DLL search kept to the system folder, the seams bound to
// the real things, then the application object's start-up, which runs the main dialog
// to its end.
#include "app/clock_app_win.h"
#include "engine/nts_client.h"
#include "framework/afx_win.h"
#include "framework/context.h"
#include "framework/system_dll_win.h"
#include "ui/query_dialog_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL: the program may run elevated from a folder that
    // users write.
    RestrictDllSearchToSystemFolder();
    Context real;
    real.showMessage = &ShowMessageBox;
    real.runQuery = &RunQueryInDialog;
    // The NTS sessions live as long as the program and are never destroyed: a worker
    // that a time-out detached may still put its session back while the process ends.
    // The cryptography's DLL is loaded at the first NTS query, not at start-up.
    real.nts = new CNtsClient(&LoadNtsBackendBesideProgram);
    ScopedContext seams(real);
    theApp.m_lpCmdLine = AfxGetCommandTail();
    theApp.InitInstance();
    return 0;
}
