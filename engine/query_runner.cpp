#include "engine/query_runner.h"

#include <atomic>

#include "engine/exchange.h"
#include "framework/notify.h"

namespace {
std::atomic<QueryRunner> boundRunner{nullptr};
}

QueryRunner BindQueryRunner(QueryRunner runner) { return boundRunner.exchange(runner); }

void RunExchangeSynchronously(QueryRequest& request) {
    request.result = ExchangeWithServer(&request);
}

int RunQuery(int protocol, const char* server, int timeout, int beep, unsigned char* buffer,
             int bufferSize, TimeStamp* receiveTime, CString& statusText, int& errorCode) {
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

    QueryRunner runner = boundRunner.load();
    (runner ? runner : RunExchangeSynchronously)(request);

    if (request.result != 0) {
        statusText = "OK";
        return request.result;
    }
    statusText = "ERROR (" + statusText + ")";
    if (beep != 0) PlayBeep(256, 100);
    return 0;
}
