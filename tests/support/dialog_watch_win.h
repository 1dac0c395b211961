// Watches the dialogs and message boxes that the test's own thread runs: a window
// hook sees each dialog being shown and each text set in it, so that a test can
// follow a modal dialog from inside and act on it (press Esc, click a button) at a
// chosen moment. One watch at a time, on the thread that creates it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/win_types.h"

struct DialogEvent {
    enum Kind { kShown, kText, kDestroyed } kind;
    HWND dialog;       // the dialog (for kText the control's parent)
    int controlId;     // kText: the control whose text was set
    std::string text;  // kText: the new text, UTF-8
    double seconds;    // since the watch began
};

class DialogWatch {
  public:
    DialogWatch();
    ~DialogWatch();
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;

    // Called for each event as it happens, on the dialog's thread, once the window
    // has handled the message. Post actions rather than doing them here.
    std::function<void(const DialogEvent&)> onEvent;

    const std::vector<DialogEvent>& Events() const { return m_events; }
    // The texts set in control id of dialog (of any dialog when null), in order.
    std::vector<std::string> Texts(int id, HWND dialog = nullptr) const;
    // The dialogs shown, in order.
    std::vector<HWND> Shown() const;
    double Now() const;

    // Actions, posted so that they arrive through the dialog's own message loop.
    static void PressEscape(HWND dialog);
    static void ClickButton(HWND dialog, int id);  // BM_CLICK to the button

    // Texts read from a window (UTF-8).
    static std::string WindowText(HWND window);
    static std::string ItemText(HWND dialog, int id);

  private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    void Observe(const CWPRETSTRUCT& message);

    HHOOK m_hook = nullptr;
    LARGE_INTEGER m_start{};
    LARGE_INTEGER m_frequency{};
    std::vector<DialogEvent> m_events;
};

// Counts of this process's threads and handles, to find leaks. Handles are counted in
// the system's handle table (SystemExtendedHandleInformation): Wine's
// GetProcessHandleCount gives 0. -1 when the table cannot be read.
int ProcessThreadCount();
int ProcessHandleCount(DWORD processId = GetCurrentProcessId());
