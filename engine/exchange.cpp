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
    ExchangeSocket(QueryRequest* request, SOCKET s) : m_request(request), m_socket(s) {
        if (m_socket) m_request->socket = s;
    }
    ~ExchangeSocket() { Close(); }
    ExchangeSocket(const ExchangeSocket&) = delete;
    ExchangeSocket& operator=(const ExchangeSocket&) = delete;

    SOCKET Get() const { return m_socket.Get(); }
    explicit operator bool() const { return m_socket.IsValid(); }
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

}  // namespace

void AbandonExchange(QueryRequest* request) { request->abandoned = true; }

int ExchangeWithServer(QueryRequest* request) {
    if (request->protocol < kProtocolSntp || request->protocol > kProtocolDaytime) {
        return Fail(request, kStageSocket, WSAEPROTONOSUPPORT);
    }
    const ProtocolPort& protocol = kPorts[request->protocol];
    const bool sntp = request->protocol == kProtocolSntp;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(protocol.port);
    unsigned long dotted = net::InetAddr(request->server);
    if (dotted != INADDR_NONE) {
        address.sin_addr.s_addr = static_cast<decltype(address.sin_addr.s_addr)>(dotted);
    } else if (!net::ResolveHost(request->server, &address.sin_addr)) {
        return Fail(request, LoadAppString(IDS_HOST_NOT_FOUND), net::LastError());
    }

    ExchangeSocket owner(request, net::OpenSocket(protocol.socketType));
    if (!owner) return Fail(request, kStageSocket, net::LastError());
    const SOCKET s = owner.Get();
    if (request->abandoned) return Fail(request, kStageSocket, WSAEINTR);

    if (!sntp && net::Connect(s, address) == SOCKET_ERROR) {
        return Fail(request, kStageConnect, net::LastError());
    }

    unsigned char sntpRequest[kSntpPacketSize];
    if (sntp) {
        BuildSntpRequest(sntpRequest);
        int sent = net::SendTo(s, sntpRequest, kSntpPacketSize, address);
        if (sent == SOCKET_ERROR) return Fail(request, kStageSend, net::LastError());
        if (sent != kSntpPacketSize) return Fail(request, kStageSendPacket, net::LastError());
    }

    const SteadyClock::time_point waitStart = SteadyClock::now();
    bool readable = false;
    int ready = WaitForReply(request, s, waitStart, &readable);
    if (ready == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
    if (ready == 0 && request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
    if (ready == 0) return Fail(request, kStageTimeOut, net::LastError());
    if (!readable) return Fail(request, kStageSelect, net::LastError());

    if (sntp) {
        int got = net::RecvFrom(s, request->buffer, request->bufferSize);
        if (got == SOCKET_ERROR) return Fail(request, kStageRecv, net::LastError());
        if (got != kSntpPacketSize) return Fail(request, kStageRecvPacket, net::LastError());
    } else if (request->protocol == kProtocolTime) {
        if (!ReceiveWhole(request, s, waitStart)) return 0;
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
