// The system's receive stamp over real UDP on loopback. Natively the kernel stamps every
// datagram; under Wine (Windows before build 20348) the receive works without an age.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/receive_stamp.h"

// A datagram socket on a free loopback port (a failed bind shows as a failed send).
static ScopedSocket OnLoopback(int family) {
    ScopedSocket s(net::OpenSocket(family, SOCK_DGRAM));
    const auto at = net::ResolveAddresses(family == AF_INET ? "127.0.0.1" : "::1", SOCK_DGRAM, 0);
    if (at) bind(s.Get(), at.Get()->ai_addr, static_cast<int>(at.Get()->ai_addrlen));
    return s;
}

// Sends bytes bytes of 0xA5 from s to itself and waits until they have arrived.
static bool SendToSelf(SOCKET s, int bytes) {
    const std::vector<unsigned char> data(64, 0xA5);
    sockaddr_storage to{};
    socklen_t length = sizeof to;
    bool readable = false;
    return getsockname(s, reinterpret_cast<sockaddr*>(&to), &length) == 0 &&
           net::SendTo(s, data.data(), bytes, reinterpret_cast<sockaddr*>(&to), length) == bytes &&
           net::WaitReadable(s, 2000, &readable) == 1 && readable;
}

TEST(ReceiveStamp, AgeCountsTheTimeTheDatagramWaitedToBeRead) {
    constexpr long long kSlack = 1000 * 1000;  // a loaded machine may hold the test up so long
    long long leastExcess = kSlack;            // of an age over its wait
    for (int family : {AF_INET, AF_INET6}) {
        const ScopedSocket s = OnLoopback(family);
        const bool stamped = RequestReceiveStamps(s.Get());
        for (const auto& [waitMs, bytes] :
             std::vector<std::pair<int, int>>{{20, 48}, {0, 48}, {50, 1}, {0, 0}, {0, 48}}) {
            SCOPED_TRACE(std::to_string(family) + ": " + std::to_string(waitMs) + " ms");
            ASSERT_TRUE(SendToSelf(s.Get(), bytes)) << net::LastError();
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            unsigned char buffer[48] = {};
            long long age = -2;
            ASSERT_EQ(RecvFromStamped(s.Get(), buffer, sizeof buffer, &age), bytes);
            for (int i = 0; i < bytes; ++i) ASSERT_EQ(buffer[i], 0xA5);
#ifndef _WIN32
            EXPECT_EQ(net::LastError(), 0);     // what the exchange reports for a short reply
            EXPECT_TRUE(stamped && age != -1);  // Linux stamps on request; Windows from 20348
#endif
            if (age == -1) continue;  // Windows may stamp on request and still leave one out
            EXPECT_TRUE(stamped);
            EXPECT_GE(age, waitMs * 1000LL);
            EXPECT_LE(age, waitMs * 1000LL + kSlack);
            leastExcess = std::min(leastExcess, age - waitMs * 1000LL);
        }
    }
    // The kernel's copy and the return, the least of several (one may be preempted).
    EXPECT_TRUE(leastExcess < 1000 || leastExcess == kSlack) << leastExcess << " (none: kSlack)";
}

TEST(ReceiveStamp, ALongDatagramFailsAsWithRecvFromAndAnUnstampedOneHasNoAge) {
    for (int family : {AF_INET, AF_INET6}) {
        const ScopedSocket s = OnLoopback(family);
        unsigned char buffer[48];
        long long age = -2;
        ASSERT_TRUE(SendToSelf(s.Get(), 49) && SendToSelf(s.Get(), 3)) << net::LastError();
        EXPECT_EQ(RecvFromStamped(s.Get(), buffer, sizeof buffer, &age), SOCKET_ERROR);
        EXPECT_EQ(net::LastError(), WSAEMSGSIZE);  // in both builds, and the datagram is gone
        EXPECT_EQ(age, -1);
        EXPECT_EQ(RecvFromStamped(s.Get(), buffer, sizeof buffer, &age), 3) << family;
        EXPECT_EQ(age, -1);  // the socket never asked for stamps
    }
}
