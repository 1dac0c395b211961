// One network exchange with a time server: resolve, open, send the SNTP request
// where the protocol has one, wait for the reply within the time-out, receive it
// into the caller's buffer, and report success or the stage that failed.
#pragma once

#include "engine/query_request.h"

// 1 on success, 0 on failure; the status text and, on failure, the error code are set.
// The request's socket is 0 again on return.
int ExchangeWithServer(QueryRequest* request);

// Closes the request's socket if one is open and marks it closed. Only the thread
// that runs the exchange may call it.
void CloseRequestSocket(QueryRequest* request);

// From another thread: ends the exchange early. A wait for the reply returns within
// a tenth of a second and no later stage starts; a name lookup or a connection in
// progress runs to its own end first. The exchange then fails; what it stores after
// this no longer matters to anyone.
void AbandonExchange(QueryRequest* request);
