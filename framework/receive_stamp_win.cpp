// Winsock's receive stamps behind receive_stamp.h: Windows 11 and Server 2022 (build
// 20348) stamp a datagram with the performance counter when asked through
// SIO_TIMESTAMPING, and hand the stamp over in a control message of WSARecvMsg. Where
// the request fails (older Windows, Wine) the receive is the same and has no age.
#include <winsock2.h>
// winsock2.h first: mswsock.h builds on it.
#include <mswsock.h>
#include <windows.h>

#include <cstring>

#include "framework/receive_stamp.h"

namespace {

// mstcpip.h declares these only for builds aimed at build 20348 and later; the
// program runs on older Windows too and finds out by asking.
constexpr DWORD kSioTimestamping = _WSAIOW(IOC_VENDOR, 235);
constexpr ULONG kTimestampingFlagRx = 0x1;
constexpr INT kSoTimestamp = 0x300A;
struct TimestampingConfig {
    ULONG flags;
    USHORT txTimestampsBuffered;
};

// WSARecvMsg is an extension: its address comes from the socket's provider, which
// may differ between sockets, and asking costs one call before the datagram is read
// (not counted in its age).
LPFN_WSARECVMSG FindRecvMsg(SOCKET s) {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                 sizeof function, &returned, nullptr, nullptr) != 0) {
        return nullptr;
    }
    return function;
}

// The age of a performance-counter stamp at now, in microseconds; -1 for a stamp in
// the future or too old to be a datagram's age.
long long AgeOf(long long stamp, long long now, long long frequency) {
    const long long ticks = now - stamp;
    if (frequency <= 0 || ticks < 0) return -1;
    // Checked in ticks first: ticks * 1000000 stays far from overflowing below the limit.
    if (ticks / frequency > kMaxReceiveAgeMicroseconds / 1000000) return -1;
    const long long age = ticks * 1000000 / frequency;
    return age <= kMaxReceiveAgeMicroseconds ? age : -1;
}

}  // namespace

bool RequestReceiveStamps(SOCKET s) {
    TimestampingConfig config{kTimestampingFlagRx, 0};
    DWORD returned = 0;
    return WSAIoctl(s, kSioTimestamping, &config, sizeof config, nullptr, 0, &returned, nullptr,
                    nullptr) == 0;
}

int RecvFromStamped(SOCKET s, void* buffer, int length, long long* ageMicroseconds) {
    *ageMicroseconds = -1;
    const LPFN_WSARECVMSG recvMsg = length >= 0 ? FindRecvMsg(s) : nullptr;
    if (!recvMsg) return net::RecvFrom(s, buffer, length);

    // Room for an IPv6 sender, as RecvFrom keeps, and for the stamp's control message
    // with some to spare.
    sockaddr_storage sender{};
    alignas(WSACMSGHDR) alignas(UINT64) char control[64] = {};
    WSABUF data{static_cast<ULONG>(length), static_cast<char*>(buffer)};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&sender);
    message.namelen = sizeof sender;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;
    DWORD received = 0;
    if (recvMsg(s, &message, &received, nullptr, nullptr) == SOCKET_ERROR) return SOCKET_ERROR;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    // recvfrom fails a datagram longer than the buffer; WSARecvMsg may only flag it.
    if (message.dwFlags & MSG_TRUNC) {
        WSASetLastError(WSAEMSGSIZE);
        return SOCKET_ERROR;
    }

    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != kSoTimestamp ||
            header->cmsg_len < WSA_CMSG_LEN(sizeof(UINT64))) {
            continue;
        }
        UINT64 stamp = 0;
        std::memcpy(&stamp, WSA_CMSG_DATA(header), sizeof stamp);
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        *ageMicroseconds = AgeOf(static_cast<long long>(stamp), now.QuadPart, frequency.QuadPart);
        break;
    }
    return static_cast<int>(received);
}
