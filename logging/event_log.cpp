#include "logging/event_log.h"

#include <cstdio>

#include "app/app_state.h"
#include "framework/notify.h"

namespace {
// Lines end in CR LF on disk whatever the platform, as a text-mode file on Windows.
int PutLine(std::FILE* file, const CString& text) { return std::fputs(text + "\r\n", file); }
}  // namespace

CString EventLogPath(const CString& profilePath) {
    return profilePath.Left(profilePath.ReverseFind('.') + 1) + "sntp.log";
}

int WriteSntpLog(CString server, const unsigned char* reply, const TimeStamp* receiveTime) {
    // Opened and closed per record, so that each record is on disk when the call returns.
    std::FILE* file = std::fopen(EventLogPath(AppProfilePath()), "ab");
    if (!file) {
        ShowMessage("Can not open the logfile");
        return 0;
    }
    PutLine(file, server);
    for (int field : kReplyTimeStampOffsets) {
        PutLine(file, FormatLogTime(ReadReplyTimeStamp(reply + field)));
    }
    bool written = PutLine(file, FormatLogTime(*receiveTime)) >= 0;
    // A record that could not be flushed to the file was not written either.
    bool closed = std::fclose(file) == 0;
    return written && closed ? 1 : 0;
}
