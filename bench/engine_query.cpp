// The engine's SNTP check from the command line, for the benchmarks: the same query
// and offset as the Check command (CheckSntp with the synchronous runner), repeated.
//
//   engine_query [--once | --count N] [--timeout SECONDS] [--samples N] [--time] [--tcp-time]
//                SERVER
//
// Prints one line per answered query: the clock offset in seconds (positive when the
// server is ahead) and, with --time, the microseconds the check took in this process.
// A query that fails is told on standard error and the next one starts. --once (the
// default) makes one query, as a user's one check does. --tcp-time asks over TIME
// (TCP 37) instead, whose offset is in whole seconds. --samples is the profile's Samples
// (SNTP requests of one query, of which the one with the shortest round trip counts;
// default 1). Exits 1 when none succeeded.
// `engine_query --clock-function` prints the function that reads the PC clock.
// Portable: built natively and for Windows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cstdint>
#include <ctime>

#include "engine/check_adjust.h"
#ifdef _WIN32
#include "framework/clock_win.h"
#endif
#include "engine/time_text.h"
#include "framework/cstring.h"
#include "framework/net_compat.h"

namespace {

constexpr int kMaxCount = 100000;

int Usage() {
    std::fprintf(stderr,
                 "usage: engine_query [--once | --count N] [--timeout SECONDS] [--samples N] "
                 "[--time] [--tcp-time] SERVER\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1;
    int timeout = 3;
    int samples = 1;
    bool showTime = false;
    bool tcpTime = false;
    const char* server = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--once") == 0) {
            count = 1;
        } else if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
            samples = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--time") == 0) {
            showTime = true;
        } else if (std::strcmp(argv[i], "--tcp-time") == 0) {
            tcpTime = true;
        } else if (std::strcmp(argv[i], "--clock-function") == 0) {
#ifdef _WIN32
            std::printf("%s\n", PlatformClockFunction());
#else
            std::printf("clock_gettime(CLOCK_REALTIME)\n");
#endif
            return 0;
        } else if (argv[i][0] != '-' && !server) {
            server = argv[i];
        } else {
            return Usage();
        }
    }
    // Samples out of 1 to 8 go to the engine as they are: it treats them as a profile's.
    if (!server || count < 1 || count > kMaxCount || timeout < 1) return Usage();

#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
#endif
    const CString serverName(server);
    int succeeded = 0;
    for (int i = 0; i < count; ++i) {
        double offset = 0.0;
        CString statusText;
        CString errorText;
        const auto started = std::chrono::steady_clock::now();
        int ok = 0;
        if (tcpTime) {
            CString serverTime;
            int errorCode = 0;
            std::uint32_t serverSeconds = 0;
            ok = QueryTimeOrDaytime(kProtocolTime, serverName, timeout, 0, serverTime, statusText,
                                    errorCode, &serverSeconds);
            offset = static_cast<double>(serverSeconds) - static_cast<double>(std::time(nullptr));
        } else {
            ok = CheckSntp(serverName, timeout, 0, 0, 0, nullptr, nullptr, &offset, statusText,
                           errorText, samples);
        }
        const auto ended = std::chrono::steady_clock::now();
        if (!ok) {
            std::fprintf(stderr, "engine_query: %s %s\n", statusText.GetString(),
                         errorText.GetString());
            continue;
        }
        ++succeeded;
        if (showTime) {
            const double micro = std::chrono::duration<double, std::micro>(ended - started).count();
            std::printf("%.9f %.3f\n", offset, micro);
        } else {
            std::printf("%.9f\n", offset);
        }
    }
    std::fflush(stdout);
#ifdef _WIN32
    WSACleanup();
#endif
    return succeeded > 0 ? 0 : 1;
}
