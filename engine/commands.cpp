#include "engine/commands.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/check_adjust.h"
#include "engine/nts_key_exchange.h"
#include "engine/query_request.h"
#include "engine/sntp.h"
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

bool ServerAtFault(const CString& statusText) {
    const std::string text(statusText.GetString(),
                           static_cast<std::size_t>(statusText.GetLength()));
    const std::string prefix = "ERROR (";
    if (text.size() < prefix.size() + 1 || text.compare(0, prefix.size(), prefix) != 0 ||
        text.back() != ')') {
        return false;
    }
    const std::string reason = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    const CString hostNotFound = LoadAppString(IDS_HOST_NOT_FOUND);
    if (reason == hostNotFound.GetString()) return true;
    static const char* const kServersReasons[] = {
        "Connect", "Send",       "SendPacket",           "TimeOut",
        "Recv",    "RecvPacket", "SNTP:IncorrectPacket", "TIME:IncorrectPacket"};
    for (const char* word : kServersReasons) {
        if (reason == word) return true;
    }
    // Every test of an SNTP reply: a kiss-o'-death, a bad response, the reference time,
    // the server's throughput. And every failure of NTS but the want of its DLL, which
    // is this PC's: the key establishment, the certificate (even one that looks expired
    // by this PC's clock: another server's may not), the cookies, the authentication.
    if (reason.compare(0, 6, "SNTP: ") == 0) return true;
    return reason.compare(0, 3, "NTS") == 0 && reason != kStageNtsUnavailable;
}

int LongestCommandSeconds(const ServerQuery& query) {
    const long long servers = 1 + static_cast<long long>(query.fallbackServers.size());
    const long long seconds =
        servers * CountdownSeconds(query.timeOut > 0 ? query.timeOut : 0,
                                   query.protocol == kProtocolSntp ? query.samples : 1,
                                   query.protocol == kProtocolSntp && query.nts);
    return seconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(seconds);
}

bool BeyondLimit(const ServerQuery& query, double seconds) {
    return query.maxCorrectionHours > 0 &&
           std::fabs(seconds) > static_cast<double>(query.maxCorrectionHours) * 3600.0;
}

namespace {

// One server's answer: the outcome, and for an adjustment the correction it would make.
struct Answer {
    CommandOutcome out;
    double correction = 0.0;
    std::uint32_t serverSeconds = 0;
};

// Asks one server as the query says. An adjustment's SNTP check leaves the server's
// time for the adjustment to write.
Answer AskOne(const ServerQuery& query, const CString& server, bool adjusting) {
    Answer answer;
    CommandOutcome& out = answer.out;
    if (query.protocol == kProtocolTime || query.protocol == kProtocolDaytime) {
        int errorCode = 0;
        out.success = QueryTimeOrDaytime(query.protocol, server, query.timeOut, query.beep,
                                         out.serverTimeText, out.statusText, errorCode,
                                         &answer.serverSeconds);
        out.pcTimeText = FormatPcLocalTime();
        out.errorText = CodeText(errorCode);
        if (out.success && adjusting) {
            answer.correction =
                TimeOrDaytimeCorrection(query.protocol, answer.serverSeconds, out.serverTimeText);
        }
    } else if (query.protocol == kProtocolSntp) {
        out.success =
            CheckSntp(server, query.timeOut, query.beep, query.referenceCheck, query.referenceHours,
                      adjusting ? nullptr : &out.serverTimeText, &out.pcTimeText,
                      &answer.correction, out.statusText, out.errorText, query.samples, query.nts);
        out.authenticated = query.nts;
    }
    out.server = server;
    return answer;
}

// The server, then the fallback servers while the one before failed for its own reason.
Answer AskServers(const ServerQuery& query, bool adjusting) {
    Answer answer = AskOne(query, query.server, adjusting);
    for (const CString& next : query.fallbackServers) {
        if (answer.out.success || !ServerAtFault(answer.out.statusText)) break;
        if (next.IsEmpty()) continue;
        answer = AskOne(query, next, adjusting);
    }
    return answer;
}

}  // namespace

CommandOutcome CheckServerTime(const ServerQuery& query) {
    CommandOutcome out;
    if (NoServer(query, &out)) return out;
    out = AskServers(query, false).out;
    NoteZone(query, &out);
    return out;
}

CommandOutcome AdjustPcClock(const ServerQuery& query) {
    CommandOutcome out;
    if (NoServer(query, &out)) return out;
    Answer answer = AskServers(query, true);
    out = answer.out;
    NoteZone(query, &out);
    if (!out.success) return out;

    // A correction beyond the limit (a server a day out, a PC clock a day out) is made
    // only when somebody at the PC agrees to it.
    if (BeyondLimit(query, answer.correction) &&
        !(query.askFarCorrection && query.askFarCorrection(answer.correction))) {
        out.success = 0;
        out.statusText = kTooFar;
        out.errorText.Format("%+.0f", answer.correction);
        // What the server said, which an SNTP adjustment otherwise writes once it is set.
        if (query.protocol == kProtocolSntp) {
            TimeStamp now{};
            ReadPcClock(&now);
            out.serverTimeText = FormatServerTime(
                static_cast<long long>(std::floor(RealSeconds(now) + answer.correction)));
        }
        return out;
    }
    if (query.protocol == kProtocolSntp) {
        out.success =
            SetClockByOffset(answer.correction, out.serverTimeText, out.statusText, out.errorText);
    } else {
        int errorCode = 0;
        out.success = SetClockToTimeOrDaytime(query.protocol, answer.serverSeconds,
                                              out.serverTimeText, out.statusText, errorCode);
        out.errorText = CodeText(errorCode);
    }
    return out;
}
