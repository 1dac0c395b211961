#include "ui/schedule.h"

#include "ui/status_texts.h"

namespace {

constexpr int kHalfDay = 43200;  // seconds

}  // namespace

int AdjustAtDelaySeconds(int hour, int minute, int second, int atHour, int atMinute) {
    const int now = hour * 3600 + minute * 60 + second;
    const int target = atHour * 3600 + atMinute * 60;
    return now < target ? target - now : 86400 - (now - target);
}

int NextDayDelaySeconds(int hour, int minute, int second, int atHour, int atMinute) {
    const int delay = AdjustAtDelaySeconds(hour, minute, second, atHour, atMinute);
    return delay < kHalfDay ? delay + 2 * kHalfDay : delay;
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
