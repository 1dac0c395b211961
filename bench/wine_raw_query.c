/* The floor of the engine's figures under Wine: SNTP queries to 127.0.0.1:123 with
   nothing but Winsock, printed as the engine's query program prints them.
     wine_raw_query COUNT
   One line per answered query: the clock offset in seconds (positive when the server
   is ahead; ((T2 - T1) + (T3 - T4)) / 2) and the microseconds the exchange took. A
   query waits 3 s at most. Exits 1 when none was answered. */
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Seconds from 1601-01-01 (FILETIME) to 1900-01-01 (NTP era 0). */
#define NTP_TO_FILETIME_SECONDS 9435484800.0
#define MAX_COUNT 100000

typedef void(WINAPI* PreciseTime)(FILETIME*);
static PreciseTime preciseTime;

/* The PC clock in seconds since 1900. */
static double NowNtp(void) {
    FILETIME now;
    ULARGE_INTEGER ticks;
    if (preciseTime) {
        preciseTime(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return (double)ticks.QuadPart / 1e7 - NTP_TO_FILETIME_SECONDS;
}

static double Stamp(const unsigned char* bytes) {
    const unsigned long seconds = ((unsigned long)bytes[0] << 24) |
                                  ((unsigned long)bytes[1] << 16) |
                                  ((unsigned long)bytes[2] << 8) | (unsigned long)bytes[3];
    const unsigned long fraction = ((unsigned long)bytes[4] << 24) |
                                   ((unsigned long)bytes[5] << 16) |
                                   ((unsigned long)bytes[6] << 8) | (unsigned long)bytes[7];
    return (double)seconds + (double)fraction / 4294967296.0;
}

/* One exchange; 1 with the offset and the time taken, 0 when unanswered. */
static int Query(double* offset, double* micro) {
    unsigned char packet[48];
    struct sockaddr_in server;
    fd_set readable;
    struct timeval wait;
    LARGE_INTEGER frequency, started, ended;
    double t1, t4;
    int received = -1;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return 0;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(123);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    memset(packet, 0, sizeof packet);
    packet[0] = 0x23; /* no leap warning, version 4, client */
    t1 = NowNtp();
    if (sendto(s, (const char*)packet, (int)sizeof packet, 0, (const struct sockaddr*)&server,
               (int)sizeof server) == (int)sizeof packet) {
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        wait.tv_sec = 3;
        wait.tv_usec = 0;
        if (select(0, &readable, NULL, NULL, &wait) == 1) {
            received = recv(s, (char*)packet, (int)sizeof packet, 0);
        }
    }
    t4 = NowNtp();
    QueryPerformanceCounter(&ended);
    closesocket(s);
    if (received != (int)sizeof packet) return 0;
    *offset = ((Stamp(packet + 32) - t1) + (Stamp(packet + 40) - t4)) / 2;
    *micro = (double)(ended.QuadPart - started.QuadPart) * 1e6 / (double)frequency.QuadPart;
    return 1;
}

int main(int argc, char** argv) {
    WSADATA data;
    int count, i, answered = 0;
    if (argc != 2 || (count = atoi(argv[1])) < 1 || count > MAX_COUNT) {
        fprintf(stderr, "usage: wine_raw_query COUNT\n");
        return 2;
    }
    preciseTime = (PreciseTime)(void (*)(void))GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    for (i = 0; i < count; ++i) {
        double offset, micro;
        if (Query(&offset, &micro)) {
            ++answered;
            printf("%.9f %.3f\n", offset, micro);
        } else {
            fprintf(stderr, "wine_raw_query: no answer\n");
        }
    }
    fflush(stdout);
    WSACleanup();
    return answered > 0 ? 0 : 1;
}
