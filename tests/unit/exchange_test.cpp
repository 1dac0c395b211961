// The exchange over real sockets against the scriptable fake server: every stage
// word comes from a real socket situation.
#include "engine/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/query_runner.h"
#include "tests/support/exchange_run.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/recording_sink.h"

namespace {

const char* const kServer = kFakeServerAddress;

// One record as the exchange handed it to the trace writer.
struct TraceRecord {
    std::wstring path;
    std::string server;
    std::vector<unsigned char> reply;
    TimeStamp receiveTime;
};

// The packet trace, on or off, for a test's lifetime: a writer that keeps what it is
// given (what the real writer makes of it is the event log's own test) and answers
// as the real one would: 1 written, -1 the file would not open.
class PacketTrace {
  public:
    explicit PacketTrace(bool on, int answer = 1) {
        Records().clear();
        Answer() = answer;
        if (on) m_trace = SntpTrace{&Write, L"Tavrino.sntp.log"};
    }
    void Attach(ExchangeRun& run) const { run.request.trace = m_trace; }
    const SntpTrace* Get() const { return &m_trace; }
    static std::vector<TraceRecord>& Records() {
        static std::vector<TraceRecord> records;
        return records;
    }

  private:
    static int& Answer() {
        static int answer = 1;
        return answer;
    }
    static int Write(const std::wstring& path, const CString& server, const unsigned char* reply,
                     const TimeStamp& receiveTime) {
        Records().push_back(TraceRecord{path, server.GetString(),
                                        std::vector<unsigned char>(reply, reply + kSntpPacketSize),
                                        receiveTime});
        return Answer();
    }

    SntpTrace m_trace;
};

// The exchange traced exactly this run's reply, converted, with its receive time.
void ExpectTracedOnce(const ExchangeRun& run) {
    ASSERT_EQ(PacketTrace::Records().size(), 1u);
    const TraceRecord& record = PacketTrace::Records()[0];
    EXPECT_EQ(record.path, L"Tavrino.sntp.log");
    EXPECT_EQ(record.server, kServer);
    EXPECT_EQ(record.reply, std::vector<unsigned char>(run.buffer, run.buffer + kSntpPacketSize));
    EXPECT_EQ(record.receiveTime.seconds, run.receiveTime.seconds);
    EXPECT_EQ(record.receiveTime.microseconds, run.receiveTime.microseconds);
}

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
    // The request's transmit time was random bits, which the reply echoed; the Originate
    // field now holds the real time the request left, converted.
    TimeStamp t1 = ReadReplyTimeStamp(run.buffer + kOriginateOffset);
    EXPECT_NEAR(RealSeconds(t1), before, 1.0);
    EXPECT_NE(t1.seconds, ReadBigEndian32(server.LastRequest().data() + 40) - 2208988800u);
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

TEST(SntpExchange, OnlyAReplyThatEchoesTheRandomTransmitBitsCounts) {
    // One bit off, and the clock's own time as one who guesses the request from the
    // PC clock would send it: both refused, neither converted nor traced.
    for (SntpScript::Kind kind : {SntpScript::kWrongOriginate, SntpScript::kClockOriginate}) {
        SCOPED_TRACE(kind);
        FakeTimeServer server;
        SntpScript script;
        script.kind = kind;
        ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
        PacketTrace trace(true);
        ExchangeRun run(kProtocolSntp, kServer, 5);
        trace.Attach(run);
        run.Run();
        ExpectFailure(run, "SNTP:IncorrectPacket", 0);
        EXPECT_TRUE(PacketTrace::Records().empty());
    }
    // Each request carries bits of its own.
    std::vector<std::vector<unsigned char>> sent;
    for (int i = 0; i < 2; ++i) {
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeSntp(SntpScript{})) << server.Error();
        ExchangeRun run(kProtocolSntp, kServer, 5);
        ASSERT_EQ(run.Run(), 1);
        server.Stop();
        const std::vector<unsigned char> request = server.LastRequest();
        ASSERT_EQ(request.size(), 48u);
        sent.emplace_back(request.begin() + kTransmitOffset, request.begin() + kTransmitOffset + 8);
    }
    EXPECT_NE(sent[0], sent[1]);
}

