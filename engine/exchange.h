// One network exchange with a time server: resolve, open, send the SNTP request
// where the protocol has one, wait for the reply within the time-out, receive it
// into the caller's buffer, and report success or the stage that failed.
#pragma once

#include "engine/query_request.h"

// The stage words of a failed exchange.
extern const char kStageHostNotFound[];
extern const char kStageSocket[];
extern const char kStageConnect[];
extern const char kStageSend[];
extern const char kStageSendPacket[];
extern const char kStageSelect[];
extern const char kStageTimeOut[];
extern const char kStageRecv[];
extern const char kStageRecvPacket[];
extern const char kStageIncorrectPacket[];

// 1 on success, 0 on failure; the status text and, on failure, the error code are set.
// The request's socket is 0 again on return.
int ExchangeWithServer(QueryRequest* request);

// Closes the request's socket if one is open and marks it closed.
void CloseRequestSocket(QueryRequest* request);
