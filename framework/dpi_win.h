// The scale that windows are drawn at, in dots per inch (96 is 100 %). The program is
// aware of each monitor's scale (its manifest says so): what it sizes or places in
// pixels itself follows these.
#pragma once

#include "framework/win_types.h"

// The window's scale; the system's before Windows 10 1607.
UINT WindowDpi(HWND window);

// The scale of monitor, where window is about to go; the window's own when the
// system cannot say (before Windows 8.1 every monitor has the system's scale).
UINT MonitorDpi(HMONITOR monitor, HWND window);