TEST(SntpBurst, KeepsTheSampleWithTheShortestRoundTrip) {
    // The server answers one request at a time: the first answer comes late, after the
    // second request has left at 250 ms (it still counts), and the second waits 50 ms
    // behind it and 20 ms of its own: about 70 ms, the shortest of 300, 70, 150 and 90.
    FakeTimeServer server;
    SntpScript script;
    script.offset = 1.5;
    script.replyAfterMsEach = {300, 20, 150, 90};
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    PacketTrace trace(true);

    ExchangeRun run(kProtocolSntp, kServer, 5);
    run.request.samples = 4;
    trace.Attach(run);
    EXPECT_EQ(run.request.CountdownSeconds(), 6);  // the time-out and the gaps between
    ASSERT_EQ(run.Run(), 1) << run.status.GetString();
    EXPECT_EQ(server.Requests(), 4);
    EXPECT_EQ(PacketTrace::Records().size(), 4u);  // every sample is traced
    const double delay = RoundTripDelay(run.buffer, run.receiveTime);
    EXPECT_GT(delay, 0.055);
    EXPECT_LT(delay, 0.088);
    double offset = 0;
    CString errorText;
    EXPECT_EQ(run.Validate(&offset, &errorText), 1);
    EXPECT_NEAR(offset, 1.5, 0.05);
}

TEST(SntpBurst, ALostFirstReplyCostsASampleNotTheQuery) {
    FakeTimeServer server;
    SntpScript script;
    script.replyAfterMsEach = {-1, 0, 0, 0};  // the first is lost
    ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
    ExchangeRun run(kProtocolSntp, kServer, 1);
    run.request.samples = 4;
    ASSERT_EQ(run.Run(), 1) << run.status.GetString();
    double offset = 0;
    CString errorText;
    EXPECT_EQ(run.Validate(&offset, &errorText), 1);
    EXPECT_LT(run.seconds, 2.5);
    EXPECT_EQ(server.Requests(), 4);
}

TEST(SntpBurst, AKissOfDeathEndsTheBurstAndKeepsWhatCameBefore) {
    struct Case {
        int kissAt;
        int requests;
        int valid;  // whether the reply kept passes its tests
    } const cases[] = {{2, 3, 1}, {0, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kissAt);
        FakeTimeServer server;
        SntpScript script;
        script.rateKissAt = c.kissAt;
        ASSERT_TRUE(server.ServeSntp(script)) << server.Error();
        ExchangeRun run(kProtocolSntp, kServer, 2);
        run.request.samples = 8;
        ASSERT_EQ(run.Run(), 1);
        EXPECT_LT(run.seconds, 1.0);  // no wait for samples never sent
        double offset = 0;
        CString errorText;
        EXPECT_EQ(run.Validate(&offset, &errorText), c.valid);
        if (!c.valid) {
            EXPECT_EQ(run.status, "ERROR (SNTP: Kiss-o'-Death RATE)");
        }
        server.Stop();
        EXPECT_EQ(server.Requests(), c.requests);
    }
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
    trace.Attach(run);
    EXPECT_EQ(run.Run(), 1);
    double offset = 0;
    CString errorText("kept");
    EXPECT_EQ(run.Validate(&offset, &errorText), 0);
    EXPECT_EQ(run.status, "ERROR (SNTP: Server Throughput)");
    EXPECT_EQ(errorText, "kept");

    ExpectTracedOnce(run);
    EXPECT_FALSE(run.request.traceNotOpened);
}

TEST(SntpExchange, NothingIsTracedWithTheSwitchOff) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    PacketTrace trace(false);
    RecordingSink sink;
    ExchangeRun run(kProtocolSntp, kServer, 5);
    trace.Attach(run);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_TRUE(PacketTrace::Records().empty());
    EXPECT_TRUE(sink.Messages().empty());
}

TEST(SntpExchange, UnopenableTraceDoesNotFailTheQueryAndIsToldAfterIt) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    const PacketTrace trace(true, -1);
    RecordingSink sink;
    ScopedContext seams(CurrentContext().With(trace.Get()));
    unsigned char reply[kSntpPacketSize] = {};
    TimeStamp arrival{0, 0};
    CString status;
    int errorCode = -1;
    EXPECT_EQ(
        RunQuery(kProtocolSntp, kServer, 5, 0, reply, kSntpPacketSize, &arrival, status, errorCode),
        1);
    EXPECT_EQ(status, "OK");
    // Once, on the thread that ran the query, after it.
    EXPECT_EQ(sink.Messages(), std::vector<std::string>{"Can not open the logfile"});
}

