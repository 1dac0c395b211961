#include "ui/window_place_win.h"

#include <climits>

#include "framework/dpi_win.h"
#include "framework/scan.h"
#include "framework/winapp_win.h"
#include "settings/profile_section_win.h"
#include "ui/placement.h"

namespace {

long long Width(const RECT& r) { return static_cast<long long>(r.right) - r.left; }
long long Height(const RECT& r) { return static_cast<long long>(r.bottom) - r.top; }

LONG ToLong(long long value) {
    if (value > LONG_MAX) return LONG_MAX;
    if (value < LONG_MIN) return LONG_MIN;
    return static_cast<LONG>(value);
}

// The whole monitor nearest the rectangle: where a saved window is put back.
PixelRect MonitorNearest(const RECT& rect) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info)) {
        return PixelRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return PixelRect{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right,
                     info.rcMonitor.bottom};
}

// The offset of workspace coordinates (those of a window's placement) from screen
// coordinates on the monitor nearest the rectangle: the work area's corner.
POINT WorkspaceOrigin(const RECT& rect) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info)) return POINT{0, 0};
    return POINT{info.rcWork.left - info.rcMonitor.left, info.rcWork.top - info.rcMonitor.top};
}

}  // namespace

int SaveWindowPos(HWND window, int restoreFlag) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    // Saved as the restore reads it, in screen pixels: the window's own rectangle, or
    // for a minimized or maximized window its normal one, which the placement gives in
    // workspace pixels (shifted by a task bar at the top or left).
    RECT rect{};
    if (IsIconic(window) || IsZoomed(window)) {
        rect = placement.rcNormalPosition;
        const POINT origin = WorkspaceOrigin(rect);
        OffsetRect(&rect, origin.x, origin.y);
    } else {
        GetWindowRect(window, &rect);
    }
    CString value;
    value.Format("%i,%i,%i,%i", restoreFlag, static_cast<int>(rect.left),
                 static_cast<int>(rect.top), static_cast<int>(placement.showCmd));
    if (CWinApp* app = AfxGetApp(); app && !app->GetProfilePath().empty()) {
        app->WriteProfileString("Property", "WindowPos", value);
    }
    return 1;
}

void RestoreWindowPos(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    int saved[3] = {0, 0, 0};
    const int read = ScanIntegers(ProfileSection(AfxGetApp()).Text("WindowPos"), ",,", saved, 3);
    // Without a position the window stays where the system put it.
    if (saved[0] == 0 || read < 3) return;
    long long width = Width(rect), height = Height(rect);
    const RECT wanted{ToLong(saved[1]), ToLong(saved[2]), ToLong(saved[1] + width),
                      ToLong(saved[2] + height)};
    // On a monitor of another scale the window will have that scale's size, once the
    // system has told it (WM_DPICHANGED): it is kept inside the monitor at that size.
    HMONITOR target = MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST);
    if (target != MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)) {
        const UINT from = WindowDpi(window), to = MonitorDpi(target, window);
        width = ScaleForDpi(width, from, to);
        height = ScaleForDpi(height, from, to);
    }
    long long left = 0, top = 0;
    PlaceOnScreen(width, height, saved[1], saved[2], MonitorNearest(wanted), &left, &top);
    SetWindowPos(window, nullptr, ToLong(left), ToLong(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL StartMinimized(HWND window, int showCommand) {
    RestoreWindowPos(window);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    placement.showCmd = static_cast<UINT>(showCommand);
    placement.length = sizeof placement;
    placement.flags = WPF_SETMINPOSITION;
    return SetWindowPlacement(window, &placement);
}

void GiveBackForeground(HWND window, HWND previous) {
    if (IsIconic(window) && GetForegroundWindow() == window && previous != window &&
        IsWindow(previous)) {
        SetForegroundWindow(previous);
    }
}

void CWindowHeights::Apply(HWND window, HWND marker, bool full) {
    if (m_rcFull.left == 0 && m_rcFull.top == 0 && m_rcFull.right == 0 && m_rcFull.bottom == 0) {
        GetWindowRect(window, &m_rcFull);
        m_rcCompact = m_rcFull;
        RECT top{};
        GetWindowRect(marker, &top);
        m_rcCompact.bottom = top.top;
        m_nDpi = WindowDpi(window);
    }
    const RECT& measured = full ? m_rcFull : m_rcCompact;
    const UINT dpi = WindowDpi(window);
    const RECT size{0, 0, ToLong(ScaleForDpi(Width(measured), m_nDpi, dpi)),
                    ToLong(ScaleForDpi(Height(measured), m_nDpi, dpi))};
    if (IsIconic(window)) {
        // Sizing a minimized window sizes its icon, and the restored window would keep
        // the height it had.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (!GetWindowPlacement(window, &placement)) return;
        RECT& normal = placement.rcNormalPosition;
        normal.right = ToLong(normal.left + Width(size));
        normal.bottom = ToLong(normal.top + Height(size));
        // Shown as it was: a window that is closing stays hidden.
        placement.showCmd = IsWindowVisible(window) ? SW_SHOWMINNOACTIVE : SW_HIDE;
        SetWindowPlacement(window, &placement);
        return;
    }
    SetWindowPos(window, nullptr, 0, 0, ToLong(Width(size)), ToLong(Height(size)),
                 SWP_NOMOVE | SWP_NOZORDER);
}
