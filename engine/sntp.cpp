#include "engine/sntp.h"

#include <cstring>

#include "framework/clock.h"
#include "framework/crt_time.h"

namespace {

// The client's scale between microseconds and NTP fractions. It is 4294.967, not
// 4294.967296, in both directions; servers and old logs agree with it, so keep it.
constexpr double kMicrosecondsToFraction = 4294.967;
constexpr double kFractionToMicroseconds = 0.00023283065970006292;

// A reply whose delay or server time exceeds this many seconds is refused.
constexpr double kLongestDelay = 10.0;

// A server that will not serve us (a kiss-o'-death) answers with stratum 0 and a
// four-letter code where the Reference Identifier goes.
constexpr int kStratumOffset = 1;
constexpr int kReferenceIdOffset = 12;
constexpr int kReferenceIdSize = 4;

// An NTP timestamp that was all zeros on the wire, as the exchange converted it.
// Wire fractions below 4295 (under a microsecond) convert to the same value, so the
// one such instant of February 2036 would be refused as well; a retry passes it.
constexpr TimeStamp kZeroNtpTimeStamp{0u - kNtpTo1970, 0};

bool IsZeroNtpTimeStamp(const TimeStamp& value) {
    return value.seconds == kZeroNtpTimeStamp.seconds &&
           value.microseconds == kZeroNtpTimeStamp.microseconds;
}

// The printable ASCII characters of the kiss-o'-death code.
CString KissCode(const unsigned char* reply) {
    CString code;
    for (int i = 0; i < kReferenceIdSize; ++i) {
        const unsigned char ch = reply[kReferenceIdOffset + i];
        if (ch >= 0x20 && ch <= 0x7E) code += static_cast<char>(ch);
    }
    return code;
}

// Floor division, so that a time before 1970 splits into a second and a forward count
// within it, as one after 1970 does.
std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    if (value % divisor < 0) --quotient;
    return quotient;
}

void PutBigEndian(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

}  // namespace

std::uint32_t ReadBigEndian32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | static_cast<std::uint32_t>(at[3]);
}

void ReadPcClock(TimeStamp* now) {
    FILETIME fileTime{};
    PcClock().GetSystemTimeAsFileTime(&fileTime);
    std::uint64_t ticks =
        static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32 | fileTime.dwLowDateTime;
    const std::int64_t micro = FloorDivide(static_cast<std::int64_t>(ticks) - kFileTime1970, 10);
    const std::int64_t seconds = FloorDivide(micro, 1000000);
    now->seconds = static_cast<std::uint32_t>(seconds);
    now->microseconds = static_cast<std::uint32_t>(micro - seconds * 1000000);
}

void BuildSntpRequest(unsigned char request[kSntpPacketSize], const unsigned char transmit[8]) {
    std::memset(request, 0, kSntpPacketSize);
    request[0] = 0xDB;                 // not synchronised, version 3, client
    request[1] = 0;                    // stratum
    request[2] = 4;                    // poll interval 2^4 s
    request[3] = 0xFA;                 // precision 2^-6 s
    PutBigEndian(request + 4, 65536);  // root delay 1.0 s
    PutBigEndian(request + 8, 65536);  // root dispersion 1.0 s
    std::memcpy(request + kTransmitOffset, transmit, 8);
}

bool IsKissOfDeath(const unsigned char* reply) { return reply[kStratumOffset] == 0; }

double RoundTripDelay(const unsigned char* reply, const TimeStamp& t4) {
    const double t1 = RealSeconds(ReadReplyTimeStamp(reply + kOriginateOffset));
    const double t2 = RealSeconds(ReadReplyTimeStamp(reply + kReceiveOffset));
    const double t3 = RealSeconds(ReadReplyTimeStamp(reply + kTransmitOffset));
    return (RealSeconds(t4) - t1) - (t3 - t2);
}

void WriteNtpTimeStamp(unsigned char* field, const TimeStamp& value) {
    PutBigEndian(field, value.seconds + kNtpTo1970);
    PutBigEndian(field + 4, static_cast<std::uint32_t>(value.microseconds * kMicrosecondsToFraction));
}

TimeStamp NtpToTimeStamp(const unsigned char* field) {
    TimeStamp value;
    value.seconds = ReadBigEndian32(field) - kNtpTo1970;
    value.microseconds =
        static_cast<std::uint32_t>(ReadBigEndian32(field + 4) * kFractionToMicroseconds);
    return value;
}

