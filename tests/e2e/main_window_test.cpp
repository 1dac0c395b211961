// The real program, started as a user starts it, in a display of its own: its main
// window, one copy per executable name, and what it records at every start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "res/resource.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_driver_win.h"

namespace {

constexpr int kStartMs = 30000;  // a cold Wine may take its time

// A copy of the program in a folder of its own, so that its profile lands there.
class ProgramCopy {
  public:
    explicit ProgramCopy(const std::string& name = "Tavrino") : m_name(name) {
        m_path = m_dir.Path() + name + ".exe";
        m_ok = CopyFileUtf8(ModuleFolder() + "..\\Tavrino.exe", m_path);
    }
    bool Ok() const { return m_ok; }
    const std::string& Path() const { return m_path; }
    const std::string& Name() const { return m_name; }
    std::string Profile() const { return m_dir.Path() + m_name + ".INI"; }
    const TempDir& Dir() const { return m_dir; }

  private:
    TempDir m_dir;
    std::string m_name;
    std::string m_path;
    bool m_ok = false;
};

// Starts the copy and waits for its main window; null when either fails.
HWND StartAndFindWindow(const ProgramCopy& copy, Program& program,
                        const std::string& arguments = std::string()) {
    if (!copy.Ok() || !program.Start(copy.Path(), arguments)) return nullptr;
    return WaitForWindowWithProperty(copy.Name(), program.Id(), kStartMs);
}

std::string ProfileValue(const std::string& file, const char* section, const char* key) {
    char value[512] = {};
    GetPrivateProfileStringA(section, key, "(missing)", value, sizeof value, file.c_str());
    return value;
}

// Closes the main window with its Close button and waits for the program to end.
void CloseWithTheCloseButton(HWND window, Program& program) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    EXPECT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), 0u);
}

TEST(MainWindow, OpensWithItsJapaneseControlsAndClosesWithTheCloseButton) {
    ProgramCopy copy;
    Program program;
    HWND window = StartAndFindWindow(copy, program);
    ASSERT_NE(window, nullptr) << "no main window";

    EXPECT_EQ(WindowText(window), "Tavrino ");
    EXPECT_EQ(ControlText(window, IDC_ADJUST), "調整 &J");
    EXPECT_EQ(ControlText(window, IDC_CHECK), "ﾁｪｯｸ &C");
    EXPECT_EQ(ControlText(window, IDC_SETTINGS), "設定 &E..");
    EXPECT_EQ(ControlText(window, IDOK), "閉じる &X");
    EXPECT_EQ(ControlText(window, IDC_SERVER), "-");
    EXPECT_EQ(ControlText(window, IDC_SERVER_TIME), "-");
    EXPECT_EQ(ControlText(window, IDC_IND_AUTO_EXIT), "自動終了");
    EXPECT_EQ(ControlText(window, IDC_IND_RETRY), "ﾘﾄﾗｲ");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_VOICE)));
    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    CloseWithTheCloseButton(window, program);
}

TEST(MainWindow, EscapeClosesIt) {
    ProgramCopy copy;
    Program program;
    HWND window = StartAndFindWindow(copy, program);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(program.WaitForExit(10000));
}

TEST(StartUp, RecordsTheTimeZoneBeforeAndAfterFixingIt) {
    ProgramCopy copy;
    Program program;
    // Started as a user would, without TZ in its environment (this test program has
    // set it for itself).
    SetEnvironmentVariableW(L"TZ", nullptr);
    HWND window = StartAndFindWindow(copy, program, "/Dsntp");
    SetEnvironmentVariableW(L"TZ", L"JST-9");
    ASSERT_NE(window, nullptr);
    CloseWithTheCloseButton(window, program);

    // The runtime's own name for the zone of "JST-9" (Wine's reports "JS").
    std::string zone = _tzname[0];
    std::string expected = "0,-9," + zone + "," + _tzname[1] + ",JST-9";
    EXPECT_EQ(ProfileValue(copy.Profile(), "TZ", "tz1"), expected);
    EXPECT_EQ(ProfileValue(copy.Profile(), "TZ", "tz2"), expected);
    // Before the fix TZ was not set, and the record's last field is empty.
    std::string before = ProfileValue(copy.Profile(), "TZ", "tz0");
    EXPECT_NE(before, "(missing)");
    EXPECT_EQ(before.substr(before.size() - 1), ",") << before;
}

TEST(StartUp, ASecondCopyIsRefusedAndTheFirstIsUndisturbed) {
    ProgramCopy copy;
    Program first;
    HWND window = StartAndFindWindow(copy, first);
    ASSERT_NE(window, nullptr);

    Program second;
    ASSERT_TRUE(second.Start(copy.Path()));
    std::vector<HWND> boxes = WaitForDialogs(second.Id(), kStartMs);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(WindowText(boxes[0]), "Tavrino");
    EXPECT_EQ(MessageBoxText(boxes[0]), "Tavrino は既に起動しています。");
    EXPECT_EQ(FindWindowWithProperty("Tavrino", second.Id()), nullptr);
    PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(second.WaitForExit(10000));
    EXPECT_EQ(FindWindowWithProperty("Tavrino", second.Id()), nullptr);

    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(Responds(window));
    EXPECT_EQ(FindWindowWithProperty("Tavrino", first.Id()), window);
    CloseWithTheCloseButton(window, first);
}

TEST(StartUp, ACopyUnderAnotherNameIsAnInstanceOfItsOwn) {
    ProgramCopy copy;
    ProgramCopy renamed("Tavrino2");
    Program first, second;
    HWND one = StartAndFindWindow(copy, first);
    HWND two = StartAndFindWindow(renamed, second);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(one, two);
    // Each has its own profile, named after its own file.
    EXPECT_NE(ProfileValue(renamed.Profile(), "TZ", "tz1"), "(missing)");
    EXPECT_FALSE(FileExists(renamed.Dir().File("Tavrino.INI")));
    CloseWithTheCloseButton(one, first);
    CloseWithTheCloseButton(two, second);
}

}  // namespace
