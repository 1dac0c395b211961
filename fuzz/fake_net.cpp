// The net:: functions of framework/net_compat.h and the receive stamps of
// framework/receive_stamp.h over the fuzz input, and the exchange's clock that the
// waits move on (see fake_net.h).
#include "fuzz/fake_net.h"

#include <arpa/inet.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>

#include "framework/receive_stamp.h"

namespace fakenet {
namespace {

struct Socket {
    int family;
    int type;
    bool open = true;
    bool nonBlocking = false;
    bool connecting = false;    // a connect started and not yet asked about
    bool connectEnded = false;  // the last wait saw that connect end
    bool connected = false;
    bool sent = false;          // a datagram went out
    bool stamps = false;        // receive stamps asked for and given
    bool readable = false;      // the last wait found something to receive
    std::vector<unsigned char> request;  // the datagram sent
    std::uint32_t serverSeconds = 0;     // the server's clock when it was sent
};

// One entry of a resolver's list with the address it points to.
struct Entry {
    addrinfo info{};
    sockaddr_storage address{};
};

// Socket numbers start above 0 (the exchange's "no socket") and are never reused in
// a run, so that a call on a closed socket cannot pass for one on a newer socket.
constexpr SOCKET kFirstSocket = 3;

FuzzedDataProvider* input = nullptr;
ServerClock serverClock = nullptr;
std::atomic<bool>* giveUp = nullptr;
int lastError = 0;
std::vector<Socket> sockets;
std::vector<addrinfo*> lists;  // handed out and not yet freed
Record record;

// The time the waits of every run have lasted beyond the real time they took, which
// steady_clock adds: it only grows, so that the clock never runs back.
std::atomic<long long> skippedNanoseconds{0};
std::chrono::steady_clock::time_point begun;

template <std::size_t N>
int Pick(const int (&codes)[N]) {
    return codes[input->ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

int Succeed(int value) {
    lastError = 0;
    return value;
}

int Fail(int code) {
    lastError = code;
    return SOCKET_ERROR;
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 begun)
        .count();
}

void Pass(long long milliseconds) { skippedNanoseconds += milliseconds * 1000000; }

int OpenCount() {
    return static_cast<int>(
        std::count_if(sockets.begin(), sockets.end(), [](const Socket& s) { return s.open; }));
}

Socket& Use(SOCKET s) {
    FUZZ_CHECK(s >= kFirstSocket && s < kFirstSocket + static_cast<SOCKET>(sockets.size()));
    Socket& socket = sockets[static_cast<std::size_t>(s - kFirstSocket)];
    FUZZ_CHECK(socket.open);
    return socket;
}

// A new wait: what an earlier one found no longer counts.
void ForgetMarks() {
    for (Socket& socket : sockets) {
        socket.readable = false;
        socket.connectEnded = false;
    }
}

// An address given to a connect or a send: one of the resolver's, of the socket's family.
void Reach(const Socket& socket, const sockaddr* address, int length) {
    FUZZ_CHECK(address && address->sa_family == socket.family);
    FUZZ_CHECK(length == static_cast<int>(socket.family == AF_INET ? sizeof(sockaddr_in)
                                                                   : sizeof(sockaddr_in6)));
    record.reached.push_back(address);
}

void Put32(unsigned char* at, std::uint32_t value) {
    value = htonl(value);
    std::memcpy(at, &value, 4);
}

std::uint32_t Get32(const unsigned char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return ntohl(value);
}

// The server's side of an SNTP reply of 48 bytes or more on socket: it echoes the
// transmit bits of the request sent on that socket unless it is a foreign datagram or
// a reply to another of the run's requests, and may stamp its receive, transmit and
// reference times near the time the request left, where the reply's tests decide.
void AnswerSntp(SOCKET s, const Socket& socket, unsigned char* datagram) {
    const std::vector<unsigned char>& request = socket.request;
    if (request.size() < 48) return;
    switch (input->ConsumeIntegralInRange(0, 2)) {
        case 0: std::memcpy(datagram + 24, request.data() + 40, 8); break;
        case 1: return;  // foreign
        default:         // the reply to another request, come on the wrong socket
            for (auto it = record.sent.rbegin(); it != record.sent.rend(); ++it) {
                if (it->socket != s && it->bytes.size() >= 48) {
                    std::memcpy(datagram + 24, it->bytes.data() + 40, 8);
                    break;
                }
            }
            break;
    }
    if (!input->ConsumeBool()) return;
    const std::uint32_t t1 = serverClock ? socket.serverSeconds : Get32(request.data() + 40);
    const std::uint32_t t2 =
        t1 + static_cast<std::uint32_t>(input->ConsumeIntegralInRange(-20, 20));
    Put32(datagram + 32, t2);
    Put32(datagram + 40, t2 + input->ConsumeIntegralInRange(0u, 12u));
    Put32(datagram + 16, t2 - input->ConsumeIntegralInRange(0u, 200000u));
}

// A datagram's receive on a socket that sent its request and was found readable.
int ReceiveDatagram(SOCKET s, void* buffer, int length) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_DGRAM && socket.sent && buffer && length > 0);
    // A datagram socket blocks: a receive that no wait announced could wait for ever.
    FUZZ_CHECK(socket.readable);
    socket.readable = false;
    static const int kLengths[] = {48, 0, 47, 49, 1500};
    const int kind = input->ConsumeIntegralInRange(0, 7);
    if (kind == 6) return Fail(WSAECONNRESET);
    if (kind == 7) return Fail(WSAENETRESET);
    const int size = kind == 5 ? input->ConsumeIntegralInRange(0, 1500) : kLengths[kind];
    std::vector<unsigned char> datagram = input->ConsumeBytes<unsigned char>(size);
    datagram.resize(static_cast<std::size_t>(size));
    if (size >= 48) AnswerSntp(s, socket, datagram.data());
    // Like the kernel: the buffer takes what fits, and a longer datagram is an error.
    const int copied = std::min(size, length);
    if (copied > 0) std::memcpy(buffer, datagram.data(), static_cast<std::size_t>(copied));
    record.received.append(datagram.begin(), datagram.begin() + copied);
    const int result = size > length ? Fail(WSAEMSGSIZE) : Succeed(size);
    Datagram reply;
    reply.socket = s;
    reply.bytes.assign(datagram.begin(), datagram.begin() + copied);
    reply.returned = result;
    reply.atMs = NowMs();
    reply.order = static_cast<int>(record.sent.size() + record.replies.size());
    record.replies.push_back(std::move(reply));
    return result;
}

}  // namespace

