#include "engine/schedule.h"

#include "framework/crt_time.h"

namespace {

constexpr int kDay = 86400;  // seconds

// Whether the local time now has reached run's day and minute.
bool RunHasCome(const SYSTEMTIME& now, const DailyRun& run) {
    const long long today = DaysSince1970(now.wYear, now.wMonth, now.wDay);
    const int minuteOfDay = now.wHour * 60 + now.wMinute;
    return run.day != DailyRun::kNoDay &&
           (run.day < today || (run.day == today && run.minute <= minuteOfDay));
}

}  // namespace

CString RetryCountText(int count) {
    CString text;
    text.Format("%i\x89\xF1", count);  // "回", times
    return text;
}

int AdjustAtDelaySeconds(int hour, int minute, int second, int atHour, int atMinute) {
    const int now = hour * 3600 + minute * 60 + second;
    const int target = atHour * 3600 + atMinute * 60;
    return now < target ? target - now : 86400 - (now - target);
}

int NextDailyRun(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& done,
                 DailyRun* next) {
    int delay = AdjustAtDelaySeconds(now.wHour, now.wMinute, now.wSecond, atHour, atMinute);
    const long long today = DaysSince1970(now.wYear, now.wMonth, now.wDay);
    const int secondOfDay = now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
    *next = DailyRun{secondOfDay + delay >= kDay ? today + 1 : today, atHour * 60 + atMinute};
    if (*next == done) {
        delay += kDay;
        next->day += 1;
    }
    return delay;
}

int RearmDailyRun(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& armed,
                  const DailyRun& done, DailyRun* next) {
    if (RunHasCome(now, armed) && armed != done) {
        *next = armed;
        return kCatchUpSeconds;
    }
    return NextDailyRun(now, atHour, atMinute, done, next);
}

int DailyTimerWaitSeconds(int delaySeconds) {
    return delaySeconds < kLongestDailyWaitSeconds ? delaySeconds : kLongestDailyWaitSeconds;
}

bool DailyTickDue(const SYSTEMTIME& now, int atHour, int atMinute, const DailyRun& armed,
                  DailyRun* done) {
    if (!RunHasCome(now, armed)) return false;
    // Only a tick that comes about a day late (a catch-up) can find the next run this
    // close; a tick on time finds it a day away.
    DailyRun next;
    *done =
        NextDailyRun(now, atHour, atMinute, armed, &next) <= kCatchUpCoversSeconds ? next : armed;
    return true;
}

CString RetrySeries::CountText() const { return RetryCountText(retryCount); }

CString RetrySeries::ProgressText() const {
    if (!errorRetry || attempt < 0 || attempt > retryCount) return CountText();
    CString text;
    text.Format("%i/%i", attempt, retryCount);
    return text;
}

int RunAdjustment(RetrySeries s, AdjustmentHost& host) {
    if (host.RetryTimerArmed()) {
        // A retry was pending: this run is it, whether its timer fired or not.
        host.KillRetryTimer();
        if (!s.errorRetry || s.retryCount < s.attempt) {
            s.attempt = 0;
            return 0;
        }
        ++s.attempt;
        host.ShowRetryText(s.ProgressText());
    }
    if (s.manualStart || s.scheduledStart) host.ShowRetryText(s.ProgressText());

    const int success = host.AdjustOnce();
    host.ShowResultNotice(success != 0);

    if (success) {
        if (s.attempt > 0) s.attempt = 0;
        host.ShowRetryText(s.CountText());
        host.EndAfterSuccess();
        return 1;
    }
    if (s.errorRetry) {
        if (s.manualStart || s.scheduledStart) {
            // A fresh run failed: a new series starts.
            s.manualStart = 0;
            s.scheduledStart = 0;
            s.attempt = 0;
        }
        if (s.attempt < s.retryCount) {
            host.SetRetryTimer(s.interval);
        } else {
            s.attempt = 0;
            host.ShowRetryText(s.CountText());
        }
    } else {
        host.ShowRetryText(s.CountText());
    }
    return 0;
}
