// What the time service leaves for administrators: its data folder under %ProgramData%
// with its history and its state (the last result and the next run, which the status
// command shows), and the events of the Application log.
#pragma once

#include <cstdint>
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

// Writes the state: the last answer, the next run's text (empty when none) and when the
// last adjustment ended (GetTickCount64).
void WriteServiceState(const ServiceAnswer& last, const CString& nextRun, std::uint64_t lastEnd);
// Reads it back: false when there is no answer in it yet.
bool ReadServiceState(ServiceAnswer* last, CString* nextRun, std::uint64_t* lastEnd);
