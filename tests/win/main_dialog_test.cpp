// The main dialog and the application object in-process: the window property and
// the main-window slot over the window's life, the profile access and the settings
// shown, the start with SHIFT held, the settings editor's notifications, and the
// about and notice boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/query_request.h"
#include "framework/afx_win.h"
#include "framework/scan.h"
#include "framework/strings.h"
#include "framework/winapp_win.h"
#include "res/resource.h"
#include "res/string_ids.h"
#include "settings/editor_link.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"
#include "ui/clock_dlg_win.h"
#include "ui/editor_link_win.h"
#include "ui/notice_dlg_win.h"

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
    CClockDlg dialog("TavrinoTest");
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

// A main dialog over a profile of the test's own, run until the test has acted on
// it from its first show.
class ClockDialog : public Profile {
  protected:
    // act is called at the main window's first show, other at any other box's.
    void Run(const std::string& profile, const std::function<void(HWND)>& act,
             const std::function<void(HWND)>& other = nullptr) {
        WriteFileBytes(dir.File("Tavrino.INI"), "[Property]\r\n" + profile);
        RunAsItIs(act, other);
    }
    // The same over the profile as the test has left it.
    void RunAsItIs(const std::function<void(HWND)>& act,
                   const std::function<void(HWND)>& other = nullptr) {
        DialogWatch watch;
        watch.onEvent = [&](const DialogEvent& event) {
            if (event.kind != DialogEvent::kShown) return;
            if (event.dialog != dialog.GetSafeHwnd()) {
                if (other) other(event.dialog);
                return;
            }
            act(event.dialog);
            if (closeAfterAct)
                PostMessageW(event.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        };
        EXPECT_EQ(dialog.DoModal(), IDOK);
    }
    bool closeAfterAct = true;
    CClockDlg dialog;
    RecordingSink messages;
};

// The system does not press SHIFT for a test: the thread's keyboard state does.
class ShiftHeld {
  public:
    ShiftHeld() {
        GetKeyboardState(m_saved);
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        SetKeyboardState(keys);
    }
    ~ShiftHeld() { SetKeyboardState(m_saved); }

  private:
    BYTE m_saved[256];
};

// A window that stands for the settings editor: WM_CLOSE destroys it.
class EditorStandIn {
  public:
    EditorStandIn()
        : m_hWnd(CreateWindowExW(0, L"STATIC", L"editor", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr)) {}
    ~EditorStandIn() {
        if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    }
    HWND Handle() const { return m_hWnd; }
    bool Closed() const { return !IsWindow(m_hWnd); }

  private:
    HWND m_hWnd;
};

// The Settings button's link on a plain window of the main dialog's template, as the
// button leaves it once it has started an editor: this process stands for the editor.
TEST(EditorLink, TakesTheAnnouncementOfItsOwnEditorOnlyAndClosesIt) {
    EditorStandIn first, second;
    RecordingSink messages;
    CDialog window(IDD_MAIN);
    CEditorLink link(&window, IDC_SETTINGS, TIMER_EDITOR);
    std::vector<bool> reloads;
    bool pressedAfterSave = false, releasedAfterCancel = false;
    DialogWatch watch;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind != DialogEvent::kShown || event.dialog != window.GetSafeHwnd()) return;
        auto notify = [&](EditorCode code, HWND editor = nullptr) {
            return link.OnNotice(static_cast<WPARAM>(code), reinterpret_cast<LPARAM>(editor));
        };
        HWND button = GetDlgItem(event.dialog, IDC_SETTINGS);
        notify(EditorCode::kAnnounce, first.Handle());  // no editor started yet: nobody counts
        EnableWindow(button, FALSE);
        SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);
        link.Watch(ScopedHandle(OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId())),
                   GetCurrentProcessId());
        notify(EditorCode::kAnnounce, reinterpret_cast<HWND>(0x7FFF0));  // not a window
        notify(EditorCode::kAnnounce, second.Handle());
        notify(EditorCode::kAnnounce, first.Handle());  // a second editor: refused, with a box
        reloads.push_back(notify(EditorCode::kSaved));
        pressedAfterSave = !IsWindowEnabled(button);
        reloads.push_back(notify(static_cast<EditorCode>(99)));
        link.Close();  // the main window closes: the announced editor with it
        reloads.push_back(notify(EditorCode::kClosed));
        releasedAfterCancel = IsWindowEnabled(button) && !SendMessageW(button, BM_GETCHECK, 0, 0);
        reloads.push_back(notify(EditorCode::kSavedAndClosed));
        PostMessageW(event.dialog, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(window.DoModal(), IDOK);
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"SetEnv is already running."});
    EXPECT_EQ(reloads, (std::vector<bool>{true, false, false, true}));
    EXPECT_TRUE(pressedAfterSave);
    EXPECT_TRUE(releasedAfterCancel);
    EXPECT_TRUE(second.Closed());
    EXPECT_FALSE(first.Closed());
}

