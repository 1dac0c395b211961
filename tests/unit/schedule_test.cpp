// The main window's time-driven decisions with simulated time: the daily delay, the
// retry series, commands that wait for one another, and the placement on screen.
#include "framework/crt_time.h"
#include "ui/command_gate.h"
#include "ui/placement.h"
#include "engine/schedule.h"
#include "ui/status_texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

TEST(AdjustAt, TheDelayReachesTheNextTimeOfDay) {
    struct Case {
        int hour, minute, second, atHour, atMinute, delay;
    };
    for (const Case& c : {Case{11, 59, 30, 12, 0, 30}, Case{12, 0, 0, 12, 0, 86400},
                          Case{13, 0, 0, 12, 0, 82800}, Case{23, 59, 59, 0, 0, 1},
                          Case{0, 0, 0, 0, 0, 86400}, Case{7, 29, 59, 7, 30, 1}}) {
        EXPECT_EQ(AdjustAtDelaySeconds(c.hour, c.minute, c.second, c.atHour, c.atMinute), c.delay)
            << c.hour << ":" << c.minute << ":" << c.second << " for " << c.atHour << ":"
            << c.atMinute;
    }
}

TEST(AdjustAt, ARunThatHasHadItsTurnComesAgainTheNextDayOnly) {
    const long long today = DaysSince1970(2026, 12, 7);
    const DailyRun none, noon{today, 720}, noonTomorrow{today + 1, 720};
    auto at = [](WORD hour, WORD minute, WORD second) {
        return SYSTEMTIME{2026, 12, 1, 7, hour, minute, second, 0};
    };
    struct Case {
        SYSTEMTIME now;
        bool rearm;  // the PC woke up or its clock changed; the timer pointed at today's noon
        DailyRun done, next;
        int delay;
    };
    for (const Case& c : {
             Case{at(11, 59, 58), false, none, noon, 2},
             Case{at(11, 59, 58), false, noon, noonTomorrow, 86402},  // a fast clock set back
             Case{at(12, 0, 5), false, noon, noonTomorrow, 86395},    // a clock changed after it
             Case{at(12, 0, 0), false, none, noonTomorrow, 86400},
             Case{at(13, 0, 0), true, none, noon, kCatchUpSeconds},  // slept through it
             Case{at(13, 0, 0), true, noon, noonTomorrow, 82800},          // it ran before
             Case{at(11, 0, 0), true, none, noon, 3600},                   // it is still to come
         }) {
        SCOPED_TRACE(std::to_string(c.now.wHour) + ":" + std::to_string(c.now.wSecond) +
                     (c.rearm ? " rearmed" : ""));
        DailyRun next;
        const int delay = c.rearm ? RearmDailyRun(c.now, 12, 0, noon, c.done, &next)
                                  : NextDailyRun(c.now, 12, 0, c.done, &next);
        EXPECT_EQ(delay, c.delay);
        EXPECT_TRUE(next == c.next) << next.day << " " << next.minute;
    }
}

