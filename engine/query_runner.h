// One query of the time server, as the check and adjust operations ask for it.
// RunQuery fills a request, hands it to the bound runner and composes the outcome.
// The program binds the modal query dialog with its worker thread; native tests and
// tools keep the default, which runs the exchange synchronously on the calling thread.
#pragma once

#include "engine/query_request.h"

// Runs one query to its end and leaves the outcome in the request: result 1, or
// result 0 with the stage word in *statusText and the error code in *errorCode.
using QueryRunner = void (*)(QueryRequest& request);

// Binds a runner (nullptr restores the synchronous one) and returns the previous one.
QueryRunner BindQueryRunner(QueryRunner runner);

// The synchronous runner: the exchange on the calling thread.
void RunExchangeSynchronously(QueryRequest& request);

// Runs one query. 1 with statusText "OK"; 0 with statusText "ERROR (" + stage word + ")"
// and a beep of 256 Hz for 100 ms when beep is set. errorCode is the failing stage's
// error code (0 for a time-out by the countdown or a cancel); it is left alone on success.
int RunQuery(int protocol, const char* server, int timeout, int beep, unsigned char* buffer,
             int bufferSize, TimeStamp* receiveTime, CString& statusText, int& errorCode);
