// What the time service leaves for administrators: its data folder under %ProgramData%
// with its history and its state (the last result and the next run, which the status
// command shows), and the events of the Application log.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "framework/cstring.h"
#include "settings/service_link.h"

// %ProgramData%\Tavrino (C:\ProgramData\Tavrino where the variable is missing).
std::wstring ServiceDataFolder();
std::wstring ServiceHistoryPath();
std::wstring ServiceStatePath();

// Creates the data folder with its own rights (see DataFolderSecurity), or gives an
// existing one those rights; false when Windows refused.
bool PrepareServiceDataFolder();

// Reports one event of the service's source: an information or warning event of id,
// with its inserts (code page 932 texts).
void ReportServiceEvent(unsigned long id, bool warning, const CString* inserts, int count);

// The message sink of the service: a message that the window would show in a box
// ("Can not open the logfile") goes to the event log.
void ReportMessageEvent(const CString& text);

// The state as the running service keeps it: the last answer, when that adjustment
// ended (GetTickCount64) and the next run's text (empty when none). It starts from its
// file, an earlier run's, and writes the file again whenever it changes; the service's
// thread and its pipe's thread may both change it.
class CServiceState {
  public:
    CServiceState();
    // The earlier run's answer and its end; false when there was none.
    bool Earlier(ServiceAnswer* last, std::uint64_t* lastEnd) const;
    void SetLast(const ServiceAnswer& last, std::uint64_t lastEnd);
    void SetNextRun(const CString& nextRun);

  private:
    void WriteLocked() const;
    std::mutex m_lock;
    ServiceAnswer m_last;
    std::uint64_t m_lastEnd = 0;
    bool m_bEarlier = false;
    CString m_nextRun;
};

// Reads the file back: false when there is no answer in it yet.
bool ReadServiceState(ServiceAnswer* last, CString* nextRun, std::uint64_t* lastEnd);