TEST_F(ClockDialog, WithTheVoiceBoxCheckedItSaysGoodbyeAsItCloses) {
    std::string upper, lower;
    bool mainHidden = false;
    auto check = [](HWND window) {
        SendDlgItemMessageW(window, IDC_VOICE, BM_SETCHECK, BST_CHECKED, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_VOICE, BN_CLICKED), 0);
    };
    Run("", check, [&](HWND notice) {
        mainHidden = !IsWindowVisible(dialog.GetSafeHwnd());
        upper = DialogWatch::ItemText(notice, IDC_NOTICE_UPPER);
        lower = DialogWatch::ItemText(notice, IDC_NOTICE_LOWER);
        DialogWatch::PressEscape(notice);
    });
    EXPECT_TRUE(mainHidden);
    EXPECT_EQ(upper, "Tavrino ");
    EXPECT_EQ(lower, "終了します。");
}

TEST_F(ClockDialog, ASettingsEditorThatCannotStartReleasesTheButtonAndSaysWhy) {
    // No editor beside the test program; then a profile path too long to hand over.
    const std::wstring deep = app.GetProfilePath() + std::wstring(250, L'x');
    std::vector<std::string> shown;
    for (const std::wstring& profile : {app.GetProfilePath(), deep}) {
        messages.Clear();
        app.SetProfilePath(profile);
        bool released = false;
        Run("", [&](HWND window) {
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS, BN_CLICKED), 0);
            HWND button = GetDlgItem(window, IDC_SETTINGS);
            released = IsWindowEnabled(button) && !SendMessageW(button, BM_GETCHECK, 0, 0);
        });
        EXPECT_TRUE(released);
        ASSERT_EQ(messages.Messages().size(), 1u);
        shown.push_back(messages.Messages()[0]);
    }
    EXPECT_EQ(shown[0], std::string(LoadAppString(IDS_EDITOR_NOT_STARTED)) + " (2)");
    EXPECT_EQ(shown[1], std::string(LoadAppString(IDS_EDITOR_LINE_TOO_LONG)));
}