void Begin(FuzzedDataProvider* data, ServerClock clock) {
    End();
    static const bool clockRuns = [] {
        // The waits move the exchange's clock on only if this file's steady_clock is
        // the one the program calls; without it every run would wait in real time.
        const auto before = std::chrono::steady_clock::now();
        Pass(1000);
        return std::chrono::steady_clock::now() - before >= std::chrono::seconds(1);
    }();
    FUZZ_CHECK(clockRuns);
    input = data;
    serverClock = clock;
    lastError = 0;
    record = Record();
    begun = std::chrono::steady_clock::now();
}

void WatchAbandon(std::atomic<bool>* abandoned) { giveUp = abandoned; }

void End() {
    for (const Socket& socket : sockets) FUZZ_CHECK(!socket.open);
    FUZZ_CHECK(lists.empty());
    if (input) record.elapsedMs = NowMs();
    sockets.clear();
    input = nullptr;
    serverClock = nullptr;
    giveUp = nullptr;
}

const Record& Current() { return record; }

bool EchoesOwnRequest(const Record& run, const Datagram& reply) {
    if (reply.returned != 48 || reply.bytes.size() != 48) return false;
    for (const Datagram& request : run.sent) {
        if (request.socket == reply.socket) {
            return request.bytes.size() >= 48 &&
                   std::memcmp(reply.bytes.data() + 24, request.bytes.data() + 40, 8) == 0;
        }
    }
    return false;
}

}  // namespace fakenet

// The exchange's clock: the monotonic clock, as the library reads it, run on by the
// time the fake waits have lasted. Only this file's waits move it on, and only
// forward; libFuzzer times itself with system_clock and is unaffected.
std::chrono::steady_clock::time_point std::chrono::steady_clock::now() noexcept {
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    const long long nanoseconds = static_cast<long long>(at.tv_sec) * 1000000000LL + at.tv_nsec +
                                  fakenet::skippedNanoseconds.load();
    return time_point(std::chrono::duration_cast<duration>(std::chrono::nanoseconds(nanoseconds)));
}

