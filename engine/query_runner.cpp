#include "engine/query_runner.h"

#include "engine/exchange.h"
#include "framework/notify.h"

void RunExchangeSynchronously(QueryRequest& request) {
    request.result = ExchangeWithServer(&request);
}

int RunQuery(Protocol protocol, const char* server, int timeout, int beep, unsigned char* buffer,
             int bufferSize, TimeStamp* receiveTime, CString& statusText, int& errorCode,
             int samples, int referenceCheck, int referenceHours, bool nts) {
    QueryRequest request;
    request.protocol = protocol;
    request.server = server;
    request.timeout = timeout;
    request.beep = beep;
    request.buffer = buffer;
    request.bufferSize = bufferSize;
    request.receiveTime = receiveTime;
    request.statusText = &statusText;
    request.errorCode = &errorCode;
    request.result = 0;
    request.samples = SampleCount(samples);
    request.referenceCheck = referenceCheck;
    request.referenceHours = referenceHours;
    const Context& context = CurrentContext();
    if (context.sntpTrace) request.trace = *context.sntpTrace;
    request.nts = nts && protocol == kProtocolSntp;
    request.ntsClient = context.nts;

    (context.runQuery ? context.runQuery : RunExchangeSynchronously)(request);
    // The worker may not show a box; the user hears of the trace file here, once.
    if (request.traceNotOpened) ShowMessage("Can not open the logfile");

    if (request.result != 0) {
        statusText = "OK";
        return request.result;
    }
    statusText = "ERROR (" + statusText + ")";
    if (beep != 0) PlayBeep(256, 100);
    return 0;
}
