// The UI driver as a command, for scripts:
//   uidriver wait PROPERTY MILLISECONDS   prints the main window's screen rectangle
//                                         "x y width height" once it is shown
//   uidriver close PROPERTY               presses its Close button
//   uidriver text PROPERTY ID             prints the text of its control ID
//   uidriver check PROPERTY MILLISECONDS  presses Check, waits up to MILLISECONDS for
//                                         the result and prints what the window shows:
//                                           server: ...
//                                           protocol: ...
//                                           server time: ...   (empty on failure)
//                                           PC time: ...
//                                           status: OK | ERROR (...) | a message box's text
//                                         A message box in its place is closed with OK.
// Texts are printed in UTF-8, lines end in LF. Exit status 0 on success, 1 when the
// window is not found, 2 on a usage error, 3 when the check failed.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "res/resource.h"
#include "tests/support/ui_driver_win.h"

namespace {

constexpr int kExitFailed = 3;
constexpr int kPollMs = 20;
const char kConnecting[] = "connecting...";

int Usage() {
    std::fprintf(stderr,
                 "usage: uidriver wait PROPERTY MILLISECONDS\n"
                 "       uidriver close PROPERTY\n"
                 "       uidriver text PROPERTY ID\n"
                 "       uidriver check PROPERTY MILLISECONDS\n");
    return 2;
}

// A number argument; false unless the whole text is a number of 0 or more.
bool Number(const char* text, int& value) {
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 0x7FFFFFFF) return false;
    value = static_cast<int>(parsed);
    return true;
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// What the other windows of the program are doing: the query's countdown dialog is
// up, or a message box stands in the main window's way.
struct Others {
    bool querying = false;
    HWND messageBox = nullptr;
};

Others LookAtOthers(HWND window, DWORD processId) {
    Others others;
    for (HWND dialog : WaitForDialogs(processId, 0)) {
        if (dialog == window) continue;
        if (GetDlgItem(dialog, IDC_QUERY_REMAINING)) {
            others.querying = true;
        } else if (GetDlgItem(dialog, 0xFFFF)) {
            others.messageBox = dialog;
        }
    }
    return others;
}

void PrintResult(HWND window, const std::string& serverTime, const std::string& status) {
    std::printf("server: %s\n", ControlText(window, IDC_SERVER).c_str());
    std::printf("protocol: %s\n", ControlText(window, IDC_PROTOCOL).c_str());
    std::printf("server time: %s\n", serverTime.c_str());
    std::printf("PC time: %s\n", ControlText(window, IDC_PC_TIME).c_str());
    std::printf("status: %s\n", status.c_str());
}

int Check(HWND window, int milliseconds) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const std::string before = ControlText(window, IDC_SERVER_TIME);
    PressButton(window, IDC_CHECK);

    // A quick reply may come and go between two looks; then only the changed text
    // tells that the press has been handled.
    bool started = false;
    for (int waited = 0;; waited += kPollMs) {
        const Others others = LookAtOthers(window, processId);
        if (others.messageBox) {
            const std::string text = MessageBoxText(others.messageBox);
            PostMessageW(others.messageBox, WM_COMMAND, IDOK, 0);
            PrintResult(window, std::string(), text);
            return kExitFailed;
        }
        const std::string text = ControlText(window, IDC_SERVER_TIME);
        if (others.querying || text == kConnecting) started = true;
        if (!others.querying && text != kConnecting && (started || text != before)) {
            const bool failed = text.compare(0, 7, "ERROR (") == 0;
            PrintResult(window, failed ? std::string() : text, failed ? text : "OK");
            return failed ? kExitFailed : 0;
        }
        if (waited >= milliseconds) {
            std::fprintf(stderr, "uidriver: no result of the check within %d ms\n", milliseconds);
            return kExitFailed;
        }
        Sleep(kPollMs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Lines for a shell: LF only.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const char* property = argv[2];
    int number = 0;
    if (command == "close") {
        if (argc != 3) return Usage();
    } else if (command == "wait" || command == "text" || command == "check") {
        if (argc != 4 || !Number(argv[3], number)) return Usage();
    } else {
        return Usage();
    }

    HWND window = WaitForWindowWithProperty(property, 0, command == "wait" ? number : 0);
    if (!window) {
        std::fprintf(stderr, "uidriver: no window with the property %s\n", property);
        return 1;
    }
    if (command == "wait") {
        RECT rect{};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
    } else if (command == "close") {
        PressButton(window, IDOK);
    } else if (command == "text") {
        std::printf("%s\n", ControlText(window, number).c_str());
    } else {
        return Check(window, number);
    }
    return 0;
}
