#include "logging/event_log.h"

#include "framework/file.h"

namespace {
// Lines end in CR LF on disk whatever the platform, as a text-mode file on Windows.
int PutLine(std::FILE* file, const CString& text) { return std::fputs(text + "\r\n", file); }
}  // namespace

std::wstring EventLogPath(const std::wstring& profilePath) {
    return ReplaceAfterLastDot(profilePath, L"sntp.log");
}

int WriteSntpLog(const std::wstring& path, const CString& server, const unsigned char* reply,
                 const TimeStamp& receiveTime) {
    // Opened and closed per record, so that each record is on disk when the call returns.
    ScopedFile file = OpenForAppend(path);
    if (!file) return -1;
    PutLine(file.Get(), server);
    for (int field : kReplyTimeStampOffsets) {
        PutLine(file.Get(), FormatLogTime(ReadReplyTimeStamp(reply + field)));
    }
    bool written = PutLine(file.Get(), FormatLogTime(receiveTime)) >= 0;
    // A record that could not be flushed to the file was not written either.
    bool closed = file.Close();
    return written && closed ? 1 : 0;
}
