/* A time server for the benchmarks whose clock is this machine's clock plus a chosen
 * offset, and which stamps as close to the socket as it can: the Receive Timestamp is
 * the kernel's arrival time of the request (SO_TIMESTAMPNS), the Transmit Timestamp is
 * read right before sendto. With no delay asymmetry of its own, what a client measures
 * minus the offset is the client's error.
 *
 *   offset_server ADDRESS OFFSET_SECONDS [LIFETIME_SECONDS]
 *
 * Binds UDP port 123 of ADDRESS (run it inside the sandbox's private network) and
 * answers every client request (mode 3) with a server reply (mode 4, stratum 2, the
 * client's Transmit Timestamp echoed). It ends by itself after LIFETIME_SECONDS
 * (default 900) or one million requests, whichever comes first. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <math.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kPacketSize = 48, kMaxRequests = 1000000 };
static const uint64_t kNtpTo1970 = 2208988800u;

static int64_t NowNs(void) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

static int64_t MonotonicMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static void Put32(unsigned char* at, uint32_t value) {
    at[0] = (unsigned char)(value >> 24);
    at[1] = (unsigned char)(value >> 16);
    at[2] = (unsigned char)(value >> 8);
    at[3] = (unsigned char)value;
}

/* Nanoseconds since 1970 as an NTP timestamp (era 0). */
static void PutNtp(unsigned char* at, int64_t ns) {
    int64_t seconds = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        seconds -= 1;
    }
    Put32(at, (uint32_t)((uint64_t)seconds + kNtpTo1970));
    Put32(at + 4, (uint32_t)(((uint64_t)rest << 32) / 1000000000u));
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: offset_server ADDRESS OFFSET_SECONDS [LIFETIME_SECONDS]\n");
        return 2;
    }
    const int64_t offsetNs = llround(strtod(argv[2], NULL) * 1e9);
    const int64_t lifetimeMs = (argc == 4 ? atoll(argv[3]) : 900) * 1000;

    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        perror("offset_server: socket");
        return 1;
    }
    int on = 1;
    const int kernelStamps = setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(123);
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 ||
        bind(s, (struct sockaddr*)&address, sizeof address) != 0) {
        fprintf(stderr, "offset_server: cannot bind %s:123: %s\n", argv[1], strerror(errno));
        return 1;
    }

    const int64_t start = MonotonicMs();
    int answered = 0;
    while (answered < kMaxRequests) {
        const int64_t left = lifetimeMs - (MonotonicMs() - start);
        if (left <= 0) break;
        struct pollfd watch = {s, POLLIN, 0};
        if (poll(&watch, 1, left < 200 ? (int)left : 200) <= 0) continue;

        unsigned char request[512];
        union {
            char buffer[CMSG_SPACE(sizeof(struct timespec))];
            struct cmsghdr align;
        } control;
        struct sockaddr_in client;
        struct iovec data = {request, sizeof request};
        struct msghdr message;
        memset(&message, 0, sizeof message);
        message.msg_name = &client;
        message.msg_namelen = sizeof client;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.buffer;
        message.msg_controllen = sizeof control.buffer;
        const ssize_t got = recvmsg(s, &message, 0);
        int64_t received = NowNs();
        if (got < kPacketSize || (request[0] & 7) != 3) continue;
        if (kernelStamps) {
            for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    struct timespec at;
                    memcpy(&at, CMSG_DATA(c), sizeof at);
                    received = (int64_t)at.tv_sec * 1000000000 + at.tv_nsec;
                }
            }
        }

        unsigned char reply[kPacketSize];
        memset(reply, 0, sizeof reply);
        int version = (request[0] >> 3) & 7;
        if (version == 0) version = 4;
        reply[0] = (unsigned char)(version << 3 | 4); /* no leap warning, server */
        reply[1] = 2;                                 /* stratum */
        reply[2] = request[2];                        /* the client's poll */
        reply[3] = (unsigned char)(-20 & 0xFF);       /* precision about a microsecond */
        Put32(reply + 4, 16);                         /* root delay 0.24 ms */
        Put32(reply + 8, 16);                         /* root dispersion 0.24 ms */
        reply[12] = 192, reply[13] = 0, reply[14] = 2, reply[15] = 1; /* upstream */
        PutNtp(reply + 16, received + offsetNs - 16 * (int64_t)1000000000);
        memcpy(reply + 24, request + 40, 8);
        PutNtp(reply + 32, received + offsetNs);
        PutNtp(reply + 40, NowNs() + offsetNs);
        sendto(s, reply, sizeof reply, 0, (struct sockaddr*)&client, message.msg_namelen);
        ++answered;
    }
    close(s);
    return 0;
}
