// The exchange over real sockets against the scriptable fake server: every stage
// word comes from a real socket situation.
#include "engine/exchange.h"

#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "tests/support/exchange_run.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kServer = kFakeServerAddress;

std::uint32_t BigEndianAt(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

// Turns the packet trace on, with the profile in a fresh directory, for a test's lifetime.
class PacketTrace {
  public:
    explicit PacketTrace(bool on) : m_flags(traceFlags), m_profile(AppProfilePath()) {
        traceFlags = on ? kTracePackets : 0;
        SetAppProfilePath(dir.File("Tavrino.INI").c_str());
    }
    ~PacketTrace() {
        traceFlags = m_flags;
        SetAppProfilePath(m_profile);
    }
    std::string Log() const { return ReadFileBytes(dir.File("Tavrino.sntp.log")); }
    bool LogExists() const { return FileExists(dir.File("Tavrino.sntp.log")); }

    TempDir dir;

  private:
    unsigned short m_flags;
    CString m_profile;
};

void ExpectFailure(const ExchangeRun& run, const char* stage, int errorCode) {
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.status, stage);
    EXPECT_EQ(run.errorCode, errorCode);
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
}

}  // namespace

TEST(SntpExchange, AcceptedReplyIsConvertedAndGivesTheServersOffset) {
    FakeTimeServer server;
    SntpScript script;
    script.offset = 2.5;
    script.serverDelay = 0.001;
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();

    ExchangeRun run(kProtocolSntp, kServer, 5);
    run.errorCode = 77;
    double before = RealTimeNow();
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.status, "OK");
    EXPECT_EQ(run.errorCode, 77);  // success leaves the error code alone
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
    EXPECT_NEAR(RealSeconds(run.receiveTime), before, 1.0);

    double offset = 0;
    CString errorText;
    EXPECT_EQ(run.Validate(&offset, &errorText), 1);
    EXPECT_NEAR(offset, 2.5, 0.05);

    server.Stop();
    ASSERT_EQ(server.LastRequest().size(), 48u);
    EXPECT_EQ(server.LastRequest()[0], 0xDB);
    // The Originate field now holds our own transmit time, converted.
    TimeStamp t1 = ReadReplyTimeStamp(run.buffer + kOriginateOffset);
    EXPECT_EQ(t1.seconds, BigEndianAt(server.LastRequest().data() + 40) - 2208988800u);
}

TEST(SntpExchange, ServerBehindAndSlowToAnswer) {
    FakeTimeServer server;
    SntpScript script;
    script.offset = -3.0;
    script.replyAfterMs = 300;
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();

    ExchangeRun run(kProtocolSntp, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    double offset = 0;
    CString errorText;
    EXPECT_EQ(run.Validate(&offset, &errorText), 1);
    // The reply waited 0.3 s after the server's receive stamp, which the offset halves.
    EXPECT_NEAR(offset, -3.0 - 0.15, 0.05);
}

TEST(SntpExchange, ForeignOriginateIsIncorrectPacket) {
    FakeTimeServer server;
    SntpScript script;
    script.kind = SntpScript::kWrongOriginate;
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    PacketTrace trace(true);

    ExchangeRun run(kProtocolSntp, kServer, 5);
    run.Run();
    ExpectFailure(run, "SNTP:IncorrectPacket", 0);
    // The refused reply was neither converted nor traced.
    EXPECT_FALSE(trace.LogExists());
    server.Stop();
    ASSERT_EQ(server.LastRequest().size(), 48u);
    EXPECT_EQ(BigEndianAt(run.buffer + kOriginateOffset),
              BigEndianAt(server.LastRequest().data() + kTransmitOffset));
}

TEST(SntpExchange, DatagramOfOtherThan48Bytes) {
    struct Case {
        int length;
        const char* stage;
        int errorCode;
    };
    // Shorter arrives whole but is refused; longer is refused by the socket layer itself.
    for (const Case& c : {Case{47, "RecvPacket", 0}, Case{60, "Recv", WSAEMSGSIZE}}) {
        SCOPED_TRACE(c.length);
        FakeTimeServer server;
        SntpScript script;
        script.length = c.length;
        ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
        ExchangeRun run(kProtocolSntp, kServer, 5);
        run.Run();
        ExpectFailure(run, c.stage, c.errorCode);
    }
}

TEST(SntpExchange, SilentServerTimesOut) {
    FakeTimeServer server;
    SntpScript script;
    script.kind = SntpScript::kSilent;
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();

    ExchangeRun run(kProtocolSntp, kServer, 1);
    run.Run();
    ExpectFailure(run, "TimeOut", 0);
    EXPECT_GE(run.seconds, 0.9);
    EXPECT_LT(run.seconds, 3.0);

    // A time-out of 0 does not wait at all.
    ExchangeRun immediate(kProtocolSntp, kServer, 0);
    immediate.Run();
    ExpectFailure(immediate, "TimeOut", 0);
    EXPECT_LT(immediate.seconds, 0.5);

    // A negative time-out is refused by the wait itself instead of waiting forever.
    ExchangeRun negative(kProtocolSntp, kServer, -1);
    negative.Run();
    ExpectFailure(negative, "Select", WSAEINVAL);
    EXPECT_LT(negative.seconds, 0.5);
    // Each of the three sent its request before waiting.
    EXPECT_TRUE(server.WaitForRequests(3));
}

TEST(SntpExchange, SlowServerIsRecordedInTheTraceThenRefusedByValidation) {
    FakeTimeServer server;
    SntpScript script;
    script.serverDelay = 10.5;
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    PacketTrace trace(true);

    ExchangeRun run(kProtocolSntp, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    double offset = 0;
    CString errorText("kept");
    EXPECT_EQ(run.Validate(&offset, &errorText), 0);
    EXPECT_EQ(run.status, "ERROR (SNTP: Server Throughput)");
    EXPECT_EQ(errorText, "kept");

    std::string log = trace.Log();
    EXPECT_EQ(log.rfind(std::string(kServer) + "\r\n", 0), 0u) << log;
    int lines = 0;
    for (char c : log) lines += c == '\n';
    EXPECT_EQ(lines, 6);
    // The last line is our receive time as the log formats it.
    EXPECT_NE(log.find(std::string(FormatLogTime(run.receiveTime)) + "\r\n"), std::string::npos);
}

TEST(SntpExchange, NothingIsTracedWithTheSwitchOff) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    PacketTrace trace(false);
    RecordingSink sink;
    ExchangeRun run(kProtocolSntp, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_FALSE(trace.LogExists());
    EXPECT_TRUE(sink.Messages().empty());
}

TEST(SntpExchange, UnopenableTraceDoesNotFailTheQuery) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    PacketTrace trace(true);
    SetAppProfilePath(trace.dir.File("no-such-folder/Tavrino.INI").c_str());
    RecordingSink sink;
    ExchangeRun run(kProtocolSntp, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.status, "OK");
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0], "Can not open the logfile");
}

