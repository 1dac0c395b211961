// At 150 % scaling (144 DPI) every window of the program is drawn at that scale, and
// none of them clips or overlaps a control: the main window with its status line, the
// countdown, the notice, the about box and the settings editor. These tests run only
// where the screen is at 144 DPI (tests/e2e/dpi144.sh gives them such a Wine prefix).
// With TAVRINO_SHOT_DIR set, each window is also saved there as NAME.bmp.
// The scale functions of Windows 10, where this test runs.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/fake_time_server.h"

namespace {

constexpr int kScaledDpi = 144;

// The window class, in the case it was registered with ("Static", "BUTTON").
std::wstring ClassOf(HWND control) {
    wchar_t type[32] = {};
    GetClassNameW(control, type, 32);
    return type;
}

bool IsClass(HWND control, const wchar_t* type) { return _wcsicmp(ClassOf(control).c_str(), type) == 0; }

std::string Describe(HWND control) {
    const std::wstring type = ClassOf(control);
    return std::string(type.begin(), type.end()) + " " + std::to_string(GetDlgCtrlID(control)) +
           " \"" + WindowText(control) + "\"";
}

RECT InDialog(HWND control, HWND dialog) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A static text, a button or a check box: its text and the format it is drawn with.
// Other controls (frames, edits, lists) have no text to clip.
bool DrawnText(HWND control, std::wstring* text, UINT* format, LONG* inset) {
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool isStatic = IsClass(control, L"Static"), isButton = IsClass(control, L"Button");
    if ((isStatic && (style & SS_TYPEMASK) > SS_RIGHT) || (!isStatic && !isButton)) return false;
    text->resize(static_cast<size_t>(GetWindowTextLengthW(control)) + 1);
    text->resize(static_cast<size_t>(GetWindowTextW(control, text->data(), static_cast<int>(text->size()))));
    const LONG kind = style & BS_TYPEMASK;
    const bool box = isButton && (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX ||
                                  kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON);
    *format = DT_CALCRECT | (isStatic ? DT_WORDBREAK : DT_SINGLELINE);
    *inset = box ? GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE)
                 : (isButton || (style & SS_SUNKEN)) ? 2 * GetSystemMetrics(SM_CXEDGE) : 0;
    return !text->empty();
}

// A group box or an etched frame only frames other controls.
bool IsFrame(HWND control) {
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    return IsClass(control, L"Button") ? (style & BS_TYPEMASK) == BS_GROUPBOX
                                       : (style & SS_TYPEMASK) == SS_ETCHEDFRAME;
}

// What is wrong with the dialog's layout: a visible control outside its client area,
// two that overlap (frames aside), a text that does not fit its control. The text is
// measured in the dialogs' font (9 points, ＭＳ Ｐゴシック) at the scale, as the
// windows' own font handles belong to their process.
std::vector<std::string> LayoutFaults(HWND dialog) {
    static HFONT font = CreateFontW(-MulDiv(9, kScaledDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"ＭＳ Ｐゴシック");
    std::vector<std::string> faults;
    RECT client{};
    GetClientRect(dialog, &client);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (IsWindowVisible(c)) controls.push_back(c);
    }
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    for (size_t i = 0; i < controls.size(); ++i) {
        const RECT r = InDialog(controls[i], dialog);
        RECT inside{};
        if (!IntersectRect(&inside, &r, &client) || !EqualRect(&inside, &r)) {
            faults.push_back(Describe(controls[i]) + " lies outside the window");
        }
        std::wstring text;
        UINT format = 0;
        LONG inset = 0;
        if (DrawnText(controls[i], &text, &format, &inset)) {
            RECT needed{0, 0, r.right - r.left - inset, 0};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, format);
            if (needed.right > r.right - r.left - inset || needed.bottom > r.bottom - r.top) {
                faults.push_back(Describe(controls[i]) + " clips its text");
            }
        }
        for (size_t j = i + 1; j < controls.size() && !IsFrame(controls[i]); ++j) {
            const RECT other = InDialog(controls[j], dialog);
            RECT both{};
            if (!IsFrame(controls[j]) && IntersectRect(&both, &r, &other)) {
                faults.push_back(Describe(controls[i]) + " overlaps " + Describe(controls[j]));
            }
        }
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return faults;
}

