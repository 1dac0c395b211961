#include "engine/sntp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/crt_time.h"
#include "tests/support/fake_clock.h"

namespace {

// 2002-01-06 12:34:56 UTC, a Sunday.
constexpr std::uint32_t kSunday2002 = 1010320496u;

std::vector<unsigned char> Bytes(const unsigned char* data, int from, int count) {
    return std::vector<unsigned char>(data + from, data + from + count);
}

TimeStamp Ntp(std::uint32_t seconds, std::uint32_t fraction) {
    unsigned char field[8];
    for (int i = 0; i < 4; ++i) {
        field[i] = static_cast<unsigned char>(seconds >> (24 - 8 * i));
        field[4 + i] = static_cast<unsigned char>(fraction >> (24 - 8 * i));
    }
    return NtpToTimeStamp(field);
}

// A reply as the exchange leaves it: the four timestamps converted in place. A
// synchronised server at stratum 2 unless a test says otherwise.
struct Reply {
    unsigned char bytes[kSntpPacketSize] = {};
    Reply(TimeStamp ref, TimeStamp t1, TimeStamp t2, TimeStamp t3) {
        bytes[1] = 2;
        std::memcpy(bytes + 12, "TEST", 4);
        WriteReplyTimeStamp(bytes + kReferenceOffset, ref);
        WriteReplyTimeStamp(bytes + kOriginateOffset, t1);
        WriteReplyTimeStamp(bytes + kReceiveOffset, t2);
        WriteReplyTimeStamp(bytes + kTransmitOffset, t3);
    }
};

struct Outcome {
    int result;
    double offset;
    CString status;
    CString error;
};

Outcome Validate(const Reply& reply, TimeStamp t4, int referenceCheck = 0, int hours = 24) {
    Outcome out{-1, -999.0, "before", "untouched"};
    out.result = ValidateSntpReply(reply.bytes, t4, &out.offset, out.status, out.error,
                                   referenceCheck, hours);
    return out;
}

constexpr TimeStamp At(std::uint32_t seconds, std::uint32_t microseconds = 0) {
    return TimeStamp{seconds, microseconds};
}

}  // namespace

TEST(SntpRequest, HeaderAndTheTransmitBitsGiven) {
    unsigned char request[kSntpPacketSize];
    std::memset(request, 0xEE, sizeof request);
    const unsigned char bits[8] = {0x9A, 0x01, 0xFF, 0x00, 0x42, 0x17, 0xC3, 0x5E};
    BuildSntpRequest(request, bits);

    EXPECT_EQ(Bytes(request, 0, 12),
              (std::vector<unsigned char>{0xDB, 0x00, 0x04, 0xFA, 0x00, 0x01, 0x00, 0x00, 0x00,
                                          0x01, 0x00, 0x00}));
    EXPECT_EQ(Bytes(request, 12, 28), std::vector<unsigned char>(28, 0));
    EXPECT_EQ(Bytes(request, 40, 8), std::vector<unsigned char>(bits, bits + 8));
}

// The PC clock as an NTP timestamp: the scale the client always used.
std::vector<unsigned char> NtpOfPcClock() {
    TimeStamp now{};
    ReadPcClock(&now);
    unsigned char field[8];
    WriteNtpTimeStamp(field, now);
    return std::vector<unsigned char>(field, field + 8);
}

TEST(SntpRequest, ClockTimeAsNtp) {
    FakeClock clock;
    clock.SetUtc(kSunday2002, 500000);
    std::vector<unsigned char> field = NtpOfPcClock();
    EXPECT_EQ(ReadBigEndian32(field.data()), kSunday2002 + 2208988800u);
    // 500000 x 4294.967 lies just below 2147483500 in double precision.
    EXPECT_EQ(ReadBigEndian32(field.data() + 4), 2147483499u);
}

TEST(SntpRequest, TransmitSecondsWrapModulo2To32) {
    FakeClock clock;
    clock.SetUtc(4000000000LL, 0);  // the year 2096: past the NTP era boundary of 2036
    std::vector<unsigned char> field = NtpOfPcClock();
    EXPECT_EQ(ReadBigEndian32(field.data()), static_cast<std::uint32_t>(4000000000ULL + 2208988800ULL));
    EXPECT_EQ(ReadBigEndian32(field.data() + 4), 0u);
    // ...and the reply's echo converts back to the same moment.
    EXPECT_EQ(NtpToTimeStamp(field.data()).seconds, 4000000000u);
}

