// The main window's commands against the fake server: which texts a check and an
// adjustment leave, and the history detail that each outcome records.
#include "engine/commands.h"
#include "ui/elevation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"

namespace {

// 2002-01-06 12:34:56 UTC in TIME's count from 1900.
constexpr std::uint32_t kTimeSunday2002 = 2208988800u + 1010320496u;

ServerQuery QueryOf(int protocol) {
    ServerQuery query;
    query.server = kFakeServerAddress;
    query.protocol = static_cast<Protocol>(protocol);
    query.timeOut = 5;
    return query;
}

TEST(Commands, EachOutcomeLeavesItsTextsAndItsHistoryDetail) {
    struct Case {
        const char* name;
        int protocol;
        bool adjust;
        std::function<bool(FakeTimeServer&)> serve;
        int success;
        const char* serverTime;  // "" for none, "*" for any time text
        const char* detail;
    };
    const Case cases[] = {
        {"TIME check", 1, false,
         [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kWhole, kTimeSunday2002); }, 1,
         "Sun Jan 06 21:34:56 2002", "OK"},
        // A failure's code follows the status, a 0 included.
        {"TIME check, short answer", 1, false,
         [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kTwoBytesThenClose, 0); }, 0, "",
         "ERROR (TIME:IncorrectPacket):0"},
        {"DAYTIME check", 2, false,
         [](FakeTimeServer& s) { return s.ServeDaytime("Sun Jan 06 21:34:56 2002\r\n"); }, 1,
         "Sun Jan 06 21:34:56 2002", "OK"},
        {"SNTP check", 0, false, [](FakeTimeServer& s) { return s.ServeSntp(SntpScript{}); }, 1,
         "*", "OK"},
        // An SNTP refusal has no error text: the status stands alone.
        {"SNTP check, kiss-o'-death", 0, false,
         [](FakeTimeServer& s) { return s.ServeSntp(SntpScript::KissOfDeath("RATE")); }, 0, "",
         "ERROR (SNTP: Kiss-o'-Death RATE)"},
        {"SNTP adjust", 0, true, [](FakeTimeServer& s) { return s.ServeSntp(SntpScript{}); }, 1,
         "*", "OK"},
        {"TIME adjust", 1, true,
         [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kWhole, kTimeSunday2002); }, 1,
         "Sun Jan 06 21:34:56 2002", "OK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        clock.FollowRealClock(0);
        FakeTimeServer server;
        ASSERT_TRUE(c.serve(server)) << server.Error();
        CommandOutcome out = c.adjust ? AdjustPcClock(QueryOf(c.protocol))
                                      : CheckServerTime(QueryOf(c.protocol));
        EXPECT_EQ(out.success, c.success);
        EXPECT_EQ(std::string(out.HistoryDetail()), c.detail);
        if (std::string(c.serverTime) == "*") {
            EXPECT_EQ(out.serverTimeText.GetLength(), 24) << out.serverTimeText;
        } else {
            EXPECT_EQ(std::string(out.serverTimeText), c.serverTime);
        }
        EXPECT_FALSE(out.pcTimeText.IsEmpty());  // taken after the exchange, whatever came
        // Only an adjustment sets the clock, and only after a good answer.
        EXPECT_EQ(clock.systemTimesSet.size() + clock.localTimesSet.size(),
                  c.adjust && c.success ? 1u : 0u);
    }
}

// An empty name would resolve to this PC, where the sandbox's own servers answer.
TEST(Commands, WithoutAServerNameNobodyIsAsked) {
    FakeClock clock;
    for (int protocol : {0, 1, 2}) {
        ServerQuery query = QueryOf(protocol);
        query.server = "";
        for (const CommandOutcome& out : {CheckServerTime(query), AdjustPcClock(query)}) {
            EXPECT_EQ(out.success, 0);
            EXPECT_EQ(std::string(out.HistoryDetail()), "ERROR (HostNotFound)");
        }
    }
    EXPECT_TRUE(clock.systemTimesSet.empty() && clock.localTimesSet.empty());
}

// Only a refusal for want of the right is worth starting again as administrator, and
// an instance so started only says that even so the clock refused.
TEST(ElevationOffer, FollowsARefusalForWantOfTheRightOnly) {
    struct Case {
        int success;
        const char* status;
        const char* error;
        bool startedByOffer;
        ElevationOffer offer;
    };
    for (const Case& c : {Case{0, "ERROR (localtime-set)", "1314", false, ElevationOffer::kRestart},
                          Case{0, "ERROR (localtime-set)", "1314", true,
                               ElevationOffer::kRefusedAsAdmin},
                          Case{0, "ERROR (localtime-set)", "87", false, ElevationOffer::kNone},
                          Case{0, "ERROR (TimeOut)", "1314", false, ElevationOffer::kNone},
                          Case{1, "OK", "", true, ElevationOffer::kNone}}) {
        SCOPED_TRACE(std::string(c.status) + " " + c.error);
        CommandOutcome outcome;
        outcome.success = c.success;
        outcome.statusText = c.status;
        outcome.errorText = c.error;
        EXPECT_EQ(OfferAfterAdjustment(outcome, c.startedByOffer), c.offer);
    }
    EXPECT_TRUE(StartedByElevationOffer("/Dsntp /Elevated"));
    EXPECT_FALSE(StartedByElevationOffer("/Dsntp"));
}

}  // namespace