// Hostile profiles: whatever the file holds, or whatever it is, the window opens with
// defined texts, a check ends with a status the user can act on, and neither the
// profile nor the history is damaged.
TEST_F(ClockDialog, HostileProfilesGiveDefinedTextsAndLeaveTheFilesWhole) {
    FakeTimeServer answering;
    // 2002-01-06 12:34:56 UTC in TIME's count from 1900.
    ASSERT_TRUE(answering.ServeTime(TimeScript::kWhole, 2208988800u + 1010320496u))
        << answering.Error();
    const std::string kiB64(65536, '7'), local = std::string("DefaultServer=") + kFakeServerAddress;
    const std::string noName = LoadAppString(IDS_NO_SERVER_NAME).GetString();
    enum Damage { kNone, kFolder, kLocked, kReadOnly, kLogLocked };
    struct Case {
        const char* name;
        std::string profile;
        Damage damage;
        std::string server, timeOut, retryInterval, adjustAt;  // as the window shows them
        std::string status;                                    // after a check
        std::vector<std::string> messages;
        int logLines;
    } const cases[] = {
        {"64 KiB in every text",
         "DefaultServer=" + std::string(65536, 'n') + "\r\nprotocol=" + std::string(65536, 'S') +
             "\r\nErrorRetry=1," + kiB64 + "," + kiB64 + ",2\r\nAdjustAt=1," + kiB64 + ":" + kiB64 +
             "\r\nWindowPos=1," + kiB64 + "," + kiB64 + ",1\r\nlogfile=1\r\n",
         kNone,
         std::string(65536, 'n'),
         "3s",
         "2147483647h",
         "00:00",
         "ERROR (HostNotFound)",
         {},
         1},
        {"a server name of formats",
         "DefaultServer=%s%n%x\r\nlogfile=1\r\n",
         kNone,
         "%s%n%x",
         "3s",
         "0s",
         "00:00",
         "ERROR (HostNotFound)",
         {},
         1},
        {"a server name of 3000 characters",
         "DefaultServer=" + std::string(3000, 'a') + "\r\n",
         kNone,
         std::string(3000, 'a'),
         "3s",
         "0s",
         "00:00",
         "ERROR (HostNotFound)",
         {},
         0},
        // A negative wait is refused by the socket layer at once: no wait, no hang.
        {"a negative time-out",
         local + "\r\nTimeOut=-5\r\n",
         kNone,
         kFakeServerAddress,
         "-5s",
         "0s",
         "00:00",
         "ERROR (Select)",
         {},
         0},
        {"a huge time-out",
         local + "\r\nTimeOut=99999999999\r\nlogfile=1\r\n",
         kNone,
         kFakeServerAddress,
         "1215752191s",
         "0s",
         "00:00",
         "*",
         {},
         1},
        {"retry milliseconds beyond 32 bits",
         local + "\r\nErrorRetry=1,3,1193,2\r\n",
         kNone,
         kFakeServerAddress,
         "3s",
         "1193h",
         "00:00",
         "*",
         {},
         0},
        {"hexadecimal and octal numbers",
         local + "\r\nAdjustAt=0x1,0x17:073\r\nWindowPos=01,0x40,010,1\r\n",
         kNone,
         kFakeServerAddress,
         "3s",
         "0s",
         "23:59",
         "*",
         {},
         0},
        // An unreadable profile gives the defaults: no server, so the check asks for one.
        {"a profile that is a folder", "", kFolder, "", "3s", "0s", "00:00", "", {noName}, 0},
        {"a locked profile", local + "\r\n", kLocked, "", "3s", "0s", "00:00", "", {noName}, 0},
        // The history goes beside the profile: it cannot be written there either.
        {"a profile and its history in a read-only folder",
         local + "\r\nlogfile=1\r\nWindowPos=1,10,10,1\r\n",
         kReadOnly,
         kFakeServerAddress,
         "3s",
         "0s",
         "00:00",
         "*",
         {"Can not open the logfile"},
         0},
        {"a history that another program holds",
         local + "\r\nlogfile=1\r\n",
         kLogLocked,
         kFakeServerAddress,
         "3s",
         "0s",
         "00:00",
         "*",
         {"Can not open the logfile"},
         0},
    };
    // The sandbox's read-only view of a folder it can write (see scripts/sandbox).
    auto windowsPath = [](const char* variable) {
        std::string path = std::getenv(variable) ? std::string("Z:") + std::getenv(variable) : "";
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    };
    const std::string writable = windowsPath("TAVRINO_WRITABLE");
    const std::string readOnly = windowsPath("TAVRINO_READ_ONLY");
    ASSERT_FALSE(readOnly.empty()) << "run through scripts/sandbox";
    const std::string sub = "\\profile-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(Wide(writable + sub).c_str(), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.Clear();
        // Written through one path, the program given the other.
        const std::string folder = c.damage == kReadOnly ? readOnly + sub + "\\" : dir.Path();
        const std::string ini = folder + "Tavrino.INI", log = folder + "Tavrino.log";
        const std::string written = c.damage == kReadOnly ? writable + sub + "\\Tavrino.INI" : ini;
        DeleteFileW(Wide(log).c_str());
        WriteFileBytes(written, "[Property]\r\n" + c.profile);
        const std::string before = c.damage == kFolder ? "" : ReadFileBytes(ini);
        app.SetProfilePath(Wide(ini));
        std::shared_ptr<void> lock;
        if (c.damage == kFolder) {
            DeleteFileW(Wide(ini).c_str());
            CreateDirectoryW(Wide(ini).c_str(), nullptr);
        } else if (c.damage == kLocked || c.damage == kLogLocked) {
            // Another program holds the file open and shares it with nobody.
            if (c.damage == kLogLocked) WriteFileBytes(log, "");
            lock.reset(
                CreateFileW(Wide(c.damage == kLocked ? ini : log).c_str(),
                            GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                CloseHandle);
        }
        std::vector<std::string> shown(5);
        RunAsItIs([&](HWND window) {
            int ids[] = {IDC_SERVER, IDC_IND_TIMEOUT, IDC_IND_RETRY_INTERVAL, IDC_IND_ADJUST_AT};
            for (int i = 0; i < 4; ++i) shown[i] = DialogWatch::ItemText(window, ids[i]);
            // The dialog object serves every row: what the last one left goes first.
            SetDlgItemTextW(window, IDC_SERVER_TIME, L"");
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHECK, BN_CLICKED), 0);
            shown[4] = DialogWatch::ItemText(window, IDC_SERVER_TIME);
        });
        // Where the window cannot write, neither can the settings editor: it says so.
        if (c.damage == kFolder || c.damage == kLocked || c.damage == kReadOnly) {
            EXPECT_FALSE(app.WriteProfileString("Property", "beep", "1"));
        }
        lock.reset();
        // A long name shows its beginning; the field is narrower still.
        EXPECT_EQ(shown[0].substr(0, 64), c.server.substr(0, 64));
        EXPECT_EQ(shown[1], c.timeOut);
        EXPECT_EQ(shown[2], c.retryInterval);
        EXPECT_EQ(shown[3], c.adjustAt);
        EXPECT_EQ(shown[4], c.status == "*" ? "Sun Jan 06 21:34:56 2002" : c.status);
        EXPECT_EQ(messages.Messages(), c.messages);
        // Only the window's place may change in the profile, and only where it can be written.
        const std::string after = c.damage == kFolder ? "" : ReadFileBytes(ini);
        if (c.damage == kFolder || c.damage == kLocked || c.damage == kReadOnly) {
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(after.substr(0, after.find("WindowPos=")),
                  before.substr(0, before.find("WindowPos=")));
        const std::string history = ReadFileBytes(log);
        EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), c.logLines) << history;
        RemoveDirectoryW(Wide(ini).c_str());
    }
}

