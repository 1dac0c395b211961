#include "framework/clock.h"

#include <atomic>

IClock& PlatformClock();  // clock_win32.cpp or clock_posix.cpp

namespace {
std::atomic<IClock*> boundClock{nullptr};
}

IClock& PcClock() {
    IClock* clock = boundClock.load();
    return clock ? *clock : PlatformClock();
}

IClock* BindPcClock(IClock* clock) { return boundClock.exchange(clock); }
