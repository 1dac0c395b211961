#include "ui/commands.h"

#include "engine/check_adjust.h"
#include "engine/time_text.h"

namespace {
CString CodeText(int errorCode) {
    CString text;
    text.Format("%i", errorCode);
    return text;
}
}  // namespace

CString CommandOutcome::HistoryDetail() const {
    if (success || errorText.IsEmpty()) return statusText;
    return statusText + ":" + errorText;
}

CommandOutcome CheckServerTime(const ServerQuery& query) {
    CommandOutcome out;
    if (query.protocol == 1 || query.protocol == 2) {
        int errorCode = 0;
        out.success = QueryTimeOrDaytime(query.protocol, query.server, query.timeOut, query.beep,
                                         out.serverTimeText, out.statusText, errorCode);
        out.pcTimeText = FormatPcLocalTime();
        out.errorText = CodeText(errorCode);
    } else if (query.protocol == 0) {
        out.success = CheckSntp(query.server, query.timeOut, query.beep, query.referenceCheck,
                                query.referenceHours, &out.serverTimeText, &out.pcTimeText,
                                nullptr, out.statusText, out.errorText);
    }
    return out;
}

CommandOutcome AdjustPcClock(const ServerQuery& query) {
    CommandOutcome out;
    if (query.protocol == 0) {
        out.success = AdjustSntp(query.server, query.timeOut, query.beep, query.referenceCheck,
                                 query.referenceHours, out.serverTimeText, out.pcTimeText,
                                 out.statusText, out.errorText);
    } else if (query.protocol == 1 || query.protocol == 2) {
        int errorCode = 0;
        out.success = AdjustTimeOrDaytime(query.protocol, query.server, query.timeOut, query.beep,
                                          out.serverTimeText, out.pcTimeText, out.statusText,
                                          errorCode);
        out.errorText = CodeText(errorCode);
    }
    return out;
}
