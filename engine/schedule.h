// The arithmetic and decisions behind the adjustment timers of the main window and
// the time service, without either: the delay until the daily adjustment and the
// retry series after failed adjustments. The window (or the service) arms the timers,
// shows its notices and forwards the ticks; what it decides on comes from here.
#pragma once

#include <cstdint>
#include <limits>

#include "framework/cstring.h"
#include "framework/win_types.h"

// Seconds from the local time of day now (hour, minute, second) until the next
// daily adjustment at atHour:atMinute: later today, or the same time tomorrow, a
// whole day when it is that time now.
int AdjustAtDelaySeconds(int hour, int minute, int second, int atHour, int atMinute);

// One daily time on one day: the local date as days since 1970 (before 1970 too, as
// a clock that has lost its date may read) and the minute of the day. The default,
// day kNoDay, is none.
struct DailyRun {
    static constexpr long long kNoDay = std::numeric_limits<long long>::min();
    long long day = kNoDay;
    int minute = 0;
    bool operator==(const DailyRun& other) const {
        return day == other.day && minute == other.minute;
    }
    bool operator!=(const DailyRun& other) const { return !(*this == other); }
};

// The next daily run at atHour:atMinute from the local time now, in *next, and the
// seconds until it. A run equal to done has had its turn (its tick came): the next
// day's follows, so that a run that set a fast clock back before the daily time, or a
// clock change just after it, brings no second run.
int NextDailyRun(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& done,
                 DailyRun* next);

// After the PC woke up or its clock was changed: a run that the timer pointed at
// (armed) and whose time has come meanwhile without its tick (not done) runs once in
// kCatchUpSeconds, when the network is back after sleep (*next is armed then);
// otherwise the next run from the clock as it stands. When that catch-up's tick
// comes, it may count as the next run as well (kCatchUpCoversSeconds, DailyTickDue).
constexpr int kCatchUpSeconds = 30;
int RearmDailyRun(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& armed,
                  const DailyRun& done, DailyRun* next);

// The daily timer waits this long at most before it looks at the clock again. A zone
// whose offset changes (summer time) moves local time without a time-change message,
// and a timer counts elapsed time: one armed for the whole delay would then run an
// hour early or late. Looking every hour, the run keeps to the local time of day as
// the clock reads it, unless the offset changes within the last hour before it.
constexpr int kLongestDailyWaitSeconds = 3600;

// The seconds to arm the daily timer for, of the delay that NextDailyRun or
// RearmDailyRun gave: the delay, or kLongestDailyWaitSeconds when it is longer.
int DailyTimerWaitSeconds(int delaySeconds);

// A PC that wakes on a later day shortly before the daily time adjusts once: a
// catch-up (a tick that comes after its run's day and minute have passed) counts
// also as the next daily run at atHour:atMinute when that one would come within
// this many seconds, so the timer then waits for the run after it.
constexpr int kCatchUpCoversSeconds = 3600;

// A tick of the daily timer that pointed at armed, at the local time now.
// true: armed is due (now has reached its day and minute) and is to run now; *done is
// the run this tick counts as, for NextDailyRun: armed, or by kCatchUpCoversSeconds
// the next run after now. false: the tick came before its run, as when the timer's
// wait was cut to kLongestDailyWaitSeconds or the zone's offset went back while it
// waited; nothing is done (*done unchanged) and the timer is armed again from
// NextDailyRun for the rest.
bool DailyTickDue(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& armed,
                  DailyRun* done);

// What an adjustment run needs of the window: one adjustment, its result notice,
// the retry timer (whose state changes only when the timer call succeeds), the
// retry indicator, and the automatic end after a success (when it is on).
class AdjustmentHost {
  public:
    virtual ~AdjustmentHost() = default;
    virtual int AdjustOnce() = 0;
    virtual void ShowResultNotice(bool success) = 0;
    virtual bool RetryTimerArmed() const = 0;
    virtual void KillRetryTimer() = 0;
    virtual void SetRetryTimer(std::uint32_t milliseconds) = 0;
    virtual void ShowRetryText(const CString& text) = 0;
    virtual void EndAfterSuccess() = 0;
};

// "%i回" of the retry count.
CString RetryCountText(int count);

// Where a retry series stands: the window's own value.
struct RetryState {
    int attempt = 0;         // the retry being made, 0 outside a series
    int manualStart = 0;     // the Adjust command started the run
    int scheduledStart = 0;  // the daily timer started the run
};

// The retry settings and the state of the series, as one run sees and changes them.
struct RetrySeries {
    const int& errorRetry;              // retries on
    const int& retryCount;              // retries after a failed fresh run
    const std::uint32_t& interval;      // milliseconds between them
    int& attempt;                       // the retry being made, 0 outside a series
    int& manualStart;                   // the Adjust command started this run
    int& scheduledStart;                // the daily timer started this run

    // The retry indicator: "attempt/count" while a series may be under way (retry on,
    // 0 <= attempt <= count), the count ("%i回") otherwise.
    CString ProgressText() const;
    CString CountText() const;
};

// One adjustment run, from the Adjust command, the retry timer or the daily timer:
// a pending retry is consumed (and may end the series without an attempt), one
// adjustment and its notice, then the series goes on, ends or starts anew. 1 when
// the adjustment succeeded, 0 otherwise (also when none was made).
int RunAdjustment(RetrySeries series, AdjustmentHost& host);
