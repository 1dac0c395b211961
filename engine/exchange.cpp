#include "engine/exchange.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "engine/nts_client.h"
#include "engine/nts_key_exchange.h"
#include "engine/nts_records.h"
#include "engine/sntp_burst.h"
#include "framework/random.h"
#include "framework/receive_stamp.h"
#include "framework/strings.h"
#include "res/string_ids.h"

namespace {

// The stage words of a failed exchange; "HostNotFound" comes from the string table.
constexpr char kStageSocket[] = "Socket";
constexpr char kStageConnect[] = "Connect";
constexpr char kStageSend[] = "Send";
constexpr char kStageSendPacket[] = "SendPacket";
constexpr char kStageSelect[] = "Select";
constexpr char kStageTimeOut[] = "TimeOut";
constexpr char kStageRecv[] = "Recv";
constexpr char kStageRecvPacket[] = "RecvPacket";
constexpr char kStageIncorrectPacket[] = "SNTP:IncorrectPacket";

struct ProtocolPort {
    unsigned short port;
    int socketType;
};

const ProtocolPort kPorts[] = {
    {123, SOCK_DGRAM},  // SNTP
    {37, SOCK_STREAM},  // TIME
    {13, SOCK_STREAM},  // DAYTIME
};

int Fail(QueryRequest* request, const char* stage, int errorCode) {
    *request->statusText = stage;
    *request->errorCode = errorCode;
    return 0;
}

using SteadyClock = std::chrono::steady_clock;

// The exchange's socket: closed on every way out of the exchange, by the worker that
// runs it and no other thread, and shown in the request while it is open.
class ExchangeSocket {
  public:
    explicit ExchangeSocket(QueryRequest* request) : m_request(request) {}
    ~ExchangeSocket() { Close(); }
    ExchangeSocket(const ExchangeSocket&) = delete;
    ExchangeSocket& operator=(const ExchangeSocket&) = delete;

    SOCKET Get() const { return m_socket.Get(); }
    explicit operator bool() const { return m_socket.IsValid(); }
    // Closes the socket held, if any, and holds s instead.
    void Reset(SOCKET s) {
        Close();
        m_socket.Reset(s);
        if (m_socket) m_request->socket = s;
    }
    void Close() {
        m_request->socket = 0;
        m_socket.Close();
    }

