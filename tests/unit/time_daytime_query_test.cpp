// TIME and DAYTIME end to end: the synchronous runner's real exchange against the
// fake server, then the reading of the answer and the clock setting.
#include <gtest/gtest.h>

#include "engine/check_adjust.h"
#include "engine/query_request.h"
#include "engine/time_text.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"

namespace {

constexpr int kTimeout = 5;

// 2002-01-06 12:34:56 UTC in TIME's count from 1900.
constexpr std::uint32_t kTimeSunday2002 = 2208988800u + 1010320496u;

}  // namespace

TEST(TimeQuery, WholeAnswerBecomesTheServerText) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, kTimeSunday2002)) << server.Error();
    CString text = "untouched", status;
    int code = -7;
    EXPECT_EQ(
        QueryTimeOrDaytime(kProtocolTime, kFakeServerAddress, kTimeout, 0, text, status, code), 1);
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(text, "Sun Jan 06 21:34:56 2002");
    EXPECT_EQ(code, -7);
    EXPECT_EQ(server.Requests(), 1);
}

TEST(TimeQuery, ServerClosingWithoutDataIsAnIncorrectPacket) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kCloseAtOnce, kTimeSunday2002)) << server.Error();
    CString text = "untouched", status;
    int code = -7;
    EXPECT_EQ(
        QueryTimeOrDaytime(kProtocolTime, kFakeServerAddress, kTimeout, 0, text, status, code), 0);
    EXPECT_EQ(status, "ERROR (TIME:IncorrectPacket)");
    EXPECT_EQ(text, "");
    EXPECT_EQ(code, 0);
}

TEST(TimeQuery, AdjustSetsTheLocalTimeOfTheText) {
    FakeClock clock;
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, kTimeSunday2002)) << server.Error();
    CString text, pc, status;
    int code = -7;
    EXPECT_EQ(
        AdjustTimeOrDaytime(kProtocolTime, kFakeServerAddress, kTimeout, 0, text, pc, status, code),
        1);
    EXPECT_EQ(status, "OK");
    ASSERT_EQ(clock.localTimesSet.size(), 1u);
    const SYSTEMTIME& set = clock.localTimesSet[0];
    EXPECT_EQ(set.wYear, 2002);
    EXPECT_EQ(set.wMonth, 1);
    EXPECT_EQ(set.wDay, 6);
    EXPECT_EQ(set.wHour, 21);
    EXPECT_EQ(set.wMinute, 34);
    EXPECT_EQ(set.wSecond, 56);
}

TEST(DaytimeQuery, AdjustReadsTheServersLine) {
    FakeClock clock;
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeDaytime("Sun Jan  6 12:34:56 2002\r\n")) << server.Error();
    CString text, pc, status;
    int code = -7;
    EXPECT_EQ(AdjustTimeOrDaytime(kProtocolDaytime, kFakeServerAddress, kTimeout, 0, text, pc,
                                  status, code),
              1);
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(text, "Sun Jan  6 12:34:56 2002\r");
    EXPECT_EQ(code, -7);
    ASSERT_EQ(clock.localTimesSet.size(), 1u);
    const SYSTEMTIME& set = clock.localTimesSet[0];
    const WORD expected[] = {2002, 1, 0, 6, 12, 34, 56, 0};
    const WORD actual[] = {set.wYear, set.wMonth,  set.wDayOfWeek, set.wDay,
                           set.wHour, set.wMinute, set.wSecond,    set.wMilliseconds};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(actual[i], expected[i]) << "field " << i;
}

TEST(DaytimeQuery, NothingListeningIsAFailedQuery) {
    // No server on the port: the connection is refused at once.
    CString text = "untouched", status;
    int code = -7;
    EXPECT_EQ(
        QueryTimeOrDaytime(kProtocolDaytime, kFakeServerAddress, kTimeout, 0, text, status, code),
        0);
    EXPECT_EQ(status, "ERROR (Connect)");
    EXPECT_NE(code, 0);
    EXPECT_EQ(text, "untouched");
}
