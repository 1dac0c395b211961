// One window timer of a dialog, by its id. It knows whether its timer runs, and
// knows it only from what the system answered: Set and Kill change that state only
// when SetTimer or KillTimer succeed. It goes through the dialog's SetTimer and
// KillTimer, kills a running timer when it is itself destroyed, and forgets it when
// the dialog's window is destroyed (after killing it), as the window takes its
// timers with it. User-interface thread only.
#pragma once

#include "framework/dialog_win.h"

class CDialogTimer {
  public:
    CDialogTimer(CDialog* dialog, UINT_PTR id);
    ~CDialogTimer();
    // Bound to its dialog by address: neither copied nor moved.
    CDialogTimer(const CDialogTimer&) = delete;
    CDialogTimer& operator=(const CDialogTimer&) = delete;

    // Starts the timer, or starts it again with a new period. False when SetTimer
    // failed or the dialog has no window; a timer that ran before still runs then.
    bool Set(UINT milliseconds);
    // Stops the timer. False when KillTimer failed: the timer counts as running
    // still. True when nothing ran.
    bool Kill();
    bool IsRunning() const { return m_bRunning; }
    UINT_PTR Id() const { return m_nId; }

  private:
    friend class CDialog;
    void WindowDestroyed();
    void DialogGone();

    CDialog* m_pDialog;  // null once the dialog is gone
    UINT_PTR m_nId;
    bool m_bRunning = false;
};
