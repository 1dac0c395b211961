// What the main window does on its own, seen from outside: the unattended start that
// adjusts and ends, the saved placement, the minimised start, the running clock and
// the status line, each as the profile asks.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "settings/editor_link.h"
#include "tests/e2e/program_copy.h"

namespace {

const char kAutoExit[] = "自動終了します。";
const char kEscCancels[] = "（[ESC]ｷｰでｷｬﾝｾﾙ）";
const char kUnattended[] =
    "DefaultServer=127.0.0.1\r\nprotocol=SNTP\r\nAutoAdjust=1\r\nAutoTerminate=1\r\n";

// A self-closing notice box: its two lines.
struct Notice {
    std::string upper, lower;
};

// The program's notices in the order they come, each once, until it ends, the time is
// up or answer (which may act on the box) says it has seen enough.
using Answer = std::function<bool(HWND box, const Notice& notice)>;
std::vector<Notice> WatchNotices(StartedCopy& program, int milliseconds, const Answer& answer) {
    std::vector<Notice> notices;
    std::vector<HWND> seen;
    for (int waited = 0; waited <= milliseconds && !program.Process().WaitForExit(0);
         waited += 50) {
        for (HWND box : WaitForDialogs(program.Id(), 0)) {
            if (!GetDlgItem(box, IDC_NOTICE_UPPER)) continue;
            if (std::find(seen.begin(), seen.end(), box) != seen.end()) continue;
            seen.push_back(box);
            notices.push_back(
                {ControlText(box, IDC_NOTICE_UPPER), ControlText(box, IDC_NOTICE_LOWER)});
            if (answer && answer(box, notices.back())) return notices;
        }
        Sleep(50);
    }
    return notices;
}

void ExpectOneAdjustment(const StartedCopy& program) {
    const std::vector<HistoryLine> lines = program.History();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].mode, "adjust") << lines[0].raw;
    EXPECT_EQ(lines[0].detail, "OK") << lines[0].raw;
}

TEST(Unattended, AdjustsShowsItsNoticesAndEndsByItself) {
    StartedCopy program(kUnattended, false);
    const std::vector<Notice> notices = WatchNotices(program, 15000, nullptr);
    ASSERT_TRUE(program.Process().WaitForExit(0)) << "still running after 15 s";
    EXPECT_EQ(program.Process().ExitCode(), 0u);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(IsTimeText(notices[0].upper)) << notices[0].upper;
    EXPECT_EQ(notices[0].lower, "<< ADJUSTED!! >>");
    EXPECT_EQ(notices[1].upper, kAutoExit);
    EXPECT_EQ(notices[1].lower, kEscCancels);
    ExpectOneAdjustment(program);
    // It ended as Esc ends it: the position is not saved.
    EXPECT_EQ(ProfileValue(program.Profile(), "Property", "WindowPos"), "(missing)");
}

TEST(Unattended, EscOnTheExitNoticeKeepsItRunning) {
    StartedCopy program(kUnattended, false);
    const std::vector<Notice> notices =
        WatchNotices(program, 15000, [](HWND box, const Notice& notice) {
            if (notice.upper != kAutoExit) return false;
            PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 0);
            return true;
        });
    ASSERT_FALSE(notices.empty());
    ASSERT_EQ(notices.back().upper, kAutoExit);
    HWND window = program.WaitForWindow(5000);
    ASSERT_NE(window, nullptr) << "no main window after Esc";
    EXPECT_FALSE(program.Process().WaitForExit(1000)) << "it ended all the same";
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));
    ExpectOneAdjustment(program);
    program.Close();
}

// The window's top-left corner, as the user sees it.
POINT Corner(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return POINT{rect.left, rect.top};
}

TEST(Placement, TheSavedPositionIsPutBackOnTheScreen) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    struct Case {
        const char* saved;
        long left, top;  // left < 0: the right edge on the screen's
    } const cases[] = {
        {"1,200,150,1", 200, 150},
        {"1,0,0,1", 1, 0},
        {"1,-50,20,1", 0, 20},
        {"1,2147483647,20,1", -1, 20},
    };
    ProgramCopy copy;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saved);
        WriteFileBytes(copy.Profile(), std::string("[Property]\r\nWindowPos=") + c.saved + "\r\n");
        Program program;
        HWND window = StartAndFindWindow(copy, program);
        ASSERT_NE(window, nullptr);
        RECT rect{};
        GetWindowRect(window, &rect);
        if (c.left < 0) {
            EXPECT_EQ(rect.right, screenWidth);
        } else {
            EXPECT_EQ(rect.left, c.left);
        }
        EXPECT_EQ(rect.top, c.top);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(program.WaitForExit(10000));
    }
    // Esc has saved nothing.
    EXPECT_EQ(ProfileValue(copy.Profile(), "Property", "WindowPos"), "1,2147483647,20,1");
}

