/* The least a client can do, as a yardstick for the others.
 *
 *   raw_client offset SERVER COUNT   one SNTP exchange per line: the clock offset in
 *                                    seconds (positive when the server is ahead),
 *                                    with the transmit time read right before send
 *                                    and the reply's arrival from the kernel
 *                                    (SO_TIMESTAMPNS): against the benchmark's offset
 *                                    server, its error is the server's own floor;
 *   raw_client ping SERVER COUNT     one UDP round trip per line in microseconds:
 *                                    a 48-byte request and its reply on one socket,
 *                                    opened once.
 *
 * Each reply is awaited for at most two seconds; one that does not come is told on
 * standard error and the next exchange starts. Exits 1 when no exchange succeeded. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kPacketSize = 48, kWaitMs = 2000, kMaxCount = 100000 };
static const int64_t kNtpTo1970 = 2208988800;

static int64_t ClockNs(clockid_t clock) {
    struct timespec now;
    clock_gettime(clock, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

static uint32_t Get32(const unsigned char* at) {
    return (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | at[3];
}

static void Put32(unsigned char* at, uint32_t value) {
    at[0] = (unsigned char)(value >> 24);
    at[1] = (unsigned char)(value >> 16);
    at[2] = (unsigned char)(value >> 8);
    at[3] = (unsigned char)value;
}

static int64_t NtpToNs(const unsigned char* at) {
    const int64_t seconds = (int64_t)Get32(at) - kNtpTo1970;
    const int64_t fraction = (int64_t)(((uint64_t)Get32(at + 4) * 1000000000u) >> 32);
    return seconds * 1000000000 + fraction;
}

static void PutNtp(unsigned char* at, int64_t ns) {
    Put32(at, (uint32_t)(ns / 1000000000 + kNtpTo1970));
    Put32(at + 4, (uint32_t)(((uint64_t)(ns % 1000000000) << 32) / 1000000000u));
}

/* Receives one 48-byte reply within the wait; *arrival gets the kernel's arrival time
 * when it gave one, the clock after the receive otherwise. 0 when none came. */
static int Receive(int s, unsigned char* reply, int64_t* arrival) {
    struct pollfd watch = {s, POLLIN, 0};
    if (poll(&watch, 1, kWaitMs) <= 0) return 0;
    union {
        char buffer[CMSG_SPACE(sizeof(struct timespec))];
        struct cmsghdr align;
    } control;
    struct iovec data = {reply, kPacketSize};
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.buffer;
    message.msg_controllen = sizeof control.buffer;
    const ssize_t got = recvmsg(s, &message, 0);
    *arrival = ClockNs(CLOCK_REALTIME);
    if (got != kPacketSize) return 0;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            struct timespec at;
            memcpy(&at, CMSG_DATA(c), sizeof at);
            *arrival = (int64_t)at.tv_sec * 1000000000 + at.tv_nsec;
        }
    }
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 4 || (strcmp(argv[1], "offset") != 0 && strcmp(argv[1], "ping") != 0)) {
        fprintf(stderr, "usage: raw_client offset|ping SERVER COUNT\n");
        return 2;
    }
    const int measureOffset = strcmp(argv[1], "offset") == 0;
    int count = atoi(argv[3]);
    if (count < 1) count = 1;
    if (count > kMaxCount) count = kMaxCount;

    struct sockaddr_in server;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(123);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0 || inet_pton(AF_INET, argv[2], &server.sin_addr) != 1 ||
        connect(s, (struct sockaddr*)&server, sizeof server) != 0) {
        perror("raw_client");
        return 1;
    }
    int on = 1;
    if (measureOffset) setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);

    int succeeded = 0;
    for (int i = 0; i < count; ++i) {
        unsigned char request[kPacketSize];
        unsigned char reply[kPacketSize];
        memset(request, 0, sizeof request);
        request[0] = 0x23; /* version 4, client */
        const int64_t started = ClockNs(CLOCK_MONOTONIC);
        const int64_t sent = ClockNs(CLOCK_REALTIME);
        PutNtp(request + 40, sent);
        int64_t arrival = 0;
        if (send(s, request, sizeof request, 0) != kPacketSize || !Receive(s, reply, &arrival)) {
            fprintf(stderr, "raw_client: no reply to exchange %d\n", i + 1);
            continue;
        }
        const int64_t ended = ClockNs(CLOCK_MONOTONIC);
        if (memcmp(reply + 24, request + 40, 8) != 0) {
            fprintf(stderr, "raw_client: reply %d does not echo our transmit time\n", i + 1);
            continue;
        }
        if (measureOffset) {
            const int64_t t2 = NtpToNs(reply + 32);
            const int64_t t3 = NtpToNs(reply + 40);
            const int64_t t1 = NtpToNs(request + 40); /* as sent, at the wire's resolution */
            const int64_t twice = (t2 - t1) + (t3 - arrival);
            printf("%.9f\n", (double)twice / 2e9);
        } else {
            printf("%.3f\n", (double)(ended - started) / 1e3);
        }
        ++succeeded;
    }
    close(s);
    return succeeded > 0 ? 0 : 1;
}