TEST(TimeExchange, WholeReplyFillsFourBytes) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, 0xE1B2C3D4u)) << server.Error();
    PacketTrace trace(true);
    ExchangeRun run(kProtocolTime, kServer, 5, 0xEE);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.status, "OK");
    EXPECT_EQ(BigEndianAt(run.buffer), 0xE1B2C3D4u);
    EXPECT_EQ(run.buffer[4], 0xEE);  // nothing beyond the receive length
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
    EXPECT_FALSE(trace.LogExists());  // TIME is never traced
}

TEST(TimeExchange, SplitReplyIsReadOnlyAsFarAsTheFirstSegment) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kSplit, 0xE1B2C3D4u)) << server.Error();
    ExchangeRun run(kProtocolTime, kServer, 5, 0xEE);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.buffer[0], 0xE1);
    EXPECT_EQ(run.buffer[1], 0xB2);
    // One receive only: the second segment is never read.
    EXPECT_EQ(run.buffer[2], 0xEE);
    EXPECT_EQ(run.buffer[3], 0xEE);
}

TEST(TimeExchange, ConnectionClosedAtOnceIsSuccessWithNoBytes) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kCloseAtOnce, 0)) << server.Error();
    ExchangeRun run(kProtocolTime, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.status, "OK");
    EXPECT_EQ(BigEndianAt(run.buffer), 0u);
}

TEST(TimeExchange, SilentServerTimesOut) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kSilent, 0)) << server.Error();
    ExchangeRun run(kProtocolTime, kServer, 1);
    run.Run();
    ExpectFailure(run, "TimeOut", 0);
}

TEST(TimeExchange, NoListenerIsConnectRefused) {
    ExchangeRun run(kProtocolTime, kServer, 5);
    run.Run();
    ExpectFailure(run, "Connect", WSAECONNREFUSED);
}

TEST(DaytimeExchange, LineWithAndWithoutLineFeedArrivesAsSent) {
    const std::string line = "Sun Jan  6 12:34:56 2002\r\n";
    {
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeDaytime(line)) << server.Error();
        PacketTrace trace(true);
        ExchangeRun run(kProtocolDaytime, kServer, 5);
        EXPECT_EQ(run.Run(), 1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(run.buffer)), line);
        EXPECT_FALSE(trace.LogExists());  // DAYTIME is never traced
    }
    {
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeDaytime("no line feed")) << server.Error();
        ExchangeRun run(kProtocolDaytime, kServer, 5);
        EXPECT_EQ(run.Run(), 1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(run.buffer)), "no line feed");
    }
}

TEST(DaytimeExchange, FullBufferIsReceivedWithoutOverrun) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeDaytime(std::string(600, 'x'))) << server.Error();
    ExchangeRun run(kProtocolDaytime, kServer, 5);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(run.buffer), 512), std::string(512, 'x'));
}

TEST(Resolution, UnknownNameIsHostNotFoundWithoutASocket) {
    ExchangeRun run(kProtocolSntp, "tavrino-no-such-host.invalid", 5);
    run.Run();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.status, "HostNotFound");
    // One of Winsock's resolver codes: not found, try again, no recovery, no data.
    EXPECT_GE(run.errorCode, WSAHOST_NOT_FOUND);
    EXPECT_LE(run.errorCode, WSANO_DATA);
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
}

TEST(ExchangeArguments, UnknownProtocolFailsBeforeAnySocket) {
    ExchangeRun run(kProtocolSntp, kServer, 5);
    run.request.protocol = 3;
    run.Run();
    ExpectFailure(run, "Socket", WSAEPROTONOSUPPORT);
}
