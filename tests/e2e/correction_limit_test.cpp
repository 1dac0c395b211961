// The longest correction (MaxCorrection, hours) as the main window keeps to it, against
// this binary's own SNTP server a day or more out. Wine refuses to set the clock so
// far, as Windows refuses a program not run as administrator: what is tested is what
// the program decides before the set, and that it goes on to the set or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/fake_time_server.h"

namespace {

const char kNeedAdmin[] = "パソコンの時計を合わせるには管理者の権限が必要です。\n"
                          "管理者として起動し直して、時計を合わせますか？";
const char kTooFar[] = "ERROR (too-far)";
const char kRefused[] = "ERROR (localtime-set)";

std::string Question(const char* duration, const char* direction, int limit) {
    return std::string("サーバの時刻に合わせると、パソコンの時計が ") + duration + " " +
           direction + "。\n補正の上限（" + std::to_string(limit) +
           " 時間）を超えています。それでも時計を合わせますか？";
}

// The program's dialogs besides its main window.
std::vector<HWND> OtherDialogs(StartedCopy& program) {
    std::vector<HWND> dialogs = WaitForDialogs(program.Id(), 0);
    const HWND window = FindWindowWithProperty("Tavrino", program.Id());
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), window), dialogs.end());
    return dialogs;
}

// Its message boxes: those dialogs without the query dialog and the self-closing
// notices.
std::vector<HWND> MessageBoxes(StartedCopy& program) {
    std::vector<HWND> boxes = OtherDialogs(program);
    boxes.erase(std::remove_if(boxes.begin(), boxes.end(),
                               [](HWND box) {
                                   return GetDlgItem(box, IDC_NOTICE_UPPER) ||
                                          GetDlgItem(box, IDC_QUERY_SERVER);
                               }),
                boxes.end());
    return boxes;
}

enum Start { kClicked, kAtStartUp };

// One adjustment against a server offset seconds out, with the profile's limit line
// (empty: no limit).
struct Case {
    const char* name;
    const char* limit;
    double offset;
    Start start;
    std::string question;  // the far-correction question; empty: none may come
    int answer;            // to the question: IDYES, or IDNO pressed as Enter
    const char* status;    // the server-time field afterwards
    const char* detail;    // the one history line's detail
    bool offer;            // the set was refused: the administrator offer (answered No)
};

TEST(CorrectionLimit, OnlyAClickedAdjustmentAsksAndOnlyYesGoesOnToSetTheClock) {
    const Case cases[] = {
        // No is the default button: Enter keeps the clock, and nothing is offered.
        {"clicked, answered No", "MaxCorrection=15\r\n", 86400, kClicked,
         Question("1 日 0 時間 0 分", "進みます", 15), IDNO, kTooFar, "ERROR (too-far):+86400",
         false},
        // Yes goes on to the set, which is refused here as a standard user's is.
        {"clicked back, answered Yes", "MaxCorrection=15\r\n", -90000, kClicked,
         Question("1 日 1 時間 0 分", "戻ります", 15), IDYES, kRefused,
         "ERROR (localtime-set):1314", true},
        // Nobody to ask: not made, and recorded.
        {"at start-up", "MaxCorrection=15\r\nAutoAdjust=1\r\n", 86400, kAtStartUp, "", 0,
         kTooFar, "ERROR (too-far):+86400", false},
        // Within the limit (hours, not minutes) and without one: straight to the set.
        {"within the limit", "MaxCorrection=25\r\n", 86400, kClicked, "", 0, kRefused,
         "ERROR (localtime-set):1314", true},
        {"no limit", "", 86400, kClicked, "", 0, kRefused, "ERROR (localtime-set):1314", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTimeServer server;
        SntpScript script;
        script.offset = c.offset;
        ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
        StartedCopy program(ServerSettings(kFakeServerAddress, "SNTP") + c.limit,
                            c.start == kClicked);
        if (c.start == kClicked) {
            ASSERT_NE(program.Window(), nullptr);
            program.Click(IDC_ADJUST);
        }

        // Every box, answered as the case says, until the command has ended: its line
        // written, the offer answered where one comes, and a second with no dialog but
        // the main window (a box after the result notice would come by then).
        std::vector<std::string> texts;
        std::vector<HWND> seen;
        bool offered = false;
        int waited = 0, quiet = 0;
        for (; waited <= kCommandMs && quiet < 1000; waited += 50) {
            for (HWND box : MessageBoxes(program)) {
                if (std::find(seen.begin(), seen.end(), box) != seen.end()) continue;
                seen.push_back(box);
                const std::string text = MessageBoxText(box);
                texts.push_back(text);
                EXPECT_EQ(WindowText(box), "Tavrino");
                if (text == kNeedAdmin) {
                    offered = true;
                    PostMessageW(box, WM_COMMAND, IDNO, 0);
                } else if (text == c.question && c.answer == IDNO) {
                    PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
                } else if (text == c.question) {
                    PostMessageW(box, WM_COMMAND, IDYES, 0);
                }
            }
            const bool ended = !program.History().empty() && offered == c.offer &&
                               OtherDialogs(program).empty();
            quiet = ended ? quiet + 50 : 0;
            Sleep(50);
        }
        EXPECT_LE(waited, kCommandMs) << "the command did not end";

        std::vector<std::string> expected;
        if (!c.question.empty()) expected.push_back(c.question);
        if (c.offer) expected.push_back(kNeedAdmin);
        EXPECT_EQ(texts, expected);
        // One query, whatever the answer: No does not ask again, Yes sets from it.
        EXPECT_EQ(server.Requests(), 1);

        if (c.start == kAtStartUp) {
            ASSERT_NE(program.WaitForWindow(kStartMs), nullptr);
        }
        const std::vector<HistoryLine> lines = program.History();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].server, kFakeServerAddress) << lines[0].raw;
        EXPECT_EQ(lines[0].mode, "adjust") << lines[0].raw;
        EXPECT_EQ(lines[0].detail, c.detail) << lines[0].raw;
        EXPECT_EQ(program.Field(IDC_SERVER_TIME), c.status);
        EXPECT_TRUE(IsTimeText(program.Field(IDC_PC_TIME))) << program.Field(IDC_PC_TIME);
        program.Close();
    }
}

}  // namespace
