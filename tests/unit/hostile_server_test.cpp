// Hostile and broken time servers against the main window's commands, end to end
// through the real exchange: what the user is shown, how long it takes, and the
// history line the window writes. Every case must end within its time-out, set the
// clock only after a good answer, and leave exactly one whole line per operation.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "logging/history_log.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/temp_dir.h"
#include "engine/commands.h"

namespace {

constexpr int kTimeout = 1;
// 2002-01-06 12:34:56 UTC in TIME's count from 1900.
constexpr std::uint32_t kTimeSunday2002 = 2208988800u + 1010320496u;

SntpScript Sntp(std::function<void(SntpScript&)> change) {
    SntpScript script;
    change(script);
    return script;
}

struct Case {
    const char* name;
    int protocol;
    bool adjust;
    std::function<bool(FakeTimeServer&)> serve;
    int success;             // of a check; an adjustment after an answer is refused
    const char* detail;      // the check's history detail: the status shown, and the code
    const char* serverText;  // "*" for any time in the usual layout
    int runs = 1;            // operations one after another against the same server
    // Another outcome a platform may give: Wine reports a reset as the end of the stream,
    // which a server that closes at once gives everywhere.
    const char* orDetail = nullptr;
};

const Case kCases[] = {
    // SNTP: a datagram must be exactly 48 bytes. Winsock reports a longer one as an
    // error (10040) instead of cutting it.
    {"SNTP, 0 bytes", 0, false,
     [](FakeTimeServer& s) { return s.ServeSntp(Sntp([](SntpScript& x) { x.length = 0; })); }, 0,
     "ERROR (RecvPacket):0", ""},
    {"SNTP, 47 bytes", 0, false,
     [](FakeTimeServer& s) { return s.ServeSntp(Sntp([](SntpScript& x) { x.length = 47; })); }, 0,
     "ERROR (RecvPacket):0", ""},
    {"SNTP, 49 bytes", 0, false,
     [](FakeTimeServer& s) { return s.ServeSntp(Sntp([](SntpScript& x) { x.length = 49; })); }, 0,
     "ERROR (Recv):10040", ""},
    {"SNTP, 1500 bytes", 0, true,
     [](FakeTimeServer& s) { return s.ServeSntp(Sntp([](SntpScript& x) { x.length = 1500; })); }, 0,
     "ERROR (Recv):10040", ""},
    // The sender is not compared: our transmit time echoed is what makes a reply ours.
    {"SNTP, from another port", 0, false,
     [](FakeTimeServer& s) {
         return s.ServeSntp(Sntp([](SntpScript& x) { x.fromOtherPort = true; }));
     },
     1, "OK", "*"},
    {"SNTP, stale originate", 0, true,
     [](FakeTimeServer& s) {
         return s.ServeSntp(Sntp([](SntpScript& x) { x.kind = SntpScript::kWrongOriginate; }));
     },
     0, "ERROR (SNTP:IncorrectPacket):0", ""},
    {"SNTP, all-zero timestamps", 0, true,
     [](FakeTimeServer& s) {
         return s.ServeSntp(
             Sntp([](SntpScript& x) { x.zeroReference = x.zeroReceive = x.zeroTransmit = true; }));
     },
     0, "ERROR (SNTP: Bad Response)", ""},
    // All ones is a time like any other, early in 2036 (the end of NTP's first era): a
    // server's time is taken as it stands.
    {"SNTP, all-0xFF timestamps", 0, true,
     [](FakeTimeServer& s) {
         return s.ServeSntp(Sntp([](SntpScript& x) { x.onesTimestamps = true; }));
     },
     1, "OK", "*"},
    {"SNTP, kiss-o'-death", 0, true,
     [](FakeTimeServer& s) { return s.ServeSntp(SntpScript::KissOfDeath("DENY")); }, 0,
     "ERROR (SNTP: Kiss-o'-Death DENY)", ""},
    // The second answer finds the socket closed; the next query has a socket of its own.
    {"SNTP, answers twice", 0, false,
     [](FakeTimeServer& s) { return s.ServeSntp(Sntp([](SntpScript& x) { x.answers = 2; })); }, 1,
     "OK", "*", 3},
    {"SNTP, never answers", 0, false,
     [](FakeTimeServer& s) {
         return s.ServeSntp(Sntp([](SntpScript& x) { x.kind = SntpScript::kSilent; }));
     },
     0, "ERROR (TimeOut):0", ""},

    // TIME: a value before 1970 (zero included) is no time; the largest one is.
    {"TIME 0", 1, true, [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kWhole, 0); }, 0,
     "ERROR (TIME:IncorrectPacket):0", ""},
    {"TIME 2208988799", 1, false,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kWhole, 2208988799u); }, 0,
     "ERROR (TIME:IncorrectPacket):0", ""},
    {"TIME 0xFFFFFFFF", 1, false,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kWhole, 0xFFFFFFFFu); }, 1, "OK",
     "Thu Feb 07 15:28:15 2036"},
    {"TIME in two segments", 1, true,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kSplit, kTimeSunday2002); }, 1, "OK",
     "Sun Jan 06 21:34:56 2002"},
    {"TIME of two bytes", 1, true,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kTwoBytesThenClose, kTimeSunday2002); },
     0, "ERROR (TIME:IncorrectPacket):0", ""},
    {"TIME, accepts and never sends", 1, false,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kSilent, kTimeSunday2002); }, 0,
     "ERROR (TimeOut):0", ""},
    {"TIME, resets", 1, false,
     [](FakeTimeServer& s) { return s.ServeTime(TimeScript::kReset, kTimeSunday2002); }, 0,
     "ERROR (Recv):10054", "", 1, "ERROR (TIME:IncorrectPacket):0"},

    // DAYTIME: any text is shown as sent, never read as a format, up to its first
    // line feed; without one there is no text.
    {"DAYTIME, 512 bytes without NUL or line feed", 2, true,
     [](FakeTimeServer& s) { return s.ServeDaytime(std::string(512, 'A')); }, 1, "OK", ""},
    {"DAYTIME, embedded NUL", 2, false,
     [](FakeTimeServer& s) {
         return s.ServeDaytime(std::string("Sun Jan 06\0 21:34:56 2002\r\n", 27));
     },
     1, "OK", ""},
    {"DAYTIME, format characters", 2, false,
     [](FakeTimeServer& s) { return s.ServeDaytime("%s%n%x%s%n\r\n"); }, 1, "OK", "%s%n%x%s%n"},
    {"DAYTIME, Shift-JIS lead byte at the end", 2, true,
     [](FakeTimeServer& s) { return s.ServeDaytime("Sun Jan 06 21:34:56 2002\x82\r\n"); }, 1, "OK",
     "Sun Jan 06 21:34:56 2002\x82"},
    // A carriage return inside the line would split the history record in an editor.
    {"DAYTIME, carriage return inside the line", 2, false,
     [](FakeTimeServer& s) { return s.ServeDaytime("Sun Jan 06\r, forged, line\r\n"); }, 1, "OK",
     "Sun Jan 06\r, forged, line"},
    {"DAYTIME, resets", 2, false,
     [](FakeTimeServer& s) { return s.ServeDaytime("", TimeScript::kReset); }, 0,
     "ERROR (Recv):10054", "", 1, "OK"},
};

