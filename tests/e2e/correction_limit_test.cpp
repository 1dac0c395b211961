// MaxCorrection, a server a day out. Wine refuses the set (1314) as Windows does a standard user.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/fake_time_server.h"

namespace {

const char kOffer[] =
    "パソコンの時計を合わせるには管理者の権限が必要です。\n"
    "管理者として起動し直して、時計を合わせますか？";
const std::string kTooFar = "ERROR (too-far):+86400", kRefused = "ERROR (localtime-set):1314";

std::string Question(const char* duration, const char* direction) {
    return std::string("サーバの時刻に合わせると、パソコンの時計が ") + duration + " " + direction +
           "。\n補正の上限（15 時間）を超えています。それでも時計を合わせますか？";
}

TEST(CorrectionLimit, OnlyAClickedAdjustmentAsksAndOnlyYesGoesOnToSetTheClock) {
    const struct {
        int limit;  // hours, 0: no MaxCorrection line
        double offset;
        bool clicked;          // else adjusted at start-up, where nobody is there to ask
        std::string question;  // empty: none may come; answered Yes where the set follows
        std::string detail;    // of the one history line; refused: the offer comes
    } cases[] = {
        {15, 86400, true, Question("1 日 0 時間 0 分", "進みます"), kTooFar},
        {15, -90000, true, Question("1 日 1 時間 0 分", "戻ります"), kRefused},
        {15, 86400, false, "", kTooFar},
        {25, 86400, true, "", kRefused},  // hours, not minutes
        {0, 86400, true, "", kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        FakeTimeServer server;
        SntpScript script;
        script.offset = c.offset;
        ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
        std::string profile = ServerSettings(kFakeServerAddress, "SNTP");
        if (c.limit) profile += "MaxCorrection=" + std::to_string(c.limit) + "\r\n";
        if (!c.clicked) profile += "AutoAdjust=1\r\n";
        StartedCopy program(profile, c.clicked);
        ASSERT_TRUE(program.Window() || !c.clicked);
        if (c.clicked) program.Click(IDC_ADJUST);
        std::vector<std::string> expected, texts;
        if (!c.question.empty()) expected.push_back(c.question);
        if (c.detail == kRefused) expected.push_back(kOffer);
        // Answer each message box once, until a second without any after the history line.
        std::vector<HWND> seen;
        const bool no = c.detail == kTooFar;  // with Enter: No must be the default button
        int waited = 0;
        for (int quiet = 0; waited <= kCommandMs && quiet < 1000; waited += 50) {
            if (!program.Window()) program.WaitForWindow(0);
            const std::vector<HWND> dialogs = program.OtherDialogs(0);
            for (HWND box : dialogs) {
                if (GetDlgItem(box, IDC_ADJUST) || GetDlgItem(box, IDC_NOTICE_UPPER) ||
                    GetDlgItem(box, IDC_QUERY_SERVER) || std::count(seen.begin(), seen.end(), box))
                    continue;  // the main window (shown late at start-up), query, notices
                seen.push_back(box);
                const std::string text = texts.emplace_back(MessageBoxText(box));
                EXPECT_EQ(WindowText(box), "Tavrino");
                if (text == kOffer) PostMessageW(box, WM_COMMAND, IDNO, 0);
                if (text == c.question && no) PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
                if (text == c.question && !no) PostMessageW(box, WM_COMMAND, IDYES, 0);
            }
            const bool ended = dialogs.empty() && texts.size() == expected.size();
            quiet = ended && !program.History().empty() ? quiet + 50 : 0;
            Sleep(50);
        }
        EXPECT_LE(waited, kCommandMs) << "the command did not end";
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(server.Requests(), 1);  // No does not ask again, Yes sets from that answer
        ASSERT_TRUE(program.Window() || program.WaitForWindow(kStartMs));
        const std::vector<HistoryLine> lines = program.History();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].server, kFakeServerAddress) << lines[0].raw;
        EXPECT_EQ(lines[0].mode, "adjust") << lines[0].raw;
        EXPECT_EQ(lines[0].detail, c.detail) << lines[0].raw;
        EXPECT_EQ(program.Field(IDC_SERVER_TIME), c.detail.substr(0, c.detail.rfind(')') + 1));
        EXPECT_TRUE(IsTimeText(program.Field(IDC_PC_TIME))) << program.Field(IDC_PC_TIME);
        program.Close();
    }
}

}  // namespace