// A TIME server inside the process: each query answers with the real time at once,
// and may act on the main window while it is under way, as a tick or a settings
// editor would during the query dialog's modal loop.
struct FakeQueries {
    static std::vector<std::string> servers;
    static int depth, deepest;
    static std::function<void()> during;

    static void Run(QueryRequest& request) {
        servers.push_back(request.server);
        deepest = std::max(deepest, ++depth);
        if (during) during();
        const std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr)) + kNtpTo1970;
        for (int i = 0; i < 4; ++i)
            request.buffer[i] = static_cast<unsigned char>(now >> (24 - 8 * i));
        request.result = 1;
        --depth;
    }
};
std::vector<std::string> FakeQueries::servers;
int FakeQueries::depth = 0, FakeQueries::deepest = 0;
std::function<void()> FakeQueries::during;

class ScheduledRuns : public ClockDialog {
  protected:
    void SetUp() override {
        ClockDialog::SetUp();
        FakeQueries::servers.clear();
        FakeQueries::deepest = 0;
        FakeQueries::during = nullptr;
        clock.FollowRealClock(0);
    }
    void TearDown() override { FakeQueries::during = nullptr; }
    // Sets a profile value while the window runs, as the settings editor does.
    void Store(const wchar_t* key, const wchar_t* value) {
        WritePrivateProfileStringW(L"Property", key, value, app.GetProfilePath().c_str());
    }
    static void PressEscapeOnNotices(HWND box) { DialogWatch::PressEscape(box); }

    FakeClock clock;
    ScopedContext seams{CurrentContext().With(&FakeQueries::Run)};
};