TEST(PcClock, FileTimeBecomesSecondsAndMicrosecondsSince1970) {
    constexpr std::int64_t k1970 = 116444736000000000LL;
    struct Case {
        const char* name;
        std::int64_t ticks;  // FILETIME: tenths of a microsecond since 1601
        TimeStamp expected;
    } const cases[] = {
        // 123456.7 microseconds: the tenth of a microsecond is dropped.
        {"2002", k1970 + kSunday2002 * 10000000LL + 1234567, At(kSunday2002, 123456)},
        {"1970", k1970, At(0, 0)},
        // Before 1970 the second is the one before (modulo 2^32) and the microseconds
        // count forward from it, as they do after 1970.
        {"a tenth of a microsecond before", k1970 - 1, At(4294967295u, 999999)},
        {"a microsecond before", k1970 - 10, At(4294967295u, 999999)},
        {"a second before", k1970 - 10000000, At(4294967295u, 0)},
        {"2.5 s before", k1970 - 25000000, At(4294967293u, 500000)},
        // 1601-01-01: -11644473600 s, which is 1240428288 modulo 2^32.
        {"1601", 0, At(1240428288u, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        clock.SetFileTime(c.ticks);
        TimeStamp now{};
        ReadPcClock(&now);
        EXPECT_EQ(now.seconds, c.expected.seconds);
        EXPECT_EQ(now.microseconds, c.expected.microseconds);
    }
}

TEST(SntpRequest, TransmitFractionFromAClockBefore1970) {
    // 1969-12-31 23:59:59.75 UTC: the fraction of 750000 microseconds, not a wrapped one.
    FakeClock clock;
    clock.SetFileTime(116444736000000000LL - 2500000);
    std::vector<unsigned char> field = NtpOfPcClock();
    EXPECT_EQ(ReadBigEndian32(field.data()), 2208988799u);
    // 750000 x 4294.967 lies just below 3221225250 in double precision.
    EXPECT_EQ(ReadBigEndian32(field.data() + 4), 3221225249u);
}

TEST(NtpConversion, FractionsToMicrosecondsAtTheEdges) {
    EXPECT_EQ(Ntp(2208988800u, 0).microseconds, 0u);
    EXPECT_EQ(Ntp(2208988800u, 2147483648u).microseconds, 500000u);
    EXPECT_EQ(Ntp(2208988800u, 4294966999u).microseconds, 999999u);
    // The client's scale reaches a whole second at the very top of the fraction range.
    EXPECT_EQ(Ntp(2208988800u, 4294967000u).microseconds, 1000000u);
    EXPECT_EQ(Ntp(2208988800u, 4294967295u).microseconds, 1000000u);
}

TEST(NtpConversion, SecondsCountFrom1970Modulo2To32) {
    EXPECT_EQ(Ntp(2208988800u, 0).seconds, 0u);
    EXPECT_EQ(Ntp(2208988800u + kSunday2002, 0).seconds, kSunday2002);
    // Before 1970 (an unsynchronised server's zero) wraps instead of going negative.
    EXPECT_EQ(Ntp(0, 0).seconds, 2085978496u);
    EXPECT_EQ(Ntp(2208988799u, 0).seconds, 4294967295u);
}

TEST(SntpValidation, OffsetIsHalfTheSumOfBothLegs) {
    // Server ahead by half a second.
    Reply ahead(At(50), At(100, 0), At(100, 600000), At(100, 700000));
    Outcome out = Validate(ahead, At(100, 300000));
    EXPECT_EQ(out.result, 1);
    EXPECT_NEAR(out.offset, 0.5, 1e-9);
    EXPECT_EQ(out.status, "before");  // success leaves the status text alone
    EXPECT_EQ(out.error, "untouched");

    // Server behind by two seconds, 40 ms round trip.
    Reply behind(At(50), At(kSunday2002, 0), At(kSunday2002 - 2, 20000),
                 At(kSunday2002 - 2, 20000));
    out = Validate(behind, At(kSunday2002, 40000));
    EXPECT_EQ(out.result, 1);
    EXPECT_NEAR(out.offset, -2.0, 1e-6);
}

TEST(SntpValidation, ServerTimeOfExactlyTenSecondsPasses) {
    Reply tenSeconds(At(50), At(100), At(100), At(110));
    EXPECT_EQ(Validate(tenSeconds, At(100)).result, 1);

    Reply tooLong(At(50), At(100), At(100), At(110, 1));
    Outcome out = Validate(tooLong, At(100));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.status, "ERROR (SNTP: Server Throughput)");
    EXPECT_EQ(out.error, "untouched");
    EXPECT_EQ(out.offset, -999.0);

    Reply backwards(At(50), At(100), At(100, 1), At(100));
    EXPECT_EQ(Validate(backwards, At(100)).status, "ERROR (SNTP: Server Throughput)");
}

TEST(SntpValidation, RoundTripOfExactlyTenSecondsPasses) {
    Reply reply(At(50), At(100), At(100), At(100));
    EXPECT_EQ(Validate(reply, At(110)).result, 1);

    Outcome late = Validate(reply, At(110, 1));
    EXPECT_EQ(late.result, 0);
    EXPECT_EQ(late.status, "ERROR (SNTP: Bad Response)");
    EXPECT_EQ(late.error, "untouched");

    // The PC clock stepped back during the exchange.
    Outcome early = Validate(reply, At(99, 999999));
    EXPECT_EQ(early.status, "ERROR (SNTP: Bad Response)");
}

TEST(SntpValidation, RoundTripIsTestedBeforeServerTime) {
    Reply reply(At(50), At(100), At(100), At(200));
    EXPECT_EQ(Validate(reply, At(300)).status, "ERROR (SNTP: Bad Response)");
}

TEST(SntpValidation, ReferenceAgeUpToTheGivenHoursPasses) {
    const TimeStamp t2 = At(kSunday2002, 250000);
    Reply exactlyADay(At(kSunday2002 - 86400, 250000), At(kSunday2002), t2, t2);
    EXPECT_EQ(Validate(exactlyADay, At(kSunday2002, 500000), 1, 24).result, 1);

    Reply aMicrosecondOlder(At(kSunday2002 - 86400, 249999), At(kSunday2002), t2, t2);
    Outcome old = Validate(aMicrosecondOlder, At(kSunday2002, 500000), 1, 24);
    EXPECT_EQ(old.result, 0);
    EXPECT_EQ(old.status, "ERROR (SNTP: ReferenceTimestamp)");

    // One hour allowed.
    Reply twoHours(At(kSunday2002 - 7200, 250000), At(kSunday2002), t2, t2);
    EXPECT_EQ(Validate(twoHours, At(kSunday2002, 500000), 1, 1).result, 0);
    EXPECT_EQ(Validate(twoHours, At(kSunday2002, 500000), 1, 2).result, 1);
    // With the test off the age does not matter.
    EXPECT_EQ(Validate(aMicrosecondOlder, At(kSunday2002, 500000), 0, 24).result, 1);
}

TEST(SntpValidation, ReferenceAfterTheServerReceiveTimeFails) {
    const TimeStamp t2 = At(kSunday2002);
    Reply future(At(kSunday2002, 1), At(kSunday2002), t2, t2);
    EXPECT_EQ(Validate(future, At(kSunday2002), 1, 24).status, "ERROR (SNTP: ReferenceTimestamp)");
    Reply equal(t2, At(kSunday2002), t2, t2);
    EXPECT_EQ(Validate(equal, At(kSunday2002), 1, 24).result, 1);
}

TEST(SntpValidation, NeverSynchronisedServerFailsTheReferenceTest) {
    // An all-zero Reference Timestamp converts to February 2036, after any T2 of now.
    const TimeStamp zero = Ntp(0, 0);
    const TimeStamp t2 = At(kSunday2002);
    Reply reply(zero, At(kSunday2002), t2, t2);
    Outcome out = Validate(reply, At(kSunday2002), 1, 24);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.status, "ERROR (SNTP: ReferenceTimestamp)");
    // The detail is the reference time as "%c" local time and its microseconds.
    std::tm local{};
    ASSERT_TRUE(LocalTm(2085978496LL, &local));
    EXPECT_EQ(std::string(out.error.GetString()),
              std::string(FormatTm("%c", local).GetString()) + ".0");
    EXPECT_EQ(local.tm_year, 136);  // 2036: 64-bit conversion, and UTC+9
    EXPECT_EQ(local.tm_hour, 15);   // 06:28:16 UTC
}