// The history file holds exactly count lines, each ending in CR LF and holding no
// other line break, and each with the detail where the window writes it.
void ExpectWholeLines(const std::string& log, int count, const std::string& detail) {
    int lines = 0;
    std::string::size_type start = 0;
    for (std::string::size_type end; (end = log.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = log.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_NE(line.find(", " + detail + ", "), std::string::npos) << line;
        ++lines;
    }
    EXPECT_EQ(start, log.size()) << "an unfinished last line: " << log;
    EXPECT_EQ(lines, count) << log;
}

}  // namespace

TEST(HostileServers, EachEndsInTimeWithAWholeHistoryLine) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        clock.FollowRealClock(0);
        // The clock refuses every setting, as Wine's refuses a step of half a second.
        clock.RefuseSetting(true);
        FakeTimeServer server;
        ASSERT_TRUE(c.serve(server)) << server.Error();
        TempDir dir;
        const std::wstring log = HistoryLogPath(Wide(dir.File("Tavrino.INI")));

        ServerQuery query;
        query.server = kFakeServerAddress;
        query.protocol = static_cast<Protocol>(c.protocol);
        query.timeOut = kTimeout;
        for (int run = 0; run < c.runs; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const CommandOutcome out = c.adjust ? AdjustPcClock(query) : CheckServerTime(query);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, kTimeout + 0.5);
            const bool other = c.orDetail && std::string(out.HistoryDetail()) != c.detail;
            const int success = other ? std::string(c.orDetail) == "OK" : c.success;
            EXPECT_EQ(out.success, c.adjust ? 0 : success);
            const std::string detail = c.adjust && success ? "ERROR (localtime-set):1314"
                                       : other             ? c.orDetail
                                                           : c.detail;
            EXPECT_EQ(std::string(out.HistoryDetail()), detail);
            // A refused SNTP setting shows no server time; TIME and DAYTIME keep theirs.
            if (c.adjust && c.success && c.protocol == 0) {
                EXPECT_EQ(std::string(out.serverTimeText), "");
            } else if (std::string(c.serverText) == "*") {
                EXPECT_EQ(out.serverTimeText.GetLength(), 24) << out.serverTimeText;
            } else {
                EXPECT_EQ(std::string(out.serverTimeText), c.serverText);
            }
            EXPECT_EQ(WriteHistoryRecord(log, out.pcTimeText, query.server, query.protocol,
                                         c.adjust, out.HistoryDetail(), out.serverTimeText,
                                         out.pcZoneOffset ? &*out.pcZoneOffset : nullptr),
                      1);
            ExpectWholeLines(ReadFileBytes(dir.File("Tavrino.log")), run + 1, detail);
        }
        // Only an adjustment after an answer reaches the clock, which refuses it.
        EXPECT_EQ(clock.systemTimesSet.size() + clock.localTimesSet.size(),
                  c.adjust && c.success ? 1u : 0u);
    }
}