namespace net {
using namespace fakenet;

int LastError() { return lastError; }

AddressList ResolveAddresses(const char* name, int socketType, unsigned short port) {
    FUZZ_CHECK(input && name && *name);
    FUZZ_CHECK(socketType == SOCK_DGRAM || socketType == SOCK_STREAM);
    const int count = input->ConsumeIntegralInRange(0, 12);  // 1 to 8 addresses, or none
    static const int kResolverCodes[] = {WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY,
                                         WSANO_DATA, WSAENOBUFS};
    if (count >= 8) {
        Fail(kResolverCodes[count - 8]);
        return AddressList();
    }
    record.listed.clear();
    record.listedFamilies.clear();
    addrinfo* head = nullptr;
    addrinfo** tail = &head;
    for (int i = 0; i <= count; ++i) {
        Entry* entry = new Entry;
        const bool v6 = input->ConsumeBool();
        entry->info.ai_family = v6 ? AF_INET6 : AF_INET;
        entry->info.ai_socktype = socketType;
        entry->info.ai_protocol = socketType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
        entry->info.ai_addr = reinterpret_cast<sockaddr*>(&entry->address);
        if (v6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&entry->address);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(port);
            in6->sin6_flowinfo = input->ConsumeIntegral<std::uint32_t>();
            in6->sin6_scope_id = input->ConsumeIntegral<std::uint32_t>();
            const auto bytes = input->ConsumeBytes<unsigned char>(16);
            std::copy(bytes.begin(), bytes.end(), in6->sin6_addr.s6_addr);
            entry->info.ai_addrlen = sizeof(sockaddr_in6);
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&entry->address);
            in4->sin_family = AF_INET;
            in4->sin_port = htons(port);
            in4->sin_addr.s_addr = input->ConsumeIntegral<std::uint32_t>();
            entry->info.ai_addrlen = sizeof(sockaddr_in);
        }
        record.listed.push_back(entry->info.ai_addr);
        record.listedFamilies.push_back(entry->info.ai_family);
        *tail = &entry->info;
        tail = &entry->info.ai_next;
    }
    lists.push_back(head);
    Succeed(0);
    return AddressList(head);
}

void FreeAddresses(addrinfo* list) {
    auto found = std::find(lists.begin(), lists.end(), list);
    FUZZ_CHECK(found != lists.end());
    lists.erase(found);
    while (list) {
        addrinfo* next = list->ai_next;
        // Entry is standard layout with info first.
        delete reinterpret_cast<Entry*>(list);
        list = next;
    }
}

SOCKET OpenSocket(int family, int type) {
    FUZZ_CHECK(input && (family == AF_INET || family == AF_INET6));
    FUZZ_CHECK(type == SOCK_DGRAM || type == SOCK_STREAM);
    record.families.push_back(family);
    static const int kCodes[] = {WSAEAFNOSUPPORT, WSAEMFILE, WSAENOBUFS, WSAEACCES};
    if (input->ConsumeIntegralInRange(0, 4) != 0) return Fail(Pick(kCodes));
    Socket socket;
    socket.family = family;
    socket.type = type;
    sockets.push_back(socket);
    // One wait takes at most kMostWaited sockets, and the exchange waits on all it holds.
    record.mostOpen = std::max(record.mostOpen, OpenCount());
    FUZZ_CHECK(record.mostOpen <= kMostWaited);
    return Succeed(kFirstSocket + static_cast<SOCKET>(sockets.size()) - 1);
}

int CloseSocket(SOCKET s) {
    Use(s).open = false;
    return Succeed(0);
}

int Connect(SOCKET s, const sockaddr* address, int addressLength) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && !socket.connected && !socket.connecting);
    Reach(socket, address, addressLength);
    static const int kCodes[] = {WSAECONNREFUSED, WSAENETUNREACH,   WSAETIMEDOUT,
                                 WSAEHOSTUNREACH, WSAEADDRNOTAVAIL, WSAECONNRESET};
    if (input->ConsumeIntegralInRange(0, 2) != 0) return Fail(Pick(kCodes));
    socket.connected = true;
    return Succeed(0);
}

