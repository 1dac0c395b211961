// Application-wide services of the framework on Windows: the application's name and
// main window, plain message boxes, and the socket library.
#pragma once

#include <string>

#include "framework/cstring.h"
#include "framework/win_types.h"

// The executable's base name (no folder, no extension): the caption of every
// message box.
CString AfxGetAppName();

// The executable's full path, however long, as the system gives it (wide).
std::wstring AfxGetModulePath();
// Its folder with the trailing separator; empty when the path has none.
std::wstring AfxGetModuleFolder();

// The application's main window, or null. A dialog or message box run without a
// parent is owned by it, and it is disabled while they run.
HWND AfxGetMainWnd();
void AfxSetMainWnd(HWND window);

// A plain OK box with the text, through the notification seam; returns IDOK.
int AfxMessageBox(const CString& text);

// A box that asks (type: MB_YESNO and an icon, say), owned by the main window; the
// button pressed. Always a real box: a question needs an answer.
int AfxMessageBox(const CString& text, UINT type);

// The real message box: a sink for the notification seam (BindMessageSink).
void ShowMessageBox(const CString& text);

// Starts Windows Sockets 1.1 for the rest of the process; FALSE when it cannot.
BOOL AfxSocketInit();
