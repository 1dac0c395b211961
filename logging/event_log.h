// The packet trace: every accepted SNTP reply, six lines per record, appended to
// a file named after the profile.
#pragma once

#include "engine/sntp.h"
#include "framework/cstring.h"

// The trace file for a profile path: everything up to its last dot, then "sntp.log";
// the bare "sntp.log" when the path has no dot.
CString EventLogPath(const CString& profilePath);

// Appends one record: the server name, the reply's four converted timestamps and the
// PC clock when it arrived. 1 when the record was written; 0 (after the message box
// "Can not open the logfile" when the file would not open) otherwise.
int WriteSntpLog(CString server, const unsigned char* reply, const TimeStamp* receiveTime);
