// The packet trace: every accepted SNTP reply, six lines per record, appended to
// a file named after the profile.
#pragma once

#include <string>

#include "engine/sntp.h"
#include "framework/cstring.h"

// The trace file for a profile path: everything up to its last dot, then "sntp.log";
// the bare "sntp.log" when the path has no dot.
std::wstring EventLogPath(const std::wstring& profilePath);

// Appends one record to the file at path: the server name, the reply's four converted
// timestamps and the PC clock when it arrived. 1 when the record was written, 0 when
// writing it failed, -1 when the file would not open. It shows nothing itself: it runs
// on the query's worker thread, and the query tells the user afterwards.
int WriteSntpLog(const std::wstring& path, const CString& server, const unsigned char* reply,
                 const TimeStamp& receiveTime);
