// The kernel's receive stamp behind receive_stamp.h. The datagram itself is read by
// net::RecvFrom, so that its length, its truncation and its error codes (the thread's
// last error included) are exactly those of the plain receive; the stamp of the
// datagram just read is then fetched with SIOCGSTAMPNS, which Linux keeps for the last
// datagram that a stamping socket passed on. SO_TIMESTAMPNS with a control message of
// recvmsg carries the same stamp, but would take the receive, and with it the last
// error that net_compat keeps, away from net::RecvFrom.
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <time.h>

#include <cerrno>

#include "framework/receive_stamp.h"

namespace {

bool ReadRealTime(long long* nanoseconds) {
    timespec at{};
    if (clock_gettime(CLOCK_REALTIME, &at) != 0) return false;
    *nanoseconds = static_cast<long long>(at.tv_sec) * 1000000000LL + at.tv_nsec;
    return true;
}

}  // namespace

bool RequestReceiveStamps(SOCKET s) {
    // The first SIOCGSTAMPNS turns stamping on for the socket. With nothing received
    // yet there is no stamp to give, which is ENOENT: the request still took.
    timespec last{};
    return ioctl(s, SIOCGSTAMPNS, &last) == 0 || errno == ENOENT;
}

int RecvFromStamped(SOCKET s, void* buffer, int length, long long* ageMicroseconds) {
    *ageMicroseconds = -1;
    const int got = net::RecvFrom(s, buffer, length);
    if (got == SOCKET_ERROR) return got;
    long long received = 0;
    timespec stamp{};
    long long now = 0;
    if (!ReadRealTime(&received) || ioctl(s, SIOCGSTAMPNS, &stamp) != 0 || !ReadRealTime(&now)) {
        return got;
    }
    // A datagram that came in unstamped (the socket never asked, or stamping was still
    // being switched on) leaves the kernel nothing to give: it then answers with the
    // time of the question, which no datagram already read can have arrived at.
    const long long arrival = static_cast<long long>(stamp.tv_sec) * 1000000000LL + stamp.tv_nsec;
    if (arrival >= received) return got;
    const long long age = (now - arrival) / 1000;
    if (age >= 0 && age <= kMaxReceiveAgeMicroseconds) *ageMicroseconds = age;
    return got;
}
