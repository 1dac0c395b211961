// The choice among the replies of a burst of SNTP requests to one server: the one
// whose round trip took least, since a network's delay is what spoils an exchange,
// and the shortest round trip leaves least room for the two directions to differ.
#pragma once

#include "engine/sntp.h"

class SampleChoice {
  public:
    SampleChoice(int referenceCheck, int referenceHours)
        : m_referenceCheck(referenceCheck), m_referenceHours(referenceHours) {}

    // One converted reply that echoed its request, received at t4. It is tested as any
    // single reply is; false when the burst must end here: the server sent a
    // kiss-o'-death (it asks us to slow down or go away), and what came before it is
    // kept.
    bool Add(const unsigned char reply[kSntpPacketSize], const TimeStamp& t4);

    bool Empty() const { return m_count == 0; }
    int Count() const { return m_count; }
    // The reply to use: the valid one with the smallest round-trip delay (the first of
    // equals); without any valid one, the last reply that came, whose failed test the
    // caller reports as a single exchange's.
    const unsigned char* Reply() const { return m_haveValid ? m_best : m_last; }
    const TimeStamp& Arrival() const { return m_haveValid ? m_bestArrival : m_lastArrival; }

  private:
    int m_referenceCheck;
    int m_referenceHours;
    int m_count = 0;
    bool m_haveValid = false;
    double m_bestDelay = 0.0;
    unsigned char m_best[kSntpPacketSize] = {};
    TimeStamp m_bestArrival{0, 0};
    unsigned char m_last[kSntpPacketSize] = {};
    TimeStamp m_lastArrival{0, 0};
};
