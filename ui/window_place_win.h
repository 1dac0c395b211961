// The main window's place and its two heights. Its place is saved into WindowPos at
// a Close-button exit and put back at the first show, pulled inside the monitor
// nearest to it; its height is the full one with the status line, or the compact
// one without.
#pragma once

#include "framework/win_types.h"

// Writes WindowPos, "flag,left,top,show state", in screen pixels: the window's own
// rectangle, or for a minimized or maximized window its normal one. 1.
int SaveWindowPos(HWND window, int restoreFlag);

// Puts the window back where WindowPos says, when its first number is not 0 and it
// holds three numbers; otherwise it stays where the system put it.
void RestoreWindowPos(HWND window);

// RestoreWindowPos, then shows the window with showCommand, as a minimized one
// (SW_SHOWMINNOACTIVE) without taking the keyboard.
BOOL StartMinimized(HWND window, int showCommand);

// Puts previous in front again when window, minimized, has taken the foreground
// from it as it was first shown.
void GiveBackForeground(HWND window, HWND previous);

class CWindowHeights {
  public:
    // Sizes the window to its full height (with the status line) or its compact one
    // (down to the top of marker). Both are taken from the window as it is at the
    // first call, and follow its scale when it moves to a monitor of another one. A
    // minimized window keeps its size: the height it gets back when it is restored
    // changes instead.
    void Apply(HWND window, HWND marker, bool full);

  private:
    RECT m_rcFull{};
    RECT m_rcCompact{};
    UINT m_nDpi = 0;  // the scale the two were measured at
};