// The window as it is on the screen, as a 24-bit bitmap file in TAVRINO_SHOT_DIR.
void SaveShot(HWND window, const char* name) {
    const char* folder = std::getenv("TAVRINO_SHOT_DIR");
    if (!folder || !*folder) return;
    RECT r{};
    GetWindowRect(window, &r);
    BITMAPINFOHEADER header{sizeof header, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB,
                            0, 0, 0, 0, 0};
    std::string pixels(((static_cast<size_t>(header.biWidth) * 3 + 3) & ~size_t{3}) *
                           static_cast<size_t>(header.biHeight), '\0');
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, header.biWidth, header.biHeight);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(header.biHeight), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
    const BITMAPFILEHEADER file{0x4D42, offset + static_cast<DWORD>(pixels.size()), 0, 0, offset};
    WriteFileBytes(std::string(folder) + "\\" + name + ".bmp",
                   std::string(reinterpret_cast<const char*>(&file), sizeof file) +
                       std::string(reinterpret_cast<const char*>(&header), sizeof header) + pixels);
}

// One window of the program: drawn per monitor at the scale and laid out without
// faults; then its picture.
void ExpectScaledAndLaidOut(HWND window, const char* name) {
    SCOPED_TRACE(name);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window)),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    EXPECT_EQ(GetDpiForWindow(window), static_cast<UINT>(kScaledDpi));
    for (const std::string& fault : LayoutFaults(window)) ADD_FAILURE() << fault;
    SaveShot(window, name);
}

HWND WaitForDialogWith(DWORD processId, int control, int milliseconds) {
    for (int waited = 0; waited <= milliseconds; waited += 50, Sleep(50)) {
        for (HWND dialog : WaitForDialogs(processId, 0)) {
            if (GetDlgItem(dialog, control)) return dialog;
        }
    }
    return nullptr;
}

class Dpi144 : public testing::Test {
  protected:
    void SetUp() override {
        // Measured in the same pixels as the program, not in stretched ones.
        SetProcessDPIAware();
        HDC screen = GetDC(nullptr);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (dpi != kScaledDpi) GTEST_SKIP() << "the screen is at " << dpi << " DPI";
    }
};

TEST_F(Dpi144, EveryWindowIsDrawnAtTheScaleWithNothingClippedOrOverlapping) {
    FakeTimeServer server;
    SntpScript script;
    script.replyAfterMs = 1500;  // time to see the countdown,
    script.serverDelay = 1.5;    // held in the server, so that the clock is right
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    StartedCopy program(ServerSettings(kFakeServerAddress, "SNTP") +
                        "indicatorline=1\r\nCurrentTimeDisplay=1,0,0\r\n"
                        "AdjustAt=1,7:30\r\nErrorRetry=1,3,30,0\r\n");
    ASSERT_NE(program.Window(), nullptr);
    Sleep(1200);  // the running clock's first tick, for the picture
    // The full height keeps the status line inside the window (checked with the rest).
    ExpectScaledAndLaidOut(program.Window(), "main-window");

    program.Click(IDC_ADJUST);
    ExpectScaledAndLaidOut(WaitForDialogWith(program.Id(), IDC_QUERY_SERVER, kCommandMs), "countdown");
    HWND notice = WaitForDialogWith(program.Id(), IDC_NOTICE_UPPER, kCommandMs);
    ExpectScaledAndLaidOut(notice, "notice");
    if (notice) PostMessageW(notice, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(program.WaitForNoOtherDialogs(kCommandMs));

    PostMessageW(program.Window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitForDialogWith(program.Id(), IDC_ABOUT_CREDIT, kCommandMs);
    ExpectScaledAndLaidOut(about, "about");
    if (about) PostMessageW(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(program.WaitForNoOtherDialogs(kCommandMs));
    program.Close();

    // The settings editor, on the same profile, left with Cancel.
    Program editor;
    const std::string profile = program.Profile();
    ASSERT_TRUE(editor.Start(ModuleFolder() + "..\\Quillet.exe",
                             "-profile=\"" + profile + "\" -geohwnd=0 xyz"));
    const std::vector<HWND> windows = WaitForDialogs(editor.Id(), kStartMs);
    ASSERT_EQ(windows.size(), 1u);
    ExpectScaledAndLaidOut(windows[0], "settings-editor");
    PostMessageW(windows[0], WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(editor.WaitForExit(kCommandMs));
}

}  // namespace
