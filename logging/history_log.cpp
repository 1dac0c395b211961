#include "logging/history_log.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "engine/query_request.h"
#include "engine/time_text.h"
#include "framework/atoi.h"
#include "framework/crt_time.h"
#include "framework/file.h"
#include "framework/notify.h"

namespace {

// Character positions of the fields in Www Mmm DD HH:MM:SS YYYY.
constexpr std::size_t kMonthAt = 4;
constexpr std::size_t kDayAt = 8;
constexpr std::size_t kHourAt = 11;
constexpr std::size_t kMinuteAt = 14;
constexpr std::size_t kSecondAt = 17;
constexpr std::size_t kYearLength = 4;

// The characters of text from first on, at most count of them; empty past its end, so a
// short text never makes us read beyond it.
std::string Piece(const std::string& text, std::size_t first, std::size_t count) {
    if (first >= text.size()) return std::string();
    return text.substr(first, count);
}

// atoi's reading of a piece. Pieces have at most four characters, so the value fits.
int PieceValue(const std::string& piece) { return static_cast<int>(AtoiSaturating(piece)); }

int MonthIndex(const std::string& piece) {
    // A text without a month name is no time text of ours; January at least gives
    // every such text one fixed reading, the same on each run and platform.
    const int month = MonthFromName(piece.c_str());
    return month == 0 ? 0 : month - 1;
}

}  // namespace

std::wstring HistoryLogPath(const std::wstring& profilePath) {
    return ReplaceAfterLastDot(profilePath, L"log");
}

namespace {

// The fields of a time text, position by position.
std::tm TextFields(const CString& text) {
    const std::string bytes(text.GetString(), static_cast<std::size_t>(text.GetLength()));
    const std::size_t yearAt = bytes.size() > kYearLength ? bytes.size() - kYearLength : 0;

    std::tm when{};
    when.tm_year = PieceValue(Piece(bytes, yearAt, kYearLength)) - 1900;
    when.tm_mon = MonthIndex(Piece(bytes, kMonthAt, 3));
    when.tm_mday = PieceValue(Piece(bytes, kDayAt, 2));
    when.tm_hour = PieceValue(Piece(bytes, kHourAt, 2));
    when.tm_min = PieceValue(Piece(bytes, kMinuteAt, 2));
    when.tm_sec = PieceValue(Piece(bytes, kSecondAt, 2));
    return when;
}

// The PC's time text, written in a zone zoneOffset seconds east of UTC, as seconds
// since 1970; -1 before 1970, as the runtime's reading gives.
long long PcTextToSeconds(const CString& text, int zoneOffset) {
    const std::tm f = TextFields(text);
    const long long wall = SecondsSince1970(f.tm_year + 1900LL, f.tm_mon + 1, f.tm_mday,
                                            f.tm_hour, f.tm_min, f.tm_sec);
    const long long seconds = wall - zoneOffset;
    // The runtime's reading ends with the year 3000; so does this one.
    return seconds < 0 || f.tm_year > 3000 - 1900 ? -1 : seconds;
}

// A field as the record holds it: a line break inside it (a DAYTIME server may send
// one before its line feed) becomes a blank, so that every record stays one line.
// No Shift-JIS byte pair has a CR or LF as its second byte.
std::string OneLine(const CString& field) {
    std::string text(field.GetString(), static_cast<std::size_t>(field.GetLength()));
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

long long TimeTextToSeconds(const CString& text) {
    std::tm when = TextFields(text);
    // The texts carry no daylight-saving flag: both of a DAYTIME record are converted in
    // the same zone with the same flag, so the zone cancels out of their difference.
    when.tm_isdst = 0;
    return LocalMktime(&when);
}

int WriteHistoryRecord(const std::wstring& path, const CString& pcTimeText, const CString& server,
                       Protocol protocol, int mode, const CString& detail,
                       const CString& serverTimeText, const int* pcZoneOffset, bool authenticated) {
    // A time that the runtime cannot convert gives no difference rather than a
    // made-up one.
    CString difference = "x";
    if (!pcTimeText.IsEmpty() && !serverTimeText.IsEmpty()) {
        const long long pc = pcZoneOffset ? PcTextToSeconds(pcTimeText, *pcZoneOffset)
                                          : TimeTextToSeconds(pcTimeText);
        const long long serverSeconds = TimeTextToSeconds(serverTimeText);
        if (pc != -1 && serverSeconds != -1) difference.Format("%+lld", pc - serverSeconds);
    }
    // Lines end in CR LF on disk whatever the platform, as a text-mode file on Windows.
    CString line;
    line.Format("%s, %s, %7s, %6s, %s, %s, %s\r\n", OneLine(pcTimeText).c_str(),
                OneLine(server).c_str(), authenticated ? "NTS" : ProtocolName(protocol),
                mode == 0 ? "check" : "adjust", OneLine(detail).c_str(),
                OneLine(serverTimeText).c_str(), difference.GetString());

    // Opened and closed per record, so that each record is on disk when the call returns.
    ScopedFile file = OpenForAppend(path);
    if (!file) {
        ShowMessage("Can not open the logfile");
        return 0;
    }
    bool written = std::fputs(line, file.Get()) >= 0;
    // A line that could not be flushed to the file was not written either.
    bool closed = file.Close();
    return written && closed ? 1 : 0;
}