TEST(SntpValidation, ReferenceDetailShowsMicrosecondsWithoutLeadingZeros) {
    const TimeStamp t2 = At(kSunday2002);
    Reply reply(At(kSunday2002 - 90000, 7), At(kSunday2002), t2, t2);
    Outcome out = Validate(reply, At(kSunday2002), 1, 24);
    std::string detail = out.error.GetString();
    ASSERT_GE(detail.size(), 2u);
    EXPECT_EQ(detail.substr(detail.size() - 2), ".7");
    // The reference test comes first, even when a later test would also fail.
    Reply allBad(At(kSunday2002 - 90000, 7), At(kSunday2002), t2, At(kSunday2002 + 60));
    EXPECT_EQ(Validate(allBad, At(kSunday2002 + 60), 1, 24).status,
              "ERROR (SNTP: ReferenceTimestamp)");
}

TEST(SntpValidation, ServerThatMeasuredNothingIsRefusedFirst) {
    const TimeStamp t = At(kSunday2002);
    const TimeStamp zero = Ntp(0, 0);  // eight zero bytes on the wire
    struct Case {
        const char* name;
        unsigned char stratum;
        const char* referenceId;  // four bytes
        TimeStamp ref, t2, t3;
        const char* status;
    } const cases[] = {
        // A kiss-o'-death as servers send it: all but our own time zero.
        {"RATE", 0, "RATE", zero, zero, zero, "ERROR (SNTP: Kiss-o'-Death RATE)"},
        // Stratum 0 alone is enough, and comes before the reference test.
        {"with times", 0, "RSTR", At(kSunday2002 - 90000), t, t,
         "ERROR (SNTP: Kiss-o'-Death RSTR)"},
        // Only the printable ASCII of the code is shown.
        {"unprintable", 0, "R\x01T\x7F", zero, zero, zero, "ERROR (SNTP: Kiss-o'-Death RT)"},
        {"accented", 0, "\xC3\xA9\x00X", zero, zero, zero, "ERROR (SNTP: Kiss-o'-Death X)"},
        {"no code", 0, "\0\0\0\0", zero, zero, zero, "ERROR (SNTP: Kiss-o'-Death )"},
        // A server of stratum 1 and up that left its own timestamps empty.
        {"receive zero", 2, "TEST", At(kSunday2002 - 60), zero, t, "ERROR (SNTP: Bad Response)"},
        {"transmit zero", 1, "GPS\0", At(kSunday2002 - 60), t, zero, "ERROR (SNTP: Bad Response)"},
        // ...which comes before the reference test as well.
        {"zero and old", 2, "TEST", At(kSunday2002 - 90000), zero, t, "ERROR (SNTP: Bad Response)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply(c.ref, t, c.t2, c.t3);
        reply.bytes[1] = c.stratum;
        std::memcpy(reply.bytes + 12, c.referenceId, 4);
        Outcome out = Validate(reply, t, 1, 24);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.status, c.status);
        EXPECT_EQ(out.error, "untouched");
        EXPECT_EQ(out.offset, -999.0);
    }
}

