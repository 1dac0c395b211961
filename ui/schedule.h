// The arithmetic and decisions behind the main window's timers, without the window:
// the delay until the daily adjustment, the retry series after failed adjustments,
// the gate that keeps one command from running inside another, and where a saved
// window position is put back on the screen. The window arms the timers, shows the
// boxes and forwards the ticks; everything it decides on comes from here.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/cstring.h"

// Seconds from the local time of day now (hour, minute, second) until the next
// daily adjustment at atHour:atMinute: later today, or the same time tomorrow, a
// whole day when it is that time now.
int AdjustAtDelaySeconds(int hour, int minute, int second, int atHour, int atMinute);

// The running clock's text of the time (seconds since 1970) in the C runtime's local
// time: format 0 the time ("%X"), 1 date and time ("%c"), both as the locale writes
// them, 2 "%a %b %d %H:%M:%S %Y"; any other format as 0.
CString ClockDisplayText(long long seconds, int format);

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

// The retry settings and state, the window's own members.
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

// Keeps the window's commands from running inside one another. A check or an
// adjustment run, with its query and its notices, is one command; the modal loops
// of those dispatch the window's timers, and the settings editor's notices, meanwhile.
// Work that arrives then is recorded and handed back, in order and once each, when
// the outermost command has ended.
class CommandGate {
  public:
    // What may wait: the timer-driven commands by timer id, and a settings reload.
    static constexpr int kReload = -1;

    bool Busy() const { return m_depth > 0; }
    // Records work that must wait for the command under way.
    void Defer(int work);
    // The work recorded, in the order it came, and forgets it. A reload comes first:
    // the commands that waited then run on the settings now in force.
    std::vector<int> TakeDeferred();

    // Marks a command for its lifetime.
    class Scope {
      public:
        explicit Scope(CommandGate& gate) : m_gate(gate) { ++m_gate.m_depth; }
        ~Scope() { --m_gate.m_depth; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        CommandGate& m_gate;
    };

  private:
    int m_depth = 0;
    std::vector<int> m_deferred;
};

// A rectangle in screen pixels, 64-bit so that no hand-edited value can wrap.
struct PixelRect {
    long long left = 0, top = 0, right = 0, bottom = 0;
};

// Where a window of the given size goes when it is put back at (x, y) inside the
// screen: first pulled back up and left by what sticks out below and to the right,
// then down and right so that no edge lies above or left of the screen, and the
// corner (0, 0) itself becomes (1, 0).
void PlaceOnScreen(long long width, long long height, long long x, long long y,
                   const PixelRect& screen, long long* left, long long* top);
