// The real program, started as a user starts it, in a display of its own: its main
// window, one copy per executable name, and what it records at every start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/nts_support.h"

namespace {

TEST(MainWindow, OpensWithItsJapaneseControlsAndClosesWithTheCloseButton) {
    ProgramCopy copy;
    Program program;
    HWND window = StartAndFindWindow(copy, program);
    ASSERT_NE(window, nullptr) << "no main window";

    EXPECT_EQ(WindowText(window), "Tavrino ");
    EXPECT_EQ(ControlText(window, IDC_ADJUST), "調整 &J");
    EXPECT_EQ(ControlText(window, IDC_CHECK), "ﾁｪｯｸ &C");
    EXPECT_EQ(ControlText(window, IDC_SETTINGS), "設定 &E..");
    // No settings editor beside this copy: no Settings button.
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_SETTINGS)));
    EXPECT_EQ(ControlText(window, IDOK), "閉じる &X");
    // Without a profile: no server, TIME with its 3-second time-out, nothing asked yet.
    EXPECT_EQ(ControlText(window, IDC_SERVER), "");
    EXPECT_EQ(ControlText(window, IDC_PROTOCOL), "time");
    EXPECT_EQ(ControlText(window, IDC_IND_TIMEOUT), "3s");
    EXPECT_EQ(ControlText(window, IDC_SERVER_TIME), "");
    EXPECT_EQ(ControlText(window, IDC_PC_TIME), "");
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

// Check and Adjust as a user runs them: a copy of the program with a profile of its
// own, against chronyd and inetd on 127.0.0.1 and this binary's own server.

const char kPeer[] = "127.0.0.1";
const char kNoServerName[] = "ｻｰﾊﾞ名が不明です。設定ﾎﾞﾀﾝを押してｻｰﾊﾞ名を設定して下さい。";

TEST(Commands, CheckShowsTheServersTimeAndRecordsItForEachProtocol) {
    for (const char* protocol : {"SNTP", "time", "daytime"}) {
        SCOPED_TRACE(protocol);
        StartedCopy program(ServerSettings(kPeer, protocol));
        ASSERT_NE(program.Window(), nullptr);
        EXPECT_EQ(program.Field(IDC_SERVER), kPeer);
        EXPECT_EQ(program.Field(IDC_PROTOCOL), protocol);

        HistoryLine line;
        ASSERT_TRUE(program.Press(IDC_CHECK, &line));
        const std::string serverTime = program.Field(IDC_SERVER_TIME);
        const std::string pcTime = program.Field(IDC_PC_TIME);
        EXPECT_TRUE(IsTimeText(serverTime)) << serverTime;
        EXPECT_TRUE(IsTimeText(pcTime)) << pcTime;

        EXPECT_EQ(line.pcTime, pcTime) << line.raw;
        EXPECT_EQ(line.server, kPeer);
        EXPECT_EQ(line.protocol, protocol);
        EXPECT_EQ(line.mode, "check");
        EXPECT_EQ(line.detail, "OK");
        EXPECT_EQ(line.serverTime, serverTime);
        // Both keep this machine's clock: in whatever zone the PC is, a second at most.
        EXPECT_NE(line.difference, "x") << line.raw;
        EXPECT_LE(std::abs(std::atoi(line.difference.c_str())), 1) << line.raw;
        program.Close();
    }
}

TEST(Commands, AnNtsCheckIsAuthenticatedByTheDllBesideTheProgram) {
    ASSERT_TRUE(TrustTestRoot()) << "the harness's test root (scripts/sandbox)";
    StartedCopy program(ServerSettings("nts.tavrino.test", "SNTP") + "nts=1\r\n");
    ASSERT_NE(program.Window(), nullptr);
    EXPECT_EQ(program.Field(IDC_PROTOCOL), "NTS");
    HistoryLine line;
    ASSERT_TRUE(program.Press(IDC_CHECK, &line));
    EXPECT_EQ(line.protocol, "NTS") << line.raw;
    EXPECT_EQ(line.detail, "OK") << line.raw;
    EXPECT_TRUE(IsTimeText(program.Field(IDC_SERVER_TIME)));
    program.Close();
}

TEST(Commands, WithoutAServerNameBothCommandsAskForOneAndChangeNothing) {
    StartedCopy program("protocol=SNTP\r\n");
    ASSERT_NE(program.Window(), nullptr);
    const int fields[] = {IDC_SERVER, IDC_PROTOCOL, IDC_SERVER_TIME, IDC_PC_TIME};
    std::vector<std::string> before;
    for (int id : fields) before.push_back(program.Field(id));

    for (int button : {IDC_CHECK, IDC_ADJUST}) {
        SCOPED_TRACE(button);
        program.Click(button);
        std::vector<HWND> boxes = program.OtherDialogs(5000);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(WindowText(boxes[0]), "Tavrino");
        EXPECT_EQ(MessageBoxText(boxes[0]), kNoServerName);
        PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(program.WaitForNoOtherDialogs(5000));
        // No query followed the box.
        for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(program.Field(fields[i]), before[i]);
    }
    EXPECT_FALSE(FileExists(program.HistoryPath()));
    program.Close();
}

