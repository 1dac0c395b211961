#include "tests/support/fake_time_server.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#ifdef _WIN32
typedef int socklen_t;
#else
#include <arpa/inet.h>
#include <poll.h>
#endif

namespace {

// The server keeps serving for at most this long, whatever the test does.
constexpr int kLifetimeMs = 60000;
constexpr int kPollMs = 20;

bool Readable(SOCKET s, int milliseconds) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit{0, milliseconds * 1000};
    return select(0, &set, nullptr, nullptr, &limit) > 0;
#else
    pollfd watch{s, POLLIN, 0};
    return poll(&watch, 1, milliseconds) > 0;
#endif
}

void SleepMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void PutNtp(unsigned char* at, double unixSeconds) {
    double whole = std::floor(unixSeconds);
    auto seconds = static_cast<std::uint32_t>(static_cast<long long>(whole) + 2208988800LL);
    auto fraction = static_cast<std::uint32_t>((unixSeconds - whole) * 4294967296.0);
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(seconds >> (24 - 8 * i));
        at[4 + i] = static_cast<unsigned char>(fraction >> (24 - 8 * i));
    }
}

}  // namespace

double RealTimeNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

FakeTimeServer::FakeTimeServer(const char* address) : m_address(address) {}

FakeTimeServer::~FakeTimeServer() { Stop(); }

bool FakeTimeServer::Listen(int type, unsigned short port) {
    m_socket.Reset(socket(AF_INET, type, 0));
    if (!m_socket) {
        m_error = "socket failed";
        return false;
    }
    int on = 1;
    setsockopt(m_socket.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
               sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(m_address.c_str());
    if (bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(m_socket.Get(), 8) != 0)) {
        m_error = "cannot bind " + m_address + ":" + std::to_string(port) +
                  " (run the tests through scripts/test, which gives them a private network)";
        m_socket.Close();
        return false;
    }
    return true;
}

void FakeTimeServer::Start(void (FakeTimeServer::*handler)()) {
    m_thread = std::thread([this, handler] {
        for (int waited = 0; !m_stop.load() && waited < kLifetimeMs; waited += kPollMs) {
            if (Readable(m_socket.Get(), kPollMs)) (this->*handler)();
        }
    });
}

bool FakeTimeServer::ServeSntp(const SntpScript& script) {
    m_sntp = script;
    if (!Listen(SOCK_DGRAM, 123)) return false;
    Start(&FakeTimeServer::AnswerSntp);
    return true;
}

bool FakeTimeServer::ServeTime(TimeScript script, std::uint32_t value) {
    m_timeScript = script;
    unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    m_streamReply.assign(reinterpret_cast<char*>(bytes), 4);
    if (!Listen(SOCK_STREAM, 37)) return false;
    Start(&FakeTimeServer::AnswerStream);
    return true;
}

bool FakeTimeServer::ServeDaytime(const std::string& reply, TimeScript script) {
    m_timeScript = script;
    m_streamReply = reply;
    if (!Listen(SOCK_STREAM, 13)) return false;
    Start(&FakeTimeServer::AnswerStream);
    return true;
}

bool FakeTimeServer::WaitForRequests(int count) const {
    for (int waited = 0; m_requests.load() < count && waited < 2000; waited += kPollMs) {
        SleepMilliseconds(kPollMs);
    }
    return m_requests.load() >= count;
}

void FakeTimeServer::Stop() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
    m_socket.Close();
}

void FakeTimeServer::AnswerSntp() {
    unsigned char request[512];
    sockaddr_in client{};
    socklen_t clientLength = sizeof client;
    int got = recvfrom(m_socket.Get(), reinterpret_cast<char*>(request), sizeof request, 0,
                       reinterpret_cast<sockaddr*>(&client), &clientLength);
    if (got <= 0) return;
    double arrival = RealTimeNow() + m_sntp.offset;
    m_lastRequest.assign(request, request + got);
    ++m_requests;
    if (m_sntp.kind == SntpScript::kSilent || got < 48) return;
    const int index = m_requests.load() - 1;
    const bool kiss = index == m_sntp.rateKissAt;

    std::vector<unsigned char> reply(m_sntp.length > 48 ? m_sntp.length : 48, 0);
    reply[0] = 0x1C;  // no leap warning, version 3, server
    reply[1] = kiss ? 0 : m_sntp.stratum;
    reply[2] = 4;
    reply[3] = 0xEC;
    std::memcpy(&reply[12], m_sntp.referenceId.data(),
                std::min<std::size_t>(4, m_sntp.referenceId.size()));
    if (kiss) std::memcpy(&reply[12], "RATE", 4);
    if (!m_sntp.zeroReference) PutNtp(&reply[16], arrival - 60.0);
    std::memcpy(&reply[24], request + 40, 8);  // originate = client's transmit
    if (m_sntp.kind == SntpScript::kWrongOriginate) reply[31] ^= 0x01;
    if (m_sntp.kind == SntpScript::kClockOriginate) PutNtp(&reply[24], RealTimeNow());
    if (!m_sntp.zeroReceive) PutNtp(&reply[32], arrival);
    if (!m_sntp.zeroTransmit) PutNtp(&reply[40], arrival + m_sntp.serverDelay);
    if (m_sntp.onesTimestamps) {
        for (int field : {16, 32, 40}) std::memset(&reply[field], 0xFF, 8);
    }
    const int holdMs = index >= 0 && index < static_cast<int>(m_sntp.replyAfterMsEach.size())
                           ? m_sntp.replyAfterMsEach[static_cast<std::size_t>(index)]
                           : m_sntp.replyAfterMs;
    if (holdMs < 0) return;  // lost on the way
    if (holdMs > 0) SleepMilliseconds(holdMs);
    ScopedSocket otherPort;
    SOCKET from = m_socket.Get();
    if (m_sntp.fromOtherPort) {
        otherPort.Reset(socket(AF_INET, SOCK_DGRAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(m_address.c_str());
        if (!otherPort || bind(otherPort.Get(), reinterpret_cast<sockaddr*>(&address),
                               sizeof address) != 0) {
            return;
        }
        from = otherPort.Get();
    }
    for (int i = 0; i < m_sntp.answers && i < 8; ++i) {
        sendto(from, reinterpret_cast<const char*>(reply.data()), m_sntp.length, 0,
               reinterpret_cast<sockaddr*>(&client), clientLength);
    }
}

void FakeTimeServer::AnswerStream() {
    ScopedSocket connection(accept(m_socket.Get(), nullptr, nullptr));
    if (!connection) return;
    ++m_requests;
    const SOCKET c = connection.Get();
    const char* data = m_streamReply.data();
    int length = static_cast<int>(m_streamReply.size());
    auto waitUntilStopped = [this] {
        for (int waited = 0; !m_stop.load() && waited < kLifetimeMs; waited += kPollMs) {
            SleepMilliseconds(kPollMs);
        }
    };
    switch (m_timeScript) {
        case TimeScript::kWhole: send(c, data, length, 0); break;
        case TimeScript::kSplit:
            send(c, data, 2, 0);
            SleepMilliseconds(300);
            send(c, data + 2, length - 2, 0);
            break;
        case TimeScript::kCloseAtOnce: break;
        case TimeScript::kTwoBytesThenClose: send(c, data, 2, 0); break;
        case TimeScript::kTwoBytesThenSilent:
            send(c, data, 2, 0);
            waitUntilStopped();
            break;
        case TimeScript::kSilent: waitUntilStopped(); break;
        case TimeScript::kReset: {
            // A zero linger time makes the close a reset.
            linger reset{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                       sizeof reset);
            break;
        }
    }
}
