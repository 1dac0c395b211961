// A clock for tests: answers with a chosen time, records every setting and sets
// nothing. Binding it lasts for the object's lifetime.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/clock.h"

class FakeClock : public IClock {
  public:
    FakeClock() { m_previous = BindPcClock(this); }
    ~FakeClock() override { BindPcClock(m_previous); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // The UTC time to report, as Unix seconds and microseconds.
    void SetUtc(std::int64_t seconds, std::uint32_t microseconds) {
        SetFileTime(116444736000000000LL + seconds * 10000000LL +
                    static_cast<std::int64_t>(microseconds) * 10);
    }
    void SetFileTime(std::int64_t ticks) {
        m_now.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
        m_now.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    }
    void SetLocal(const SYSTEMTIME& local) { m_local = local; }
    void RefuseSetting(bool refuse) { m_refuse = refuse; }

    void GetSystemTimeAsFileTime(FILETIME* now) override { *now = m_now; }
    void GetLocalTime(SYSTEMTIME* now) override { *now = m_local; }
    BOOL SetSystemTime(const SYSTEMTIME* utc) override {
        systemTimesSet.push_back(*utc);
        return m_refuse ? FALSE : TRUE;
    }
    BOOL SetLocalTime(const SYSTEMTIME* local) override {
        localTimesSet.push_back(*local);
        return m_refuse ? FALSE : TRUE;
    }

    std::vector<SYSTEMTIME> systemTimesSet;
    std::vector<SYSTEMTIME> localTimesSet;

  private:
    IClock* m_previous = nullptr;
    FILETIME m_now{};
    SYSTEMTIME m_local{};
    bool m_refuse = false;
};
