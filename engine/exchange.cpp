#include "engine/exchange.h"

#include <chrono>
#include <cstring>

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

// The stage at which one address failed, and its code; no stage when it was reached.
struct Attempt {
    const char* stage;
    int errorCode;
};

// Opens a socket for one of the server's addresses and connects it (TIME, DAYTIME) or
// sends it the SNTP request, stamped just before it leaves. The request's status is
// left alone: a failure counts only if no other address is reached.
Attempt Reach(ExchangeSocket& owner, const addrinfo& address, unsigned char* sntpRequest) {
    owner.Reset(net::OpenSocket(address.ai_family, address.ai_socktype));
    if (!owner) return {kStageSocket, net::LastError()};
    const int length = static_cast<int>(address.ai_addrlen);
    if (address.ai_socktype == SOCK_STREAM) {
        if (net::Connect(owner.Get(), address.ai_addr, length) == SOCKET_ERROR) {
            return {kStageConnect, net::LastError()};
        }
        return {nullptr, 0};
    }
    BuildSntpRequest(sntpRequest);
    int sent = net::SendTo(owner.Get(), sntpRequest, kSntpPacketSize, address.ai_addr, length);
    if (sent == SOCKET_ERROR) return {kStageSend, net::LastError()};
    if (sent != kSntpPacketSize) return {kStageSendPacket, net::LastError()};
    return {nullptr, 0};
}

bool TimeOutPassed(const QueryRequest* request, SteadyClock::time_point start) {
    return SteadyClock::now() - start >= std::chrono::seconds(request->timeout);
}

}  // namespace

void AbandonExchange(QueryRequest* request) { request->abandoned = true; }

int ExchangeWithServer(QueryRequest* request) {
    if (request->protocol < kProtocolSntp || request->protocol > kProtocolDaytime) {
        return Fail(request, kStageSocket, WSAEPROTONOSUPPORT);
    }
    const ProtocolPort& protocol = kPorts[request->protocol];
    const bool sntp = request->protocol == kProtocolSntp;

    // Winsock's getaddrinfo would give this computer's own addresses for an empty name.
    if (!request->server || !*request->server) {
        return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), WSAHOST_NOT_FOUND);
    }
    const AddressList addresses =
        net::ResolveAddresses(request->server, protocol.socketType, protocol.port);
    if (!addresses) return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), net::LastError());

    // The addresses in the resolver's order, until one connects or takes the SNTP
    // request. A silent SNTP server is no reason to move on: its address did take the
    // request, and a reply may yet come. One time-out covers the attempts and the
    // reply; when none is left, the last address's failure is the query's.
    const SteadyClock::time_point start = SteadyClock::now();
    ExchangeSocket owner(request);
    unsigned char sntpRequest[kSntpPacketSize];
    for (const addrinfo* address = addresses.Get();;) {
        if (request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
        const Attempt attempt = Reach(owner, *address, sntpRequest);
        if (!attempt.stage) break;
        address = address->ai_next;
        if (!address || TimeOutPassed(request, start)) {
            return Fail(request, attempt.stage, attempt.errorCode);
        }
    }
    const SOCKET s = owner.Get();

    bool readable = false;
    int ready = WaitForReply(request, s, start, &readable);
    if (ready == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
    if (ready == 0 && request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
    if (ready == 0) return Fail(request, kStageTimeOut, net::LastError());
    if (!readable) return Fail(request, kStageSelect, net::LastError());

    if (sntp) {
        int got = net::RecvFrom(s, request->buffer, request->bufferSize);
        if (got == SOCKET_ERROR) return Fail(request, kStageRecv, net::LastError());
        if (got != kSntpPacketSize) return Fail(request, kStageRecvPacket, net::LastError());
    } else if (request->protocol == kProtocolTime) {
        if (!ReceiveWhole(request, s, start)) return 0;
    } else {
        // DAYTIME: one receive of what has arrived; what did not keeps the caller's bytes.
        if (net::Recv(s, request->buffer, request->bufferSize) == SOCKET_ERROR) {
            return Fail(request, kStageRecv, net::LastError());
        }
    }

    // The client's receive time comes first, before anything else takes time.
    if (request->receiveTime) ReadPcClock(request->receiveTime);
    owner.Close();

    if (sntp) {
        unsigned char* reply = request->buffer;
        // The server's reply must echo our transmit time; anything else is stale or foreign.
        if (std::memcmp(reply + kOriginateOffset, sntpRequest + kTransmitOffset, 8) != 0) {
            return Fail(request, kStageIncorrectPacket, 0);
        }
        for (int field : kReplyTimeStampOffsets) {
            WriteReplyTimeStamp(reply + field, NtpToTimeStamp(reply + field));
        }
        // A trace that cannot be written never fails the query; the user is told
        // on the user-interface thread once the query has ended.
        if (request->trace.write && request->receiveTime &&
            request->trace.write(request->trace.path, CString(request->server), reply,
                                 *request->receiveTime) < 0) {
            request->traceNotOpened = true;
        }
    }
    *request->statusText = "OK";
    return 1;
}