  private:
    QueryRequest* m_request;
    ScopedSocket m_socket;
};

// Waits for the reply until the time-out counted from start has passed, in slices
// short enough that an abandoned query stops within one: not every socket layer wakes
// a wait when the socket is shut down from another thread (Wine's does not), and only
// the worker may close it.
int WaitForReply(QueryRequest* request, SOCKET s, SteadyClock::time_point start, bool* readable) {
    constexpr long long kSliceMs = 100;
    if (request->timeout < 0) return net::WaitReadable(s, -1, readable);  // refused
    const long long totalMs = request->timeout * 1000LL;
    for (;;) {
        long long elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
                .count();
        long long remainingMs = totalMs > elapsedMs ? totalMs - elapsedMs : 0;
        long long sliceMs = remainingMs < kSliceMs ? remainingMs : kSliceMs;
        int ready = net::WaitReadable(s, static_cast<int>(sliceMs), readable);
        if (ready != 0 || remainingMs <= kSliceMs || request->abandoned) return ready;
    }
}

// A TIME value may come in pieces. Reads until the buffer is full, the server closes
// or the time-out counted from start passes; a value that did not arrive whole is
// left as zeros, which no server sends as a time, rather than as a mixture of the
// server's bytes and the caller's. 0 (with the stage set) for a failed receive or wait.
int ReceiveWhole(QueryRequest* request, SOCKET s, SteadyClock::time_point start) {
    unsigned char* const buffer = request->buffer;
    const int wanted = request->bufferSize;
    int got = 0;
    for (;;) {  // each round receives at least one byte or ends
        int received = net::Recv(s, buffer + got, wanted - got);
        if (received == SOCKET_ERROR) return Fail(request, kStageRecv, net::LastError());
        got += received;
        if (received == 0 || got >= wanted) break;

        bool readable = false;
        int ready = WaitForReply(request, s, start, &readable);
        if (ready == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
        if (ready == 0 && request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
        if (ready == 0) break;
        if (!readable) return Fail(request, kStageSelect, net::LastError());
    }
    if (got < wanted) std::memset(buffer, 0, static_cast<std::size_t>(wanted));
    return 1;
}

// The stage at which an address failed, and its code; no stage when it was reached.
struct Attempt {
    const char* stage;
    int errorCode;
};

using Milliseconds = std::chrono::milliseconds;

// A slice of a wait: short enough that an abandoned query stops within one.
constexpr Milliseconds kSlice{100};
// The requests of a burst leave this far apart.
constexpr Milliseconds kSampleGap{250};

// The wait until the next of two moments, at most a slice and never negative.
int WaitMs(SteadyClock::time_point now, SteadyClock::time_point until) {
    if (until <= now) return 0;
    const auto left = std::chrono::duration_cast<Milliseconds>(until - now) + Milliseconds(1);
    return static_cast<int>(left < kSlice ? left.count() : kSlice.count());
}

// How long an address has before the next one is tried beside it: a quarter of the
// time-out, so that a first address that drops what it is sent (an IPv6 address
// behind a dead route, a firewall) costs a user a moment, not the whole time-out.
Milliseconds RaceShare(const QueryRequest* request) {
    return Milliseconds(request->timeout > 0 ? request->timeout * 250LL : 0);
}

// 8 bytes that nobody can guess; should the system's generator fail, the clock and a
// counter, which are at least new each time.
void NewTransmitBits(unsigned char bits[8]) {
    if (FillRandom(bits, 8)) return;
    static std::atomic<unsigned> counter{0};
    TimeStamp now{};
    ReadPcClock(&now);
    now.microseconds ^= (counter.fetch_add(1) & 0xFFFu) << 20;
    WriteNtpTimeStamp(bits, now);
}

// The sockets of one exchange, each with what was sent on it. A socket is closed on
// every way out, by the worker that runs the exchange and no other thread; the
// request shows the last one opened while any is open.
struct Probe {
    ScopedSocket socket;
    const addrinfo* address = nullptr;
    unsigned char transmit[8] = {};         // what the reply must echo
    TimeStamp sent{0, 0};                   // SNTP: the PC clock when it left
    SteadyClock::time_point left;           // SNTP: when the request left
    SteadyClock::time_point deadline;       // SNTP: its reply is waited for until then
    unsigned char uid[kNtsUidLength] = {};  // NTS: what the reply must echo
};

// An NTS query's side of the exchange: the cryptography and the server's session,
// whose cookies the requests spend and the replies renew.
struct NtsPeer {
    const NtsBackend* backend;
    NtsSession* session;
    bool refused = false;  // the server no longer takes the session's cookies
};

// The longest NTS reply taken: the header, the identifier, eight cookies and the
// authenticator with room to spare. A longer one fails the receive, as a plain
// reply longer than 48 bytes does.
constexpr int kNtsMostReply = 2048;

class Probes {
  public:
    explicit Probes(QueryRequest* request, NtsPeer* nts = nullptr)
        : m_request(request), m_nts(nts) {}
    ~Probes() { m_request->socket = 0; }
    NtsPeer* Nts() const { return m_nts; }
    Probes(const Probes&) = delete;
    Probes& operator=(const Probes&) = delete;

    // A new socket for address; null (with the attempt's failure) when none opened.
    Probe* Open(const addrinfo& address, Attempt* failure) {
        if (m_list.size() >= static_cast<std::size_t>(net::kMostWaited)) {
            *failure = {kStageSocket, WSAEMFILE};
            return nullptr;
        }
        ScopedSocket s(net::OpenSocket(address.ai_family, address.ai_socktype));
        if (!s) {
            *failure = {kStageSocket, net::LastError()};
            return nullptr;
        }
        m_request->socket = s.Get();
        m_list.emplace_back();
        m_list.back().socket = std::move(s);
        m_list.back().address = &address;
        return &m_list.back();
    }
    void Close(std::size_t index) {
        m_list.erase(m_list.begin() + static_cast<std::ptrdiff_t>(index));
        m_request->socket = m_list.empty() ? 0 : m_list.back().socket.Get();
    }
    void CloseAll() {
        m_list.clear();
        m_request->socket = 0;
    }
    bool Empty() const { return m_list.empty(); }
    std::size_t Size() const { return m_list.size(); }
    Probe& operator[](std::size_t index) { return m_list[index]; }
    // Takes one socket out of the set: it is the caller's to keep.
    ScopedSocket Take(std::size_t index) {
        ScopedSocket s = std::move(m_list[index].socket);
        m_list.erase(m_list.begin() + static_cast<std::ptrdiff_t>(index));
        return s;
    }

    // Waits up to milliseconds for any socket (reading, or a connect's end); the
    // indexes of those ready in *ready. SOCKET_ERROR, 0 or the count, as select.
    int Wait(bool forConnect, int milliseconds, std::vector<std::size_t>* ready) {
        SOCKET sockets[net::kMostWaited];
        bool connects[net::kMostWaited];
        bool marked[net::kMostWaited] = {};
        const int count = static_cast<int>(m_list.size());
        for (int i = 0; i < count; ++i) {
            sockets[i] = m_list[static_cast<std::size_t>(i)].socket.Get();
            connects[i] = forConnect;
        }
        ready->clear();
        const int found = net::WaitSockets(sockets, connects, count, milliseconds, marked);
        for (int i = 0; found > 0 && i < count; ++i) {
            if (marked[i]) ready->push_back(static_cast<std::size_t>(i));
        }
        return found;
    }

  private:
    QueryRequest* m_request;
    NtsPeer* m_nts;
    std::vector<Probe> m_list;
};

// The NTS form of a request: the header with one of the session's cookies, and
// placeholders asking for as many more as keep eight at hand once the replies of the
// requests in flight are in. Empty (with the failure) when no cookie is left.
std::vector<unsigned char> NtsDatagram(NtsPeer& nts, Probe& probe, std::size_t inFlight,
                                       const unsigned char* header, Attempt* failure) {
    auto& cookies = nts.session->cookies;
    if (cookies.empty()) {
        *failure = {kStageNtsNoCookie, 0};
        return {};
    }
    const std::vector<unsigned char> cookie = std::move(cookies.front());
    cookies.erase(cookies.begin());
    const std::size_t expected = cookies.size() + inFlight + 1;
    const int placeholders =
        expected >= kNtsMostCookies ? 0 : static_cast<int>(kNtsMostCookies - expected);
    unsigned char nonce[kNtsNonceLength];
    if (!FillRandom(probe.uid, kNtsUidLength) || !FillRandom(nonce, kNtsNonceLength)) {
        *failure = {kStageSocket, 0};
        return {};
    }
    std::vector<unsigned char> datagram = BuildNtsRequest(*nts.backend, header, probe.uid, cookie,
                                                          placeholders, nts.session->c2s, nonce);
    if (datagram.empty()) *failure = {kStageNtsAuth, 0};
    return datagram;
}

// Sends one SNTP request on a new socket: random bits in its transmit time, the
// real time kept in the probe. Null with the failure when it did not leave.
Probe* SendRequest(Probes& probes, const addrinfo& address, Attempt* failure) {
    Probe* probe = probes.Open(address, failure);
    if (!probe) return nullptr;
    RequestReceiveStamps(probe->socket.Get());
    // Bound now rather than by the send, so that the send's time is the request's
    // journey and not the choice of a port. A socket that will not bind is left to
    // the send to bind, as before.
    net::BindAny(probe->socket.Get(), address.ai_family);
    NewTransmitBits(probe->transmit);
    unsigned char header[kSntpPacketSize];
    BuildSntpRequest(header, probe->transmit);
    std::vector<unsigned char> datagram(header, header + kSntpPacketSize);
    if (probes.Nts()) {
        datagram = NtsDatagram(*probes.Nts(), *probe, probes.Size() - 1, header, failure);
        if (datagram.empty()) {
            probes.Close(probes.Size() - 1);
            return nullptr;
        }
    }
    const int size = static_cast<int>(datagram.size());
    probe->left = SteadyClock::now();
    ReadPcClock(&probe->sent);
    const int length = static_cast<int>(address.ai_addrlen);
    const int sent =
        net::SendTo(probe->socket.Get(), datagram.data(), size, address.ai_addr, length);
    if (sent == size) return probe;
    *failure = {sent == SOCKET_ERROR ? kStageSend : kStageSendPacket, net::LastError()};
    probes.Close(probes.Size() - 1);
    return nullptr;
}

// Receives the reply of one probe into reply, stamped with the time it arrived: the
// system's stamp where the socket gives one, this thread's reading otherwise. A reply
// that does not echo the probe's bits is stale or forged. On success the timestamps
// are converted in place (see ReadReplyTimeStamp) and the Originate Timestamp holds
// the real time the request left, which the trace and the offset use.
// With NTS the reply counts only when it echoes the request's identifier and its
// authenticator verifies; the new cookies it carries join the session's.
Attempt ReceiveReply(Probe& probe, unsigned char reply[kSntpPacketSize], TimeStamp* arrival,
                     NtsPeer* nts) {
    long long ageMicroseconds = -1;
    std::vector<unsigned char> whole(nts ? kNtsMostReply : 0);
    unsigned char* const into = nts ? whole.data() : reply;
    const int room = nts ? kNtsMostReply : kSntpPacketSize;
    const int got = RecvFromStamped(probe.socket.Get(), into, room, &ageMicroseconds);
    ReadPcClock(arrival);  // first, before anything else takes time
    if (got == SOCKET_ERROR) return {kStageRecv, net::LastError()};
    if (nts ? got < kSntpPacketSize : got != kSntpPacketSize) {
        return {kStageRecvPacket, net::LastError()};
    }
    if (nts) std::memcpy(reply, into, kSntpPacketSize);
    if (ageMicroseconds > 0) {
        long long micro = arrival->microseconds - ageMicroseconds;
        long long seconds = micro / 1000000;
        micro %= 1000000;
        if (micro < 0) {
            micro += 1000000;
            --seconds;
        }
        arrival->seconds += static_cast<std::uint32_t>(seconds);
        arrival->microseconds = static_cast<std::uint32_t>(micro);
    }
    if (std::memcmp(reply + kOriginateOffset, probe.transmit, 8) != 0) {
        return {kStageIncorrectPacket, 0};
    }
    if (nts) {
        switch (CheckNtsReply(*nts->backend, into, static_cast<std::size_t>(got), probe.uid,
                              nts->session->s2c, &nts->session->cookies)) {
            case NtsReplyCheck::kAuthentic: break;
            case NtsReplyCheck::kForeign: return {kStageIncorrectPacket, 0};
            case NtsReplyCheck::kNak:
                nts->refused = true;
                nts->session->cookies.clear();
                return {kStageNtsNak, 0};
            case NtsReplyCheck::kFailed: return {kStageNtsAuth, 0};
        }
    }
    for (int field : kReplyTimeStampOffsets) {
        WriteReplyTimeStamp(reply + field, NtpToTimeStamp(reply + field));
    }
    WriteReplyTimeStamp(reply + kOriginateOffset, probe.sent);
    return {nullptr, 0};
}

// A trace that cannot be written never fails the query; the user is told on the
// user-interface thread once the query has ended.
void Trace(QueryRequest* request, const unsigned char* reply, const TimeStamp& arrival) {
    if (request->trace.write &&
        request->trace.write(request->trace.path, CString(request->server), reply, arrival) < 0) {
        request->traceNotOpened = true;
    }
}

// Where a burst stands: the address that the requests go to, how many went there and
// when the last one left.
struct BurstState {
    const addrinfo* address = nullptr;
    int sent = 0;
    SteadyClock::time_point lastSent;
};

// Sends one more request of the burst to its address; its reply is waited for within
// the time-out and the query's whole countdown.
void SendSample(QueryRequest* request, Probes& probes, BurstState& burst,
                SteadyClock::time_point endOfQuery, Attempt* failure) {
    ++burst.sent;
    burst.lastSent = SteadyClock::now();
    Probe* probe = SendRequest(probes, *burst.address, failure);
    if (!probe) return;
    const auto own = probe->left + std::chrono::seconds(request->timeout);
    probe->deadline = own < endOfQuery ? own : endOfQuery;
}

// The first reply from the server's addresses: the request goes to the first address,
// and to the next beside it whenever the share of the time-out passes without a reply,
// or at once when an address refuses (a "port unreachable" that comes back) or cannot
// be sent to. Meanwhile a burst goes on to the address asked last, a request every
// quarter second, so that one lost datagram costs a sample, not the query. The first
// reply that echoes its request wins, from whichever address; the requests to other
// addresses are then closed. The time-out, counted from start, covers the race.
int RaceForFirstReply(QueryRequest* request, const addrinfo* next, SteadyClock::time_point start,
                      SteadyClock::time_point endOfQuery, Probes& probes, BurstState& burst,
                      unsigned char reply[kSntpPacketSize], TimeStamp* arrival) {
    const SteadyClock::time_point deadline = start + std::chrono::seconds(request->timeout);
    const Milliseconds share = RaceShare(request);
    const int samples = SampleCount(request->samples);
    SteadyClock::time_point nextStart = start;
    Attempt failure{kStageTimeOut, 0};
    std::vector<std::size_t> ready;
    bool sentAny = false;
    for (;;) {
        if (request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
        SteadyClock::time_point now = SteadyClock::now();
        // The first request leaves whatever the time-out; the next ones while it lasts.
        if (next && (probes.Empty() || now >= nextStart) && (now < deadline || !sentAny)) {
            sentAny = true;
            burst = BurstState{next, 0, now};
            next = next->ai_next;
            SendSample(request, probes, burst, endOfQuery, &failure);
            nextStart = SteadyClock::now() + share;
            continue;
        }
        const SteadyClock::time_point nextSample = burst.lastSent + kSampleGap;
        const bool moreSamples = burst.address && burst.sent < samples && !probes.Empty();
        if (moreSamples && now >= nextSample && now < deadline) {
            SendSample(request, probes, burst, endOfQuery, &failure);
            continue;
        }
        if (probes.Empty()) return Fail(request, failure.stage, failure.errorCode);
        // A negative time-out is refused as the wait would refuse it, never waited out.
        if (request->timeout < 0) return Fail(request, kStageSelect, WSAEINVAL);
        if (now >= deadline) return Fail(request, kStageTimeOut, 0);

        SteadyClock::time_point until = deadline;
        if (next && nextStart < until) until = nextStart;
        if (moreSamples && nextSample < until) until = nextSample;
        const int found = probes.Wait(false, WaitMs(now, until), &ready);
        if (found == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
        // Back to front, so that closing one leaves the others' indexes as they were.
        for (auto it = ready.rbegin(); it != ready.rend(); ++it) {
            const Attempt got = ReceiveReply(probes[*it], reply, arrival, probes.Nts());
            const addrinfo* from = probes[*it].address;
            probes.Close(*it);
            if (!got.stage) {
                // The burst goes on to the address that answered, and only there.
                for (std::size_t i = probes.Size(); i-- > 0;) {
                    if (probes[i].address != from) probes.Close(i);
                }
                if (burst.address != from) burst = BurstState{from, samples, now};
                return 1;
            }
            failure = got;
        }
        // Nothing in flight and no address left: the last failure is the query's.
        if (probes.Empty() && !next) return Fail(request, failure.stage, failure.errorCode);
    }
}

// The rest of a burst after its first reply: a request a quarter second after the one
// before, to the address that answered, each on its own socket and waited for within
// the time-out (and within the query's whole countdown). Every reply is tested and
// traced; a kiss-o'-death ends the burst. Sends and receives that fail lose their
// sample only.
void RunBurst(QueryRequest* request, BurstState& burst, SteadyClock::time_point endOfQuery,
              Probes& probes, SampleChoice& choice) {
    const int samples = SampleCount(request->samples);
    std::vector<std::size_t> ready;
    unsigned char reply[kSntpPacketSize];
    // Bounded: each round sends, receives, drops an expired sample or waits a slice,
    // and the query's end ends it.
    for (;;) {
        if (request->abandoned) return;
        SteadyClock::time_point now = SteadyClock::now();
        if (now >= endOfQuery) return;
        const SteadyClock::time_point nextSend = burst.lastSent + kSampleGap;
        if (burst.sent < samples && now >= nextSend) {
            Attempt failure{nullptr, 0};
            SendSample(request, probes, burst, endOfQuery, &failure);
            continue;
        }
        for (std::size_t i = probes.Size(); i-- > 0;) {
            if (now >= probes[i].deadline) probes.Close(i);
        }
        if (probes.Empty() && burst.sent >= samples) return;

        SteadyClock::time_point until = endOfQuery;
        if (burst.sent < samples && nextSend < until) until = nextSend;
        for (std::size_t i = 0; i < probes.Size(); ++i) {
            if (probes[i].deadline < until) until = probes[i].deadline;
        }
        if (probes.Wait(false, WaitMs(now, until), &ready) == SOCKET_ERROR) return;
        for (auto it = ready.rbegin(); it != ready.rend(); ++it) {
            TimeStamp arrival{0, 0};
            const Attempt got = ReceiveReply(probes[*it], reply, &arrival, probes.Nts());
            probes.Close(*it);
            if (got.stage) continue;
            Trace(request, reply, arrival);
            if (!choice.Add(reply, arrival)) {
                // A kiss-o'-death: no more requests, and no more waiting.
                probes.CloseAll();
                return;
            }
        }
    }
}

int ExchangeSntp(QueryRequest* request, const addrinfo* addresses, NtsPeer* nts = nullptr) {
    const SteadyClock::time_point start = SteadyClock::now();
    // The key establishment, if any, has had its own time-out.
    const SteadyClock::time_point endOfQuery =
        start + std::chrono::seconds(::CountdownSeconds(request->timeout, request->samples));
    Probes probes(request, nts);
    unsigned char reply[kSntpPacketSize];
    TimeStamp arrival{0, 0};
    BurstState burst;
    if (!RaceForFirstReply(request, addresses, start, endOfQuery, probes, burst, reply, &arrival)) {
        return 0;
    }
    Trace(request, reply, arrival);

    SampleChoice choice(request->referenceCheck, request->referenceHours);
    if (choice.Add(reply, arrival) && SampleCount(request->samples) > 1) {
        RunBurst(request, burst, endOfQuery, probes, choice);
        if (request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
    }
    probes.CloseAll();
    const int size = request->bufferSize < kSntpPacketSize ? request->bufferSize : kSntpPacketSize;
    if (size > 0) std::memcpy(request->buffer, choice.Reply(), static_cast<std::size_t>(size));
    if (request->receiveTime) *request->receiveTime = choice.Arrival();
    *request->statusText = "OK";
    return 1;
}

// Connects to the first of the server's addresses that takes a connection: each
// connect runs without blocking, and the next address is started beside those in
// flight whenever the share of the time-out passes, or at once when one fails. The
// first to connect wins; the rest are closed. The query's time-out covers them all.
ScopedSocket ConnectAny(QueryRequest* request, const addrinfo* next,
                        SteadyClock::time_point start) {
    const SteadyClock::time_point deadline = start + std::chrono::seconds(request->timeout);
    const Milliseconds share = RaceShare(request);
    SteadyClock::time_point nextStart = start;
    Attempt failure{kStageConnect, WSAETIMEDOUT};
    Probes probes(request);
    std::vector<std::size_t> ready;
    bool startedAny = false;
    for (;;) {
        if (request->abandoned) {
            Fail(request, kStageSocket, WSAEINTR);
            return ScopedSocket();
        }
        SteadyClock::time_point now = SteadyClock::now();
        // The first connect starts whatever the time-out; the next ones while it lasts.
        if (next && (probes.Empty() || now >= nextStart) && (now < deadline || !startedAny)) {
            startedAny = true;
            const addrinfo& address = *next;
            next = next->ai_next;
            Probe* probe = probes.Open(address, &failure);
            if (!probe) continue;
            const SOCKET s = probe->socket.Get();
            const int started =
                net::SetNonBlocking(s) == SOCKET_ERROR
                    ? SOCKET_ERROR
                    : net::StartConnect(s, address.ai_addr, static_cast<int>(address.ai_addrlen));
            if (started == 0) return probes.Take(probes.Size() - 1);
            if (started == SOCKET_ERROR) {
                failure = {kStageConnect, net::LastError()};
                probes.Close(probes.Size() - 1);
                continue;
            }
            nextStart = SteadyClock::now() + share;
            continue;
        }
        // A negative time-out is refused as the wait would refuse it, never waited out.
        if (!probes.Empty() && request->timeout < 0) {
            Fail(request, kStageSelect, WSAEINVAL);
            return ScopedSocket();
        }
        if (probes.Empty() || now >= deadline) {
            // A connect still in flight at the time-out has timed out, as Windows says.
            if (!probes.Empty()) failure = {kStageConnect, WSAETIMEDOUT};
            Fail(request, failure.stage, failure.errorCode);
            return ScopedSocket();
        }
        const int found = probes.Wait(
            true, WaitMs(now, next && nextStart < deadline ? nextStart : deadline), &ready);
        if (found == SOCKET_ERROR) {
            Fail(request, kStageSelect, net::LastError());
            return ScopedSocket();
        }
        for (auto it = ready.rbegin(); it != ready.rend(); ++it) {
            const int error = net::ConnectError(probes[*it].socket.Get());
            // A reset is what a connection that was made and then dropped leaves (a
            // refused one says so): connected, and the receive finds the server gone,
            // whether or not the reset came before this look at the socket.
            if (error == 0 || error == WSAECONNRESET) return probes.Take(*it);
            failure = {kStageConnect, error};
            probes.Close(*it);
        }
    }
}

// An SNTP query with NTS: the session kept for the server, or a new key establishment
// with its port 4460 within the time-out, then the exchange with the NTP server that
// the session names. What is left of the session is kept for the next query, unless
// the server refused its cookies.
int ExchangeNts(QueryRequest* request) {
    CNtsClient* client = request->ntsClient;
    const NtsBackend* backend = client ? client->Backend() : nullptr;
    if (!backend) return Fail(request, kStageNtsUnavailable, 0);
    const std::string server(request->server);
    NtsSession session;
    if (!client->Take(server, &session)) {
        session = NtsSession{};
        const AddressList keServers =
            net::ResolveAddresses(request->server, SOCK_STREAM, kNtsKePort);
        if (!keServers) return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), net::LastError());
        const SteadyClock::time_point start = SteadyClock::now();
        ExchangeSocket owner(request);
        owner.Reset(ConnectAny(request, keServers.Get(), start).Detach());
        if (!owner) {
            if (*request->statusText == kStageConnect) *request->statusText = kStageNtsKeConnect;
            return 0;
        }
        const NtsKeOutcome ke = RunNtsKeyExchange(
            *backend, owner.Get(), server,
            start + std::chrono::seconds(request->timeout > 0 ? request->timeout : 0),
            request->abandoned, &session);
        if (ke.stage) return Fail(request, ke.stage, ke.errorCode);
    }
    const AddressList addresses =
        net::ResolveAddresses(session.ntpServer.c_str(), SOCK_DGRAM, session.ntpPort);
    if (!addresses) {
        const int error = net::LastError();
        client->Keep(server, std::move(session));
        return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), error);
    }
    NtsPeer peer{backend, &session};
    const int result = ExchangeSntp(request, addresses.Get(), &peer);
    if (!peer.refused) client->Keep(server, std::move(session));
    return result;
}

}  // namespace

void AbandonExchange(QueryRequest* request) { request->abandoned = true; }

int ExchangeWithServer(QueryRequest* request) {
    if (request->protocol < kProtocolSntp || request->protocol > kProtocolDaytime) {
        return Fail(request, kStageSocket, WSAEPROTONOSUPPORT);
    }
    const ProtocolPort& protocol = kPorts[request->protocol];

    // Winsock's getaddrinfo would give this computer's own addresses for an empty name.
    if (!request->server || !*request->server) {
        return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), WSAHOST_NOT_FOUND);
    }
    if (request->protocol == kProtocolSntp && request->nts) return ExchangeNts(request);
    const AddressList addresses =
        net::ResolveAddresses(request->server, protocol.socketType, protocol.port);
    if (!addresses) return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), net::LastError());

    if (request->protocol == kProtocolSntp) return ExchangeSntp(request, addresses.Get());

    const SteadyClock::time_point start = SteadyClock::now();
    ExchangeSocket owner(request);
    owner.Reset(ConnectAny(request, addresses.Get(), start).Detach());
    if (!owner) return 0;
    const SOCKET s = owner.Get();

    bool readable = false;
    int ready = WaitForReply(request, s, start, &readable);
    if (ready == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
    if (ready == 0 && request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
    if (ready == 0) return Fail(request, kStageTimeOut, net::LastError());
    if (!readable) return Fail(request, kStageSelect, net::LastError());

    if (request->protocol == kProtocolTime) {
        if (!ReceiveWhole(request, s, start)) return 0;
    } else {
        // DAYTIME: one receive of what has arrived; what did not keeps the caller's bytes.
        if (net::Recv(s, request->buffer, request->bufferSize) == SOCKET_ERROR) {
            return Fail(request, kStageRecv, net::LastError());
        }
    }
    owner.Close();
    *request->statusText = "OK";
    return 1;
}

int CountdownSeconds(int timeout, int samples, bool nts) {
    // A quarter second between the samples: four more samples, one more second.
    return (nts ? 2 * timeout : timeout) + (SampleCount(samples) - 1 + 3) / 4;
}

int QueryRequest::CountdownSeconds() const { return ::CountdownSeconds(timeout, samples, nts); }

int SampleCount(int samples) { return samples >= 1 && samples <= 8 ? samples : 1; }
