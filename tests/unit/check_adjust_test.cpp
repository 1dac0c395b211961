// Check and adjust over a scripted query: the runner answers with a chosen reply or
// failure, the fake clock records what would have been set, and every caller place
// starts with a sentinel so that a place an outcome must not touch shows it.
#include "engine/check_adjust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/query_runner.h"
#include "engine/sntp.h"
#include "engine/time_text.h"
#include "framework/notify.h"
#include "tests/support/fake_clock.h"
#include "tests/support/system_time.h"

namespace {

// 2002-01-06 12:34:56 UTC, a Sunday; 21:34:56 at UTC+9.
constexpr std::uint32_t kSunday2002 = 1010320496u;

const char kServer[] = "time.example";
constexpr int kTimeout = 7;

constexpr TimeStamp At(std::uint32_t seconds, std::uint32_t microseconds = 0) {
    return TimeStamp{seconds, microseconds};
}

SYSTEMTIME Time(int year, int month, int dayOfWeek, int day, int hour, int minute, int second,
                int milliseconds) {
    return MakeSystemTime(year, month, dayOfWeek, day, hour, minute, second, milliseconds);
}

std::string Show(const SYSTEMTIME& t) {
    char text[96];
    std::snprintf(text, sizeof text, "{%u,%u,%u,%u,%u,%u,%u,%u}", t.wYear, t.wMonth, t.wDayOfWeek,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// A TIME reply: big-endian seconds since 1900.
std::string TimeBytes(std::uint32_t value) {
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
}

void ExpectOneSetting(const std::vector<SYSTEMTIME>& set, const SYSTEMTIME& expected) {
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(Show(set[0]), Show(expected));
}

// An NTP timestamp of eight zero bytes, as the exchange converts it.
TimeStamp EmptyNtpTimeStamp() {
    const unsigned char zeros[8] = {};
    return NtpToTimeStamp(zeros);
}

// The PC clock before the query, and as the query leaves it: a query takes time, and
// the texts and the new time must be taken after it.
const SYSTEMTIME kLocalBefore = Time(2002, 1, 0, 6, 21, 34, 50, 0);
const SYSTEMTIME kLocalAfter = Time(2002, 1, 0, 6, 21, 35, 1, 0);
const char kPcTextAfter[] = "Sun Jan 06 21:35:01 2002";

// What the scripted runner answers with, and what it saw of the request.
struct Script {
    int result = 1;
    std::string stageWord;  // on failure
    int errorCode = 0;      // on failure
    std::vector<unsigned char> reply;
    TimeStamp arrival{0, 0};
    std::int64_t utcAfterSeconds = kSunday2002 + 5;
    std::uint32_t utcAfterMicroseconds = 0;

    int runs = 0;
    int protocol = -1;
    std::string server;
    int timeout = -1;
    int beep = -1;
    int bufferSize = -1;
    bool hadReceiveTime = false;
    bool bufferWasClear = false;
};

Script script;
FakeClock* scriptClock = nullptr;
std::vector<std::pair<unsigned, unsigned>> beeps;

void ScriptedRunner(QueryRequest& request) {
    ++script.runs;
    script.protocol = request.protocol;
    script.server = request.server ? request.server : "(null)";
    script.timeout = request.timeout;
    script.beep = request.beep;
    script.bufferSize = request.bufferSize;
    script.hadReceiveTime = request.receiveTime != nullptr;
    script.bufferWasClear = std::all_of(request.buffer, request.buffer + request.bufferSize,
                                        [](unsigned char b) { return b == 0; });
    if (scriptClock) {
        scriptClock->SetUtc(script.utcAfterSeconds, script.utcAfterMicroseconds);
        scriptClock->SetLocal(kLocalAfter);
    }
    if (script.result == 0) {
        *request.statusText = script.stageWord.c_str();
        *request.errorCode = script.errorCode;
        request.result = 0;
        return;
    }
    // Like a receive: never more than the request's length.
    std::size_t length =
        std::min(script.reply.size(), static_cast<std::size_t>(request.bufferSize));
    if (length > 0) std::memcpy(request.buffer, script.reply.data(), length);
    if (request.receiveTime) *request.receiveTime = script.arrival;
    *request.statusText = "OK";
    request.result = 1;
}

void RecordBeep(unsigned frequency, unsigned milliseconds) {
    beeps.emplace_back(frequency, milliseconds);
}

// The caller's places, each with a sentinel.
struct Places {
    CString server{"server untouched"};
    CString pc{"pc untouched"};
    CString status{"status untouched"};
    CString error{"error untouched"};
    int code = -7;
    double offset = -999.0;
};

class EngineTest : public testing::Test {
  protected:
    void SetUp() override {
        Reset();
        scriptClock = &clock;
    }
    void TearDown() override { scriptClock = nullptr; }

    // A fresh script, clock and beep record, for each case of a table.
    void Reset() {
        script = Script();
        beeps.clear();
        clock.SetUtc(kSunday2002, 0);
        clock.SetLocal(kLocalBefore);
        clock.RefuseSetting(false);
        clock.StepEachRead(0);
        clock.systemTimesSet.clear();
        clock.localTimesSet.clear();
    }

    static void Fail(const char* stageWord, int errorCode) {
        script.result = 0;
        script.stageWord = stageWord;
        script.errorCode = errorCode;
    }

    // A converted SNTP reply as the exchange leaves it, arriving at t4: a synchronised
    // server at stratum 2.
    static void SntpReply(TimeStamp ref, TimeStamp t1, TimeStamp t2, TimeStamp t3, TimeStamp t4) {
        script.reply.assign(kSntpPacketSize, 0);
        script.reply[1] = 2;
        std::memcpy(script.reply.data() + 12, "TEST", 4);
        WriteReplyTimeStamp(script.reply.data() + kReferenceOffset, ref);
        WriteReplyTimeStamp(script.reply.data() + kOriginateOffset, t1);
        WriteReplyTimeStamp(script.reply.data() + kReceiveOffset, t2);
        WriteReplyTimeStamp(script.reply.data() + kTransmitOffset, t3);
        script.arrival = t4;
    }
    // Sent at kSunday2002 and back at once; server time t the moment it answered.
    static void SntpServerAt(TimeStamp t) {
        SntpReply(At(kSunday2002 - 60), At(kSunday2002), t, t, At(kSunday2002));
    }
    // The reply's stratum and Reference Identifier (four bytes).
    static void SntpServerIs(unsigned char stratum, const char* referenceId) {
        script.reply[1] = stratum;
        std::memcpy(script.reply.data() + 12, referenceId, 4);
    }

    static void TimeReply(std::uint32_t value) { DaytimeReply(TimeBytes(value)); }
    static void DaytimeReply(const std::string& bytes) {
        script.reply.assign(bytes.begin(), bytes.end());
    }

    static void ExpectQueried(int protocol, int bufferSize, bool receiveTime, int beep) {
        EXPECT_EQ(script.runs, 1);
        EXPECT_EQ(script.protocol, protocol);
        EXPECT_EQ(script.bufferSize, bufferSize);
        EXPECT_EQ(script.hadReceiveTime, receiveTime);
        EXPECT_TRUE(script.bufferWasClear);
        EXPECT_EQ(script.server, kServer);
        EXPECT_EQ(script.timeout, kTimeout);
        EXPECT_EQ(script.beep, beep);
    }
    static void ExpectBeeps(std::size_t count) {
        ASSERT_EQ(beeps.size(), count);
        for (const auto& beep : beeps) EXPECT_EQ(beep, (std::pair<unsigned, unsigned>(256, 100)));
    }

    int Check(Places& p, int beep = 0, int referenceCheck = 0, int referenceHours = 24) {
        return CheckSntp(kServer, kTimeout, beep, referenceCheck, referenceHours, &p.server, &p.pc,
                         &p.offset, p.status, p.error);
    }
    int AdjustSntp(Places& p, int beep = 0) {
        return ::AdjustSntp(kServer, kTimeout, beep, 0, 24, p.server, p.pc, p.status, p.error);
    }
    int QueryTime(Protocol protocol, Places& p, int beep = 0) {
        return QueryTimeOrDaytime(protocol, kServer, kTimeout, beep, p.server, p.status, p.code);
    }
    int AdjustTime(Protocol protocol, Places& p, int beep = 0) {
        return AdjustTimeOrDaytime(protocol, kServer, kTimeout, beep, p.server, p.pc, p.status,
                                   p.code);
    }

    FakeClock clock;

  private:
    ScopedContext m_seams{CurrentContext().With(&ScriptedRunner).With(&RecordBeep)};
};

using CheckSntpTest = EngineTest;
using AdjustSntpTest = EngineTest;
using TimeDaytimeTest = EngineTest;

}  // namespace

// --- SNTP check ------------------------------------------------------------------

TEST_F(CheckSntpTest, PassedShowsTheTransmitSecondsAndSetsNothing) {
    // Offset +0.5 s over a 0.3 s round trip.
    SntpReply(At(kSunday2002 - 60), At(kSunday2002), At(kSunday2002, 600000),
              At(kSunday2002, 700000), At(kSunday2002, 300000));
    Places p;
    EXPECT_EQ(Check(p, 1), 1);
    ExpectQueried(kProtocolSntp, kSntpPacketSize, true, 1);
    EXPECT_EQ(p.status, "OK");
    EXPECT_EQ(p.server, "Sun Jan 06 21:34:56 2002");  // microseconds dropped
    EXPECT_EQ(p.pc, kPcTextAfter);
    EXPECT_NEAR(p.offset, 0.5, 1e-6);
    EXPECT_EQ(p.error, "error untouched");
    EXPECT_TRUE(clock.systemTimesSet.empty());
    EXPECT_TRUE(clock.localTimesSet.empty());
    ExpectBeeps(0);
}

TEST_F(CheckSntpTest, EveryResultPlaceMayBeLeftOut) {
    SntpServerAt(At(kSunday2002, 100));
    CString status = "status untouched", error = "error untouched";
    EXPECT_EQ(CheckSntp(kServer, kTimeout, 0, 0, 24, nullptr, nullptr, nullptr, status, error), 1);
    EXPECT_EQ(status, "OK");

    // ...also when validation fails.
    SntpReply(At(kSunday2002 - 60), At(kSunday2002), At(kSunday2002), At(kSunday2002),
              At(kSunday2002 - 1));
    EXPECT_EQ(CheckSntp(kServer, kTimeout, 0, 0, 24, nullptr, nullptr, nullptr, status, error), 0);
    EXPECT_EQ(status, "ERROR (SNTP: Bad Response)");
}

TEST_F(CheckSntpTest, FailedQueryGivesTheErrorCodeAsTextAndBeepsOnlyWhenAsked) {
    struct Case {
        const char* stage;
        int code;
        const char* status;
        const char* error;
    } const cases[] = {{"UserCancelled", 0, "ERROR (UserCancelled)", "0"},
                       {"TimeOut", 10060, "ERROR (TimeOut)", "10060"},
                       {"HostNotFound", 11001, "ERROR (HostNotFound)", "11001"}};
    for (const Case& c : cases) {
        for (int beep = 0; beep <= 1; ++beep) {
            SCOPED_TRACE(std::string(c.stage) + " beep=" + std::to_string(beep));
            Reset();
            Fail(c.stage, c.code);
            Places p;
            EXPECT_EQ(Check(p, beep), 0);
            EXPECT_EQ(p.status, c.status);
            EXPECT_EQ(p.error, c.error);
            EXPECT_EQ(p.server, "server untouched");
            EXPECT_EQ(p.offset, -999.0);
            EXPECT_EQ(p.pc, kPcTextAfter);
            ExpectBeeps(static_cast<std::size_t>(beep));
        }
    }
}

TEST_F(CheckSntpTest, ValidationFailuresKeepTheServerTextAndNeverBeep) {
    const TimeStamp t = At(kSunday2002);
    const TimeStamp zero = EmptyNtpTimeStamp();
    struct Case {
        const char* name;
        TimeStamp ref, t1, t2, t3, t4;
        const char* status;
        unsigned char stratum = 2;
        const char* referenceId = "TEST";
    } const cases[] = {
        // A kiss-o'-death, and a server that left its Receive Timestamp empty.
        {"kiss", zero, t, zero, zero, t, "ERROR (SNTP: Kiss-o'-Death RATE)", 0, "RATE"},
        {"empty", At(kSunday2002 - 60), t, zero, t, t, "ERROR (SNTP: Bad Response)"},
        // Last synchronised two hours before it answered, one hour allowed.
        {"reference", At(kSunday2002 - 7200, 123456), t, t, t, t,
         "ERROR (SNTP: ReferenceTimestamp)"},
        {"delay", At(kSunday2002 - 60), t, t, t, At(kSunday2002 - 1), "ERROR (SNTP: Bad Response)"},
        {"server", At(kSunday2002 - 60), t, At(kSunday2002, 2), At(kSunday2002, 1), t,
         "ERROR (SNTP: Server Throughput)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        SntpReply(c.ref, c.t1, c.t2, c.t3, c.t4);
        SntpServerIs(c.stratum, c.referenceId);
        Places p;
        EXPECT_EQ(Check(p, 1, 1, 1), 0);
        EXPECT_EQ(p.status, c.status);
        EXPECT_EQ(p.server, "server untouched");
        EXPECT_EQ(p.offset, -999.0);
        EXPECT_EQ(p.pc, kPcTextAfter);
        if (std::string(c.name) == "reference") {
            // The reference time's detail; its local-time part is the runtime's "%c".
            const std::string error = p.error.GetString();
            ASSERT_GT(error.size(), 7u);
            EXPECT_EQ(error.substr(error.size() - 7), ".123456");
        } else {
            EXPECT_EQ(p.error, "error untouched");
        }
        ExpectBeeps(0);
    }
}

TEST_F(CheckSntpTest, ReferenceSettingsReachTheValidation) {
    SntpReply(At(kSunday2002 - 7200), At(kSunday2002), At(kSunday2002), At(kSunday2002),
              At(kSunday2002));
    Places off, wide, narrow;
    EXPECT_EQ(Check(off, 0, 0, 1), 1);
    EXPECT_EQ(Check(wide, 0, 1, 3), 1);
    EXPECT_EQ(Check(narrow, 0, 1, 1), 0);
    EXPECT_EQ(narrow.status, "ERROR (SNTP: ReferenceTimestamp)");
}

// --- SNTP adjust -----------------------------------------------------------------

TEST_F(AdjustSntpTest, NewTimeIsTheClockReadAfterTheCheckPlusTheOffset) {
    struct Case {
        const char* name;
        TimeStamp serverAt;  // the server's time when the client sent at kSunday2002
        std::uint32_t clockMicroseconds;
        SYSTEMTIME expected;  // UTC
        const char* serverText;
    } const cases[] = {
        // Half past a second plus a quarter: the same second, 750 ms.
        {"+0.25", At(kSunday2002, 250000), 500000, Time(2002, 1, 0, 6, 12, 35, 1, 750),
         "Sun Jan 06 21:35:01 2002"},
        // Back across a whole-second boundary.
        {"-0.5", At(kSunday2002 - 1, 500000), 250000, Time(2002, 1, 0, 6, 12, 35, 0, 750),
         "Sun Jan 06 21:35:00 2002"},
        {"-0.5 at the second", At(kSunday2002 - 1, 500000), 0, Time(2002, 1, 0, 6, 12, 35, 0, 500),
         "Sun Jan 06 21:35:00 2002"},
        // No limit on the step: a year back.
        {"-365 days", At(kSunday2002 - 31536000u), 0, Time(2001, 1, 6, 6, 12, 35, 1, 0),
         "Sat Jan 06 21:35:01 2001"},
        // Forward past the end of 2038.
        {"+40 years", At(kSunday2002 + 1262304000u), 0, Time(2042, 1, 1, 6, 12, 35, 1, 0),
         "Mon Jan 06 21:35:01 2042"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        SntpServerAt(c.serverAt);
        // The check ends five seconds after the reply arrived.
        script.utcAfterSeconds = kSunday2002 + 5;
        script.utcAfterMicroseconds = c.clockMicroseconds;
        Places p;
        EXPECT_EQ(AdjustSntp(p, 1), 1);
        ExpectQueried(kProtocolSntp, kSntpPacketSize, true, 1);
        ExpectOneSetting(clock.systemTimesSet, c.expected);
        EXPECT_TRUE(clock.localTimesSet.empty());
        EXPECT_EQ(p.status, "OK");
        EXPECT_EQ(p.server, c.serverText);
        EXPECT_EQ(p.pc, kPcTextAfter);
        EXPECT_EQ(p.error, "error untouched");
        ExpectBeeps(0);
    }
}

TEST_F(AdjustSntpTest, TimeBefore1970WrapsModulo2To32) {
    // Times before 1970 wrap as all TimeStamp seconds do, and the fraction stays a
    // fraction counted forward within its second.
    struct Case {
        const char* name;
        std::int64_t clockSeconds;  // the PC clock after the check
        std::uint32_t clockMicroseconds;
        TimeStamp t1, serverAt;  // the server's time when the client sent at t1
        SYSTEMTIME expected;
        const char* serverText;
    } const cases[] = {
        // 1970-01-01 00:00:00.25 set back half a second.
        {"set before 1970", 0, 250000, At(kSunday2002), At(kSunday2002 - 1, 500000),
         Time(2106, 2, 0, 7, 6, 28, 15, 750), "Sun Feb 07 15:28:15 2106"},
        // A clock at 1969-12-31 23:59:59.25 set forward half a second.
        {"clock before 1970", -1, 250000, At(kSunday2002), At(kSunday2002, 500000),
         Time(2106, 2, 0, 7, 6, 28, 15, 750), "Sun Feb 07 15:28:15 2106"},
        // 00:00:00.000001 set back a microsecond: the sum lands a hair below zero in
        // double precision, which must still be 1970 and not 1000 milliseconds.
        {"a hair below 1970", 0, 1, At(1), At(0, 999999), Time(1970, 1, 4, 1, 0, 0, 0, 0),
         "Thu Jan 01 09:00:00 1970"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        SntpReply(At(0), c.t1, c.serverAt, c.serverAt, c.t1);
        script.utcAfterSeconds = c.clockSeconds;
        script.utcAfterMicroseconds = c.clockMicroseconds;
        Places p;
        EXPECT_EQ(AdjustSntp(p), 1);
        ExpectOneSetting(clock.systemTimesSet, c.expected);
        EXPECT_EQ(p.server, c.serverText);
    }
}

TEST_F(AdjustSntpTest, FailedCheckSetsNothing) {
    // The reply fails the delay test.
    SntpReply(At(kSunday2002 - 60), At(kSunday2002), At(kSunday2002), At(kSunday2002),
              At(kSunday2002 - 1));
    Places p;
    EXPECT_EQ(AdjustSntp(p, 1), 0);
    EXPECT_EQ(p.status, "ERROR (SNTP: Bad Response)");
    EXPECT_EQ(p.error, "error untouched");
    EXPECT_EQ(p.server, "server untouched");
    EXPECT_EQ(p.pc, kPcTextAfter);
    EXPECT_TRUE(clock.systemTimesSet.empty());
    ExpectBeeps(0);

    // A cancelled query.
    Reset();
    Fail("UserCancelled", 0);
    Places cancelled;
    EXPECT_EQ(AdjustSntp(cancelled, 1), 0);
    EXPECT_EQ(script.runs, 1);
    EXPECT_EQ(cancelled.status, "ERROR (UserCancelled)");
    EXPECT_EQ(cancelled.error, "0");
    EXPECT_EQ(cancelled.server, "server untouched");
    EXPECT_EQ(cancelled.pc, kPcTextAfter);
    EXPECT_TRUE(clock.systemTimesSet.empty());
    ExpectBeeps(1);
}

TEST_F(AdjustSntpTest, TheClockIsSetOnTheMillisecondTheNewTimeReaches) {
    // The new time is x.750250 when the clock is read: a clock that runs on is set at
    // x.751 once the new time has reached it; one that stands still, cut to x.750; one
    // that steps past x.751 (to x.752250), from its reading.
    for (const auto& [step, milliseconds] :
         {std::pair<int, int>{100, 751}, {0, 750}, {2000, 752}}) {
        SCOPED_TRACE(step);
        Reset();
        SntpServerAt(At(kSunday2002, 250000));
        script.utcAfterMicroseconds = 500250;
        clock.StepEachRead(step);
        Places p;
        EXPECT_EQ(AdjustSntp(p), 1);
        ExpectOneSetting(clock.systemTimesSet,
                         Time(2002, 1, 0, 6, 12, 35, 1, static_cast<WORD>(milliseconds)));
    }
}

TEST_F(AdjustSntpTest, RefusedSettingIsReportedWithTheClocksCodeWithoutABeep) {
    clock.RefuseSetting(true, 5);
    SntpServerAt(At(kSunday2002, 250000));
    script.utcAfterMicroseconds = 500000;
    Places p;
    EXPECT_EQ(AdjustSntp(p, 1), 0);
    ExpectOneSetting(clock.systemTimesSet, Time(2002, 1, 0, 6, 12, 35, 1, 750));
    EXPECT_EQ(p.status, "ERROR (localtime-set)");
    EXPECT_EQ(p.error, "5");
    EXPECT_EQ(p.server, "server untouched");
    EXPECT_EQ(p.pc, kPcTextAfter);
    ExpectBeeps(0);
}

// --- TIME and DAYTIME query --------------------------------------------------------

TEST_F(TimeDaytimeTest, TimeValueCountsFrom1900AndShowsInUtcPlusNine) {
    struct Case {
        std::uint32_t value;
        const char* text;
    } const cases[] = {
        {2208988800u, "Thu Jan 01 09:00:00 1970"},
        {2208988800u + kSunday2002, "Sun Jan 06 21:34:56 2002"},
        {4294967295u, "Thu Feb 07 15:28:15 2036"},  // the last TIME value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reset();
        TimeReply(c.value);
        Places p;
        EXPECT_EQ(QueryTime(kProtocolTime, p, 1), 1);
        ExpectQueried(kProtocolTime, kTimeReplySize, false, 1);
        EXPECT_EQ(p.status, "OK");
        EXPECT_EQ(p.server, c.text);
        EXPECT_EQ(p.code, -7);
        ExpectBeeps(0);
    }
}

TEST_F(TimeDaytimeTest, TimeBefore1970IsAnIncorrectPacket) {
    // 2208988799 is the last second of 1969; no reply at all leaves zeros.
    for (const std::string& reply : {TimeBytes(2208988799u), std::string()}) {
        Reset();
        DaytimeReply(reply);
        Places p;
        EXPECT_EQ(QueryTime(kProtocolTime, p, 1), 0);
        EXPECT_EQ(p.status, "ERROR (TIME:IncorrectPacket)");
        EXPECT_EQ(p.server, "");
        EXPECT_EQ(p.code, 0);
        ExpectBeeps(0);
    }
}

TEST_F(TimeDaytimeTest, FailedQueryLeavesTheServerTextAlone) {
    for (Protocol protocol : {kProtocolTime, kProtocolDaytime}) {
        for (int beep = 0; beep <= 1; ++beep) {
            SCOPED_TRACE("protocol " + std::to_string(protocol) + " beep " + std::to_string(beep));
            Reset();
            Fail("Connect", 10061);
            Places p;
            EXPECT_EQ(QueryTime(protocol, p, beep), 0);
            EXPECT_EQ(p.status, "ERROR (Connect)");
            EXPECT_EQ(p.code, 10061);
            EXPECT_EQ(p.server, "server untouched");
            ExpectBeeps(static_cast<std::size_t>(beep));
        }
    }
}

TEST_F(TimeDaytimeTest, DaytimeTextIsTheFirstLineWithoutItsLineFeed) {
    struct Case {
        const char* name;
        std::string reply;
        std::string text;
    } const cases[] = {
        // The line ends in CR LF; a run of either before the line feed goes with it.
        {"CR LF", "Sun Jan  6 12:34:56 2002\r\n", "Sun Jan  6 12:34:56 2002"},
        {"CR CR LF", "Sun Jan  6 12:34:56 2002\r\r\nlater\r\n", "Sun Jan  6 12:34:56 2002"},
        {"CR within kept", "a\rb \r\n", "a\rb "},
        {"only CR LF", "\r\nlater", ""},
        {"CR then NUL", std::string("abc\r\0\r\n", 7), ""},
        {"first line only", "one\ntwo\n", "one"},
        {"no line feed", "Sun Jan  6 12:34:56 2002", ""},
        {"empty reply", "", ""},
        {"empty line", "\nlater", ""},
        {"NUL ends the text", std::string("abc\0def\n", 8), ""},
        // A full buffer has no terminator; nothing past it may be read.
        {"full, no NUL or LF", std::string(512, 'A'), ""},
        {"full, LF last", std::string(511, 'B') + "\n", std::string(511, 'B')},
        {"full, CR LF last", std::string(510, 'C') + "\r\n", std::string(510, 'C')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        DaytimeReply(c.reply);
        Places p;
        EXPECT_EQ(QueryTime(kProtocolDaytime, p, 1), 1);
        ExpectQueried(kProtocolDaytime, kDaytimeReplySize, false, 1);
        EXPECT_EQ(p.status, "OK");
        EXPECT_EQ(std::string(p.server.GetString(), p.server.GetLength()), c.text);
        EXPECT_EQ(p.code, -7);
    }
}

// --- TIME and DAYTIME adjust -------------------------------------------------------

TEST_F(TimeDaytimeTest, TimeAdjustSetsTheServersInstantInUtc) {
    // The text shows the instant at UTC+9, but the PC's own zone may be any: the clock
    // is set in UTC, whole seconds, from the value itself.
    struct Case {
        std::uint32_t value;
        SYSTEMTIME expected;  // UTC
        const char* text;
    } const cases[] = {
        {2208988800u + kSunday2002, Time(2002, 1, 0, 6, 12, 34, 56, 0), "Sun Jan 06 21:34:56 2002"},
        // Already the next day in Japan: 2002-01-06 20:00:00 UTC.
        {2208988800u + kSunday2002 + 26704, Time(2002, 1, 0, 6, 20, 0, 0, 0),
         "Mon Jan 07 05:00:00 2002"},
        {2208988800u, Time(1970, 1, 4, 1, 0, 0, 0, 0), "Thu Jan 01 09:00:00 1970"},
        {4294967295u, Time(2036, 2, 4, 7, 6, 28, 15, 0), "Thu Feb 07 15:28:15 2036"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reset();
        TimeReply(c.value);
        Places p;
        EXPECT_EQ(AdjustTime(kProtocolTime, p, 1), 1);
        ExpectQueried(kProtocolTime, kTimeReplySize, false, 1);
        ExpectOneSetting(clock.systemTimesSet, c.expected);
        EXPECT_TRUE(clock.localTimesSet.empty());
        EXPECT_EQ(p.status, "OK");
        EXPECT_EQ(p.server, c.text);
        EXPECT_EQ(p.pc, kPcTextAfter);
        EXPECT_EQ(p.code, -7);
        ExpectBeeps(0);
    }
}

TEST_F(TimeDaytimeTest, DaytimeAdjustSetsTheServersTextInLocalTime) {
    struct Case {
        std::string reply;
        SYSTEMTIME expected;
        const char* text;
    } const cases[] = {
        // The text carries no zone: set as it reads, milliseconds and day of the week 0.
        {"Sun Jan  6 12:34:56 2002\r\n", Time(2002, 1, 0, 6, 12, 34, 56, 0),
         "Sun Jan  6 12:34:56 2002"},
        // Impossible dates are handed on; the real clock refuses them.
        {"Tue Feb 30 10:00:00 2002\n", Time(2002, 2, 0, 30, 10, 0, 0, 0),
         "Tue Feb 30 10:00:00 2002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reset();
        DaytimeReply(c.reply);
        Places p;
        EXPECT_EQ(AdjustTime(kProtocolDaytime, p, 1), 1);
        EXPECT_EQ(script.runs, 1);
        ExpectOneSetting(clock.localTimesSet, c.expected);
        EXPECT_TRUE(clock.systemTimesSet.empty());
        EXPECT_EQ(p.status, "OK");
        EXPECT_EQ(p.server, c.text);
        EXPECT_EQ(p.pc, kPcTextAfter);
        EXPECT_EQ(p.code, -7);
        ExpectBeeps(0);
    }
}

TEST_F(TimeDaytimeTest, AdjustHandsOtherLayoutsOnAsMonthZero) {
    const struct {
        std::string reply;
        SYSTEMTIME expected;
    } cases[] = {
        {"Sun January 6 12:34:56 2002\r\n", Time(2002, 0, 0, 6, 12, 34, 56, 0)},
        {"no line feed, so no text", Time(0, 0, 0, 0, 0, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        for (bool refuse : {false, true}) {
            Reset();
            clock.RefuseSetting(refuse);
            DaytimeReply(c.reply);
            Places p;
            EXPECT_EQ(AdjustTime(kProtocolDaytime, p, 1), refuse ? 0 : 1);
            ExpectOneSetting(clock.localTimesSet, c.expected);
            EXPECT_EQ(p.status, refuse ? "ERROR (localtime-set)" : "OK");
            EXPECT_EQ(p.code, refuse ? 1314 : -7);
            EXPECT_EQ(p.pc, kPcTextAfter);
            ExpectBeeps(0);
        }
    }
}

TEST_F(TimeDaytimeTest, AdjustRefusedKeepsTheServersText) {
    clock.RefuseSetting(true);
    TimeReply(2208988800u + kSunday2002);
    Places p;
    EXPECT_EQ(AdjustTime(kProtocolTime, p, 1), 0);
    ExpectOneSetting(clock.systemTimesSet, Time(2002, 1, 0, 6, 12, 34, 56, 0));
    EXPECT_TRUE(clock.localTimesSet.empty());
    EXPECT_EQ(p.status, "ERROR (localtime-set)");
    EXPECT_EQ(p.server, "Sun Jan 06 21:34:56 2002");
    EXPECT_EQ(p.pc, kPcTextAfter);
    EXPECT_EQ(p.code, 1314);  // the clock's refusal: no right to set it
    ExpectBeeps(0);
}

TEST_F(TimeDaytimeTest, AdjustAfterAFailedQueryEmptiesTheServerTextAndSetsNothing) {
    for (int beep = 0; beep <= 1; ++beep) {
        SCOPED_TRACE(beep);
        Reset();
        Fail("UserCancelled", 0);
        Places p;
        EXPECT_EQ(AdjustTime(kProtocolDaytime, p, beep), 0);
        EXPECT_EQ(p.status, "ERROR (UserCancelled)");
        EXPECT_EQ(p.code, 0);
        EXPECT_EQ(p.server, "");
        EXPECT_EQ(p.pc, kPcTextAfter);
        EXPECT_TRUE(clock.localTimesSet.empty());
        ExpectBeeps(static_cast<std::size_t>(beep));
    }

    // An implausible TIME value is a failure of the answer, not of the query.
    Reset();
    TimeReply(2208988799u);
    Places p;
    EXPECT_EQ(AdjustTime(kProtocolTime, p, 1), 0);
    EXPECT_EQ(p.status, "ERROR (TIME:IncorrectPacket)");
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.server, "");
    EXPECT_EQ(p.pc, kPcTextAfter);
    EXPECT_TRUE(clock.localTimesSet.empty());
    EXPECT_TRUE(clock.systemTimesSet.empty());
    ExpectBeeps(0);
}
