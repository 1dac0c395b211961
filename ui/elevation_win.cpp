#include "ui/elevation_win.h"

#include <string>

#include "framework/afx_win.h"
#include "framework/cstring.h"
#include "framework/strings.h"
#include "framework/system_dll_win.h"
#include "framework/text_win.h"
#include "framework/win_types.h"
#include "framework/winapp_win.h"
#include "res/string_ids.h"

// After windows.h.
#include <shellapi.h>

bool StartElevated() {
    const std::wstring program = AfxGetModulePath();
    std::wstring parameters = AfxGetCommandTailW();
    if (!parameters.empty()) parameters += L" ";
    parameters += Widen(kElevatedSwitch);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = AfxGetMainWnd();
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    // The shell is loaded only now: the program needs it for this alone.
    using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const auto shellExecute =
        SystemFunctionAs<ShellExecuteExFunction>(L"shell32.dll", "ShellExecuteExW");
    return shellExecute && shellExecute(&info) != FALSE;
}

bool OfferElevation(const CommandOutcome& outcome, bool startedByOffer) {
    switch (OfferAfterAdjustment(outcome, startedByOffer)) {
        case ElevationOffer::kRestart:
            return AfxMessageBox(LoadAppString(IDS_NEED_ADMIN), MB_YESNO | MB_ICONQUESTION) ==
                       IDYES &&
                   StartElevated();
        case ElevationOffer::kRefusedAsAdmin:
            AfxMessageBox(LoadAppString(IDS_REFUSED_AS_ADMIN), MB_OK | MB_ICONWARNING);
            return false;
        case ElevationOffer::kNone:
            break;
    }
    return false;
}
