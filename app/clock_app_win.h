// The application object: one copy per executable name, sockets, the trace switch,
// the profile beside the executable, the C runtime's zone fixed at UTC+9, and then
// the main dialog, whose end is the program's end.
#pragma once

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

// The one application object.
extern CClockApp theApp;
