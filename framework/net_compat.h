// One socket interface for the exchange over Winsock and over BSD sockets. On
// Windows each call is the Winsock call itself. The native build reproduces what
// Winsock reports where the two differ: error codes are Winsock's numbers, a
// datagram longer than the receive buffer is an error (WSAEMSGSIZE) rather than a
// silent truncation, and the last error is per thread and cleared by a call that
// succeeds.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
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

#include "framework/owner.h"

namespace net {

// WSAGetLastError.
int LastError();

// inet_addr: the address in network byte order, INADDR_NONE when text is not one.
unsigned long InetAddr(const char* text);

// gethostbyname: the first IPv4 address of name; false with LastError set when the
// name does not resolve.
bool ResolveHost(const char* name, in_addr* address);

// socket(AF_INET, type, 0).
SOCKET OpenSocket(int type);
// closesocket.
int CloseSocket(SOCKET s);
// connect to an IPv4 address.
int Connect(SOCKET s, const sockaddr_in& address);
// sendto an IPv4 address.
int SendTo(SOCKET s, const void* data, int length, const sockaddr_in& address);
// select for reading on s alone with a timeout in milliseconds: SOCKET_ERROR
// (WSAEINVAL for a negative timeout), 0 when nothing arrived in time, or 1 with
// *readable telling whether s was marked readable.
int WaitReadable(SOCKET s, int milliseconds, bool* readable);
// recvfrom (sender ignored): the datagram's length; SOCKET_ERROR with WSAEMSGSIZE
// when it is longer than length.
int RecvFrom(SOCKET s, void* buffer, int length);
// recv.
int Recv(SOCKET s, void* buffer, int length);

#ifdef _WIN32
inline int LastError() { return WSAGetLastError(); }
inline unsigned long InetAddr(const char* text) { return inet_addr(text); }
inline bool ResolveHost(const char* name, in_addr* address) {
    hostent* host = gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0]) return false;
    *address = *reinterpret_cast<in_addr*>(host->h_addr_list[0]);
    return true;
}
inline SOCKET OpenSocket(int type) { return socket(AF_INET, type, 0); }
inline int CloseSocket(SOCKET s) { return closesocket(s); }
inline int Connect(SOCKET s, const sockaddr_in& address) {
    return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}
inline int SendTo(SOCKET s, const void* data, int length, const sockaddr_in& address) {
    return sendto(s, static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
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
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    return recvfrom(s, static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&sender),
                    &senderLength);
}
inline int Recv(SOCKET s, void* buffer, int length) {
    return recv(s, static_cast<char*>(buffer), length, 0);
}
#endif

}  // namespace net

struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool IsValid(Handle s) { return s != INVALID_SOCKET; }
    static bool Close(Handle s) { return net::CloseSocket(s) == 0; }
};
using ScopedSocket = Owner<SocketTraits>;
