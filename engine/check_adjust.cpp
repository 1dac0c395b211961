#include "engine/check_adjust.h"

#include <chrono>
#include <cmath>
#include <cstdint>

#include "engine/query_request.h"
#include "engine/query_runner.h"
#include "engine/sntp.h"
#include "engine/time_text.h"
#include "framework/clock.h"
#include "framework/crt_time.h"

namespace {

// How long an adjustment waits for the new time to reach a whole millisecond.
constexpr auto kLongestWaitForMillisecond = std::chrono::microseconds(1000);
// A bound on the readings of that wait, whatever the clock does.
constexpr int kMostReadings = 100000;

// A real-seconds time as a TimeStamp: the floor second modulo 2^32 and the whole
// microseconds since it, for a time before 1970 as for any other. The value stays
// within a few times 2^32 (a clock reading plus an offset between two such readings),
// far inside what a long long holds.
TimeStamp SplitRealSeconds(double value) {
    const double whole = std::floor(value);
    long long seconds = static_cast<long long>(whole);
    long long microseconds = static_cast<long long>((value - whole) * 1e6);
    // A value a hair below a whole second rounds up to it.
    if (microseconds >= 1000000) {
        seconds += 1;
        microseconds -= 1000000;
    }
    return TimeStamp{static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds)),
                     static_cast<std::uint32_t>(microseconds)};
}

// Sets the PC clock to a TIME or DAYTIME answer; false when the clock refused.
bool SetClockToAnswer(Protocol protocol, std::uint32_t serverSeconds,
                      const CString& serverTimeText) {
    if (protocol == kProtocolTime) {
        // TIME sends an instant. Its text shows it in Japan's time, but the PC's own
        // zone may be another, so the clock is set in UTC.
        const SYSTEMTIME utc = TimeStampToSystemTime(TimeStamp{serverSeconds, 0});
        return PcClock().SetSystemTime(&utc) != FALSE;
    }
    // DAYTIME sends a text in the server's zone, set as it reads. A text in another
    // layout parses to month 0, which the clock refuses; that is how such a server's
    // answer is turned away.
    SYSTEMTIME local{};
    ParseTimeText(serverTimeText, &local);
    return PcClock().SetLocalTime(&local) != FALSE;
}

// Microseconds from b to a; the seconds wrap modulo 2^32 as TimeStamp's do.
long long MicrosecondsApart(const TimeStamp& a, const TimeStamp& b) {
    const auto seconds = static_cast<std::int32_t>(a.seconds - b.seconds);
    return seconds * 1000000LL + static_cast<long long>(a.microseconds) - b.microseconds;
}

// The time to set: the PC clock plus the offset, on a whole millisecond, which is all
// that the clock takes. The clock is read again rather than the reply's arrival time
// used, as validation and the dialog's end took time that it has gone on counting;
// then read until the new time reaches its next whole millisecond (at most a
// millisecond), so that it is not set up to a millisecond behind. A clock that does
// not move on within that time is set from its last reading, cut to the millisecond.
TimeStamp TargetOnTheMillisecond(double offset) {
    TimeStamp now{};
    ReadPcClock(&now);
    TimeStamp reached = SplitRealSeconds(RealSeconds(now) + offset);
    TimeStamp whole{reached.seconds, (reached.microseconds + 999) / 1000 * 1000};
    if (whole.microseconds == 1000000) whole = TimeStamp{whole.seconds + 1, 0};
    const auto start = std::chrono::steady_clock::now();
    for (int reading = 0; reading < kMostReadings && MicrosecondsApart(reached, whole) < 0;
         ++reading) {
        if (std::chrono::steady_clock::now() - start > kLongestWaitForMillisecond) return reached;
        ReadPcClock(&now);
        reached = SplitRealSeconds(RealSeconds(now) + offset);
    }
    // A clock that stepped past it (a coarse tick, a pause of this thread) is set from
    // its reading, never back to the millisecond it passed.
    const long long past = MicrosecondsApart(reached, whole);
    return past < 0 || past >= 1000 ? reached : whole;
}

}  // namespace

int CheckSntp(const CString& server, int timeout, int beep, int referenceCheck, int referenceHours,
              CString* serverTimeText, CString* pcTimeText, double* offset, CString& statusText,
              CString& errorText, int samples, bool nts) {
    int errorCode = 0;
    unsigned char reply[kSntpPacketSize] = {};
    TimeStamp arrival{0, 0};
    const int answered =
        RunQuery(kProtocolSntp, server.GetString(), timeout, beep, reply, kSntpPacketSize, &arrival,
                 statusText, errorCode, samples, referenceCheck, referenceHours, nts);

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
    return SetClockByOffset(offset, serverTimeText, statusText, errorText);
}

int SetClockByOffset(double offset, CString& serverTimeText, CString& statusText,
                     CString& errorText) {
    const TimeStamp target = TargetOnTheMillisecond(offset);
    const SYSTEMTIME utc = TimeStampToSystemTime(target);
    if (!PcClock().SetSystemTime(&utc)) {
        statusText = kClockRefused;
        errorText.Format("%lu", static_cast<unsigned long>(PcClock().LastSetError()));
        return 0;
    }
    serverTimeText = FormatServerTime(target.seconds);
    statusText = "OK";
    return 1;
}

int AdjustTimeOrDaytime(Protocol protocol, const CString& server, int timeout, int beep,
                        CString& serverTimeText, CString& pcTimeText, CString& statusText,
                        int& errorCode) {
    serverTimeText.Empty();
    pcTimeText.Empty();
    std::uint32_t serverSeconds = 0;
    const int answered = QueryTimeOrDaytime(protocol, server, timeout, beep, serverTimeText,
                                            statusText, errorCode, &serverSeconds);
    pcTimeText = FormatPcLocalTime();
    if (!answered) return 0;
    return SetClockToTimeOrDaytime(protocol, serverSeconds, serverTimeText, statusText, errorCode);
}

int SetClockToTimeOrDaytime(Protocol protocol, std::uint32_t serverSeconds,
                            const CString& serverTimeText, CString& statusText, int& errorCode) {
    if (!SetClockToAnswer(protocol, serverSeconds, serverTimeText)) {
        statusText = kClockRefused;
        errorCode = static_cast<int>(PcClock().LastSetError());
        return 0;
    }
    statusText = "OK";
    return 1;
}

double TimeOrDaytimeCorrection(Protocol protocol, std::uint32_t serverSeconds,
                               const CString& serverTimeText) {
    if (protocol == kProtocolTime) {
        TimeStamp now{};
        ReadPcClock(&now);
        // Both in the 32-bit seconds of TimeStamp; their difference is signed.
        return static_cast<double>(static_cast<std::int32_t>(serverSeconds - now.seconds)) -
               now.microseconds * 1e-6;
    }
    SYSTEMTIME server{};
    ParseTimeText(serverTimeText, &server);
    if (server.wMonth < 1 || server.wMonth > 12) return 0.0;
    SYSTEMTIME pc{};
    PcClock().GetLocalTime(&pc);
    auto secondsOf = [](const SYSTEMTIME& t) {
        return static_cast<double>(DaysSince1970(t.wYear, t.wMonth, t.wDay)) * 86400.0 +
               t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds * 0.001;
    };
    return secondsOf(server) - secondsOf(pc);
}