TEST_F(ScheduledRuns, ATickOrAReloadDuringARunWaitsForItsEnd) {
    SYSTEMTIME morning{};
    morning.wHour = 6;
    clock.SetLocal(morning);
    bool armedAfterwards = false;
    int stage = 0;
    FakeQueries::during = [&] {
        HWND window = dialog.GetSafeHwnd();
        if (stage++ == 0) {
            // The Adjust command's query: the daily time comes and its timer fires, the
            // editor saves.
            Store(L"DefaultServer", L"second.example.jp");
            SYSTEMTIME noon{};
            noon.wHour = 12;
            clock.SetLocal(noon);
            SendMessageW(window, WM_TIMER, TIMER_ADJUSTAT, 0);
            SendMessageW(window, WM_SETENV_NOTIFY, static_cast<WPARAM>(EditorCode::kSaved), 0);
        } else {
            // The daily run's query: the editor turns the daily adjustment off.
            Store(L"AdjustAt", L"0,12:00");
            SendMessageW(window, WM_SETENV_NOTIFY, static_cast<WPARAM>(EditorCode::kSavedAndClosed),
                         0);
        }
    };
    Run(
        "DefaultServer=first.example.jp\r\nprotocol=time\r\nAdjustAt=1,12:00\r\n",
        [&](HWND window) {
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_ADJUST, BN_CLICKED), 0);
            armedAfterwards = KillTimer(window, TIMER_ADJUSTAT) != FALSE;
        },
        &PressEscapeOnNotices);
    // One query at a time, each on the settings in force when it started.
    EXPECT_EQ(FakeQueries::servers,
              (std::vector<std::string>{"first.example.jp", "second.example.jp"}));
    EXPECT_EQ(FakeQueries::deepest, 1);
    EXPECT_FALSE(armedAfterwards);  // not left running after it was switched off
    EXPECT_EQ(clock.systemTimesSet.size(), 2u);
}

// Closes the window: after the test's run, or should the timer under test never fire.
HWND giveUpWindow = nullptr;
void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageW(giveUpWindow, WM_COMMAND, IDOK, 0);
}

// The fake clock's local time a little later, when the daily time has come: the daily
// timer's tick runs only once the clock reads its time.
FakeClock* noonClock = nullptr;
void CALLBACK ReachNoon(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SYSTEMTIME noon{};
    noon.wHour = 12;
    noonClock->SetLocal(noon);
}

// Takes the thread's messages for a while, as a query dialog's modal loop does.
void PumpMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

TEST_F(ScheduledRuns, TheDailyTimerFiresAtItsTimeOnceEvenForARunLongerThanItsWait) {
    // Started a second before the daily time: the run's query outlasts that second
    // twice over, and it sets a clock that ran two seconds fast back before the daily
    // time, which Windows announces. The day's adjustment is made once.
    SYSTEMTIME almost{};
    almost.wHour = 11;
    almost.wMinute = 59;
    almost.wSecond = 59;
    clock.SetLocal(almost);
    closeAfterAct = false;
    FakeQueries::during = [&] {
        if (FakeQueries::servers.size() > 1) return;
        almost.wSecond = 58;
        clock.SetLocal(almost);
        SendMessageW(giveUpWindow, WM_TIMECHANGE, 0, 0);
        PumpMessages(2500);
        SetTimer(nullptr, 0, 3000, &GiveUp);
    };
    Run(
        "DefaultServer=ntp.example.jp\r\nprotocol=time\r\nAdjustAt=1,12:00\r\n",
        [&](HWND shown) {
            giveUpWindow = shown;
            noonClock = &clock;
            SetTimer(nullptr, 0, 500, &ReachNoon);
            SetTimer(nullptr, 0, 15000, &GiveUp);
        },
        &PressEscapeOnNotices);
    EXPECT_EQ(FakeQueries::servers, std::vector<std::string>{"ntp.example.jp"});
    EXPECT_EQ(clock.systemTimesSet.size(), 1u);
}

