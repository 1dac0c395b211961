#include "app/clock_app_win.h"

#include <string>

#include "app/app_state.h"
#include "app/start_up.h"
#include "engine/query_request.h"
#include "framework/afx_win.h"
#include "framework/context.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "logging/event_log.h"
#include "res/string_ids.h"
#include "ui/clock_dlg_win.h"
#include "ui/elevation.h"

CClockApp theApp;

static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED, "winerror.h's value");
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS, "winerror.h's value");

bool AcquireInstanceMutex(const std::wstring& name, bool startedByOffer, ScopedHandle& held,
                          DWORD handOverMs) {
    const DWORD start = GetTickCount();
    HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
    DWORD error = GetLastError();  // before anything else can change it
    for (;;) {
        held.Reset(mutex);
        switch (DecideInstanceStart(mutex != nullptr, error, startedByOffer)) {
            case InstanceStart::kRun: return true;
            case InstanceStart::kRefuse: return false;
            case InstanceStart::kWaitForHandOver: break;
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= handOverMs) return false;
        const DWORD left = handOverMs - waited;
        if (mutex) {
            const DWORD handedOver = WaitForSingleObject(mutex, left);
            return handedOver == WAIT_OBJECT_0 || handedOver == WAIT_ABANDONED;
        }
        Sleep(left < kHandOverRetryMs ? left : kHandOverRetryMs);
        mutex = CreateMutexW(nullptr, TRUE, name.c_str());
        error = GetLastError();
    }
}

void CClockApp::RecordTimeZone(const char* key) { WriteProfileString("TZ", key, TimeZoneRecord()); }

BOOL CClockApp::InitInstance() {
    const CString appName = AfxGetAppName();

    // One copy per executable name. The mutex is held, unreleased, as long as the
    // application object lives; a copy under another name is another program.
    const bool startedByOffer = StartedByElevationOffer(m_lpCmdLine);
    if (!AcquireInstanceMutex(Widen(appName), startedByOffer, m_hInstanceMutex)) {
        AfxMessageBox(LoadAppString(IDS_TITLE) + LoadAppString(IDS_ALREADY_RUNNING));
        return FALSE;
    }

    if (!AfxSocketInit()) {
        AfxMessageBox(LoadAppString(IDS_SOCKET_INIT_FAILED));
        return FALSE;
    }

    ScanCommandLine(m_lpCmdLine);
    SetProfilePath(MakeProfilePath(AfxGetModulePath()));
    // The packet trace is given to the queries, chosen here once: the switch and the
    // file beside the profile.
    const SntpTrace trace{&WriteSntpLog, EventLogPath(GetProfilePath())};
    const bool traced = (traceFlags & kTracePackets) != 0;
    ScopedContext seams(CurrentContext().With(traced ? &trace : nullptr));

    // The C runtime's local time is Japan Standard Time for every text the program
    // makes; the Win32 clock calls keep the host's own zone.
    RecordTimeZone("tz0");
    if (!FixTimeZoneAtJst()) AfxMessageBox("can't set putenv().");
    RecordTimeZone("tz1");
    ClearDaylightFlag();
    RecordTimeZone("tz2");

    CClockDlg dialog(appName, startedByOffer);
    dialog.DoModal();
    return FALSE;
}
