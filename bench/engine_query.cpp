// The engine's SNTP check from the command line, for the benchmarks: the same query
// and offset as the Check command (CheckSntp with the synchronous runner), repeated.
//
//   engine_query [--once | --count N] [--timeout SECONDS] [--samples N] [--time] [--tcp-time]
//                [--nts [--fresh-ke]] SERVER
//
// Prints one line per answered query: the clock offset in seconds (positive when the
// server is ahead) and, with --time, the microseconds the check took in this process
// (and, with --nts, a third column: 1 when that query made a key establishment, 0
// when it used the cookies kept from the one before).
// A query that fails is told on standard error and the next one starts. --once (the
// default) makes one query, as a user's one check does. --tcp-time asks over TIME
// (TCP 37) instead, whose offset is in whole seconds. --samples is the profile's Samples
// (SNTP requests of one query, of which the one with the shortest round trip counts;
// default 1). --nts authenticates the queries (NTS, SERVER being the key establishment
// server): one client is kept for the whole run, as the program keeps one for its
// life, so the first query makes the key establishment and the next ones use its
// cookies; --fresh-ke makes a new client for every query, so each makes its own. The
// cryptography is the library linked in natively, and on Windows TavrinoNts.dll beside
// this program, loaded as the programs load it. Exits 1 when none succeeded.
// `engine_query --clock-function` prints the function that reads the PC clock.
// Portable: built natively and for Windows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "engine/check_adjust.h"
#include "engine/nts_client.h"
#ifdef _WIN32
#include "framework/clock_win.h"
#endif
#include "engine/time_text.h"
#include "framework/cstring.h"
#include "framework/context.h"
#include "framework/net_compat.h"
#ifndef _WIN32
#include "nts/nts_openssl.h"
#endif

namespace {

constexpr int kMaxCount = 100000;

int Usage() {
    std::fprintf(stderr,
                 "usage: engine_query [--once | --count N] [--timeout SECONDS] [--samples N] "
                 "[--time] [--tcp-time] [--nts [--fresh-ke]] SERVER\n");
    return 2;
}

#ifdef _WIN32
const NtsBackendLoader kNtsLoader = &LoadNtsBackendBesideProgram;
#else
const NtsBackendLoader kNtsLoader = &TavrinoNtsBackend;
#endif

// Whether the client holds a session with cookies for the server, that is whether the
// next query goes without a key establishment; the session is put back as it was.
bool HoldsSession(CNtsClient& client, const std::string& server) {
    NtsSession session;
    const bool held = client.Take(server, &session);
    if (held) client.Keep(server, std::move(session));
    return held;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1;
    int timeout = 3;
    int samples = 1;
    bool showTime = false;
    bool tcpTime = false;
    bool nts = false;
    bool freshKe = false;
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
        } else if (std::strcmp(argv[i], "--nts") == 0) {
            nts = true;
        } else if (std::strcmp(argv[i], "--fresh-ke") == 0) {
            freshKe = true;
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
    if ((freshKe && !nts) || (nts && tcpTime)) return Usage();

#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
#endif
    const CString serverName(server);
    int succeeded = 0;
    std::unique_ptr<CNtsClient> client;
    for (int i = 0; i < count; ++i) {
        // A new client forgets the sessions and the loaded backend alike; the backend
        // is the same static table again, so only the key establishment is repeated.
        if (nts && (!client || freshKe)) client = std::make_unique<CNtsClient>(kNtsLoader);
        const ScopedContext seams(CurrentContext().With(client.get()));
        const bool keyEstablishment = nts && !HoldsSession(*client, server);
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
                           errorText, samples, nts);
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
            if (nts) {
                std::printf("%.9f %.3f %d\n", offset, micro, keyEstablishment ? 1 : 0);
            } else {
                std::printf("%.9f %.3f\n", offset, micro);
            }
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