TEST(AdjustAt, ATickRunsOnlyOnceItsMinuteHasComeAndACatchUpMayCoverTheNextRun) {
    const long long today = DaysSince1970(2026, 12, 7);
    const DailyRun half7{today, 450}, half7Yesterday{today - 1, 450},
        half7Tomorrow{today + 1, 450}, untouched{-2, 0}, none;
    auto at = [](WORD hour, WORD minute, WORD second) {
        return SYSTEMTIME{2026, 12, 1, 7, hour, minute, second, 0};
    };
    struct Case {
        const char* what;
        SYSTEMTIME now;
        DailyRun armed;
        bool due;
        DailyRun done;  // untouched: left as it was
    };
    for (const Case& c : {
             Case{"a wait cut to the hour", at(6, 30, 0), half7, false, untouched},
             Case{"a second early", at(7, 29, 59), half7, false, untouched},
             Case{"on time", at(7, 30, 0), half7, true, half7},
             Case{"the offset went forward", at(8, 30, 0), half7, true, half7},
             Case{"tomorrow's, after a run that set the clock back", at(7, 29, 50), half7Tomorrow,
                  false, untouched},
             Case{"a catch-up long before the time", at(5, 0, 30), half7Yesterday, true,
                  half7Yesterday},
             Case{"a catch-up an hour before", at(6, 30, 0), half7Yesterday, true, half7},
             Case{"a catch-up an hour and a second before", at(6, 29, 59), half7Yesterday, true,
                  half7Yesterday},
             Case{"a catch-up after the time", at(13, 0, 30), half7Yesterday, true,
                  half7Yesterday},
             Case{"never armed", at(7, 30, 0), none, false, untouched},
         }) {
        DailyRun done = untouched;
        EXPECT_EQ(DailyTickDue(c.now, 7, 30, c.armed, &done), c.due) << c.what;
        EXPECT_TRUE(done == c.done) << c.what << ": " << done.day - today << " " << done.minute;
    }
    // A clock that has lost its date may read a day before 1970: a run is a run all the same.
    const SYSTEMTIME lost{1601, 1, 1, 1, 12, 0, 0, 0};
    DailyRun done = untouched;
    EXPECT_TRUE(DailyTickDue(lost, 12, 0, DailyRun{DaysSince1970(1601, 1, 1), 720}, &done));
    EXPECT_EQ(done.day, DaysSince1970(1601, 1, 1));
    for (const auto& [delay, wait] : std::vector<std::pair<int, int>>{
             {1, 1}, {kCatchUpSeconds, kCatchUpSeconds}, {3599, 3599}, {3600, 3600},
             {3601, 3600}, {86400, 3600}, {2 * 86400, 3600}}) {
        EXPECT_EQ(DailyTimerWaitSeconds(delay), wait) << delay;
    }
}

// Simulated time for the daily timer: a zone whose offset from UTC may change once, at
// a moment that no time-change message announces.
struct Zone {
    long long changeAt = 1LL << 40;  // UTC seconds since 1970
    int before = 9 * 3600, after = 9 * 3600;  // seconds east of UTC

    SYSTEMTIME LocalAt(long long utc) const {
        std::tm t{};
        UtcTm(utc + (utc < changeAt ? before : after), &t);
        return SYSTEMTIME{static_cast<WORD>(t.tm_year + 1900), static_cast<WORD>(t.tm_mon + 1),
                          static_cast<WORD>(t.tm_wday),        static_cast<WORD>(t.tm_mday),
                          static_cast<WORD>(t.tm_hour),        static_cast<WORD>(t.tm_min),
                          static_cast<WORD>(t.tm_sec),         0};
    }
};

std::string LocalText(const SYSTEMTIME& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.wYear},
                  unsigned{t.wMonth}, unsigned{t.wDay}, unsigned{t.wHour}, unsigned{t.wMinute},
                  unsigned{t.wSecond});
    return text;
}

// The daily timer as the window (ArmAdjustAtTimer, TakeAdjustAtTick) and the service
// drive it: the timer counts elapsed seconds, so it fires on the UTC clock; what it
// arms and whether a tick runs come from the local clock. A run takes no time.
class DailyTimerSim {
  public:
    DailyTimerSim(const Zone& zone, int atHour, int atMinute)
        : m_zone(zone), m_atHour(atHour), m_atMinute(atMinute) {}

    void Arm(long long utc, bool rearm) {
        const SYSTEMTIME now = m_zone.LocalAt(utc);
        const DailyRun armed = m_armed;
        const int delay = rearm ? RearmDailyRun(now, m_atHour, m_atMinute, armed, m_done, &m_armed)
                                : NextDailyRun(now, m_atHour, m_atMinute, m_done, &m_armed);
        const int wait = DailyTimerWaitSeconds(delay);
        EXPECT_GT(wait, 0) << LocalText(now);
        EXPECT_LE(wait, 3600) << LocalText(now);
        m_tickAt = utc + wait;
    }
    // The timer's ticks up to until (UTC).
    void RunUntil(long long until) {
        for (int tick = 0; tick < 1000 && m_tickAt <= until; ++tick) Tick(m_tickAt);
    }
    // Asleep from the current time (no ticks) until wake; the timer's overdue tick may
    // come before the wake-up message (staleTickFirst).
    void SleepUntil(long long wake, bool staleTickFirst) {
        if (staleTickFirst && m_tickAt <= wake) Tick(wake);
        Arm(wake, true);
    }
    const std::vector<std::string>& Runs() const { return m_runs; }

