// The UI driver as a command, for scripts:
//   uidriver wait PROPERTY MILLISECONDS   prints the main window's screen rectangle
//                                         "x y width height" once it is shown
//   uidriver close PROPERTY               presses its Close button
// Exit status 0 on success, 1 when the window is not found, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/ui_driver_win.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: uidriver wait|close PROPERTY [MILLISECONDS]\n");
        return 2;
    }
    int wait = argc > 3 ? std::atoi(argv[3]) : 0;
    HWND window = WaitForWindowWithProperty(argv[2], 0, wait);
    if (!window) return 1;
    if (std::strcmp(argv[1], "wait") == 0) {
        RECT rect{};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
        return 0;
    }
    if (std::strcmp(argv[1], "close") == 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        return 0;
    }
    return 2;
}