TEST(Placement, TheCloseButtonSavesWhereTheUserMovedItAndEscDoesNot) {
    ProgramCopy copy;
    WriteFileBytes(copy.Profile(), "[Property]\r\nWindowPos=1,200,150,1\r\n");
    const auto moveTo = [](HWND window, int x, int y) {
        SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    {
        Program program;
        HWND window = StartAndFindWindow(copy, program);
        ASSERT_NE(window, nullptr);
        moveTo(window, 320, 240);
        CloseWithTheCloseButton(window, program);
    }
    EXPECT_EQ(ProfileValue(copy.Profile(), "Property", "WindowPos"), "1,320,240,1");
    Program program;
    HWND window = StartAndFindWindow(copy, program);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Corner(window).x, 320);
    EXPECT_EQ(Corner(window).y, 240);
    moveTo(window, 400, 300);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(ProfileValue(copy.Profile(), "Property", "WindowPos"), "1,320,240,1");
}

TEST(Placement, IconicStartMinimisesItWithoutTakingTheForeground) {
    // The window the user works in: another copy, started as usual.
    ProgramCopy other("Tavrino2");
    Program otherProgram;
    HWND working = StartAndFindWindow(other, otherProgram);
    ASSERT_NE(working, nullptr);
    ASSERT_EQ(GetForegroundWindow(), working);

    StartedCopy program("IconicStart=1\r\n");
    ASSERT_NE(program.Window(), nullptr);
    // Once its first show is over, it is minimised and the other is still in front.
    for (int waited = 0; waited < 3000 && !(IsIconic(program.Window()) &&
                                            GetForegroundWindow() == working);
         waited += 50) {
        Sleep(50);
    }
    EXPECT_TRUE(IsIconic(program.Window()));
    EXPECT_EQ(GetForegroundWindow(), working) << "the minimised window took the foreground";
    program.Close();
    CloseWithTheCloseButton(working, otherProgram);
}

// Waits up to milliseconds for the condition; true when it came.
bool Eventually(int milliseconds, const std::function<bool()>& condition) {
    for (int waited = 0; waited <= milliseconds; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return false;
}

long Height(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

TEST(StatusLine, ClockAndIndicatorsFollowTheProfileAndItsReload) {
    StartedCopy program("CurrentTimeDisplay=1,2,1\r\nindicatorline=1\r\nbeep=0\r\n");
    HWND window = program.Window();
    ASSERT_NE(window, nullptr);
    // The clock runs in the title.
    ASSERT_TRUE(Eventually(2000, [&] { return IsTimeText(WindowText(window)); }))
        << WindowText(window);
    const std::string first = WindowText(window);
    EXPECT_TRUE(Eventually(2500, [&] { return WindowText(window) != first; })) << first;
    EXPECT_TRUE(IsTimeText(WindowText(window))) << WindowText(window);
    EXPECT_EQ(program.Field(IDC_PC_TIME), "");
    const long fullHeight = Height(window);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_IND_LOGFILE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_IND_BEEP)));

    const auto reload = [&](const std::string& properties) {
        WriteFileBytes(program.Profile(), "[Property]\r\n" + properties);
        PostMessageW(window, WM_SETENV_NOTIFY, static_cast<WPARAM>(EditorCode::kSaved), 0);
    };
    reload("CurrentTimeDisplay=0,0,0\r\nindicatorline=0\r\nlogfile=1\r\n");
    EXPECT_TRUE(Eventually(2000, [&] { return WindowText(window) == "Tavrino "; }))
        << WindowText(window);
    EXPECT_TRUE(Eventually(2000, [&] { return Height(window) < fullHeight; })) << Height(window);
    EXPECT_EQ(program.Field(IDC_PC_TIME), "");

    reload("indicatorline=1\r\nlogfile=0\r\nbeep=1\r\n");
    EXPECT_TRUE(Eventually(2000, [&] { return Height(window) == fullHeight; })) << Height(window);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_IND_LOGFILE)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IDC_IND_BEEP)));
    EXPECT_EQ(WindowText(window), "Tavrino ");
    program.Close();
}

TEST(StatusLine, ShowsTheRetriesAndTheDailyTimeAtStart) {
    struct Case {
        const char* setting;
        int id;
        const char* shown;
    } const cases[] = {
        {"ErrorRetry=1,3,2,1", IDC_IND_RETRY_COUNT, "3回"},
        {"ErrorRetry=1,3,2,1", IDC_IND_RETRY_INTERVAL, "2m"},
        {"AdjustAt=1,7:30", IDC_IND_ADJUST_AT, "07:30"},
    };
    StartedCopy program("indicatorline=1\r\nErrorRetry=1,3,2,1\r\nAdjustAt=1,7:30\r\n");
    ASSERT_NE(program.Window(), nullptr);
    for (const Case& c : cases) {
        EXPECT_EQ(program.Field(c.id), c.shown) << c.setting;
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(program.Window(), c.id))) << c.setting;
    }
    program.Close();
}

}  // namespace
