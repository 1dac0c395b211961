// The socket layer of the fuzz targets, in place of the BSD one: every net:: call of
// framework/net_compat.h answers from the fuzz input, read as the exchange makes its
// calls, so that one input is one whole exchange (the resolver's list, each attempt's
// outcome, the waits, the reply's datagram or stream pieces). An input that runs out
// answers the plain way: one IPv4 address, sockets that open, connect and send, a
// reply that is there, a stream that closes.
//
// It also holds the exchange to what the real layer demands: no call on a socket that
// is closed or was never opened, an address tried on a socket of its own family, wait
// slices of at most a tenth of a second, and every socket and address list given back
// by the end of the run.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/net_compat.h"

// An invariant of the program that the fuzz input broke: a crash that libFuzzer keeps.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fakenet {

// What the exchange did during one run.
struct Record {
    std::vector<const sockaddr*> listed;   // the addresses of the last list handed out
    std::vector<int> listedFamilies;       //   and their families, in its order
    std::vector<int> families;             // the family of each socket asked for
    std::vector<const sockaddr*> reached;  // the address of each Connect and SendTo
    std::vector<unsigned char> sent;       // the last datagram sent
    std::string received;                  // every byte handed to a receive, in order
};

// Starts a run answered from input; ends any run before it.
void Begin(FuzzedDataProvider* input);
// A query dialog's give-up flag: a wait that finds nothing may then end with the
// user giving up (the flag set), as the countdown does. Null for none.
void WatchAbandon(std::atomic<bool>* abandoned);
// Ends the run, checking that every socket and list was given back.
void End();
const Record& Current();

}  // namespace fakenet
