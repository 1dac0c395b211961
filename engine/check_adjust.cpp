#include "engine/check_adjust.h"

#include <cstdint>

#include "engine/query_request.h"
#include "engine/query_runner.h"
#include "engine/sntp.h"
#include "engine/time_text.h"
#include "framework/clock.h"

namespace {

const char kClockRefused[] = "ERROR (localtime-set)";

// A real-seconds time as a TimeStamp: seconds modulo 2^32 and whole microseconds.
TimeStamp SplitRealSeconds(double value) {
    long long seconds = static_cast<long long>(value);  // toward zero
    long long microseconds = static_cast<long long>((value - static_cast<double>(seconds)) * 1e6);
    // Only a time before 1970 gets here; borrow so that the microseconds stay in range.
    if (microseconds < 0) {
        seconds -= 1;
        microseconds += 1000000;
    }
    return TimeStamp{static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds)),
                     static_cast<std::uint32_t>(microseconds)};
}

}  // namespace

int CheckSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
              CString* serverTimeText, CString* pcTimeText, double* offset, CString& statusText,
              CString& errorText) {
    int errorCode = 0;
    unsigned char reply[kSntpPacketSize] = {};
    TimeStamp arrival{0, 0};
    const int answered = RunQuery(kProtocolSntp, server.GetString(), timeout, beep, reply,
                                  kSntpPacketSize, &arrival, statusText, errorCode);

    // The user compares the two times, so the PC's is taken whatever the query did.
    if (pcTimeText) *pcTimeText = FormatPcLocalTime();

    if (!answered) {
        errorText.Format("%i", errorCode);
        return 0;
    }

    double ownOffset = 0.0;
    if (!ValidateSntpReply(reply, arrival, offset ? offset : &ownOffset, statusText, errorText,
                           referenceCheck, referenceHours)) {
        return 0;
    }
    if (serverTimeText) {
        *serverTimeText = FormatServerTime(ReadReplyTimeStamp(reply + kTransmitOffset).seconds);
    }
    return 1;
}

int AdjustSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
               CString& serverTimeText, CString& pcTimeText, CString& statusText,
               CString& errorText) {
    double offset = 0.0;
    if (!CheckSntp(server, timeout, beep, referenceCheck, referenceHours, nullptr, &pcTimeText,
                   &offset, statusText, errorText)) {
        return 0;
    }

    // Read the clock again rather than use the reply's arrival time: validation and
    // closing the dialog took time that the clock has gone on counting.
    TimeStamp now{};
    ReadPcClock(&now);
    const TimeStamp target = SplitRealSeconds(RealSeconds(now) + offset);

    const SYSTEMTIME utc = TimeStampToSystemTime(target);
    if (!PcClock().SetSystemTime(&utc)) {
        statusText = kClockRefused;
        return 0;
    }
    serverTimeText = FormatServerTime(target.seconds);
    statusText = "OK";
    return 1;
}

int AdjustTimeOrDaytime(int protocol, const CString& server, int timeout, int beep,
                        CString& serverTimeText, CString& pcTimeText, CString& statusText,
                        int& errorCode) {
    serverTimeText.Empty();
    pcTimeText.Empty();
    const int answered =
        QueryTimeOrDaytime(protocol, server, timeout, beep, serverTimeText, statusText, errorCode);
    pcTimeText = FormatPcLocalTime();
    if (!answered) return 0;

    // A text in another layout parses to month 0, which the clock refuses; that is
    // how such a server's answer is turned away.
    SYSTEMTIME local{};
    ParseTimeText(serverTimeText, &local);
    if (!PcClock().SetLocalTime(&local)) {
        statusText = kClockRefused;
        return 0;
    }
    statusText = "OK";
    return 1;
}
