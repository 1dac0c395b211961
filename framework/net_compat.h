// One socket interface for the exchange over Winsock and over BSD sockets. On
// Windows each call is the Winsock call itself. The native build reproduces what
// Winsock reports where the two differ: error codes are Winsock's numbers, a
// datagram longer than the receive buffer is an error (WSAEMSGSIZE) rather than a
// silent truncation, and the last error is per thread and cleared by a call that
// succeeds.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

typedef int SOCKET;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Winsock's error numbers, reported by the native build as well.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
#endif

#include <string>

#include "framework/owner.h"

namespace net {

// WSAGetLastError.
int LastError();

// freeaddrinfo.
void FreeAddresses(addrinfo* list);
// closesocket.
int CloseSocket(SOCKET s);

}  // namespace net

struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool IsValid(Handle s) { return s != INVALID_SOCKET; }
    static bool Close(Handle s) { return net::CloseSocket(s) == 0; }
};
using ScopedSocket = Owner<SocketTraits>;

// The addresses that getaddrinfo found, as one list freed with freeaddrinfo.
struct AddressListTraits {
    using Handle = addrinfo*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle list) { return list != nullptr; }
    static bool Close(Handle list) {
        net::FreeAddresses(list);
        return true;
    }
};
using AddressList = Owner<AddressListTraits>;

