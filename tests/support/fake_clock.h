// A clock for tests: answers with a chosen time, records every setting and sets
// nothing. Binding it lasts for the object's lifetime.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "framework/clock.h"
#include "framework/context.h"

class FakeClock : public IClock {
  public:
    FakeClock() : m_seams(CurrentContext().With(static_cast<IClock*>(this))) {}
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // The UTC time to report, as Unix seconds and microseconds.
    void SetUtc(std::int64_t seconds, std::uint32_t microseconds) {
        m_now = FileTimeOf(seconds * 1000000 + microseconds);
    }
    void SetFileTime(std::int64_t ticks) { m_now = FileTimeOfTicks(ticks); }
    // From now on the UTC time reported is the host's real time plus the offset (a PC
    // clock that runs wrong by that much).
    void FollowRealClock(std::int64_t offsetMicroseconds) {
        m_following = true;
        m_followOffset = offsetMicroseconds;
    }
    void SetLocal(const SYSTEMTIME& local) { m_local = local; }
    void RefuseSetting(bool refuse, DWORD error = kErrorPrivilegeNotHeld) {
        m_refuse = refuse;
        m_error = error;
    }
    // From now on each reading of the UTC clock advances it by step microseconds, as a
    // running clock read in a loop.
    void StepEachRead(std::int64_t step) { m_step = step; }

    void GetSystemTimeAsFileTime(FILETIME* now) override {
        if (m_following) {
            // Read from the worker thread as well: computed, never stored.
            auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            *now = FileTimeOf(since1970.count() + m_followOffset);
        } else {
            *now = m_now;
            if (m_step != 0) m_now = FileTimeOfTicks(Ticks(m_now) + m_step * 10);
        }
    }
    void GetLocalTime(SYSTEMTIME* now) override { *now = m_local; }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override {
        systemTimesSet.push_back(*utc);
        return m_refuse ? FALSE : TRUE;
    }
    BOOL SetLocalTime(const SYSTEMTIME* local) override {
        localTimesSet.push_back(*local);
        return m_refuse ? FALSE : TRUE;
    }
    DWORD LastSetError() const override { return m_refuse ? m_error : 0; }

    std::vector<SYSTEMTIME> systemTimesSet;
    std::vector<SYSTEMTIME> localTimesSet;

  private:
    static FILETIME FileTimeOf(std::int64_t microsecondsSince1970) {
        return FileTimeOfTicks(kFileTime1970 + microsecondsSince1970 * 10);
    }
    static std::int64_t Ticks(const FILETIME& t) {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 |
                                         t.dwLowDateTime);
    }
    static FILETIME FileTimeOfTicks(std::int64_t ticks) {
        FILETIME t;
        t.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
        t.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
        return t;
    }

    ScopedContext m_seams;
    FILETIME m_now{};
    SYSTEMTIME m_local{};
    bool m_refuse = false;
    DWORD m_error = 0;
    std::int64_t m_step = 0;
    bool m_following = false;
    std::int64_t m_followOffset = 0;
};
