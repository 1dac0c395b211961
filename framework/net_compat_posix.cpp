// BSD sockets behind the Winsock-shaped interface of net_compat.h.
#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "framework/net_compat.h"

namespace net {
namespace {

thread_local int lastError = 0;

int WinsockCode(int error) {
    switch (error) {
        case 0: return 0;
        case EINTR: return WSAEINTR;
        case EBADF: return WSAEBADF;
        case EACCES:
        case EPERM: return WSAEACCES;
        case EFAULT: return WSAEFAULT;
        case EINVAL: return WSAEINVAL;
        case EMFILE:
        case ENFILE: return WSAEMFILE;
        case EWOULDBLOCK: return WSAEWOULDBLOCK;
        case EINPROGRESS: return WSAEINPROGRESS;
        case EALREADY: return WSAEALREADY;
        case ENOTSOCK: return WSAENOTSOCK;
        case EDESTADDRREQ: return WSAEDESTADDRREQ;
        case EMSGSIZE: return WSAEMSGSIZE;
        case EPROTOTYPE: return WSAEPROTOTYPE;
        case ENOPROTOOPT: return WSAENOPROTOOPT;
        case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP: return WSAEOPNOTSUPP;
        case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
        case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
        case EADDRINUSE: return WSAEADDRINUSE;
        case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
        case ENETDOWN: return WSAENETDOWN;
        case ENETUNREACH: return WSAENETUNREACH;
        case ENETRESET: return WSAENETRESET;
        case ECONNABORTED: return WSAECONNABORTED;
        case ECONNRESET: return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM: return WSAENOBUFS;
        case EISCONN: return WSAEISCONN;
        case ENOTCONN: return WSAENOTCONN;
        case ESHUTDOWN:
        case EPIPE: return WSAESHUTDOWN;
        case ETOOMANYREFS: return WSAETOOMANYREFS;
        case ETIMEDOUT: return WSAETIMEDOUT;
        case ECONNREFUSED: return WSAECONNREFUSED;
        case ELOOP: return WSAELOOP;
        case ENAMETOOLONG: return WSAENAMETOOLONG;
        case EHOSTDOWN: return WSAEHOSTDOWN;
        case EHOSTUNREACH: return WSAEHOSTUNREACH;
        default: return WSAEINVAL;
    }
}

// Records the outcome of a call: Winsock clears the error on success.
int Result(int value) {
    lastError = value == -1 ? WinsockCode(errno) : 0;
    return value;
}

int Fail(int winsockCode) {
    lastError = winsockCode;
    return SOCKET_ERROR;
}

int ResolverCode(int error) {
    switch (error) {
        case EAI_NONAME: return WSAHOST_NOT_FOUND;
        case EAI_AGAIN: return WSATRY_AGAIN;
        case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
        // NOLINTNEXTLINE(bugprone-branch-clone): one meaning, two codes, each where defined
        case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
        case EAI_MEMORY: return WSAENOBUFS;
        case EAI_SYSTEM: return WinsockCode(errno);
        default: return WSANO_RECOVERY;
    }
}

}  // namespace

int LastError() { return lastError; }

void FreeAddresses(addrinfo* list) { freeaddrinfo(list); }

AddressList ResolveAddresses(const char* name, int socketType, unsigned short port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    addrinfo* found = nullptr;
    int error = getaddrinfo(name, std::to_string(port).c_str(), &hints, &found);
    lastError = error != 0 ? ResolverCode(error) : found ? 0 : WSAHOST_NOT_FOUND;
    return AddressList(lastError == 0 ? found : nullptr);
}

SOCKET OpenSocket(int family, int type) {
    int fd = Result(socket(family, type | SOCK_CLOEXEC, 0));
    if (fd == 0) {
        // Descriptor 0 (standard input was closed) would read as "no socket" to the
        // exchange; Winsock never hands out 0. Move it up.
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        int error = errno;
        close(fd);
        if (moved == -1) return Fail(WinsockCode(error));
        fd = moved;
    }
    // Winsock's IPv6 sockets carry IPv6 only; Linux's would also reach IPv4 through
    // mapped addresses unless told otherwise.
    int on = 1;
    if (fd != INVALID_SOCKET && family == AF_INET6 &&
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        int error = errno;
        close(fd);
        return Fail(WinsockCode(error));
    }
    // Winsock tells a datagram socket that its peer's port was unreachable; Linux does
    // so for an unconnected one only when asked. Best effort: without it, a refused
    // request waits for its time-out as before.
    if (fd != INVALID_SOCKET && type == SOCK_DGRAM) {
        if (family == AF_INET6) {
            setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
        } else {
            setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        }
    }
    return fd;
}

int CloseSocket(SOCKET s) { return Result(close(s)); }

int Connect(SOCKET s, const sockaddr* address, int addressLength) {
    return Result(connect(s, address, static_cast<socklen_t>(addressLength)));
}

int SendTo(SOCKET s, const void* data, int length, const sockaddr* address, int addressLength) {
    ssize_t sent = sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL, address,
                          static_cast<socklen_t>(addressLength));
    return Result(static_cast<int>(sent));
}

