/* A UDP relay that plays a network between a client and a time server, for the
 * benchmarks: each datagram is held for a base delay plus an exponential draw, per
 * direction, and a share of them is dropped, with a seed of its own so that two runs
 * draw alike.
 *
 *   net_emulator [OPTIONS] LISTEN_ADDRESS:PORT SERVER_ADDRESS:PORT
 *     --request-base MS   delay of every request (client to server), default 0
 *     --request-mean MS   mean of the exponential extra delay of a request, default 0
 *     --reply-base MS     delay of every reply (server to client), default 0
 *     --reply-mean MS     mean of the exponential extra delay of a reply, default 0
 *     --loss SHARE        share of the datagrams dropped, each way (0 to 1), default 0
 *     --seed N            the draws' seed, default 1
 *     --seconds N         ends after N seconds (default 900), or when killed
 *     --count-file FILE   holds the number of client datagrams received so far, rewritten
 *                         at each one: a harness reads it before and after a query
 * An address is IPv4 (127.0.0.20:123) or IPv6 in brackets ([::1]:123).
 *
 * A delay counts from the kernel's receive stamp (SO_TIMESTAMPNS), not from when this
 * process woke up to read the datagram: on a loaded or idle machine that wake-up comes
 * tens of microseconds late, and the relay would add that to every delay. The datagram
 * leaves when the stamp plus its delay comes: a sleep, then a short spin on the clock.
 * Datagrams whose delays differ overtake one another, as on a real path.
 *
 * Each client address gets a socket of its own toward the server, so that a reply goes
 * back to the client that asked; clients that take a new socket per request leave idle
 * ones behind, which are closed after a while. At the end it prints what it carried and
 * how late its sends were against their due times. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum {
    kMaxDatagram = 2048,
    kMaxQueued = 1024,
    kMaxClients = 256,
    /* The last stretch before a due time is spun rather than slept: a sleep's wake-up
     * on this kind of machine is late by tens of microseconds. */
    kSpinNs = 200000,
};
/* A client socket unused this long is closed; longer than any delay drawn. */
static const int64_t kIdleNs = 30000000000LL;
/* The exponential tail is cut here, so that one draw cannot hold the queue for long. */
static const double kMaxDelayMs = 10000.0;

static volatile sig_atomic_t g_stop = 0;

static void OnSignal(int signal_number) {
    (void)signal_number;
    g_stop = 1;
}

static int64_t RealtimeNs(void) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

static int64_t MonotonicNs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