TEST(SntpValidation, TimestampsNearTheEmptyOneStillPass) {
    // Reference and Originate may be empty (an unsynchronised server with the reference
    // test off); a Receive or Transmit a microsecond or a second from zero is a time.
    const TimeStamp zero = Ntp(0, 0);
    const TimeStamp t = Ntp(0, 4295);  // the first fraction that is a whole microsecond
    const TimeStamp later = Ntp(1, 0);
    EXPECT_EQ(Validate(Reply(zero, zero, t, t), zero).result, 1);
    EXPECT_EQ(Validate(Reply(zero, t, t, later), later).result, 1);
    // Stratum 1 with any identifier is a server like any other.
    Reply primary(zero, t, t, t);
    primary.bytes[1] = 1;
    std::memcpy(primary.bytes + 12, "RATE", 4);
    EXPECT_EQ(Validate(primary, t).result, 1);
}

TEST(SystemTimeConversion, UtcFieldsAndMillisecondsTruncated) {
    auto fields = [](const SYSTEMTIME& st) {
        return std::vector<int>{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                                st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
    };
    EXPECT_EQ(fields(TimeStampToSystemTime(At(kSunday2002, 123999))),
              (std::vector<int>{2002, 1, 0, 6, 12, 34, 56, 123}));
    // After 2038: 2100-01-01 00:00:00 UTC, a Friday.
    EXPECT_EQ(fields(TimeStampToSystemTime(At(4102444800u, 999999))),
              (std::vector<int>{2100, 1, 5, 1, 0, 0, 0, 999}));
}

TEST(LogTimeFormat, LocalTimeInJapanWithSixDigitMicroseconds) {
    EXPECT_EQ(FormatLogTime(At(kSunday2002, 123)), "Sun Jan 06 2002 21:34:56.000123");
    EXPECT_EQ(FormatLogTime(At(0, 0)), "Thu Jan 01 1970 09:00:00.000000");
    EXPECT_EQ(FormatLogTime(At(4102444800u, 999999)), "Fri Jan 01 2100 09:00:00.999999");
}

TEST(LogTimeFormat, WholeSecondOfMicrosecondsShowsAsTheNextSecond) {
    // The top of the NTP fraction converts to 1000000 microseconds.
    EXPECT_EQ(FormatLogTime(Ntp(2208988800u + 4102444800u, 0xFFFFFFFFu)),
              "Fri Jan 01 2100 09:00:01.000000");
    // Across a minute, an hour and a day: 2002-01-06 14:59:59 UTC.
    EXPECT_EQ(FormatLogTime(At(kSunday2002 + 8703, 1000000)), "Mon Jan 07 2002 00:00:00.000000");
    // The last second of the TimeStamp range carries round to 1970, as the seconds wrap.
    EXPECT_EQ(FormatLogTime(At(4294967295u, 1000000)), "Thu Jan 01 1970 09:00:00.000000");
}
