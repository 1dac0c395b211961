// At 150 % scaling (144 DPI) every window of the program is drawn at that scale, and
// none of them clips or overlaps a control: the main window with its status line, the
// countdown, the notice, the about box and the settings editor. These tests run only
// where the screen is at 144 DPI (tests/e2e/dpi144.sh gives them such a Wine prefix).
// With TAVRINO_SHOT_DIR set, each window is also saved there as NAME.bmp.
// The scale functions of Windows 10, where this test runs.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/fake_time_server.h"

namespace {

constexpr int kScaledDpi = 144;

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    char utf8[128] = {};
    WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

std::wstring WideText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string Describe(HWND control) {
    return ClassOf(control) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" +
           WindowText(control) + "\"";
}

// A control's rectangle in its dialog's client coordinates.
RECT InDialog(HWND control, HWND dialog) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A group box or an etched frame only frames other controls.
bool IsFrame(HWND control) {
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const std::string type = ClassOf(control);
    return (type == "Button" && (style & BS_TYPEMASK) == BS_GROUPBOX) ||
           (type == "Static" && (style & SS_TYPEMASK) >= SS_ETCHEDHORZ &&
            (style & SS_TYPEMASK) <= SS_ETCHEDFRAME);
}

// The font of every dialog of the program and the editor (9 points, ＭＳ Ｐゴシック) at
// the scale: the windows' own font handles belong to their process.
HFONT DialogFont() {
    static HFONT font = CreateFontW(-MulDiv(9, kScaledDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    return font;
}

// Whether the control's text fits inside it in the control's own font: on one line for
// a button (beside the box of a check box), wrapped at its width for a static text.
bool TextFits(HWND control, std::string* why) {
    const std::string type = ClassOf(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const std::wstring text = WideText(control);
    if (text.empty() || (type != "Button" && type != "Static")) return true;
    if (type == "Static" && (style & SS_TYPEMASK) > SS_RIGHT) return true;  // icons, frames
    RECT client{};
    GetClientRect(control, &client);
    UINT format = DT_CALCRECT;  // '&' marks the access key, as the control draws it
    if (type == "Button") {
        const LONG kind = style & BS_TYPEMASK;
        if (kind == BS_GROUPBOX) format |= DT_SINGLELINE;
        else if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON ||
                 kind == BS_AUTORADIOBUTTON) {
            client.right -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
            format |= DT_SINGLELINE;
        } else {
            client.right -= 2 * GetSystemMetrics(SM_CXEDGE);
            format |= DT_SINGLELINE;
        }
    } else {
        format |= DT_WORDBREAK;
    }
    if (style & SS_SUNKEN && type == "Static") client.right -= 2 * GetSystemMetrics(SM_CXEDGE);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, DialogFont());
    RECT needed{0, 0, client.right, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, format);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const LONG width = client.right - client.left, height = client.bottom - client.top;
    if (needed.right <= width && needed.bottom <= height) return true;
    *why = "needs " + std::to_string(needed.right) + "x" + std::to_string(needed.bottom) +
           ", has " + std::to_string(width) + "x" + std::to_string(height);
    return false;
}

// What is wrong with the dialog's layout: a visible control outside its client area,
// two that overlap (a group box only frames others), a text that does not fit.
std::vector<std::string> LayoutFaults(HWND dialog) {
    std::vector<std::string> faults;
    RECT client{};
    GetClientRect(dialog, &client);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (IsWindowVisible(c)) controls.push_back(c);
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        const RECT r = InDialog(controls[i], dialog);
        if (r.left < client.left || r.top < client.top || r.right > client.right ||
            r.bottom > client.bottom) {
            faults.push_back(Describe(controls[i]) + " lies outside the window");
        }
        std::string why;
        if (!TextFits(controls[i], &why)) faults.push_back(Describe(controls[i]) + " clips: " + why);
        if (IsFrame(controls[i])) continue;
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const RECT other = InDialog(controls[j], dialog);
            RECT both{};
            if (!IsFrame(controls[j]) && IntersectRect(&both, &r, &other)) {
                faults.push_back(Describe(controls[i]) + " overlaps " + Describe(controls[j]));
            }
        }
    }
    return faults;
}

// The window as it is on the screen, as a 24-bit bitmap file, when asked for.
void SaveShot(HWND window, const char* name) {
    const char* folder = std::getenv("TAVRINO_SHOT_DIR");
    if (!folder || !*folder) return;
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(static_cast<size_t>(row) * static_cast<size_t>(height), '\0');
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof header};
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    const std::string path = std::string(folder) + "\\" + name + ".bmp";
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes += pixels;
    WriteFileBytes(path, bytes);
}

// Checks one window of the program: drawn at the scale, per monitor, and laid out
// without faults; then saved as a picture.
void ExpectScaledAndLaidOut(HWND window, const char* name) {
    SCOPED_TRACE(name);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window)),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    EXPECT_EQ(GetDpiForWindow(window), static_cast<UINT>(kScaledDpi));
    for (const std::string& fault : LayoutFaults(window)) ADD_FAILURE() << fault;
    SaveShot(window, name);
}

// The process's dialog that holds the control, waiting up to milliseconds for it.
HWND WaitForDialogWith(DWORD processId, int control, int milliseconds) {
    for (int waited = 0; waited <= milliseconds; waited += 50) {
        for (HWND dialog : WaitForDialogs(processId, 0)) {
            if (GetDlgItem(dialog, control)) return dialog;
        }
        Sleep(50);
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
