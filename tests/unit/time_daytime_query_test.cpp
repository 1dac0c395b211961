// TIME, DAYTIME and SNTP end to end: the synchronous runner's real exchange against
// the fake server, then the reading of the answer and the clock setting.
#include <gtest/gtest.h>

#include <string>

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

TEST(TimeQuery, OnlyAWholeValueBecomesTheServerText) {
    struct Case {
        const char* name;
        TimeScript script;
        int result;
        const char* status;
        const char* text;
        int code;
    } const cases[] = {
        {"in two pieces", TimeScript::kSplit, 1, "OK", "Sun Jan 06 21:34:56 2002", -7},
        {"two bytes, then closed", TimeScript::kTwoBytesThenClose, 0,
         "ERROR (TIME:IncorrectPacket)", "", 0},
        {"closed at once", TimeScript::kCloseAtOnce, 0, "ERROR (TIME:IncorrectPacket)", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeTime(c.script, kTimeSunday2002)) << server.Error();
        CString text = "untouched", status;
        int code = -7;
        EXPECT_EQ(
            QueryTimeOrDaytime(kProtocolTime, kFakeServerAddress, kTimeout, 0, text, status, code),
            c.result);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(code, c.code);
    }
}

TEST(TimeQuery, AdjustSetsTheServersInstantInUtc) {
    FakeClock clock;
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, kTimeSunday2002)) << server.Error();
    CString text, pc, status;
    int code = -7;
    EXPECT_EQ(
        AdjustTimeOrDaytime(kProtocolTime, kFakeServerAddress, kTimeout, 0, text, pc, status, code),
        1);
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(text, "Sun Jan 06 21:34:56 2002");
    EXPECT_TRUE(clock.localTimesSet.empty());
    ASSERT_EQ(clock.systemTimesSet.size(), 1u);
    const SYSTEMTIME& set = clock.systemTimesSet[0];
    const WORD expected[] = {2002, 1, 0, 6, 12, 34, 56, 0};
    const WORD actual[] = {set.wYear, set.wMonth,  set.wDayOfWeek, set.wDay,
                           set.wHour, set.wMinute, set.wSecond,    set.wMilliseconds};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(actual[i], expected[i]) << "field " << i;
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
    EXPECT_EQ(text, "Sun Jan  6 12:34:56 2002");
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

TEST(SntpQuery, ServerThatMeasuredNothingSetsNothing) {
    FakeClock clock;
    clock.FollowRealClock(0);
    SntpScript emptyTransmit;
    emptyTransmit.zeroTransmit = true;
    const struct {
        SntpScript script;
        const char* status;
    } cases[] = {
        {SntpScript::KissOfDeath("RATE"), "ERROR (SNTP: Kiss-o'-Death RATE)"},
        {emptyTransmit, "ERROR (SNTP: Bad Response)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeSntp(c.script)) << server.Error();
        CString text = "untouched", pc, status, error = "untouched";
        EXPECT_EQ(AdjustSntp(kFakeServerAddress, kTimeout, 0, 1, 24, text, pc, status, error), 0);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(error, "untouched");
        EXPECT_EQ(text, "untouched");
        EXPECT_EQ(server.Requests(), 1);
    }
    EXPECT_TRUE(clock.systemTimesSet.empty());
    EXPECT_TRUE(clock.localTimesSet.empty());
}