void WriteReplyTimeStamp(unsigned char* field, const TimeStamp& value) {
    std::memcpy(field, &value.seconds, 4);
    std::memcpy(field + 4, &value.microseconds, 4);
}

TimeStamp ReadReplyTimeStamp(const unsigned char* field) {
    TimeStamp value;
    std::memcpy(&value.seconds, field, 4);
    std::memcpy(&value.microseconds, field + 4, 4);
    return value;
}

double RealSeconds(const TimeStamp& value) {
    return static_cast<double>(value.seconds) + static_cast<double>(value.microseconds) * 0.000001;
}

int ValidateSntpReply(const unsigned char* reply, const TimeStamp& t4, double* offset,
                      CString& statusText, CString& errorText, int referenceCheck,
                      int referenceHours) {
    const TimeStamp reference = ReadReplyTimeStamp(reply + kReferenceOffset);
    const double ref = RealSeconds(reference);
    const double t1 = RealSeconds(ReadReplyTimeStamp(reply + kOriginateOffset));
    const double t2 = RealSeconds(ReadReplyTimeStamp(reply + kReceiveOffset));
    const double t3 = RealSeconds(ReadReplyTimeStamp(reply + kTransmitOffset));
    const double client4 = RealSeconds(t4);

    // A server that tells us to go away has measured nothing.
    if (IsKissOfDeath(reply)) {
        statusText.Format("ERROR (SNTP: Kiss-o'-Death %s)", KissCode(reply).GetString());
        return 0;
    }
    // Nor has one that left either of its own timestamps empty.
    if (IsZeroNtpTimeStamp(ReadReplyTimeStamp(reply + kReceiveOffset)) ||
        IsZeroNtpTimeStamp(ReadReplyTimeStamp(reply + kTransmitOffset))) {
        statusText = "ERROR (SNTP: Bad Response)";
        return 0;
    }
    // The server's last synchronisation must not lie in the future nor be too old.
    if (referenceCheck != 0 &&
        (t2 < ref ||
         t2 - ref > static_cast<double>(static_cast<long long>(referenceHours) * 3600))) {
        statusText = "ERROR (SNTP: ReferenceTimestamp)";
        std::tm local{};
        LocalTm(reference.seconds, &local);
        errorText.Format("%s.%i", FormatTm("%c", local).GetString(),
                         static_cast<int>(reference.microseconds));
        return 0;
    }
    // Round trip as the client saw it.
    if (client4 < t1 || client4 - t1 > kLongestDelay) {
        statusText = "ERROR (SNTP: Bad Response)";
        return 0;
    }
    // Time the server took to answer.
    if (t3 < t2 || t3 - t2 > kLongestDelay) {
        statusText = "ERROR (SNTP: Server Throughput)";
        return 0;
    }
    *offset = ((t2 - t1) + (t3 - client4)) * 0.5;
    return 1;
}

SYSTEMTIME TimeStampToSystemTime(const TimeStamp& value) {
    std::tm utc{};
    UtcTm(value.seconds, &utc);
    SYSTEMTIME result{};
    result.wYear = static_cast<WORD>(utc.tm_year + 1900);
    result.wMonth = static_cast<WORD>(utc.tm_mon + 1);
    result.wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    result.wDay = static_cast<WORD>(utc.tm_mday);
    result.wHour = static_cast<WORD>(utc.tm_hour);
    result.wMinute = static_cast<WORD>(utc.tm_min);
    result.wSecond = static_cast<WORD>(utc.tm_sec);
    result.wMilliseconds = static_cast<WORD>(value.microseconds / 1000);
    return result;
}

CString FormatLogTime(const TimeStamp& value) {
    // A fraction at the very top of the range converts to a whole second (1000000
    // microseconds); the text shows it as the next second.
    const std::uint32_t seconds = value.seconds + value.microseconds / 1000000;
    const std::uint32_t microseconds = value.microseconds % 1000000;
    std::tm local{};
    LocalTm(seconds, &local);
    CString text;
    text.Format("%s.%06u", FormatTm("%a %b %d %Y %H:%M:%S", local).GetString(),
                static_cast<unsigned>(microseconds));
    return text;
}