TEST(Commands, AFailedCheckShowsItsStatusAndRecordsItsErrorCode) {
    // Nothing listens there: the connection is refused at once.
    StartedCopy program(ServerSettings("127.0.0.5", "time"));
    ASSERT_NE(program.Window(), nullptr);
    HistoryLine line;
    ASSERT_TRUE(program.Press(IDC_CHECK, &line));
    EXPECT_EQ(program.Field(IDC_SERVER_TIME), "ERROR (Connect)");
    // The PC's time is shown all the same, for the user to judge.
    EXPECT_TRUE(IsTimeText(program.Field(IDC_PC_TIME))) << program.Field(IDC_PC_TIME);

    EXPECT_EQ(line.server, "127.0.0.5") << line.raw;
    EXPECT_EQ(line.protocol, "time");
    EXPECT_EQ(line.mode, "check");
    EXPECT_EQ(line.detail, "ERROR (Connect):10061");  // WSAECONNREFUSED
    EXPECT_EQ(line.serverTime, "");
    EXPECT_EQ(line.difference, "x");
    program.Close();
}

// chronyd serves this machine's own clock: the step is far below what Wine refuses.
TEST(Commands, AdjustAgainstChronydSucceeds) {
    StartedCopy program(ServerSettings(kPeer, "SNTP"));
    ASSERT_NE(program.Window(), nullptr);
    HistoryLine line;
    ASSERT_TRUE(program.Press(IDC_ADJUST, &line));
    EXPECT_EQ(program.Field(IDC_PC_TIME), "<< ADJUSTED!! >>");
    const std::string serverTime = program.Field(IDC_SERVER_TIME);
    EXPECT_TRUE(IsTimeText(serverTime)) << serverTime;

    EXPECT_EQ(line.server, kPeer) << line.raw;
    EXPECT_EQ(line.protocol, "SNTP");
    EXPECT_EQ(line.mode, "adjust");
    EXPECT_EQ(line.detail, "OK");
    EXPECT_EQ(line.serverTime, serverTime);
    EXPECT_TRUE(IsTimeText(line.pcTime)) << line.raw;
    program.Close();
}

// The box of process id whose text is text, waiting for it; null when none comes.
HWND WaitForBox(DWORD id, const std::string& text) {
    for (int waited = 0; waited <= kCommandMs; waited += 50) {
        for (HWND box : WaitForDialogs(id, 0)) {
            if (MessageBoxText(box) == text) return box;
        }
        Sleep(50);
    }
    return nullptr;
}

// A server an hour ahead: Wine refuses so large a step for want of the right to set
// the clock, as Windows refuses a program not run as administrator. The window says
// so and offers to start again as administrator; the instance so started adjusts at
// once and, refused as well, says that even so the clock could not be set.
TEST(Commands, AnAdjustmentTheClockRefusesOffersToStartAgainAsAdministrator) {
    FakeTimeServer server;
    SntpScript script;
    script.offset = 3600;
    script.replyAfterMs = 1500;  // time to see the query under way
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    StartedCopy program(ServerSettings(kFakeServerAddress, "SNTP"));
    ASSERT_NE(program.Window(), nullptr);

    program.Click(IDC_ADJUST);
    std::vector<HWND> dialogs = program.OtherDialogs(5000);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(ControlText(dialogs[0], IDC_QUERY_SERVER), kFakeServerAddress);
    EXPECT_EQ(program.Field(IDC_SERVER_TIME), "connecting...");

    HistoryLine line;
    ASSERT_TRUE(program.WaitForHistory(1, &line));
    EXPECT_EQ(program.Field(IDC_SERVER_TIME), "ERROR (localtime-set)");
    EXPECT_TRUE(IsTimeText(program.Field(IDC_PC_TIME))) << program.Field(IDC_PC_TIME);
    EXPECT_EQ(server.Requests(), 1);

    EXPECT_EQ(line.server, kFakeServerAddress) << line.raw;
    EXPECT_EQ(line.protocol, "SNTP");
    EXPECT_EQ(line.mode, "adjust");
    EXPECT_EQ(line.detail, "ERROR (localtime-set):1314") << line.raw;

    HWND offer = WaitForBox(program.Id(),
                            "パソコンの時計を合わせるには管理者の権限が必要です。\n"
                            "管理者として起動し直して、時計を合わせますか？");
    ASSERT_NE(offer, nullptr);
    PostMessageW(offer, WM_COMMAND, IDYES, 0);
    // This instance makes way; the one started as administrator adjusts as it is first
    // shown, before its window appears.
    EXPECT_TRUE(program.Process().WaitForExit(kCommandMs));
    HWND refused = WaitForBox(0,
                              "管理者の権限でも、パソコンの時計を合わせられませんでした。\n"
                              "システムのポリシーで禁止されている可能性があります。");
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(program.WaitForHistory(2, &line));
    EXPECT_EQ(line.detail, "ERROR (localtime-set):1314") << line.raw;
    EXPECT_EQ(server.Requests(), 2);
    DWORD elevatedId = 0;
    GetWindowThreadProcessId(refused, &elevatedId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, elevatedId);
    PostMessageW(refused, WM_COMMAND, IDOK, 0);
    HWND elevated = WaitForWindowWithProperty("Tavrino", elevatedId, kStartMs);
    EXPECT_NE(elevated, nullptr);
    PostMessageW(elevated, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForSingleObject(process, kCommandMs), WAIT_OBJECT_0);
    CloseHandle(process);
}

}  // namespace