int BindAny(SOCKET s, int family) {
    Socket& socket = Use(s);
    FUZZ_CHECK(family == socket.family);
    // A refused bind leaves the socket to the send to bind, which the exchange allows.
    if (input->ConsumeIntegralInRange(0, 15) == 15) return Fail(WSAEADDRINUSE);
    return Succeed(0);
}

int SetNonBlocking(SOCKET s) {
    Socket& socket = Use(s);
    if (input->ConsumeIntegralInRange(0, 15) == 15) return Fail(WSAENETDOWN);
    socket.nonBlocking = true;
    return Succeed(0);
}

int StartConnect(SOCKET s, const sockaddr* address, int addressLength) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && !socket.connected && !socket.connecting);
    // On a blocking socket the connect would hold the exchange for the system's time-out.
    FUZZ_CHECK(socket.nonBlocking);
    Reach(socket, address, addressLength);
    static const int kCodes[] = {WSAENETUNREACH, WSAEHOSTUNREACH, WSAEADDRNOTAVAIL,
                                 WSAEACCES,      WSAENOBUFS,      WSAEAFNOSUPPORT};
    switch (input->ConsumeIntegralInRange(0, 2)) {
        case 0: socket.connected = true; return Succeed(0);
        case 1: socket.connecting = true; return Succeed(1);
        default: return Fail(Pick(kCodes));
    }
}

int ConnectError(SOCKET s) {
    Socket& socket = Use(s);
    // Before its end a connect reports no error, which would pass for connected.
    FUZZ_CHECK(socket.connecting && socket.connectEnded);
    socket.connecting = false;
    socket.connectEnded = false;
    static const int kCodes[] = {WSAECONNREFUSED, WSAETIMEDOUT, WSAEHOSTUNREACH,
                                 WSAENETUNREACH,  WSAECONNRESET};
    if (input->ConsumeIntegralInRange(0, 2) != 0) {
        const int code = Pick(kCodes);
        // A reset comes only to a connection that was made.
        socket.connected = code == WSAECONNRESET;
        return code;
    }
    socket.connected = true;
    return 0;
}

int SendTo(SOCKET s, const void* data, int length, const sockaddr* address, int addressLength) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_DGRAM && length >= 0);
    // Each request on a socket of its own, so that a reply tells which it answers.
    FUZZ_CHECK(!socket.sent && socket.request.empty());
    Reach(socket, address, addressLength);
    const auto* bytes = static_cast<const unsigned char*>(data);
    socket.request.assign(bytes, bytes + length);
    if (serverClock) socket.serverSeconds = serverClock();
    static const int kCodes[] = {WSAENETUNREACH, WSAEHOSTUNREACH, WSAEACCES, WSAENOBUFS};
    int result = 0;
    switch (input->ConsumeIntegralInRange(0, 3)) {
        case 0: socket.sent = true; result = Succeed(length); break;
        case 1: result = Succeed(input->ConsumeIntegralInRange(0, std::max(length - 1, 0))); break;
        default: result = Fail(Pick(kCodes)); break;
    }
    Datagram request;
    request.socket = s;
    request.address = address;
    request.bytes = socket.request;
    request.returned = result;
    request.atMs = NowMs();
    request.order = static_cast<int>(record.sent.size() + record.replies.size());
    record.sent.push_back(std::move(request));
    return result;
}

int WaitReadable(SOCKET s, int milliseconds, bool* readable) {
    *readable = false;
    ForgetMarks();
    Socket& socket = Use(s);
    if (milliseconds < 0) return Fail(WSAEINVAL);
    // The exchange waits in slices, so that a query given up ends within one.
    FUZZ_CHECK(milliseconds <= 100);
    static const int kCodes[] = {WSAEINTR, WSAENOTSOCK, WSAEINVAL, WSAENETDOWN};
    switch (input->ConsumeIntegralInRange(0, 4)) {
        case 0:
            Pass(input->ConsumeIntegralInRange(0, milliseconds));
            *readable = socket.readable = true;
            return Succeed(1);
        case 1: Pass(milliseconds); return Succeed(0);
        case 2:  // nothing came, and the countdown ended: the user gave up
            Pass(milliseconds);
            if (giveUp) *giveUp = true;
            return Succeed(0);
        case 3: return Succeed(1);  // marked, but not this socket
        default: return Fail(Pick(kCodes));
    }
}

