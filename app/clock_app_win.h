// The application object: one copy per executable name, sockets, the trace switch,
// the profile beside the executable, the C runtime's zone fixed at UTC+9, and then
// the main dialog, whose end is the program's end.
#pragma once

#include <string>

#include "app/start_up.h"
#include "framework/handles_win.h"
#include "framework/winapp_win.h"

class CClockApp : public CWinApp {
  public:
    BOOL InitInstance() override;

  private:
    void RecordTimeZone(const char* key);

    // One copy per executable name: held, never released, while the process runs.
    ScopedHandle m_hInstanceMutex;
};

// Takes the one-copy mutex of the name into held; false when another instance is
// there and stays. The instance that offered to start this one as administrator ends
// as this one starts: its mutex comes free (abandoned) when it has, or, when it was
// another account's and this one may not open it at all, is gone with it; so this
// one waits for it, up to handOverMs, trying again every kHandOverRetryMs.
bool AcquireInstanceMutex(const std::wstring& name, bool startedByOffer, ScopedHandle& held,
                          DWORD handOverMs = kHandOverWaitMs);

// The one application object.
extern CClockApp theApp;
