#include "engine/time_text.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/query_request.h"
#include "engine/query_runner.h"
#include "engine/sntp.h"
#include "framework/atoi.h"
#include "framework/clock.h"
#include "framework/crt_time.h"

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// Index 0 stands for "no month", so that a SYSTEMTIME month indexes the table directly.
const char* const kMonthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kMonthCount = 12;

// Shown for a day or month that a broken clock reports outside the tables.
const char kUnknownName[] = "???";

// One receive buffer serves both protocols; DAYTIME may fill all of it.
constexpr int kReplyBufferSize = 512;
static_assert(kDaytimeReplySize <= kReplyBufferSize, "DAYTIME reply must fit the buffer");
static_assert(kTimeReplySize <= kReplyBufferSize, "TIME reply must fit the buffer");

// A WORD field that could not hold the number read for it. No SYSTEMTIME field
// accepts 65535 (years end at 30827), so such a text can never pass as a valid date,
// where a plain 0 would be an hour, minute or second that SetLocalTime takes.
constexpr WORD kUnreadableField = 0xFFFF;

const char* DayName(WORD day) { return day < 7 ? kDayNames[day] : kUnknownName; }

const char* MonthName(WORD month) {
    return month <= kMonthCount ? kMonthNames[month] : kUnknownName;
}

bool IsDelimiter(char ch) { return ch == ':' || ch == ' '; }

// strtok's splitting without its hidden state: the next field at or after *position,
// or false when only delimiters remain.
bool NextField(const std::string& text, std::size_t* position, std::string* field) {
    std::size_t begin = *position;
    while (begin < text.size() && IsDelimiter(text[begin])) ++begin;
    if (begin >= text.size()) {
        *position = begin;
        return false;
    }
    std::size_t end = begin;
    while (end < text.size() && !IsDelimiter(text[end])) ++end;
    field->assign(text, begin, end - begin);
    *position = end;
    return true;
}

WORD FieldValue(const std::string& field) {
    long long value = AtoiSaturating(field);
    if (value < 0 || value > 0xFFFF) return kUnreadableField;
    return static_cast<WORD>(value);
}

// The first line of a DAYTIME reply, without the CR LF that ends it. The reply need
// not be terminated: a server may fill the whole buffer, so nothing is read past length.
CString DaytimeLine(const unsigned char* reply, std::size_t length) {
    const void* nul = std::memchr(reply, '\0', length);
    if (nul) length = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - reply);
    const void* lineFeed = std::memchr(reply, '\n', length);
    if (!lineFeed) return CString();
    std::size_t end = static_cast<std::size_t>(static_cast<const unsigned char*>(lineFeed) - reply);
    while (end > 0 && (reply[end - 1] == '\r' || reply[end - 1] == '\n')) --end;
    return CString(reinterpret_cast<const char*>(reply), static_cast<int>(end));
}

}  // namespace

int QueryTimeOrDaytime(Protocol protocol, const CString& server, int timeout, int beep,
                       CString& serverTimeText, CString& statusText, int& errorCode,
                       std::uint32_t* serverSeconds) {
    unsigned char reply[kReplyBufferSize] = {};
    const bool time = protocol == kProtocolTime;
    CString queryStatus;
    if (!RunQuery(protocol, server.GetString(), timeout, beep, reply,
                  time ? kTimeReplySize : kDaytimeReplySize, nullptr, queryStatus, errorCode)) {
        statusText = queryStatus;
        return 0;
    }

    if (time) {
        // The exchange leaves zeros for a value that did not arrive whole (the server
        // closed or fell silent part way), which lands below 1970.
        const std::uint32_t value = ReadBigEndian32(reply);
        if (value < kNtpTo1970) {
            statusText = "ERROR (TIME:IncorrectPacket)";
            serverTimeText.Empty();
            errorCode = 0;
            return 0;
        }
        serverTimeText = FormatServerTime(static_cast<long long>(value) - kNtpTo1970);
        if (serverSeconds) *serverSeconds = value - kNtpTo1970;
    } else {
        serverTimeText = DaytimeLine(reply, kDaytimeReplySize);
    }
    statusText = "OK";
    return 1;
}

CString FormatServerTime(long long seconds) {
    std::tm local{};
    if (!LocalTm(seconds, &local)) return CString();
    return FormatTm("%a %b %d %H:%M:%S %Y", local);
}

CString FormatPcLocalTime() {
    SYSTEMTIME now{};
    PcClock().GetLocalTime(&now);
    CString text;
    text.Format("%s %s %02i %02i:%02i:%02i %4i", DayName(now.wDayOfWeek), MonthName(now.wMonth),
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wYear);
    return text;
}

int ParseTimeText(const CString& text, SYSTEMTIME* out) {
    *out = SYSTEMTIME{};
    // The text ends at its first NUL, as it would for the C runtime's tokenizer.
    const std::string copy(text.GetString());
    std::size_t position = 0;
    std::string field;

    if (!NextField(copy, &position, &field)) return 1;  // the day name is not used
    if (!NextField(copy, &position, &field)) return 1;
    out->wMonth = static_cast<WORD>(MonthFromName(field.c_str()));

    WORD* const numbers[] = {&out->wDay, &out->wHour, &out->wMinute, &out->wSecond, &out->wYear};
    for (WORD* number : numbers) {
        if (!NextField(copy, &position, &field)) break;
        *number = FieldValue(field);
    }
    return 1;
}

int MonthFromName(const char* text) {
    if (!text) return 0;
    for (int month = 1; month <= kMonthCount; ++month) {
        if (std::strcmp(text, kMonthNames[month]) == 0) return month;
    }
    return 0;
}

int PcZoneOffsetSeconds() {
    SYSTEMTIME local{};
    FILETIME utc{};
    PcClock().GetLocalTime(&local);
    PcClock().GetSystemTimeAsFileTime(&utc);
    const long long wall = SecondsSince1970(local.wYear, local.wMonth, local.wDay, local.wHour,
                                            local.wMinute, local.wSecond);
    const long long ticks = (static_cast<long long>(utc.dwHighDateTime) << 32) |
                            static_cast<long long>(utc.dwLowDateTime);
    const long long offset = wall - (ticks - kFileTime1970) / 10000000;
    // Zones are whole quarters of an hour; the two readings may straddle a second.
    const long long quarter = 900;
    const long long rounded = (offset >= 0 ? offset + quarter / 2 : offset - quarter / 2) / quarter;
    // No zone is a day off; readings that say so are taken for UTC.
    return rounded * quarter > 86400 || rounded * quarter < -86400 ? 0
                                                                  : static_cast<int>(rounded * quarter);
}
