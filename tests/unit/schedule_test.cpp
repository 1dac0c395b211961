// The main window's time-driven decisions with simulated time: the daily delay, the
// retry series, commands that wait for one another, and the placement on screen.
#include "framework/crt_time.h"
#include "ui/command_gate.h"
#include "ui/placement.h"
#include "engine/schedule.h"
#include "ui/status_texts.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <tuple>
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
    const long long today = DaysSince1970(2026, 12, 7), lost = DaysSince1970(1601, 1, 1);
    const DailyRun half7{today, 450}, yesterday{today - 1, 450}, untouched{-2, 0}, none;
    auto at = [](WORD h, WORD m, WORD s) { return SYSTEMTIME{2026, 12, 1, 7, h, m, s, 0}; };
    for (const auto& [what, now, armed, due, counted] :
         std::vector<std::tuple<const char*, SYSTEMTIME, DailyRun, bool, DailyRun>>{
             {"a second early", at(7, 29, 59), half7, false, untouched},
             {"on time", at(7, 30, 0), half7, true, half7},
             {"the offset went forward", at(8, 30, 0), half7, true, half7},
             {"a run set the clock back", at(7, 29, 50), {today + 1, 450}, false, untouched},
             {"a catch-up an hour before", at(6, 30, 0), yesterday, true, half7},
             {"a catch-up 3601 s before", at(6, 29, 59), yesterday, true, yesterday},
             {"a catch-up after the time", at(13, 0, 30), yesterday, true, yesterday},
             {"never armed", at(7, 30, 0), none, false, untouched},
             {"a lost date", {1601, 1, 1, 1, 7, 30, 0, 0}, {lost, 450}, true, {lost, 450}}}) {
        DailyRun done = untouched;
        EXPECT_EQ(DailyTickDue(now, 7, 30, armed, &done), due) << what;
        EXPECT_TRUE(done == counted) << what << ": " << done.day - today << " " << done.minute;
    }
    for (int delay : {1, 3600, 3601, 86400}) {
        EXPECT_EQ(DailyTimerWaitSeconds(delay), delay < 3600 ? delay : 3600) << delay;
    }
}

// The daily timer at atHour:30 as the window and the service drive it: it fires on
// elapsed (UTC) time, but arms and runs by local time, whose offset changes unannounced.
struct DailyTimerSim {
    long long changeAt = 1LL << 40;                       // UTC seconds since 1970
    int atHour = 7, before = 9 * 3600, after = 9 * 3600;  // offsets: seconds east of UTC
    DailyRun armed, done;
    long long tickAt = 0;
    std::vector<std::string> runs;  // local "day hh:mm:ss"
    // A tick (the first arms the timer), or the wake-up message that arms it again.
    void At(long long utc, bool wake) {
        std::tm t{};
        UtcTm(utc + (utc < changeAt ? before : after), &t);
        auto w = [](int field) { return static_cast<WORD>(field); };
        const SYSTEMTIME now{w(t.tm_year + 1900), w(t.tm_mon + 1), 0,           w(t.tm_mday),
                             w(t.tm_hour),        w(t.tm_min),     w(t.tm_sec), 0};
        if (!wake && DailyTickDue(now, atHour, 30, armed, &done)) {
            runs.push_back(FormatTm("%d %H:%M:%S", t).GetString());
        }
        const int wait = DailyTimerWaitSeconds(
            wake ? RearmDailyRun(now, atHour, 30, DailyRun(armed), done, &armed)
                 : NextDailyRun(now, atHour, 30, done, &armed));
        EXPECT_TRUE(wait > 0 && wait <= 3600) << wait;
        tickAt = utc + wait;
    }
    void RunUntil(long long utc) {
        for (int tick = 0; tick < 1000 && tickAt <= utc; ++tick) At(tickAt, false);
    }
};

TEST(DailyTimer, KeepsToTheLocalTimeWhenTheZonesOffsetChangesWhileItWaits) {
    const long long forward = SecondsSince1970(2026, 3, 29, 1, 0, 0);
    const long long back = SecondsSince1970(2026, 10, 25, 1, 0, 0);
    for (const auto& [changeAt, atHour, before, after, runs] :
         std::vector<std::tuple<long long, int, int, int, std::vector<std::string>>>{
             {forward, 7, 3600, 7200, {"29 07:30:00", "30 07:30:00"}},
             {back, 7, 7200, 3600, {"25 07:30:00", "26 07:30:00"}},
             // 02:30 is missing going forward (it runs once past it), twice going back (once).
             {forward, 2, 3600, 7200, {"29 03:00:00", "30 02:30:00"}},
             {back, 2, 7200, 3600, {"25 02:30:00", "26 02:30:00"}}}) {
        DailyTimerSim timer{changeAt, atHour, before, after, {}, {}, 0, {}};
        timer.At(changeAt - 6 * 3600, false);  // the evening before
        timer.RunUntil(changeAt + 40 * 3600);
        EXPECT_EQ(timer.runs, runs) << before << " to " << after;
    }
}

TEST(DailyTimer, AWakeUpShortlyBeforeTheDailyTimeOfALaterDayRunsOnce) {
    auto utc = [](int d, int h, int m) { return SecondsSince1970(2026, 12, d, h - 9, m, 0); };
    // Asleep from 07:00 on the 7th until wake; the timer's overdue tick may come before
    // the wake-up message (staleTickFirst).
    for (const auto& [wake, staleTickFirst, runs] :
         std::vector<std::tuple<long long, bool, std::vector<std::string>>>{
             {utc(8, 7, 10), false, {"08 07:10:30", "09 07:30:00"}},
             {utc(8, 7, 10), true, {"08 07:10:00", "09 07:30:00"}},
             {utc(8, 6, 29), false, {"08 06:29:30", "08 07:30:00", "09 07:30:00"}},
             {utc(9, 7, 20), false, {"09 07:20:30"}},
             {utc(7, 13, 0), false, {"07 13:00:30", "08 07:30:00", "09 07:30:00"}}}) {
        DailyTimerSim timer;
        timer.At(utc(7, 6, 0), false);
        timer.RunUntil(utc(7, 7, 0));
        if (staleTickFirst) timer.At(wake, false);
        timer.At(wake, true);
        timer.RunUntil(utc(9, 8, 0));
        EXPECT_EQ(timer.runs, runs) << (wake - utc(7, 7, 0)) / 60 << " minutes asleep";
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