int WaitSockets(const SOCKET* waited, const bool* forConnect, int count, int milliseconds,
                bool* ready) {
    ForgetMarks();
    if (milliseconds < 0 || count < 0 || count > kMostWaited) return Fail(WSAEINVAL);
    FUZZ_CHECK(milliseconds <= 100);
    for (int i = 0; i < count; ++i) {
        ready[i] = false;
        const Socket& socket = Use(waited[i]);
        for (int j = 0; j < i; ++j) FUZZ_CHECK(waited[j] != waited[i]);
        if (forConnect[i]) {
            FUZZ_CHECK(socket.type == SOCK_STREAM && socket.connecting);
        } else {
            // Only a request that left, or a connection made, can have something to read.
            FUZZ_CHECK(socket.type == SOCK_DGRAM ? socket.sent : socket.connected);
        }
    }
    static const int kCodes[] = {WSAEINTR, WSAENOTSOCK, WSAEINVAL, WSAENETDOWN};
    switch (input->ConsumeIntegralInRange(0, 3)) {
        case 0: {  // those the input marks are ready, after part of the wait
            int found = 0;
            for (int i = 0; i < count; ++i) {
                if (input->ConsumeBool()) continue;
                Socket& socket = sockets[static_cast<std::size_t>(waited[i] - kFirstSocket)];
                (forConnect[i] ? socket.connectEnded : socket.readable) = true;
                ready[i] = true;
                ++found;
            }
            Pass(found > 0 ? input->ConsumeIntegralInRange(0, milliseconds) : milliseconds);
            return Succeed(found);
        }
        case 1: Pass(milliseconds); return Succeed(0);
        case 2:  // nothing came, and the countdown ended: the user gave up
            Pass(milliseconds);
            if (giveUp) *giveUp = true;
            return Succeed(0);
        default: return Fail(Pick(kCodes));
    }
}

int RecvFrom(SOCKET s, void* buffer, int length) { return ReceiveDatagram(s, buffer, length); }

int Recv(SOCKET s, void* buffer, int length) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && socket.connected && buffer && length > 0);
    FUZZ_CHECK(socket.readable);
    socket.readable = false;
    // The connection that won is the only one left: the others' connects were closed.
    FUZZ_CHECK(OpenCount() == 1);
    static const int kCodes[] = {WSAECONNRESET, WSAECONNABORTED, WSAETIMEDOUT};
    int size = 0;
    switch (input->ConsumeIntegralInRange(0, 3)) {
        case 0: return Succeed(0);  // the server closed
        case 1: size = input->ConsumeIntegralInRange(1, length); break;
        case 2: size = length; break;
        default: return Fail(Pick(kCodes));
    }
    const auto piece = input->ConsumeBytes<char>(static_cast<std::size_t>(size));
    if (!piece.empty()) std::memcpy(buffer, piece.data(), piece.size());
    record.received.append(piece.begin(), piece.end());
    return Succeed(static_cast<int>(piece.size()));
}

int Send(SOCKET s, const void* data, int length) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && socket.connected && data && length > 0);
    return Succeed(length);
}

}  // namespace net

bool RequestReceiveStamps(SOCKET s) {
    using namespace fakenet;
    Socket& socket = Use(s);
    // Stamps asked for later would miss the reply that came first.
    FUZZ_CHECK(socket.type == SOCK_DGRAM && !socket.sent && socket.request.empty());
    socket.stamps = input->ConsumeBool();
    return socket.stamps;
}

int RecvFromStamped(SOCKET s, void* buffer, int length, long long* ageMicroseconds) {
    using namespace fakenet;
    *ageMicroseconds = -1;
    const int got = ReceiveDatagram(s, buffer, length);
    if (got == SOCKET_ERROR || !sockets[static_cast<std::size_t>(s - kFirstSocket)].stamps) {
        return got;
    }
    switch (input->ConsumeIntegralInRange(0, 2)) {
        case 0: break;  // this one came in unstamped
        case 1: *ageMicroseconds = input->ConsumeIntegralInRange(0LL, kMaxReceiveAgeMicroseconds);
            break;
        default:
            // Beyond what the system's stamps give (a clock that stepped, a broken
            // driver): the exchange must survive any age, not trust it blindly.
            *ageMicroseconds = input->ConsumeIntegral<long long>();
            break;
    }
    return got;
}