TEST_F(ScheduledRuns, TheDailyTimeIsCountedAgainWhenTheClockChanges) {
    SYSTEMTIME morning{};
    morning.wHour = 11;
    clock.SetLocal(morning);
    closeAfterAct = false;
    Run(
        "DefaultServer=ntp.example.jp\r\nprotocol=time\r\nAdjustAt=1,12:00\r\n",
        [&](HWND shown) {
            // An hour to go; then the clock is set to a second before the time.
            SYSTEMTIME almost = morning;
            almost.wMinute = 59;
            almost.wSecond = 59;
            clock.SetLocal(almost);
            PostMessageW(shown, WM_TIMECHANGE, 0, 0);
            giveUpWindow = shown;
            noonClock = &clock;
            SetTimer(nullptr, 0, 1500, &ReachNoon);
            SetTimer(nullptr, 0, 4000, &GiveUp);
        },
        &PressEscapeOnNotices);
    EXPECT_EQ(FakeQueries::servers, std::vector<std::string>{"ntp.example.jp"});
}

std::vector<std::pair<unsigned, unsigned>> beeps;
void RecordBeep(unsigned frequency, unsigned ms) { beeps.emplace_back(frequency, ms); }

// The show state that the Close button saved: SW_SHOWMINIMIZED for a minimized window.
int SavedShowState(const CWinApp& app) {
    int saved[4] = {0, 0, 0, -1};
    ScanIntegers(app.GetProfileString("Property", "WindowPos"), ",,,", saved, 4);
    return saved[3];
}

TEST_F(ScheduledRuns, StartedWithShiftHeldItNeitherAdjustsNorStartsMinimized) {
    const std::string profile =
        "DefaultServer=ntp.example.jp\r\nprotocol=time\r\nAutoAdjust=1\r\nIconicStart=1\r\n";
    beeps.clear();
    ScopedContext beep(CurrentContext().With(&RecordBeep));
    {
        ShiftHeld shift;
        Run(
            profile, [](HWND) {}, &PressEscapeOnNotices);
    }
    EXPECT_EQ(beeps, (std::vector<std::pair<unsigned, unsigned>>{{256u, 100u}}));
    EXPECT_TRUE(FakeQueries::servers.empty());
    EXPECT_EQ(SavedShowState(app), SW_SHOWNORMAL);
    // The profile keeps them; without SHIFT it adjusts, starts minimized and nothing beeps.
    WriteFileBytes(dir.File("Tavrino.INI"), "[Property]\r\n" + profile);
    beeps.clear();
    CClockDlg again;
    DialogWatch watch;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind != DialogEvent::kShown) return;
        if (event.dialog == again.GetSafeHwnd()) {
            PostMessageW(event.dialog, WM_COMMAND, IDOK, 0);
        } else {
            PressEscapeOnNotices(event.dialog);
        }
    };
    again.DoModal();
    EXPECT_TRUE(beeps.empty());
    EXPECT_EQ(FakeQueries::servers, std::vector<std::string>{"ntp.example.jp"});
    EXPECT_EQ(SavedShowState(app), SW_SHOWMINIMIZED);
}

TEST_F(ClockDialog, AStatusLineSwitchedWhileMinimizedGivesTheRestoredWindowItsHeight) {
    int fullHeight = 0, restoredBottom = 0, markerTop = 0, restoredAgain = 0;
    Run("indicatorline=1\r\n", [&](HWND window) {
        auto height = [&] {
            RECT rect{};
            GetWindowRect(window, &rect);
            return static_cast<int>(rect.bottom - rect.top);
        };
        auto switchLine = [&](const wchar_t* on) {
            ShowWindow(window, SW_MINIMIZE);
            WritePrivateProfileStringW(L"Property", L"indicatorline", on,
                                       app.GetProfilePath().c_str());
            SendMessageW(window, WM_SETENV_NOTIFY, static_cast<WPARAM>(EditorCode::kSaved), 0);
            ShowWindow(window, SW_RESTORE);
        };
        fullHeight = height();
        switchLine(L"0");
        RECT rect{}, marker{};
        GetWindowRect(window, &rect);
        GetWindowRect(GetDlgItem(window, IDC_IND_MARKER), &marker);
        restoredBottom = rect.bottom;
        markerTop = marker.top;
        switchLine(L"1");
        restoredAgain = height();
    });
    EXPECT_EQ(restoredBottom, markerTop);  // down to the status line, not below it
    EXPECT_EQ(restoredAgain, fullHeight);
}

