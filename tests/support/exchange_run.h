// Runs one exchange synchronously on the test thread and keeps what it produced.
#pragma once

#include <chrono>
#include <cstring>

#include "engine/exchange.h"

struct ExchangeRun {
    unsigned char buffer[512];
    TimeStamp receiveTime{0xFFFFFFFFu, 0xFFFFFFFFu};
    CString status{"unset"};
    int errorCode = -12345;
    QueryRequest request;
    int result = -1;
    double seconds = 0.0;  // how long the exchange took

    ExchangeRun(int protocol, const char* server, int timeout, unsigned char fill = 0) {
        std::memset(buffer, fill, sizeof buffer);
        request.protocol = static_cast<Protocol>(protocol);
        request.server = server;
        request.timeout = timeout;
        request.buffer = buffer;
        request.bufferSize = protocol == kProtocolSntp   ? kSntpPacketSize
                             : protocol == kProtocolTime ? kTimeReplySize
                                                         : kDaytimeReplySize;
        request.receiveTime = protocol == kProtocolSntp ? &receiveTime : nullptr;
        request.statusText = &status;
        request.errorCode = &errorCode;
    }

    int Run() {
        auto start = std::chrono::steady_clock::now();
        result = ExchangeWithServer(&request);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }

    // The validated offset of an accepted SNTP reply; status and error land here.
    int Validate(double* offset, CString* errorText, int referenceCheck = 0, int hours = 24) {
        return ValidateSntpReply(buffer, receiveTime, offset, status, *errorText, referenceCheck,
                                 hours);
    }
};
