#include "framework/clock.h"

#include "framework/context.h"

IClock& PlatformClock();  // clock_win32.cpp or clock_posix.cpp

IClock& PcClock() {
    IClock* clock = CurrentContext().clock;
    return clock ? *clock : PlatformClock();
}
