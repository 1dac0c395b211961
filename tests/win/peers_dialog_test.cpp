// Check and adjust end to end, as the program runs them: through the real query
// dialog and its worker, against chronyd and inetd on 127.0.0.1, with a PC clock
// that runs 90 seconds slow and records what would be set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/check_adjust.h"
#include "engine/query_runner.h"
#include "engine/time_text.h"
#include "res/resource.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"
#include "ui/query_dialog_win.h"

namespace {

const char kPeer[] = "127.0.0.1";
constexpr double kClockSlow = 90.0;

double SystemTimeToSeconds(const SYSTEMTIME& when) {
    FILETIME ticks;
    if (!SystemTimeToFileTime(&when, &ticks)) return -1;
    ULARGE_INTEGER value;
    value.LowPart = ticks.dwLowDateTime;
    value.HighPart = ticks.dwHighDateTime;
    return static_cast<double>(value.QuadPart - 116444736000000000ULL) / 1e7;
}

// The server text's time, read independently of the program's parser.
bool ReadServerText(const CString& text, SYSTEMTIME* out) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char month[8] = {};
    int day, hour, minute, second, year;
    if (std::sscanf(text, "%*3s %3s %d %d:%d:%d %d", month, &day, &hour, &minute, &second, &year) !=
        6) {
        return false;
    }
    *out = SYSTEMTIME{};
    for (int i = 0; i < 12; ++i) {
        if (std::strcmp(month, kMonths[i]) == 0) out->wMonth = static_cast<WORD>(i + 1);
    }
    out->wDay = static_cast<WORD>(day);
    out->wHour = static_cast<WORD>(hour);
    out->wMinute = static_cast<WORD>(minute);
    out->wSecond = static_cast<WORD>(second);
    out->wYear = static_cast<WORD>(year);
    return out->wMonth != 0;
}

class PeersThroughTheDialog : public testing::Test {
  protected:
    void SetUp() override {
        clock.FollowRealClock(static_cast<std::int64_t>(-kClockSlow * 1e6));
    }
    void TearDown() override { EXPECT_EQ(currentWorker, nullptr); }
    // Every query ran in its own dialog, which counted down from 5.
    void ExpectDialogs(size_t count) {
        EXPECT_EQ(watch.Shown().size(), count);
        for (HWND dialog : watch.Shown()) {
            std::vector<std::string> countdown = watch.Texts(IDC_QUERY_REMAINING, dialog);
            ASSERT_FALSE(countdown.empty());
            EXPECT_EQ(countdown[0], "5");
        }
    }

    FakeClock clock;
    DialogWatch watch;

  private:
    ScopedContext m_seams{CurrentContext().With(&RunQueryInDialog)};
};

TEST_F(PeersThroughTheDialog, SntpCheckThenAdjustAgainstChronyd) {
    CString serverText, pcText, status, errorText("untouched");
    double offset = 0;
    ASSERT_EQ(CheckSntp(kPeer, 5, 0, 1, 24, &serverText, &pcText, &offset, status, errorText), 1)
        << status.GetString() << " " << errorText.GetString();
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(errorText, "untouched");
    EXPECT_NEAR(offset, kClockSlow, 0.05);
    double now = RealTimeNow();
    EXPECT_TRUE(serverText == FormatServerTime(static_cast<long long>(now)) ||
                serverText == FormatServerTime(static_cast<long long>(now) - 1))
        << serverText.GetString();
    EXPECT_TRUE(clock.systemTimesSet.empty());  // a check sets nothing

    CString adjustedText, adjustedPc;
    ASSERT_EQ(AdjustSntp(kPeer, 5, 0, 1, 24, adjustedText, adjustedPc, status, errorText), 1)
        << status.GetString();
    EXPECT_EQ(status, "OK");
    ASSERT_EQ(clock.systemTimesSet.size(), 1u);
    // The clock would be set to the real time in UTC, to well within a second.
    EXPECT_NEAR(SystemTimeToSeconds(clock.systemTimesSet[0]), RealTimeNow(), 0.2);
    EXPECT_EQ(
        adjustedText,
        FormatServerTime(static_cast<long long>(SystemTimeToSeconds(clock.systemTimesSet[0]))));
    ExpectDialogs(2);
}

TEST_F(PeersThroughTheDialog, TimeCheckThenAdjustAgainstInetd) {
    CString serverText, status;
    int errorCode = -3;
    ASSERT_EQ(QueryTimeOrDaytime(kProtocolTime, kPeer, 5, 0, serverText, status, errorCode), 1)
        << status.GetString() << " " << errorCode;
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(errorCode, -3);
    long long now = static_cast<long long>(RealTimeNow());
    EXPECT_TRUE(serverText == FormatServerTime(now) || serverText == FormatServerTime(now - 1))
        << serverText.GetString();

    CString adjustedText, pcText;
    ASSERT_EQ(
        AdjustTimeOrDaytime(kProtocolTime, kPeer, 5, 0, adjustedText, pcText, status, errorCode), 1)
        << status.GetString();
    // The clock is set in UTC from the instant the server sent, whatever the PC's zone;
    // the text shown is the same instant in UTC+9.
    EXPECT_TRUE(clock.localTimesSet.empty());
    ASSERT_EQ(clock.systemTimesSet.size(), 1u);
    const SYSTEMTIME& set = clock.systemTimesSet[0];
    EXPECT_EQ(set.wMilliseconds, 0);
    EXPECT_NEAR(SystemTimeToSeconds(set), RealTimeNow(), 2.0);
    SYSTEMTIME fromText;
    ASSERT_TRUE(ReadServerText(adjustedText, &fromText)) << adjustedText.GetString();
    EXPECT_EQ(SystemTimeToSeconds(set) + 9 * 3600, SystemTimeToSeconds(fromText));
    ExpectDialogs(2);
}

TEST_F(PeersThroughTheDialog, DaytimeCheckThenAdjustAgainstInetd) {
    CString serverText, status;
    int errorCode = -3;
    ASSERT_EQ(QueryTimeOrDaytime(kProtocolDaytime, kPeer, 5, 0, serverText, status, errorCode), 1)
        << status.GetString() << " " << errorCode;
    EXPECT_EQ(status, "OK");
    // inetd's line ends in CR LF; the text keeps neither.
    ASSERT_GT(serverText.GetLength(), 0);
    EXPECT_NE(serverText.GetAt(serverText.GetLength() - 1), '\r');
    EXPECT_NE(serverText.GetAt(serverText.GetLength() - 1), '\n');

    CString adjustedText, pcText;
    ASSERT_EQ(
        AdjustTimeOrDaytime(kProtocolDaytime, kPeer, 5, 0, adjustedText, pcText, status, errorCode),
        1)
        << status.GetString();
    ASSERT_EQ(clock.localTimesSet.size(), 1u);
    SYSTEMTIME fromText;
    ASSERT_TRUE(ReadServerText(adjustedText, &fromText)) << adjustedText.GetString();
    // Set as the server wrote it, in the server's own zone, whole seconds.
    EXPECT_EQ(SystemTimeToSeconds(clock.localTimesSet[0]), SystemTimeToSeconds(fromText));
    EXPECT_EQ(clock.localTimesSet[0].wMilliseconds, 0);
    // Whatever the server's zone, its minutes and seconds are the real ones.
    double drift = std::fmod(SystemTimeToSeconds(fromText) - RealTimeNow() + 1800.0 * 49, 1800.0);
    EXPECT_TRUE(drift < 3.0 || drift > 1797.0) << drift;
    ExpectDialogs(2);
}

}  // namespace
