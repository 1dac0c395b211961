// A scriptable, fault-injecting time server for the exchange tests. It listens on
// the real protocol ports of one loopback address (the tests run as root inside a
// private network namespace) and answers each request as the test asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "framework/net_compat.h"

// The loopback address of this test binary's fake server; native and Windows test
// binaries use different ones so that they may run side by side.
#ifndef TAV_FAKE_SERVER_ADDRESS
#define TAV_FAKE_SERVER_ADDRESS "127.0.0.2"
#endif
constexpr const char* kFakeServerAddress = TAV_FAKE_SERVER_ADDRESS;

struct SntpScript {
    // kClockOriginate: the Originate Timestamp is the server's clock, as one who
    // guessed the client's transmit time from its clock would send.
    enum Kind { kAnswer, kSilent, kWrongOriginate, kClockOriginate } kind = kAnswer;
    double offset = 0.0;       // the server's clock minus the real clock, seconds
    double serverDelay = 0.0;  // the server's Transmit minus its Receive Timestamp
    int replyAfterMs = 0;      // how long the answer is held back
    int length = 48;           // datagram length; a longer one is padded with zeros
    unsigned char stratum = 2;
    std::string referenceId = "TEST";  // its first four bytes, padded with zeros
    // Timestamps sent as eight zero bytes.
    bool zeroReference = false;
    bool zeroReceive = false;
    bool zeroTransmit = false;
    // The three timestamps the server fills sent as eight 0xFF bytes each.
    bool onesTimestamps = false;
    // The same answer sent this many times.
    int answers = 1;
    // The answer sent from another port of the server's address.
    bool fromOtherPort = false;
    // The hold-back of the n-th request's answer (from the first request on), over
    // replyAfterMs, -1 for none; the server answers one request at a time.
    std::vector<int> replyAfterMsEach;
    // The n-th request (from 0) is answered with a kiss-o'-death RATE.
    int rateKissAt = -1;

    // A server that will not serve us: stratum 0, the code in the Reference
    // Identifier, our transmit time echoed and every other timestamp zero.
    static SntpScript KissOfDeath(const std::string& code) {
        SntpScript script;
        script.stratum = 0;
        script.referenceId = code;
        script.zeroReference = script.zeroReceive = script.zeroTransmit = true;
        return script;
    }
};

enum class TimeScript {
    kWhole,
    kSplit,               // two bytes, 300 ms later the other two
    kCloseAtOnce,         // closes without sending
    kTwoBytesThenClose,   // two bytes, then closes
    kTwoBytesThenSilent,  // two bytes, then nothing until stopped
    kSilent,
    kReset,               // accepts, then resets the connection without sending
};

class FakeTimeServer {
  public:
    explicit FakeTimeServer(const char* address = kFakeServerAddress);
    ~FakeTimeServer();
    FakeTimeServer(const FakeTimeServer&) = delete;
    FakeTimeServer& operator=(const FakeTimeServer&) = delete;

    // Each starts serving on its port and returns false (with the reason in Error())
    // when the port cannot be bound. One service per server object.
    bool ServeSntp(const SntpScript& script);
    bool ServeTime(TimeScript script, std::uint32_t value);
    bool ServeDaytime(const std::string& reply, TimeScript script = TimeScript::kWhole);

    // Stops serving and waits for the server thread.
    void Stop();

    const std::string& Error() const { return m_error; }
    // Requests (datagrams or connections) answered so far.
    int Requests() const { return m_requests.load(); }
    // Waits up to two seconds for the count of requests to reach count; true if it did.
    bool WaitForRequests(int count) const;
    // The last SNTP request as it arrived; read after Stop().
    const std::vector<unsigned char>& LastRequest() const { return m_lastRequest; }

  private:
    bool Listen(int type, unsigned short port);
    void Start(void (FakeTimeServer::*handler)());
    void AnswerSntp();
    void AnswerStream();

    std::string m_address;
    std::string m_error;
    ScopedSocket m_socket;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;

    SntpScript m_sntp;
    std::vector<unsigned char> m_lastRequest;
    std::string m_streamReply;
    TimeScript m_timeScript = TimeScript::kWhole;
};

// The time now in seconds since 1970, from the host clock (not the clock seam).
double RealTimeNow();
