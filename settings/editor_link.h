// The link between the main window and the settings editor that its Settings button
// starts: the editor sends the main window one message, its code as wParam. Both
// programs and their tests take the message and the codes from here.
#pragma once

// WM_USER + 100. The query dialog's completion message has the same number; the two
// go to different windows.
constexpr unsigned WM_SETENV_NOTIFY = 0x0400 + 100;

enum class EditorCode : unsigned {
    kAnnounce = 0,        // lParam is the editor's window, to close when the main window closes
    kSavedAndClosed = 1,  // the settings were saved and the editor ended
    kClosed = 2,          // the editor ended without saving
    kSaved = 3,           // the settings were saved and the editor stays open
};
