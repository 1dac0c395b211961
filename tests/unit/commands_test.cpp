// The main window's commands against the fake server: which texts a check and an
// adjustment leave, and the history detail that each outcome records.
#include "engine/commands.h"
#include "ui/elevation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/query_request.h"
#include "framework/context.h"

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

namespace {

// TIME servers by name, through the query seam: "ok" answers the fake clock's time plus
// gAhead seconds, "short" a value cut short, any other word fails with that stage.
std::map<std::string, std::string> gAnswers;
std::vector<std::string> gAsked;
std::int64_t gAhead = 0;

void AnswerByName(QueryRequest& request) {
    gAsked.push_back(request.server);
    const std::string answer = gAnswers[request.server];
    TimeStamp now{};
    ReadPcClock(&now);
    const auto value = static_cast<std::uint32_t>(now.seconds + gAhead) + 2208988800u;
    for (int i = 0; i < 4; ++i) {
        request.buffer[i] = answer == "ok" ? static_cast<unsigned char>(value >> (24 - 8 * i)) : 0;
    }
    request.result = answer == "ok" || answer == "short";
    if (!request.result) *request.statusText = answer.c_str();
}

ServerQuery FallbackQuery() {
    ServerQuery query;
    query.server = "first";
    query.protocol = kProtocolTime;
    query.fallbackServers = {"second", "third"};
    return query;
}

}  // namespace

TEST(Commands, FallbackServersAreAskedOnlyAfterAFailureOfTheServersOwn) {
    struct Case {
        const char* first;
        const char* second;
        const char* asked;  // the names asked, in order
        int success;
    } const cases[] = {
        {"ok", "ok", "first ", 1},
        {"TimeOut", "ok", "first second ", 1},
        {"HostNotFound", "ok", "first second ", 1},
        {"Connect", "short", "first second third ", 1},
        // The user's cancel, a stopped service and this PC's own failure end it there.
        {"UserCancelled", "ok", "first ", 0},
        {"Stopped", "ok", "first ", 0},
        {"Socket", "ok", "first ", 0},
    };
    FakeClock clock;
    clock.SetUtc(1010320496, 0);
    ScopedContext seams(CurrentContext().With(&AnswerByName));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + std::string(" then ") + c.second);
        gAsked.clear();
        gAnswers = {{"first", c.first}, {"second", c.second}, {"third", "ok"}};
        const CommandOutcome out = CheckServerTime(FallbackQuery());
        std::string asked;
        for (const std::string& name : gAsked) asked += name + " ";
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(std::string(out.server), gAsked.back());  // the last one asked
        EXPECT_EQ(out.success, c.success);
    }
    // Every test an SNTP reply fails is the server's; a refused clock is not.
    EXPECT_TRUE(ServerAtFault("ERROR (SNTP: Kiss-o'-Death RATE)"));
    EXPECT_TRUE(ServerAtFault("ERROR (SNTP:IncorrectPacket)"));
    EXPECT_FALSE(ServerAtFault("ERROR (localtime-set)"));
    EXPECT_FALSE(ServerAtFault(kTooFar));
    // Authenticated time: every failure of the server's, not the want of the DLL.
    EXPECT_TRUE(ServerAtFault("ERROR (NTS:Untrusted)"));
    EXPECT_TRUE(ServerAtFault("ERROR (NTS-KE:Connect)"));
    EXPECT_FALSE(ServerAtFault("ERROR (NTS:Unavailable)"));
}

TEST(Commands, ACorrectionBeyondTheLimitIsMadeOnlyWhenTheUserAgrees) {
    struct Case {
        std::int64_t ahead;  // the server's time minus the PC's, seconds
        int limitHours;
        int answer;  // -1: nobody to ask (an unattended run); 0 no; 1 yes
        int success;
    } const cases[] = {
        {2 * 86400, 0, -1, 1}, {14 * 3600, 15, -1, 1}, {86400, 15, -1, 0},
        {-86400, 15, -1, 0},   {86400, 15, 1, 1},      {86400, 15, 0, 0},
    };
    ScopedContext seams(CurrentContext().With(&AnswerByName));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ahead << " s, limit " << c.limitHours << ", " << c.answer);
        FakeClock clock;
        clock.SetUtc(1010320496, 0);
        gAnswers = {{"first", "ok"}};
        gAhead = c.ahead;
        ServerQuery query = FallbackQuery();
        query.maxCorrectionHours = c.limitHours;
        double asked = 0.0;
        if (c.answer >= 0) {
            query.askFarCorrection = [&](double seconds) {
                asked = seconds;
                return c.answer == 1;
            };
        }
        const CommandOutcome out = AdjustPcClock(query);
        EXPECT_EQ(out.success, c.success);
        EXPECT_NEAR(asked, c.answer >= 0 ? static_cast<double>(c.ahead) : 0.0, 1.0);
        EXPECT_EQ(clock.systemTimesSet.size(), c.success ? 1u : 0u);
        if (!c.success) {
            EXPECT_EQ(out.HistoryDetail(), CString(kTooFar) + (c.ahead > 0 ? ":+86400" : ":-86400"));
        }
    }
    gAhead = 0;
}
