#include "framework/dpi_win.h"

#include "framework/system_dll_win.h"

namespace {

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return USER_DEFAULT_SCREEN_DPI;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

UINT WindowDpi(HWND window) {
    using Function = UINT(WINAPI*)(HWND);
    static const Function forWindow = SystemFunctionAs<Function>(L"user32.dll", "GetDpiForWindow");
    const UINT dpi = forWindow ? forWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

UINT MonitorDpi(HMONITOR monitor, HWND window) {
    // GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y), of Windows 8.1 and later.
    using Function = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const int kEffectiveDpi = 0;
    static const Function forMonitor = SystemFunctionAs<Function>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0, y = 0;
    if (monitor && forMonitor && SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) && y != 0) {
        return y;
    }
    return WindowDpi(window);
}