/* splitmix64: small, seedable, and good enough for delays and drops. */
static uint64_t g_random = 1;
static uint64_t NextRandom(void) {
    uint64_t z = (g_random += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}
/* Uniform in (0, 1]. */
static double Uniform(void) {
    return (double)((NextRandom() >> 11) + 1) * (1.0 / 9007199254740992.0);
}

typedef struct {
    double baseMs;
    double meanMs;
    uint64_t received;
    uint64_t dropped;
    uint64_t sent;
} Direction;

static double LossShare = 0.0;

/* Whether to drop a datagram, and if not, its delay in nanoseconds. */
static int Draw(Direction* direction, int64_t* delayNs) {
    ++direction->received;
    if (LossShare > 0.0 && Uniform() <= LossShare) {
        ++direction->dropped;
        return 0;
    }
    double ms = direction->baseMs;
    if (direction->meanMs > 0.0) ms += -direction->meanMs * log(Uniform());
    if (ms > kMaxDelayMs) ms = kMaxDelayMs;
    *delayNs = llround(ms * 1e6);
    return 1;
}

typedef struct {
    struct sockaddr_storage address;
    socklen_t length;
    int socket;
    int pending; /* datagrams of this client still queued */
    int64_t lastUsedNs;
} Client;

static Client g_clients[kMaxClients];
static int g_clientCount = 0;

typedef struct {
    int64_t dueNs;
    uint64_t order;
    int client;  /* index into g_clients */
    int toServer; /* else to the client */
    size_t length;
    unsigned char data[kMaxDatagram];
} Queued;

/* A binary heap on (due time, arrival order). */
static Queued g_queue[kMaxQueued];
static int g_queued = 0;
static uint64_t g_order = 0;

static int Earlier(const Queued* a, const Queued* b) {
    return a->dueNs < b->dueNs || (a->dueNs == b->dueNs && a->order < b->order);
}

static void Swap(int i, int j) {
    static Queued spare;
    spare = g_queue[i];
    g_queue[i] = g_queue[j];
    g_queue[j] = spare;
}

static Queued* QueueSlot(void) {
    return g_queued < kMaxQueued ? &g_queue[g_queued] : NULL;
}

/* Takes the slot QueueSlot gave, filled in, into the heap. */
static void QueuePush(void) {
    int i = g_queued++;
    while (i > 0 && Earlier(&g_queue[i], &g_queue[(i - 1) / 2])) {
        Swap(i, (i - 1) / 2);
        i = (i - 1) / 2;
    }
}

static void QueuePop(void) {
    g_queue[0] = g_queue[--g_queued];
    int i = 0;
    for (;;) {
        int smallest = i;
        const int left = 2 * i + 1, right = 2 * i + 2;
        if (left < g_queued && Earlier(&g_queue[left], &g_queue[smallest])) smallest = left;
        if (right < g_queued && Earlier(&g_queue[right], &g_queue[smallest])) smallest = right;
        if (smallest == i) break;
        Swap(i, smallest);
        i = smallest;
    }
}

static int ParseAddress(const char* text, struct sockaddr_storage* address, socklen_t* length) {
    char host[128];
    const char* colon = strrchr(text, ':');
    if (!colon || colon == text || (size_t)(colon - text) >= sizeof host) return 0;
    size_t hostLength = (size_t)(colon - text);
    const char* start = text;
    if (text[0] == '[') {
        if (hostLength < 2 || text[hostLength - 1] != ']') return 0;
        start = text + 1;
        hostLength -= 2;
    }
    memcpy(host, start, hostLength);
    host[hostLength] = '\0';
    char* end = NULL;
    const long port = strtol(colon + 1, &end, 10);
    if (*end != '\0' || port <= 0 || port > 65535) return 0;
    memset(address, 0, sizeof *address);
    struct sockaddr_in* v4 = (struct sockaddr_in*)address;
    struct sockaddr_in6* v6 = (struct sockaddr_in6*)address;
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons((uint16_t)port);
        *length = sizeof *v4;
        return 1;
    }
    if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons((uint16_t)port);
        *length = sizeof *v6;
        return 1;
    }
    return 0;
}

static int SameAddress(const struct sockaddr_storage* a, socklen_t aLength,
                       const struct sockaddr_storage* b, socklen_t bLength) {
    return aLength == bLength && memcmp(a, b, aLength) == 0;
}

/* A datagram socket stamped by the kernel, not blocking. */
static int OpenSocket(int family) {
    const int s = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
        close(s);
        return -1;
    }
    return s;
}

static struct sockaddr_storage g_listen, g_server;
static socklen_t g_listenLength, g_serverLength;

/* The client's socket toward the server: its own, or a new one (the least recently used
 * idle one gives way when the table is full). -1 when none can be had. */
static int ClientOf(const struct sockaddr_storage* address, socklen_t length, int64_t nowNs) {
    int victim = -1;
    for (int i = 0; i < g_clientCount; ++i) {
        if (SameAddress(&g_clients[i].address, g_clients[i].length, address, length)) return i;
        if (g_clients[i].pending == 0 &&
            (victim < 0 || g_clients[i].lastUsedNs < g_clients[victim].lastUsedNs)) {
            victim = i;
        }
    }
    int slot = g_clientCount < kMaxClients ? g_clientCount : victim;
    if (slot < 0) return -1;
    const int s = OpenSocket(g_server.ss_family);
    if (s < 0) return -1;
    /* From the relay's own address, so the server sees one host whichever client asks. */
    struct sockaddr_storage local = g_listen;
    if (local.ss_family == g_server.ss_family) {
        if (local.ss_family == AF_INET) ((struct sockaddr_in*)&local)->sin_port = 0;
        else ((struct sockaddr_in6*)&local)->sin6_port = 0;
        (void)bind(s, (struct sockaddr*)&local, g_listenLength);
    }
    if (connect(s, (struct sockaddr*)&g_server, g_serverLength) != 0) {
        close(s);
        return -1;
    }
    if (slot == g_clientCount) {
        ++g_clientCount;
    } else {
        close(g_clients[slot].socket);
    }
    g_clients[slot].address = *address;
    g_clients[slot].length = length;
    g_clients[slot].socket = s;
    g_clients[slot].pending = 0;
    g_clients[slot].lastUsedNs = nowNs;
    return slot;
}

