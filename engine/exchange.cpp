#include "engine/exchange.h"

#include <chrono>
#include <cstring>

#include "app/app_state.h"
#include "framework/strings.h"
#include "logging/event_log.h"

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

struct ProtocolInfo {
    unsigned short port;
    int socketType;
};

const ProtocolInfo kProtocols[] = {
    {123, SOCK_DGRAM},  // SNTP
    {37, SOCK_STREAM},  // TIME
    {13, SOCK_STREAM},  // DAYTIME
};

int Fail(QueryRequest* request, const char* stage, int errorCode) {
    *request->statusText = stage;
    *request->errorCode = errorCode;
    return 0;
}

// Closes the request's socket on every way out of the exchange.
class SocketOwner {
  public:
    explicit SocketOwner(QueryRequest* request) : m_request(request) {}
    ~SocketOwner() { CloseRequestSocket(m_request); }
    SocketOwner(const SocketOwner&) = delete;
    SocketOwner& operator=(const SocketOwner&) = delete;

  private:
    QueryRequest* m_request;
};

// Waits up to the time-out for the reply, in slices short enough that an abandoned
// query stops within one: not every socket layer wakes a wait when the socket is shut
// down from another thread (Wine's does not), and only the worker may close it.
int WaitForReply(QueryRequest* request, SOCKET s, bool* readable) {
    constexpr long long kSliceMs = 100;
    if (request->timeout < 0) return net::WaitReadable(s, -1, readable);  // refused
    const long long totalMs = request->timeout * 1000LL;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        long long elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
        long long remainingMs = totalMs > elapsedMs ? totalMs - elapsedMs : 0;
        long long sliceMs = remainingMs < kSliceMs ? remainingMs : kSliceMs;
        int ready = net::WaitReadable(s, static_cast<int>(sliceMs), readable);
        if (ready != 0 || remainingMs <= kSliceMs || request->abandoned) return ready;
    }
}

}  // namespace

void CloseRequestSocket(QueryRequest* request) {
    if (request->socket != 0) {
        net::CloseSocket(request->socket);
        request->socket = 0;
    }
}

void AbandonExchange(QueryRequest* request) { request->abandoned = true; }

int ExchangeWithServer(QueryRequest* request) {
    if (request->protocol < kProtocolSntp || request->protocol > kProtocolDaytime) {
        return Fail(request, kStageSocket, WSAEPROTONOSUPPORT);
    }
    const ProtocolInfo& protocol = kProtocols[request->protocol];
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

    SOCKET s = net::OpenSocket(protocol.socketType);
    if (s == INVALID_SOCKET) return Fail(request, kStageSocket, net::LastError());
    request->socket = s;
    SocketOwner owner(request);
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

    bool readable = false;
    int ready = WaitForReply(request, s, &readable);
    if (ready == SOCKET_ERROR) return Fail(request, kStageSelect, net::LastError());
    if (ready == 0 && request->abandoned) return Fail(request, kStageSocket, WSAEINTR);
    if (ready == 0) return Fail(request, kStageTimeOut, net::LastError());
    if (!readable) return Fail(request, kStageSelect, net::LastError());

    if (sntp) {
        int got = net::RecvFrom(s, request->buffer, request->bufferSize);
        if (got == SOCKET_ERROR) return Fail(request, kStageRecv, net::LastError());
        if (got != kSntpPacketSize) return Fail(request, kStageRecvPacket, net::LastError());
    } else {
        // One receive only: whatever did not arrive keeps the caller's bytes.
        if (net::Recv(s, request->buffer, request->bufferSize) == SOCKET_ERROR) {
            return Fail(request, kStageRecv, net::LastError());
        }
    }

    // The client's receive time comes first, before anything else takes time.
    if (request->receiveTime) ReadPcClock(request->receiveTime);
    CloseRequestSocket(request);

    if (sntp) {
        unsigned char* reply = request->buffer;
        // The server's reply must echo our transmit time; anything else is stale or foreign.
        if (std::memcmp(reply + kOriginateOffset, sntpRequest + kTransmitOffset, 8) != 0) {
            return Fail(request, kStageIncorrectPacket, 0);
        }
        for (int field : kReplyTimeStampOffsets) {
            WriteReplyTimeStamp(reply + field, NtpToTimeStamp(reply + field));
        }
        if ((traceFlags & kTracePackets) && request->receiveTime) {
            WriteSntpLog(CString(request->server), reply, request->receiveTime);
        }
    }
    *request->statusText = "OK";
    return 1;
}