// NTS in the protocol field for authenticated SNTP alone: at the start and after each save.
TEST_F(ClockDialog, TheProtocolFieldShowsNtsForAuthenticatedSntpOnly) {
    const std::pair<const wchar_t*, const wchar_t*> saves[] = {  // nts nullptr: the line removed
        {L"SNTP", L"0"}, {L"time", L"1"}, {L"SNTP", L"1"}, {L"daytime", L"1"}, {L"SNTP", nullptr}};
    std::vector<std::string> shown;
    Run("protocol=SNTP\r\nnts=1\r\n", [&](HWND window) {
        shown.push_back(DialogWatch::ItemText(window, IDC_PROTOCOL));
        const std::wstring path = app.GetProfilePath();
        for (const auto& [protocol, nts] : saves) {
            WritePrivateProfileStringW(L"Property", L"protocol", protocol, path.c_str());
            WritePrivateProfileStringW(L"Property", L"nts", nts, path.c_str());
            SendMessageW(window, WM_SETENV_NOTIFY, static_cast<WPARAM>(EditorCode::kSaved), 0);
            shown.push_back(DialogWatch::ItemText(window, IDC_PROTOCOL));
        }
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"NTS", "SNTP", "time", "NTS", "daytime", "SNTP"}));
}

TEST_F(ClockDialog, ATimerItDoesNotKnowIsKilled) {
    Run("", [](HWND window) {
        SetTimer(window, 7, 60000, nullptr);
        SendMessageW(window, WM_TIMER, 7, 0);
    });
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"timerID=7 is killed"});
}

TEST(AboutBox, OpensFromTheSystemMenuWithTheNameAndVersion) {
    DialogWatch watch;
    CClockDlg dialog;
    std::string menuEntry, caption, name;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind != DialogEvent::kShown) return;
        if (event.dialog == dialog.GetSafeHwnd()) {
            wchar_t text[64] = {};
            GetMenuStringW(GetSystemMenu(event.dialog, FALSE), IDM_ABOUTBOX, text, 64,
                           MF_BYCOMMAND);
            char utf8[128] = {};
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
            menuEntry = utf8;
            PostMessageW(event.dialog, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
        } else {
            caption = DialogWatch::WindowText(event.dialog);
            name = DialogWatch::ItemText(event.dialog, IDC_ABOUT_NAME);
            DialogWatch::PressEscape(event.dialog);
            PostMessageW(dialog.GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        }
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(menuEntry, "ﾊﾞｰｼﾞｮﾝ情報 (&A)...");
    EXPECT_EQ(caption, "Tavrino ");
    EXPECT_EQ(name, "Tavrino    Ver.1.00");
}

TEST(NoticeBox, EndsWithOkWhenItsTimeRunsOutAndWithCancelOnEscape) {
    struct Case {
        std::uint32_t displayMs;
        bool pressEscape;
        INT_PTR result;
    };
    for (const Case& c :
         {Case{150, false, IDOK}, Case{0, true, IDCANCEL}, Case{60000, true, IDCANCEL}}) {
        SCOPED_TRACE(c.displayMs);
        DialogWatch watch;
        std::string caption, upper, lower;
        watch.onEvent = [&](const DialogEvent& event) {
            if (event.kind != DialogEvent::kShown) return;
            caption = DialogWatch::WindowText(event.dialog);
            upper = DialogWatch::ItemText(event.dialog, IDC_NOTICE_UPPER);
            lower = DialogWatch::ItemText(event.dialog, IDC_NOTICE_LOWER);
            if (c.pressEscape) DialogWatch::PressEscape(event.dialog);
        };
        CNoticeDlg notice;
        notice.m_strUpper = "<< ERROR!! >>";
        notice.m_strLower = "Mon Dec 07 19:45:12 2026";
        notice.m_nDisplayTime = c.displayMs;
        const double start = watch.Now();
        EXPECT_EQ(notice.DoModal(), c.result);
        EXPECT_EQ(caption, "Tavrino ");
        EXPECT_EQ(upper, "<< ERROR!! >>");
        EXPECT_EQ(lower, "Mon Dec 07 19:45:12 2026");
        if (!c.pressEscape) {
            EXPECT_GE(watch.Now() - start, 0.14);
        }
    }
}

}  // namespace
