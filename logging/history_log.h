// The result history: one line per check and per adjustment, appended to a file named
// after the profile, with the PC clock's difference from the server in seconds.
#pragma once

#include <string>

#include "engine/protocol.h"
#include "framework/cstring.h"

// The history file: the profile path up to its last dot, then "log" (Tavrino.INI gives
// Tavrino.log); the bare "log" in the working directory when the path has no dot.
std::wstring HistoryLogPath(const std::wstring& profilePath);

// Appends one record to the file at path: PC time, server, protocol name (ProtocolName),
// mode ("check" for 0, "adjust" otherwise), the caller's detail, server time and the
// difference PC minus server ("x" when either time text is empty or cannot be read as a
// time). The server's text is read in the C runtime's zone, in which the program writes
// an instant; the PC's text in the zone pcZoneOffset seconds east of UTC when given (the
// PC's own), in the runtime's zone as well otherwise (a DAYTIME text has no zone of its
// own: both are read alike, and the zone cancels out). A query that NTS authenticated
// (authenticated) has "NTS" in the protocol's place. Runs on the user-interface thread.
// 1 when the line was written; 0 (after the message box "Can not open the logfile" when
// the file would not open) otherwise.
int WriteHistoryRecord(const std::wstring& path, const CString& pcTimeText, const CString& server,
                       Protocol protocol, int mode, const CString& detail,
                       const CString& serverTimeText, const int* pcZoneOffset = nullptr,
                       bool authenticated = false);

// Reads a time text by the fixed positions of the layout Www Mmm DD HH:MM:SS YYYY (the
// year being the last four characters) as C runtime local time. Seconds since 1970, or
// -1 when the runtime cannot represent the time or it lies before 1970. Texts that do
// not follow the layout are read all the same, position by position.
long long TimeTextToSeconds(const CString& text);
