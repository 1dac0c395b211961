// The SNTP side of the engine: the 48-byte packet as the client fills and reads it,
// conversions between the PC clock, TimeStamp and NTP timestamps, the tests a reply
// must pass and the clock offset.
#pragma once

#include <cstdint>

#include "framework/cstring.h"
#include "framework/win_types.h"

// Seconds since 1970-01-01 00:00:00 UTC (all arithmetic modulo 2^32) and microseconds
// within that second.
struct TimeStamp {
    std::uint32_t seconds;
    std::uint32_t microseconds;
};

constexpr int kSntpPacketSize = 48;

// Offsets of the reply's timestamps. After the exchange has accepted a reply each of
// these 8-byte fields holds a TimeStamp in host byte order (see ReadReplyTimeStamp).
constexpr int kReferenceOffset = 16;
constexpr int kOriginateOffset = 24;
constexpr int kReceiveOffset = 32;
constexpr int kTransmitOffset = 40;
constexpr int kReplyTimeStampOffsets[] = {kReferenceOffset, kOriginateOffset, kReceiveOffset,
                                          kTransmitOffset};

// 1900-01-01 to 1970-01-01 in seconds.
constexpr std::uint32_t kNtpTo1970 = 2208988800u;

// Four bytes in network byte order, as the wire has them.
std::uint32_t ReadBigEndian32(const unsigned char* at);

// The PC clock now, in UTC. A clock before 1970 gives the second before it (modulo
// 2^32) and the microseconds since that second, as a later clock does.
void ReadPcClock(TimeStamp* now);

// Fills a client request whose Transmit Timestamp carries the 8 bytes given: random
// bits that the reply must echo, so that nobody who cannot see the request can forge
// its answer. The client keeps the real time it sent the request itself.
void BuildSntpRequest(unsigned char request[kSntpPacketSize], const unsigned char transmit[8]);

// Whether a reply is a kiss-o'-death: a server that will not serve us (stratum 0).
bool IsKissOfDeath(const unsigned char* reply);

// Round-trip delay of a converted reply received at t4: (t4 - t1) - (t3 - t2), seconds.
double RoundTripDelay(const unsigned char* reply, const TimeStamp& t4);

// A TimeStamp as an NTP timestamp (8 bytes, network byte order), at the client's scale.
void WriteNtpTimeStamp(unsigned char* field, const TimeStamp& value);

// Converts an NTP timestamp (8 bytes, network byte order).
TimeStamp NtpToTimeStamp(const unsigned char* field);

// A TimeStamp stored in, or read from, a converted reply field.
void WriteReplyTimeStamp(unsigned char* field, const TimeStamp& value);
TimeStamp ReadReplyTimeStamp(const unsigned char* field);

// seconds + microseconds x 0.000001.
double RealSeconds(const TimeStamp& value);

// Tests a converted reply against the client's receive time t4, in this order: a
// kiss-o'-death (stratum 0), an empty Receive or Transmit Timestamp, the reference
// age (when referenceCheck is set), the round trip, the server's own time. 1 with the
// clock offset (positive when the server is ahead) stored in *offset; 0 with the
// status text (and, for the reference test, the error text) set.
int ValidateSntpReply(const unsigned char* reply, const TimeStamp& t4, double* offset,
                      CString& statusText, CString& errorText, int referenceCheck,
                      int referenceHours);

// The seconds as a UTC SYSTEMTIME with the milliseconds of the microseconds.
SYSTEMTIME TimeStampToSystemTime(const TimeStamp& value);

// Local time with microseconds, for the event log: Sun Jan 06 2002 12:34:56.000123.
// 1000000 microseconds show as the next whole second.
CString FormatLogTime(const TimeStamp& value);
