// The net:: functions of framework/net_compat.h over the fuzz input (see fake_net.h).
#include "fuzz/fake_net.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace fakenet {
namespace {

struct Socket {
    int family;
    int type;
    bool open;
    bool connected;
    bool sent;
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
std::atomic<bool>* giveUp = nullptr;
int lastError = 0;
std::vector<Socket> sockets;
std::vector<addrinfo*> lists;  // handed out and not yet freed
Record record;

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

Socket& Use(SOCKET s) {
    FUZZ_CHECK(s >= kFirstSocket && s < kFirstSocket + static_cast<SOCKET>(sockets.size()));
    Socket& socket = sockets[static_cast<std::size_t>(s - kFirstSocket)];
    FUZZ_CHECK(socket.open);
    return socket;
}

// An address given to Connect or SendTo: one of the resolver's, of the socket's family.
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

// The server's side of an SNTP reply of 48 bytes or more: it echoes our transmit
// time unless it is a stale or foreign datagram, and may stamp its receive, transmit
// and reference times near that time, where the reply's tests decide.
void AnswerSntp(unsigned char* datagram) {
    const unsigned char* request = record.sent.data();
    if (record.sent.size() < 48 || input->ConsumeBool()) return;
    std::memcpy(datagram + 24, request + 40, 8);
    if (!input->ConsumeBool()) return;
    const std::uint32_t t1 = Get32(request + 40);
    const std::uint32_t t2 =
        t1 + static_cast<std::uint32_t>(input->ConsumeIntegralInRange(-20, 20));
    Put32(datagram + 32, t2);
    Put32(datagram + 40, t2 + input->ConsumeIntegralInRange(0u, 12u));
    Put32(datagram + 16, t2 - input->ConsumeIntegralInRange(0u, 200000u));
}

}  // namespace

void Begin(FuzzedDataProvider* data) {
    End();
    input = data;
    lastError = 0;
    record = Record();
}

void WatchAbandon(std::atomic<bool>* abandoned) { giveUp = abandoned; }

void End() {
    for (const Socket& socket : sockets) FUZZ_CHECK(!socket.open);
    FUZZ_CHECK(lists.empty());
    sockets.clear();
    input = nullptr;
    giveUp = nullptr;
}

const Record& Current() { return record; }

}  // namespace fakenet

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
    sockets.push_back(Socket{family, type, true, false, false});
    return Succeed(kFirstSocket + static_cast<SOCKET>(sockets.size()) - 1);
}

int CloseSocket(SOCKET s) {
    Use(s).open = false;
    return Succeed(0);
}

int Connect(SOCKET s, const sockaddr* address, int addressLength) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && !socket.connected);
    Reach(socket, address, addressLength);
    static const int kCodes[] = {WSAECONNREFUSED, WSAENETUNREACH,   WSAETIMEDOUT,
                                 WSAEHOSTUNREACH, WSAEADDRNOTAVAIL, WSAECONNRESET};
    if (input->ConsumeIntegralInRange(0, 2) != 0) return Fail(Pick(kCodes));
    socket.connected = true;
    return Succeed(0);
}

int SendTo(SOCKET s, const void* data, int length, const sockaddr* address, int addressLength) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_DGRAM && length >= 0);
    Reach(socket, address, addressLength);
    const auto* bytes = static_cast<const unsigned char*>(data);
    record.sent.assign(bytes, bytes + length);
    static const int kCodes[] = {WSAENETUNREACH, WSAEHOSTUNREACH, WSAEACCES, WSAENOBUFS};
    switch (input->ConsumeIntegralInRange(0, 3)) {
        case 0: socket.sent = true; return Succeed(length);
        case 1: return Succeed(input->ConsumeIntegralInRange(0, std::max(length - 1, 0)));
        default: return Fail(Pick(kCodes));
    }
}

int WaitReadable(SOCKET s, int milliseconds, bool* readable) {
    *readable = false;
    Use(s);
    if (milliseconds < 0) return Fail(WSAEINVAL);
    // The exchange waits in slices, so that a query given up ends within one.
    FUZZ_CHECK(milliseconds <= 100);
    static const int kCodes[] = {WSAEINTR, WSAENOTSOCK, WSAEINVAL, WSAENETDOWN};
    switch (input->ConsumeIntegralInRange(0, 4)) {
        case 0: *readable = true; return Succeed(1);
        case 1: return Succeed(0);
        case 2:  // nothing came, and the countdown ended: the user gave up
            if (giveUp) *giveUp = true;
            return Succeed(0);
        case 3: return Succeed(1);  // marked, but not this socket
        default: return Fail(Pick(kCodes));
    }
}

int RecvFrom(SOCKET s, void* buffer, int length) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_DGRAM && socket.sent && buffer && length > 0);
    static const int kLengths[] = {48, 0, 47, 49, 1500};
    const int kind = input->ConsumeIntegralInRange(0, 7);
    if (kind == 6) return Fail(WSAECONNRESET);
    if (kind == 7) return Fail(WSAENETRESET);
    const int size = kind == 5 ? input->ConsumeIntegralInRange(0, 1500) : kLengths[kind];
    std::vector<unsigned char> datagram = input->ConsumeBytes<unsigned char>(size);
    datagram.resize(static_cast<std::size_t>(size));
    if (size >= 48) AnswerSntp(datagram.data());
    // Like the kernel: the buffer takes what fits, and a longer datagram is an error.
    const int copied = std::min(size, length);
    if (copied > 0) std::memcpy(buffer, datagram.data(), static_cast<std::size_t>(copied));
    record.received.append(datagram.begin(), datagram.begin() + copied);
    return size > length ? Fail(WSAEMSGSIZE) : Succeed(size);
}

int Recv(SOCKET s, void* buffer, int length) {
    Socket& socket = Use(s);
    FUZZ_CHECK(socket.type == SOCK_STREAM && socket.connected && buffer && length > 0);
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

}  // namespace net
