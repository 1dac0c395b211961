// One network exchange with a time server: resolve the name to every address it has,
// IPv4 and IPv6, connect to the first that takes a connection or send the SNTP request
// to the first that takes it, wait for the reply within the time-out, receive it into
// the caller's buffer, and report success or the stage that failed.
#pragma once

#include "engine/query_request.h"

// 1 on success, 0 on failure; the status text and, on failure, the error code are set.
// The exchange opens and closes its sockets on the thread that runs it; the request
// shows the socket while it is open and holds 0 again on return. One time-out, counted
// from the first address's attempt, covers the attempts and the reply: an address that
// fails once it has passed is the last one tried, and its failure is reported.
//
// What a success leaves in the buffer:
//   SNTP     the 48-byte reply, its Originate Timestamp our own transmit time, all four
//            timestamps converted in place (see ReadReplyTimeStamp);
//   TIME     the 4-byte value, received in as many pieces as it comes in; zeros when
//            the server closed, or the time-out passed, before all 4 bytes arrived;
//   DAYTIME  what one receive found; the bytes after it are the caller's.
// A TIME value cut short is no failure of the exchange (only a wait that ends before
// anything arrives is "TimeOut"): the zeros, a time before 1970 that no server sends,
// tell the caller that no value came.
int ExchangeWithServer(QueryRequest* request);

// From another thread: ends the exchange early. A wait for the reply returns within
// a tenth of a second and no later stage starts, nor another address; a name lookup
// or a connection in progress runs to its own end first. The exchange then fails;
// what it stores after this no longer matters to anyone.
void AbandonExchange(QueryRequest* request);
