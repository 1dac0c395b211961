// The record of one query, shared by the query runner, the query dialog and the
// worker that performs the network exchange.
#pragma once

#include <atomic>
#include <string>

#include "engine/protocol.h"
#include "engine/sntp.h"
#include "framework/cstring.h"
#include "framework/net_compat.h"
#include "framework/win_types.h"

// Receive lengths of the three protocols.
constexpr int kTimeReplySize = 4;
constexpr int kDaytimeReplySize = 512;

// The packet trace as a query is given it: the writer and the file it appends to,
// chosen once on the user-interface thread. Off while write is null. The writer
// returns 1 when the record was written, 0 when writing failed, and -1 when the
// file could not be opened.
using SntpTraceWriter = int (*)(const std::wstring& path, const CString& server,
                                const unsigned char* reply, const TimeStamp& receiveTime);
class CNtsClient;
struct SntpTrace {
    SntpTraceWriter write = nullptr;
    std::wstring path;
};

struct QueryRequest {
    HWND window = nullptr;  // the query dialog; the worker posts completion here
    SOCKET socket = 0;      // the exchange's socket; 0 while none is open
    Protocol protocol = kProtocolSntp;
    const char* server = nullptr;      // host name, IPv4 or IPv6 address; not owned
    int timeout = 0;                   // seconds for reaching the server and its reply
    int beep = 0;                      // beep when the query fails
    unsigned char* buffer = nullptr;   // the caller's receive buffer; not owned
    int bufferSize = 0;                // receive length: 48, 4 or 512
    TimeStamp* receiveTime = nullptr;  // PC clock when the reply arrived; SNTP only
    CString* statusText = nullptr;     // "OK" or the failing stage's word
    int* errorCode = nullptr;          // socket error code of the failing stage, or 0
    int result = 0;                    // 1 when the exchange succeeded
    int samples = 1;                   // SNTP requests of the query, 1 to 8
    int referenceCheck = 0;            // SNTP: the reference-time test that each
    int referenceHours = 24;           //   sample of a burst must pass
    bool nts = false;                  // SNTP authenticated by NTS
    CNtsClient* ntsClient = nullptr;   // its sessions; lives as long as the program
    SntpTrace trace;                   // where an accepted SNTP reply is traced
    bool traceNotOpened = false;       // the trace file would not open: told after the query

    // Set by a query dialog that has given up on the worker (time-out or cancel).
    // The exchange looks at it between its stages and while it waits for the reply,
    // and ends early; the socket stays the worker's alone to close.
    std::atomic<bool> abandoned{false};

    // The seconds that the whole query may take, which a countdown counts: the
    // time-out, for a burst of samples the quarter seconds between them, and with NTS
    // another time-out for the key establishment.
    int CountdownSeconds() const;
};

// The samples of a query: values outside 1 to 8 give 1.
int SampleCount(int samples);
// The countdown of a query of timeout seconds and samples requests.
int CountdownSeconds(int timeout, int samples, bool nts = false);