static void CloseIdleClients(int64_t nowNs) {
    for (int i = 0; i < g_clientCount;) {
        if (g_clients[i].pending == 0 && nowNs - g_clients[i].lastUsedNs > kIdleNs) {
            close(g_clients[i].socket);
            g_clients[i] = g_clients[--g_clientCount];
            /* The last client moved into the gap: its queued datagrams follow it. */
            for (int q = 0; q < g_queued; ++q) {
                if (g_queue[q].client == g_clientCount) g_queue[q].client = i;
            }
        } else {
            ++i;
        }
    }
}

/* Receives one datagram and its kernel stamp; 0 when there is none. */
static ssize_t Receive(int s, unsigned char* data, struct sockaddr_storage* from,
                       socklen_t* fromLength, int64_t* stampNs) {
    struct iovec part = {data, kMaxDatagram};
    char control[256];
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_name = from;
    message.msg_namelen = from ? sizeof *from : 0;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(s, &message, MSG_DONTWAIT);
    if (n < 0) return -1;
    if (message.msg_flags & MSG_TRUNC) {
        errno = EMSGSIZE;
        return -1;
    }
    if (fromLength) *fromLength = message.msg_namelen;
    *stampNs = 0;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            struct timespec stamp;
            memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            *stampNs = (int64_t)stamp.tv_sec * 1000000000 + stamp.tv_nsec;
        }
    }
    if (*stampNs == 0) *stampNs = RealtimeNs();
    return n;
}

static int g_countFile = -1;
static void WriteCount(uint64_t count) {
    if (g_countFile < 0) return;
    char text[32];
    const int n = snprintf(text, sizeof text, "%20llu\n", (unsigned long long)count);
    if (pwrite(g_countFile, text, (size_t)n, 0) != n) {
        close(g_countFile);
        g_countFile = -1;
    }
}

static int Usage(void) {
    fprintf(stderr,
            "usage: net_emulator [--request-base MS] [--request-mean MS] [--reply-base MS]\n"
            "                    [--reply-mean MS] [--loss SHARE] [--seed N] [--seconds N]\n"
            "                    [--count-file FILE] LISTEN_ADDRESS:PORT SERVER_ADDRESS:PORT\n");
    return 2;
}

static int Number(const char* text, double low, double high, double* value) {
    char* end = NULL;
    errno = 0;
    *value = strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && *value >= low && *value <= high;
}