int WaitReadable(SOCKET s, int milliseconds, bool* readable) {
    *readable = false;
    // poll rather than select: a descriptor above FD_SETSIZE must not overflow a set.
    if (milliseconds < 0) return Fail(WSAEINVAL);  // as select refuses a negative timeout
    pollfd watch{s, POLLIN, 0};
    int count = Result(poll(&watch, 1, milliseconds));
    if (count > 0) {
        if (watch.revents & POLLNVAL) return Fail(WSAENOTSOCK);
        // An error or hang-up also makes the socket readable: the receive reports it.
        *readable = (watch.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    }
    return count;
}

int RecvFrom(SOCKET s, void* buffer, int length) {
    sockaddr_storage sender{};
    socklen_t senderLength = sizeof sender;
    // MSG_TRUNC makes the kernel report the datagram's real length.
    ssize_t got = recvfrom(s, buffer, static_cast<size_t>(length), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got > length) return Fail(WSAEMSGSIZE);
    // Winsock's word for a datagram that came back as "port unreachable".
    if (got == -1 && errno == ECONNREFUSED) return Fail(WSAECONNRESET);
    return Result(static_cast<int>(got));
}

int BindAny(SOCKET s, int family) {
    sockaddr_storage any{};
    any.ss_family = static_cast<sa_family_t>(family);
    const socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return Result(bind(s, reinterpret_cast<const sockaddr*>(&any), length));
}

int SetNonBlocking(SOCKET s) {
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags == -1) return Result(-1);
    return Result(fcntl(s, F_SETFL, flags | O_NONBLOCK) == -1 ? -1 : 0);
}

int StartConnect(SOCKET s, const sockaddr* address, int addressLength) {
    if (Result(connect(s, address, static_cast<socklen_t>(addressLength))) == 0) return 0;
    if (errno == EINPROGRESS) {
        lastError = WSAEWOULDBLOCK;  // as Winsock says it
        return 1;
    }
    return SOCKET_ERROR;
}

int ConnectError(SOCKET s) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return WinsockCode(errno);
    return WinsockCode(error);
}

int WaitSockets(const SOCKET* sockets, const bool* forConnect, int count, int milliseconds,
                bool* ready) {
    if (milliseconds < 0 || count < 0 || count > kMostWaited) return Fail(WSAEINVAL);
    pollfd watch[kMostWaited] = {};
    for (int i = 0; i < count; ++i) {
        ready[i] = false;
        watch[i].fd = sockets[i];
        watch[i].events = forConnect[i] ? POLLOUT : POLLIN;
    }
    const int found = Result(poll(watch, static_cast<nfds_t>(count), milliseconds));
    if (found <= 0) return found;
    for (int i = 0; i < count; ++i) {
        if (watch[i].revents & POLLNVAL) return Fail(WSAENOTSOCK);
        ready[i] = (watch[i].revents & (POLLIN | POLLOUT | POLLERR | POLLHUP)) != 0;
    }
    return found;
}

int Recv(SOCKET s, void* buffer, int length) {
    return Result(static_cast<int>(recv(s, buffer, static_cast<size_t>(length), 0)));
}

int Send(SOCKET s, const void* data, int length) {
    // A peer that has gone must fail the call, not end the process with SIGPIPE.
    return Result(static_cast<int>(send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL)));
}

}  // namespace net
