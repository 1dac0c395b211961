// The socket layer of the fuzz targets, in place of the BSD one: every net:: call of
// framework/net_compat.h, and the receive stamps of framework/receive_stamp.h, answer
// from the fuzz input, read as the exchange makes its calls, so that one input is one
// whole exchange (the resolver's list, each socket's and each connect's outcome, the
// waits over several sockets, each reply's datagram and stamp, the stream pieces). An
// input that runs out answers the plain way: one IPv4 address, sockets that open,
// connect at once and send, replies that are there and echo their request, no stamps,
// a stream that closes.
//
// Time passes as the input says: a wait that finds nothing lasts the whole wait, one
// that finds something part of it. The exchange reads std::chrono::steady_clock, which
// this layer makes run on by the time its waits lasted, so that a time-out of a minute
// or a burst of quarter-second gaps costs a run no real time.
//
// It also holds the exchange to what the real layer demands: no call on a socket that
// is closed or was never opened, an address tried on a socket of its own family, wait
// slices of at most a tenth of a second over at most net::kMostWaited sockets, a
// receive only from a socket that the last wait found readable, a connect's error
// asked only once the last wait saw it end, one request a datagram socket, stamps
// asked for before it sent, and every socket and address list given back by the end
// of the run.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <cstdint>
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

// A datagram the exchange sent (in whole or not), or one handed to a receive.
struct Datagram {
    SOCKET socket = 0;
    const sockaddr* address = nullptr;  // where it was sent; null for a reply
    std::vector<unsigned char> bytes;   // a reply's as far as the receive buffer took it
    int returned = 0;                   // what the send or receive returned
    long long atMs = 0;                 // on the exchange's clock, from Begin
    int order = 0;                      // among the run's sends and receives
};

// What the exchange did during one run.
struct Record {
    std::vector<const sockaddr*> listed;   // the addresses of the last list handed out
    std::vector<int> listedFamilies;       //   and their families, in its order
    std::vector<int> families;             // the family of each socket asked for
    std::vector<const sockaddr*> reached;  // the address of each connect and send
    std::vector<Datagram> sent;            // every datagram sent, in order
    std::vector<Datagram> replies;         // every datagram received, in order
    std::string received;                  // every byte handed to a receive, in order
    int mostOpen = 0;                      // the most sockets open at one time
    long long elapsedMs = 0;               // from Begin to End, on the exchange's clock
};

// The server's clock in NTP seconds, read as each SNTP request leaves: the times of a
// reply that the input stamps are near it, where the reply's tests decide. Null: near
// the request's transmit bits, which are random.
using ServerClock = std::uint32_t (*)();

// Starts a run answered from input; ends any run before it.
void Begin(FuzzedDataProvider* input, ServerClock serverClock = nullptr);
// A query dialog's give-up flag: a wait that finds nothing may then end with the
// user giving up (the flag set), as the countdown does. Null for none.
void WatchAbandon(std::atomic<bool>* abandoned);
// Ends the run, checking that every socket and list was given back.
void End();
const Record& Current();

// Whether reply is a whole SNTP datagram (48 bytes, received without error) that
// echoes, as its originate time, the transmit bits of the request sent on the reply's
// own socket: the only reply an SNTP exchange may accept.
bool EchoesOwnRequest(const Record& record, const Datagram& reply);

}  // namespace fakenet
