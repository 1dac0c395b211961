#include "engine/commands.h"

#include "engine/check_adjust.h"
#include "engine/time_text.h"
#include "framework/clock.h"
#include "framework/strings.h"
#include "res/string_ids.h"

namespace {

// A command without a server name asks nobody: an empty name would reach this PC
// itself, and the clock could be set from whatever answers there.
bool NoServer(const ServerQuery& query, CommandOutcome* out) {
    if (!query.server.IsEmpty()) return false;
    out->statusText = "ERROR (" + LoadAppString(IDS_HOST_NOT_FOUND) + ")";
    out->pcTimeText = FormatPcLocalTime();
    return true;
}

CString CodeText(int errorCode) {
    CString text;
    text.Format("%i", errorCode);
    return text;
}

// The zone of the PC's text, taken as the text was, for the protocols whose server
// text shows an instant.
void NoteZone(const ServerQuery& query, CommandOutcome* out) {
    if (query.protocol != kProtocolDaytime) out->pcZoneOffset = PcZoneOffsetSeconds();
}

}  // namespace

CString CommandOutcome::HistoryDetail() const {
    if (success || errorText.IsEmpty()) return statusText;
    return statusText + ":" + errorText;
}

bool ClockRightMissing(const CommandOutcome& outcome) {
    CString rightMissing;
    rightMissing.Format("%lu", static_cast<unsigned long>(kErrorPrivilegeNotHeld));
    return !outcome.success && outcome.statusText == kClockRefused &&
           outcome.errorText == rightMissing;
}

CommandOutcome CheckServerTime(const ServerQuery& query) {
    CommandOutcome out;
    if (NoServer(query, &out)) return out;
    if (query.protocol == kProtocolTime || query.protocol == kProtocolDaytime) {
        int errorCode = 0;
        out.success = QueryTimeOrDaytime(query.protocol, query.server, query.timeOut, query.beep,
                                         out.serverTimeText, out.statusText, errorCode);
        out.pcTimeText = FormatPcLocalTime();
        out.errorText = CodeText(errorCode);
    } else if (query.protocol == kProtocolSntp) {
        out.success = CheckSntp(query.server, query.timeOut, query.beep, query.referenceCheck,
                                query.referenceHours, &out.serverTimeText, &out.pcTimeText,
                                nullptr, out.statusText, out.errorText);
    }
    NoteZone(query, &out);
    return out;
}

CommandOutcome AdjustPcClock(const ServerQuery& query) {
    CommandOutcome out;
    if (NoServer(query, &out)) return out;
    if (query.protocol == kProtocolSntp) {
        out.success = AdjustSntp(query.server, query.timeOut, query.beep, query.referenceCheck,
                                 query.referenceHours, out.serverTimeText, out.pcTimeText,
                                 out.statusText, out.errorText);
    } else if (query.protocol == kProtocolTime || query.protocol == kProtocolDaytime) {
        int errorCode = 0;
        out.success = AdjustTimeOrDaytime(query.protocol, query.server, query.timeOut, query.beep,
                                          out.serverTimeText, out.pcTimeText, out.statusText,
                                          errorCode);
        out.errorText = CodeText(errorCode);
    }
    NoteZone(query, &out);
    return out;
}
