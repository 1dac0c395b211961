// The service's adjustments, one at a time, and the users' requests held to one real
// query a minute: a request that comes within a minute of the end of the last
// adjustment (the service's own or a user's) gets that adjustment's answer, so that no
// user can make the service hammer its time server.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "settings/service_link.h"

class AdjustmentGate {
  public:
    // Milliseconds of a clock that never goes back (GetTickCount64).
    using Clock = std::function<std::uint64_t()>;
    using Adjustment = std::function<ServiceAnswer()>;
    static constexpr std::uint64_t kReuseMs = 60000;

    explicit AdjustmentGate(Clock now) : m_now(std::move(now)) {}

    // An adjustment that an earlier run of the service made, which ended at end (the
    // same clock's milliseconds): a request within kReuseMs of it gets its answer. The
    // service stops when nothing is scheduled, and a request starts it again, so the
    // minute must outlast the process. An end after now (the PC has been restarted
    // since) counts for nothing.
    void Seed(const ServiceAnswer& last, std::uint64_t end);
    // The service's own adjustment (daily, a retry): it always runs, after
    // the one under way if there is one.
    ServiceAnswer Run(const Adjustment& adjust);
    // A user's request: the last answer while it is less than kReuseMs old, else a new
    // adjustment. *reused says which.
    ServiceAnswer Request(const Adjustment& adjust, bool* reused);

  private:
    ServiceAnswer RunLocked(const Adjustment& adjust);

    Clock m_now;
    std::mutex m_lock;  // held for the whole of an adjustment
    bool m_bHaveLast = false;
    std::uint64_t m_lastEnd = 0;
    ServiceAnswer m_last;
};
