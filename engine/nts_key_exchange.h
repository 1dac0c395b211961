// The key establishment of authenticated time (NTS): TLS 1.3 with the server's port
// 4460, our request, the server's answer, and the two keys exported from the session.
// The socket is the exchange's, connected and non-blocking; the TLS is the backend's,
// over memory buffers, so that every wait here keeps the query's time-out and stops
// when the query is abandoned.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "engine/nts_client.h"
#include "framework/net_compat.h"

// The stage words of a failed NTS query, shown as "ERROR (word)".
constexpr char kStageNtsKeConnect[] = "NTS-KE:Connect";       // port 4460 not reached
constexpr char kStageNtsKeTls[] = "NTS-KE:TLS";               // the TLS handshake failed
constexpr char kStageNtsKeRefused[] = "NTS-KE:Refused";       // the server agreed to nothing
constexpr char kStageNtsUntrusted[] = "NTS:Untrusted";        // certificate not trusted
constexpr char kStageNtsNameMismatch[] = "NTS:NameMismatch";  // certificate for another name
constexpr char kStageNtsCertTime[] = "NTS:CertTime";          // PC clock outside its validity
constexpr char kStageNtsNoCookie[] = "NTS:NoCookie";          // no cookie to send
constexpr char kStageNtsAuth[] = "NTS:Auth";                  // reply not authenticated
constexpr char kStageNtsNak[] = "NTS:NAK";                    // the server refused our cookie
constexpr char kStageNtsUnavailable[] = "NTS:Unavailable";    // no cryptography (the DLL)

// The stage at which the key establishment failed, with its code; no stage on
// success. The code is the socket's error, the server's error record (refused), or 0.
struct NtsKeOutcome {
    const char* stage;
    int errorCode;
};

// On success the session holds the keys, the cookies and the NTP server (server's own
// name and port 123 unless it named others).
NtsKeOutcome RunNtsKeyExchange(const NtsBackend& backend, SOCKET s, const std::string& server,
                               std::chrono::steady_clock::time_point deadline,
                               const std::atomic<bool>& abandoned, NtsSession* session);
