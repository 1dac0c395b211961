#include "app/clock_app_win.h"

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

namespace {

// How long an instance started by the elevation offer waits for the one that offered.
constexpr DWORD kHandOverWaitMs = 10000;

}  // namespace

void CClockApp::RecordTimeZone(const char* key) { WriteProfileString("TZ", key, TimeZoneRecord()); }

BOOL CClockApp::InitInstance() {
    const CString appName = AfxGetAppName();

    // One copy per executable name. The mutex is held, unreleased, as long as the
    // application object lives; a copy under another name is another program.
    const bool startedByOffer = StartedByElevationOffer(m_lpCmdLine);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, Widen(appName).c_str());
    const DWORD created = GetLastError();  // before anything else can change it
    m_hInstanceMutex.Reset(mutex);
    if (m_hInstanceMutex && created == ERROR_ALREADY_EXISTS) {
        // The instance that offered to start this one as administrator ends as this
        // one starts; its mutex comes free (abandoned) when it has.
        const DWORD handedOver =
            startedByOffer ? WaitForSingleObject(mutex, kHandOverWaitMs) : WAIT_TIMEOUT;
        if (handedOver != WAIT_OBJECT_0 && handedOver != WAIT_ABANDONED) {
            AfxMessageBox(LoadAppString(IDS_TITLE) + LoadAppString(IDS_ALREADY_RUNNING));
            return FALSE;
        }
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
