// The main dialog and the application object in-process: the window property and
// the main-window slot over the window's life, and the profile access.
#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "framework/afx_win.h"
#include "framework/winapp_win.h"
#include "res/resource.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/temp_dir.h"
#include "ui/clock_dlg_win.h"

namespace {

TEST(MainDialog, CarriesItsPropertyFromBeforeTheFirstShowUntilItIsDestroyed) {
    DialogWatch watch;
    HANDLE atShow = nullptr, atDestroy = reinterpret_cast<HANDLE>(7);
    HWND mainAtShow = nullptr;
    std::string caption;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind == DialogEvent::kShown) {
            atShow = GetPropW(event.dialog, L"TavrinoTest");
            mainAtShow = AfxGetMainWnd() == event.dialog ? event.dialog : nullptr;
            caption = DialogWatch::WindowText(event.dialog);
            PostMessageW(event.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else if (event.kind == DialogEvent::kDestroyed) {
            atDestroy = GetPropW(event.dialog, L"TavrinoTest");
        }
    };
    CClockDlg dialog;
    dialog.m_strPropertyName = "TavrinoTest";
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(atShow, reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(atDestroy, nullptr);
    EXPECT_NE(mainAtShow, nullptr);  // query dialogs and boxes are owned by it
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(caption, "Tavrino ");
}

class Profile : public testing::Test {
  protected:
    void SetUp() override { app.SetProfilePath(Wide(dir.File("Tavrino.INI"))); }
    TempDir dir;
    CWinApp app;
};

TEST_F(Profile, ValuesGoToTheIniFileBesideTheProgram) {
    EXPECT_TRUE(app.WriteProfileString("Property", "DefaultServer", "ntp.example.jp"));
    EXPECT_TRUE(app.WriteProfileString("TZ", "tz1", "0,-9,JST,,JST-9"));
    std::string file = ReadFileBytes(dir.File("Tavrino.INI"));
    EXPECT_NE(file.find("[Property]"), std::string::npos) << file;
    EXPECT_NE(file.find("DefaultServer=ntp.example.jp"), std::string::npos) << file;
    // Names match without regard to case.
    EXPECT_EQ(app.GetProfileString("property", "DEFAULTSERVER"), "ntp.example.jp");
    EXPECT_EQ(app.GetProfileString("Property", "Missing"), "");
    EXPECT_EQ(AfxGetApp(), &app);
}

TEST_F(Profile, IntegersAndTheirDefaults) {
    WriteFileBytes(dir.File("Tavrino.INI"), "[Property]\r\nTimeOut=15\r\nbeep=x\r\n");
    EXPECT_EQ(app.GetProfileInt("Property", "TimeOut", 10), 15);
    EXPECT_EQ(app.GetProfileInt("Property", "Missing", 10), 10);
    EXPECT_EQ(app.GetProfileInt("Property", "beep", 1), 0);  // present but not a number
}

TEST_F(Profile, LongValuesAndJapaneseTextsComeBackWhole) {
    std::string server(1000, 'n');
    EXPECT_TRUE(app.WriteProfileString("Property", "DefaultServer", server.c_str()));
    EXPECT_EQ(std::string(app.GetProfileString("Property", "DefaultServer")), server);
    // "時刻" in code page 932.
    EXPECT_TRUE(app.WriteProfileString("Property", "Note", "\x8E\x9E\x8D\x8F"));
    EXPECT_EQ(app.GetProfileString("Property", "Note"), "\x8E\x9E\x8D\x8F");
}

}  // namespace