int main(int argc, char** argv) {
    Direction request = {0, 0, 0, 0, 0};
    Direction reply = {0, 0, 0, 0, 0};
    double seed = 1, seconds = 900;
    const char* countPath = NULL;
    const char* positional[2] = {NULL, NULL};
    int positionals = 0;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        double* target = NULL;
        double low = 0, high = kMaxDelayMs;
        if (strcmp(option, "--request-base") == 0) target = &request.baseMs;
        else if (strcmp(option, "--request-mean") == 0) target = &request.meanMs;
        else if (strcmp(option, "--reply-base") == 0) target = &reply.baseMs;
        else if (strcmp(option, "--reply-mean") == 0) target = &reply.meanMs;
        else if (strcmp(option, "--loss") == 0) target = &LossShare, high = 1;
        else if (strcmp(option, "--seed") == 0) target = &seed, high = 1e15;
        else if (strcmp(option, "--seconds") == 0) target = &seconds, low = 1, high = 86400;
        if (target) {
            if (i + 1 >= argc || !Number(argv[++i], low, high, target)) return Usage();
        } else if (strcmp(option, "--count-file") == 0 && i + 1 < argc) {
            countPath = argv[++i];
        } else if (option[0] != '-' && positionals < 2) {
            positional[positionals++] = option;
        } else {
            return Usage();
        }
    }
    if (positionals != 2 || !ParseAddress(positional[0], &g_listen, &g_listenLength) ||
        !ParseAddress(positional[1], &g_server, &g_serverLength)) {
        return Usage();
    }
    g_random = (uint64_t)seed;
    if (countPath) {
        g_countFile = open(countPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (g_countFile < 0) {
            perror("net_emulator: count file");
            return 1;
        }
        WriteCount(0);
    }

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    /* Sleeps end as asked, not up to 50 µs later. */
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const int listener = OpenSocket(g_listen.ss_family);
    int on = 1;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener, (struct sockaddr*)&g_listen, g_listenLength) != 0) {
        perror("net_emulator: listen");
        return 1;
    }

    const int64_t endNs = MonotonicNs() + llround(seconds * 1e9);
    uint64_t overflow = 0, lateSends = 0;
    double lateSumNs = 0, lateWorstNs = 0;
    unsigned char data[kMaxDatagram];
    struct pollfd polled[kMaxClients + 1];
    while (!g_stop && MonotonicNs() < endNs) {
        /* Whatever is due: spin through the last stretch, then send. */
        int64_t waitNs = 1000000000;
        while (g_queued > 0) {
            const int64_t left = g_queue[0].dueNs - RealtimeNs();
            if (left > kSpinNs) {
                waitNs = left - kSpinNs;
                break;
            }
            int64_t now = RealtimeNs();
            while (now < g_queue[0].dueNs) now = RealtimeNs();
            Queued* next = &g_queue[0];
            Client* client = &g_clients[next->client];
            ssize_t n;
            if (next->toServer) {
                n = send(client->socket, next->data, next->length, 0);
            } else {
                n = sendto(listener, next->data, next->length, 0,
                           (struct sockaddr*)&client->address, client->length);
            }
            const double late = (double)(now - next->dueNs);
            lateSumNs += late;
            if (late > lateWorstNs) lateWorstNs = late;
            ++lateSends;
            if (n == (ssize_t)next->length) {
                ++(next->toServer ? &request : &reply)->sent;
            }
            --client->pending;
            client->lastUsedNs = MonotonicNs();
            QueuePop();
        }

        int count = 0;
        polled[count++] = (struct pollfd){listener, POLLIN, 0};
        for (int i = 0; i < g_clientCount; ++i) {
            polled[count++] = (struct pollfd){g_clients[i].socket, POLLIN, 0};
        }
        const int64_t untilEnd = endNs - MonotonicNs();
        if (waitNs > untilEnd) waitNs = untilEnd > 0 ? untilEnd : 0;
        const struct timespec timeout = {waitNs / 1000000000, waitNs % 1000000000};
        const int ready = ppoll(polled, (nfds_t)count, &timeout, NULL);
        if (ready <= 0) continue;

        const int64_t nowMono = MonotonicNs();
        for (int p = 0; p < count; ++p) {
            if (!(polled[p].revents & (POLLIN | POLLERR))) continue;
            for (int drained = 0; drained < 64; ++drained) {
                struct sockaddr_storage from;
                socklen_t fromLength = 0;
                int64_t stampNs = 0;
                const ssize_t n = Receive(polled[p].fd, data, p == 0 ? &from : NULL,
                                          p == 0 ? &fromLength : NULL, &stampNs);
                if (n < 0) {
                    /* A refused send's error or a datagram too long for a time
                     * exchange: skip it. Anything else (none left): the next turn. */
                    if (errno == ECONNREFUSED || errno == EMSGSIZE) continue;
                    break;
                }
                int client = p - 1;
                Direction* direction = &reply;
                if (p == 0) {
                    direction = &request;
                    WriteCount(request.received + 1);
                    client = ClientOf(&from, fromLength, nowMono);
                    if (client < 0) {
                        ++request.received;
                        ++request.dropped;
                        continue;
                    }
                }
                int64_t delayNs = 0;
                if (!Draw(direction, &delayNs)) continue;
                Queued* slot = QueueSlot();
                if (!slot) {
                    ++overflow;
                    continue;
                }
                slot->dueNs = stampNs + delayNs;
                slot->order = g_order++;
                slot->client = client;
                slot->toServer = p == 0;
                slot->length = (size_t)n;
                memcpy(slot->data, data, (size_t)n);
                QueuePush();
                ++g_clients[client].pending;
                g_clients[client].lastUsedNs = nowMono;
            }
        }
        CloseIdleClients(nowMono);
    }

    fprintf(stderr,
            "net_emulator: requests %llu received, %llu dropped, %llu sent; replies %llu "
            "received, %llu dropped, %llu sent; %llu lost to a full queue; sends late by "
            "%.1f µs on average, %.1f µs at worst\n",
            (unsigned long long)request.received, (unsigned long long)request.dropped,
            (unsigned long long)request.sent, (unsigned long long)reply.received,
            (unsigned long long)reply.dropped, (unsigned long long)reply.sent,
            (unsigned long long)overflow, lateSends ? lateSumNs / (double)lateSends / 1e3 : 0.0,
            lateWorstNs / 1e3);
    return 0;
}