TEST(TimeExchange, WholeReplyFillsFourBytes) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, 0xE1B2C3D4u)) << server.Error();
    PacketTrace trace(true);
    ExchangeRun run(kProtocolTime, kServer, 5, 0xEE);
    trace.Attach(run);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(run.status, "OK");
    EXPECT_EQ(ReadBigEndian32(run.buffer), 0xE1B2C3D4u);
    EXPECT_EQ(run.buffer[4], 0xEE);  // nothing beyond the receive length
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
    EXPECT_TRUE(PacketTrace::Records().empty());  // TIME is never traced
}

TEST(TimeExchange, ValueIsReadWholeOrLeftAsZeros) {
    struct Case {
        const char* name;
        TimeScript script;
        std::uint32_t value;  // in the buffer afterwards
    } const cases[] = {
        {"in two pieces", TimeScript::kSplit, 0xE1B2C3D4u},
        // The server closed before the value was whole: none of the caller's bytes
        // (0xEE) may pass for part of a value.
        {"two bytes, then closed", TimeScript::kTwoBytesThenClose, 0u},
        {"closed at once", TimeScript::kCloseAtOnce, 0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTimeServer server;
        ASSERT_TRUE(server.ServeTime(c.script, 0xE1B2C3D4u)) << server.Error();
        ExchangeRun run(kProtocolTime, kServer, 5, 0xEE);
        EXPECT_EQ(run.Run(), 1);
        EXPECT_EQ(run.status, "OK");
        EXPECT_EQ(run.errorCode, -12345);
        EXPECT_EQ(ReadBigEndian32(run.buffer), c.value);
        EXPECT_EQ(run.buffer[4], 0xEE);  // nothing beyond the receive length
        EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
        EXPECT_LT(run.seconds, 3.0);
    }
}

TEST(TimeExchange, IncompleteValueWaitsNoLongerThanTheTimeOut) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kTwoBytesThenSilent, 0xE1B2C3D4u)) << server.Error();
    ExchangeRun run(kProtocolTime, kServer, 1, 0xEE);
    EXPECT_EQ(run.Run(), 1);
    EXPECT_EQ(ReadBigEndian32(run.buffer), 0u);
    // One time-out for the whole value, not one for each piece.
    EXPECT_GE(run.seconds, 0.9);
    EXPECT_LT(run.seconds, 1.5);
    EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
}

TEST(TimeExchange, AbandonedWhileTheValueIsIncomplete) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kTwoBytesThenSilent, 0xE1B2C3D4u)) << server.Error();
    ExchangeRun run(kProtocolTime, kServer, 5, 0xEE);
    std::thread dialog([&run] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        AbandonExchange(&run.request);
    });
    run.Run();
    dialog.join();
    ExpectFailure(run, "Socket", WSAEINTR);
    EXPECT_LT(run.seconds, 1.0);
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
        trace.Attach(run);
        EXPECT_EQ(run.Run(), 1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(run.buffer)), line);
        EXPECT_TRUE(PacketTrace::Records().empty());  // DAYTIME is never traced
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

TEST(Resolution, UnknownOrEmptyNameIsHostNotFoundWithoutASocket) {
    // An empty name asks nobody (Winsock's resolver would give this computer's addresses).
    for (const char* name : {"tavrino-no-such-host.invalid", ""}) {
        SCOPED_TRACE(name);
        ExchangeRun run(kProtocolSntp, name, 5);
        run.Run();
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.status, "HostNotFound");
        // One of Winsock's resolver codes: not found, try again, no recovery, no data.
        EXPECT_GE(run.errorCode, WSAHOST_NOT_FOUND);
        EXPECT_LE(run.errorCode, WSANO_DATA);
        EXPECT_EQ(run.request.socket, static_cast<SOCKET>(0));
    }
}

TEST(ExchangeArguments, UnknownProtocolFailsBeforeAnySocket) {
    ExchangeRun run(kProtocolSntp, kServer, 5);
    run.request.protocol = static_cast<Protocol>(3);
    run.Run();
    ExpectFailure(run, "Socket", WSAEPROTONOSUPPORT);
}
