/* The floor for the footprint and start-up figures: the least a Win32 dialog program
   is, one dialog with one static text, run with DialogBox. Its window carries the
   property "TavrinoMinDialog" so that the driver finds it as it finds Tavrino's. */
#include <windows.h>

static const wchar_t kProperty[] = L"TavrinoMinDialog";

static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
        case WM_INITDIALOG:
            SetPropW(window, kProperty, (HANDLE)1);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                RemovePropW(window, kProperty);
                EndDialog(window, 0);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    DialogBoxW(instance, MAKEINTRESOURCEW(100), NULL, DialogProc);
    return 0;
}
