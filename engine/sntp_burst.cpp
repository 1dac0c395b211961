#include "engine/sntp_burst.h"

#include <cstring>

bool SampleChoice::Add(const unsigned char reply[kSntpPacketSize], const TimeStamp& t4) {
    ++m_count;
    std::memcpy(m_last, reply, kSntpPacketSize);
    m_lastArrival = t4;
    double offset = 0.0;
    CString status;
    CString error;
    if (ValidateSntpReply(reply, t4, &offset, status, error, m_referenceCheck, m_referenceHours)) {
        const double delay = RoundTripDelay(reply, t4);
        if (!m_haveValid || delay < m_bestDelay) {
            m_haveValid = true;
            m_bestDelay = delay;
            std::memcpy(m_best, reply, kSntpPacketSize);
            m_bestArrival = t4;
        }
    }
    return !IsKissOfDeath(reply);
}
