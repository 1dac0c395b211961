// One query of the time server, as the check and adjust operations ask for it.
// RunQuery fills a request, hands it to the context's runner and composes the
// outcome. The program binds the modal query dialog with its worker thread; native
// tests and tools keep the default, which runs the exchange on the calling thread.
#pragma once

#include "engine/query_request.h"
#include "framework/context.h"

// The synchronous runner: the exchange on the calling thread.
void RunExchangeSynchronously(QueryRequest& request);

// Runs one query. 1 with statusText "OK"; 0 with statusText "ERROR (" + stage word + ")"
// and a beep of 256 Hz for 100 ms when beep is set. errorCode is the failing stage's
// error code (0 for a time-out by the countdown or a cancel); it is left alone on success.
// The context's packet trace goes with an SNTP query; when its file would not open,
// the message box "Can not open the logfile" follows the query.
// An SNTP query of several samples keeps the one with the smallest round trip among
// those that pass the reference-time test as well as the others.
// With nts, an SNTP query is authenticated through the context's NTS client; without
// one bound, it fails with "NTS:Unavailable".
int RunQuery(Protocol protocol, const char* server, int timeout, int beep, unsigned char* buffer,
             int bufferSize, TimeStamp* receiveTime, CString& statusText, int& errorCode,
             int samples = 1, int referenceCheck = 0, int referenceHours = 24, bool nts = false);