namespace net {

// getaddrinfo for every address of name, IPv4 and IPv6 alike, for one socket type
// and port, in the order the resolver prefers them. An empty list when the name does
// not resolve, with LastError set to one of Winsock's resolver codes (WSAHOST_NOT_FOUND
// to WSANO_DATA) or WSAENOBUFS.
AddressList ResolveAddresses(const char* name, int socketType, unsigned short port);

// socket(family, type, 0). An IPv6 socket is IPv6 only, as Winsock makes it: an
// IPv4-mapped address is unreachable from it.
SOCKET OpenSocket(int family, int type);
// connect.
int Connect(SOCKET s, const sockaddr* address, int addressLength);
// sendto.
int SendTo(SOCKET s, const void* data, int length, const sockaddr* address, int addressLength);
// select for reading on s alone with a timeout in milliseconds: SOCKET_ERROR
// (WSAEINVAL for a negative timeout), 0 when nothing arrived in time, or 1 with
// *readable telling whether s was marked readable.
int WaitReadable(SOCKET s, int milliseconds, bool* readable);
// recvfrom (sender ignored): the datagram's length; SOCKET_ERROR with WSAEMSGSIZE
// when it is longer than length, or with WSAECONNRESET when an earlier datagram of s
// came back as "port unreachable" (the native build asks for those errors, which
// Winsock reports by itself, when it opens a datagram socket).
int RecvFrom(SOCKET s, void* buffer, int length);

// Binds s to the wildcard address of family (AF_INET or AF_INET6) and a port of the
// system's choice, as a first send would.
int BindAny(SOCKET s, int family);

// Makes s non-blocking, so that a connect returns at once.
int SetNonBlocking(SOCKET s);
// connect on a non-blocking socket: 0 when it connected at once, 1 while it goes on,
// SOCKET_ERROR when it failed at once.
int StartConnect(SOCKET s, const sockaddr* address, int addressLength);
// The error that a connect started by StartConnect ended with; 0 when it connected.
int ConnectError(SOCKET s);
// One wait over up to kMostWaited sockets, each for reading (forConnect false) or for
// the end of its connect (true: connected or failed). SOCKET_ERROR (WSAEINVAL for a
// negative wait or too many sockets), 0 when none was ready in time, or the number
// ready, with ready[i] set for each.
constexpr int kMostWaited = 16;
int WaitSockets(const SOCKET* sockets, const bool* forConnect, int count, int milliseconds,
                bool* ready);
// recv.
int Recv(SOCKET s, void* buffer, int length);
// send: the bytes taken, which on a non-blocking socket may be fewer than length;
// SOCKET_ERROR with WSAEWOULDBLOCK when none could be taken yet.
int Send(SOCKET s, const void* data, int length);

#ifdef _WIN32
inline int LastError() { return WSAGetLastError(); }
inline void FreeAddresses(addrinfo* list) { freeaddrinfo(list); }
inline AddressList ResolveAddresses(const char* name, int socketType, unsigned short port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    addrinfo* found = nullptr;
    // getaddrinfo returns its code; the last error is set here so that both builds agree.
    int error = getaddrinfo(name, std::to_string(port).c_str(), &hints, &found);
    if (error == 0 && !found) error = WSAHOST_NOT_FOUND;
    WSASetLastError(error);
    return AddressList(error == 0 ? found : nullptr);
}
inline SOCKET OpenSocket(int family, int type) { return socket(family, type, 0); }
inline int CloseSocket(SOCKET s) { return closesocket(s); }
inline int Connect(SOCKET s, const sockaddr* address, int addressLength) {
    return connect(s, address, addressLength);
}
inline int SendTo(SOCKET s, const void* data, int length, const sockaddr* address,
                  int addressLength) {
    return sendto(s, static_cast<const char*>(data), length, 0, address, addressLength);
}
inline int WaitReadable(SOCKET s, int milliseconds, bool* readable) {
    *readable = false;
    // A negative wait is refused as BSD select refuses it, rather than left to chance.
    if (milliseconds < 0) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    int count = select(0, &readSet, nullptr, nullptr, &limit);
    *readable = count > 0 && FD_ISSET(s, &readSet);
    return count;
}
inline int RecvFrom(SOCKET s, void* buffer, int length) {
    // Room for an IPv6 sender: a smaller buffer makes Winsock fail the receive.
    sockaddr_storage sender{};
    int senderLength = sizeof sender;
    return recvfrom(s, static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&sender),
                    &senderLength);
}
inline int Recv(SOCKET s, void* buffer, int length) {
    return recv(s, static_cast<char*>(buffer), length, 0);
}
inline int Send(SOCKET s, const void* data, int length) {
    return send(s, static_cast<const char*>(data), length, 0);
}
inline int BindAny(SOCKET s, int family) {
    sockaddr_storage any{};
    any.ss_family = static_cast<decltype(any.ss_family)>(family);
    const int length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return bind(s, reinterpret_cast<const sockaddr*>(&any), length);
}
inline int SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on);
}
inline int StartConnect(SOCKET s, const sockaddr* address, int addressLength) {
    if (connect(s, address, addressLength) == 0) return 0;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 1 : SOCKET_ERROR;
}
inline int ConnectError(SOCKET s) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return WSAGetLastError();
    }
    return error;
}
inline int WaitSockets(const SOCKET* sockets, const bool* forConnect, int count, int milliseconds,
                       bool* ready) {
    if (milliseconds < 0 || count < 0 || count > kMostWaited) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    fd_set readSet, writeSet, failSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&failSet);
    for (int i = 0; i < count; ++i) {
        ready[i] = false;
        // A connect that fails shows in the exception set, not the write set.
        if (forConnect[i]) {
            FD_SET(sockets[i], &writeSet);
            FD_SET(sockets[i], &failSet);
        } else {
            FD_SET(sockets[i], &readSet);
        }
    }
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    // Winsock refuses a select over no socket at all: an empty wait is a plain sleep.
    if (count == 0) {
        Sleep(static_cast<DWORD>(milliseconds));
        return 0;
    }
    const int found = select(0, &readSet, &writeSet, &failSet, &limit);
    if (found <= 0) return found;
    int readyCount = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = forConnect[i]
                       ? FD_ISSET(sockets[i], &writeSet) || FD_ISSET(sockets[i], &failSet)
                       : FD_ISSET(sockets[i], &readSet) != 0;
        if (ready[i]) ++readyCount;
    }
    return readyCount;
}
#endif

}  // namespace net