  private:
    void Tick(long long utc) {
        const SYSTEMTIME now = m_zone.LocalAt(utc);
        const bool due = DailyTickDue(now, m_atHour, m_atMinute, m_armed, &m_done);
        Arm(utc, false);
        if (due) m_runs.push_back(LocalText(now));
    }

    Zone m_zone;
    int m_atHour, m_atMinute;
    DailyRun m_armed, m_done;
    long long m_tickAt = 0;
    std::vector<std::string> m_runs;
};

TEST(DailyTimer, KeepsToTheLocalTimeWhenTheZonesOffsetChangesWhileItWaits) {
    struct Case {
        const char* what;
        Zone zone;
        int atHour, atMinute;
        std::vector<std::string> runs;
    };
    // Both start at 21:00 local the evening before; the offset changes at 01:00 UTC.
    const Zone forward{SecondsSince1970(2026, 3, 29, 1, 0, 0), 3600, 7200};
    const Zone back{SecondsSince1970(2026, 10, 25, 1, 0, 0), 7200, 3600};
    const Case cases[] = {
        {"an hour forward", forward, 7, 30, {"2026-03-29 07:30:00", "2026-03-30 07:30:00"}},
        {"an hour back", back, 7, 30, {"2026-10-25 07:30:00", "2026-10-26 07:30:00"}},
        // 02:30 is not on the clock that night: the run comes as soon as it has passed.
        {"an hour forward over the time", forward, 2, 30,
         {"2026-03-29 03:00:00", "2026-03-30 02:30:00"}},
        // 02:30 comes twice that night: it runs the first time only.
        {"an hour back over the time", back, 2, 30,
         {"2026-10-25 02:30:00", "2026-10-26 02:30:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const long long start = c.zone.changeAt - 4 * 3600 - c.zone.before;
        DailyTimerSim timer(c.zone, c.atHour, c.atMinute);
        ASSERT_EQ(LocalText(c.zone.LocalAt(start)).substr(11), "21:00:00");
        timer.Arm(start, false);
        timer.RunUntil(start + 2 * 86400 - 3600);
        EXPECT_EQ(timer.Runs(), c.runs);
    }
}

TEST(DailyTimer, AWakeUpShortlyBeforeTheDailyTimeOfALaterDayRunsOnce) {
    const Zone japan;
    auto utc = [&](int day, int hour, int minute, int second) {
        return SecondsSince1970(2026, 12, day, hour, minute, second) - japan.before;
    };
    struct Case {
        const char* what;
        long long sleep, wake;
        bool staleTickFirst;
        std::vector<std::string> runs;
    };
    const Case cases[] = {
        {"a later day, shortly before", utc(7, 7, 0, 0), utc(8, 7, 10, 0), false,
         {"2026-12-08 07:10:30", "2026-12-09 07:30:00"}},
        {"a later day, shortly before, its old tick first", utc(7, 7, 0, 0), utc(8, 7, 10, 0),
         true, {"2026-12-08 07:10:00", "2026-12-09 07:30:00"}},
        {"a later day, the catch-up an hour before", utc(7, 7, 0, 0), utc(8, 6, 29, 30), false,
         {"2026-12-08 06:30:00", "2026-12-09 07:30:00"}},
        {"a later day, the catch-up an hour and 30 s before", utc(7, 7, 0, 0), utc(8, 6, 29, 0),
         false, {"2026-12-08 06:29:30", "2026-12-08 07:30:00", "2026-12-09 07:30:00"}},
        {"a later day, long before", utc(7, 7, 0, 0), utc(8, 3, 0, 0), false,
         {"2026-12-08 03:00:30", "2026-12-08 07:30:00", "2026-12-09 07:30:00"}},
        {"two days later, shortly before", utc(7, 7, 0, 0), utc(9, 7, 20, 0), false,
         {"2026-12-09 07:20:30"}},
        {"the same day, after the time", utc(7, 7, 0, 0), utc(7, 13, 0, 0), false,
         {"2026-12-07 13:00:30", "2026-12-08 07:30:00", "2026-12-09 07:30:00"}},
        {"the same day, after the time, its old tick first", utc(7, 7, 0, 0), utc(7, 13, 0, 0),
         true, {"2026-12-07 13:00:00", "2026-12-08 07:30:00", "2026-12-09 07:30:00"}},
        {"the same day, before the time", utc(7, 6, 10, 0), utc(7, 7, 0, 0), false,
         {"2026-12-07 07:30:00", "2026-12-08 07:30:00", "2026-12-09 07:30:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DailyTimerSim timer(japan, 7, 30);
        timer.Arm(utc(7, 6, 0, 0), false);
        timer.RunUntil(c.sleep);
        timer.SleepUntil(c.wake, c.staleTickFirst);
        timer.RunUntil(utc(9, 8, 0, 0));
        EXPECT_EQ(timer.Runs(), c.runs);
    }
}

// The window as the run sees it: scripted adjustment results, and a record of what
// it was asked to show and arm.
class FakeWindow : public AdjustmentHost {
  public:
    std::deque<int> results;
    std::vector<std::string> shown;  // retry indicator texts and notices, in order
    bool armed = false;
    int attempts = 0, terminations = 0;

    int AdjustOnce() override {
        ++attempts;
        int result = results.empty() ? 0 : results.front();
        if (!results.empty()) results.pop_front();
        return result;
    }
    void ShowResultNotice(bool success) override { shown.push_back(success ? "OK" : "ERROR"); }
    bool RetryTimerArmed() const override { return armed; }
    void KillRetryTimer() override { armed = false; }
    void SetRetryTimer(std::uint32_t ms) override {
        armed = true;
        EXPECT_EQ(ms, 30000u);
    }
    void ShowRetryText(const CString& text) override { shown.push_back(text.GetString()); }
    void EndAfterSuccess() override { ++terminations; }
};

class Retries : public testing::Test {
  protected:
    // The Adjust command's run, and a tick of the retry timer.
    int Adjust() {
        manual = 1;
        return RunAdjustment(Series(), window);
    }
    int Tick() { return RunAdjustment(Series(), window); }
    RetrySeries Series() { return {on, count, interval, attempt, manual, scheduled}; }

    FakeWindow window;
    int on = 1, count = 3, attempt = 0, manual = 0, scheduled = 0;
    std::uint32_t interval = 30000;
};

const char kThreeTimes[] = "3\x89\xF1";  // "3回"

TEST_F(Retries, ThreeRetriesThatAllFailMakeFourAttempts) {
    EXPECT_EQ(Adjust(), 0);
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_TRUE(window.armed) << tick;
        EXPECT_EQ(Tick(), 0);
    }
    EXPECT_FALSE(window.armed);
    EXPECT_EQ(window.attempts, 4);
    EXPECT_EQ(window.shown, (std::vector<std::string>{"0/3", "ERROR", "1/3", "ERROR", "2/3",
                                                      "ERROR", "3/3", "ERROR", kThreeTimes}));
    EXPECT_EQ(attempt, 0);
    EXPECT_EQ(manual, 0);
}

TEST_F(Retries, ASuccessEndsTheSeriesAndMayEndTheProgram) {
    window.results = {0, 0, 1};
    Adjust();
    Tick();
    EXPECT_EQ(Tick(), 1);
    EXPECT_EQ(window.shown.back(), kThreeTimes);
    EXPECT_EQ(attempt, 0);
    EXPECT_FALSE(window.armed);
    EXPECT_EQ(window.terminations, 1);
}

TEST_F(Retries, AnAdjustWhileARetryIsPendingTakesItsPlaceAndStartsAnew) {
    Adjust();
    Tick();  // retry 1 fails; retry 2 is pending
    window.shown.clear();
    EXPECT_EQ(Adjust(), 0);
    // The pending retry is consumed (2/3); the fresh run's failure starts a new series.
    EXPECT_EQ(window.shown, (std::vector<std::string>{"2/3", "2/3", "ERROR"}));
    EXPECT_EQ(attempt, 0);
    EXPECT_TRUE(window.armed);
    EXPECT_EQ(window.attempts, 3);
}

TEST_F(Retries, WithoutRetriesAFailureArmsNothing) {
    for (int retriesOn : {1, 0}) {
        SCOPED_TRACE(retriesOn);
        FakeWindow fresh;
        window = fresh;
        on = retriesOn;
        count = 0;
        EXPECT_EQ(Adjust(), 0);
        EXPECT_FALSE(window.armed);
        EXPECT_EQ(window.shown.back(), "0\x89\xF1");
        EXPECT_EQ(window.terminations, 0);  // a failure never ends the program
    }
}

TEST_F(Retries, APendingRetryEndsWithoutAnAttemptOnceRetriesAreOff) {
    Adjust();
    on = 0;  // a reload switched retries off
    EXPECT_EQ(Tick(), 0);
    EXPECT_EQ(window.attempts, 1);
    EXPECT_FALSE(window.armed);
    EXPECT_EQ(attempt, 0);
}

TEST(RetryProgress, ShowsTheCountOutsideASeries) {
    int on = 1, count = 3, attempt = 0, manual = 0, scheduled = 0;
    std::uint32_t interval = 0;
    RetrySeries series{on, count, interval, attempt, manual, scheduled};
    for (const auto& [value, text] : std::vector<std::pair<int, std::string>>{
             {0, "0/3"}, {3, "3/3"}, {4, kThreeTimes}, {-1, kThreeTimes}}) {
        attempt = value;
        EXPECT_EQ(std::string(series.ProgressText()), text) << value;
    }
    on = 0;
    attempt = 1;
    EXPECT_EQ(std::string(series.ProgressText()), kThreeTimes);
}

TEST(CommandGate, WorkThatArrivesDuringACommandWaitsForItsEnd) {
    CommandGate gate;
    EXPECT_FALSE(gate.Busy());
    {
        CommandGate::Scope outer(gate);
        {
            CommandGate::Scope inner(gate);  // the run's query, its notice
            gate.Defer(3);
        }
        EXPECT_TRUE(gate.Busy());
        gate.Defer(2);
        gate.Defer(3);  // a second tick of the same timer runs once
        gate.Defer(CommandGate::kReload);
    }
    EXPECT_FALSE(gate.Busy());
    EXPECT_EQ(gate.TakeDeferred(), (std::vector<int>{CommandGate::kReload, 3, 2}));
    EXPECT_TRUE(gate.TakeDeferred().empty());
}

TEST(Placement, ASavedPositionIsPutBackInsideTheScreen) {
    const PixelRect screen{0, 0, 1280, 1024};
    const PixelRect second{-1920, -200, 0, 880};  // a monitor left of and above the first
    struct Case {
        long long x, y;
        PixelRect bounds;
        long long left, top;
    };
    for (const Case& c : {
             Case{100, 200, screen, 100, 200},
             Case{0, 0, screen, 1, 0},
             Case{-50, 20, screen, 0, 20},
             Case{1200, 20, screen, 1280 - 300, 20},     // right edge on the screen's
             Case{1200, 1000, screen, 980, 1024 - 180},  // and the bottom too
             Case{-5000, -5000, screen, 1, 0},  // pulled to (0, 0), which becomes (1, 0)
             Case{2147483647, 2147483647, screen, 980, 844},
             Case{-2147483647 - 1, 5, screen, 0, 5},
             Case{-1500, -100, second, -1500, -100},
             Case{-100, 800, second, -300, 700},
         }) {
        long long left = 0, top = 0;
        PlaceOnScreen(300, 180, c.x, c.y, c.bounds, &left, &top);
        EXPECT_EQ(left, c.left) << c.x << "," << c.y;
        EXPECT_EQ(top, c.top) << c.x << "," << c.y;
    }
}

TEST(Placement, LengthsFollowTheScaleToTheNearestPixel) {
    struct Case {
        long long pixels;
        unsigned from, to;
        long long scaled;
    };
    for (const Case& c : {
             Case{100, 96, 144, 150},
             Case{75, 96, 144, 113},  // 112.5 rounds away from zero
             Case{-7, 96, 144, -11},  // and so does -10.5
             Case{113, 144, 96, 75},
             Case{233, 96, 192, 466},
             Case{233, 0, 144, 233},  // an unknown scale changes nothing
             Case{233, 144, 0, 233},
             Case{2147483647, 96, 192, 4294967294},  // no overflow in the product
         }) {
        EXPECT_EQ(ScaleForDpi(c.pixels, c.from, c.to), c.scaled)
            << c.pixels << " " << c.from << "->" << c.to;
    }
}

}  // namespace
