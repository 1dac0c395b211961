#include "settings/settings.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "framework/scan.h"

namespace {

int OnOff(int value) { return value == 1 ? 1 : 0; }

// The longest period that a window timer takes.
constexpr long long kLongestTimerMs = 0x7FFFFFFF;

// The pieces of a list between its commas, each without the blanks around it; an
// empty list is one empty piece.
std::vector<std::string> ListPieces(const CString& list) {
    const std::string text(list.GetString(), static_cast<std::size_t>(list.GetLength()));
    std::vector<std::string> pieces;
    for (std::size_t at = 0;;) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string piece = text.substr(at, comma - at);
        const std::size_t first = piece.find_first_not_of(" \t");
        pieces.push_back(first == std::string::npos
                             ? std::string()
                             : piece.substr(first, piece.find_last_not_of(" \t") - first + 1));
        if (comma == text.size()) return pieces;
        at = comma + 1;
    }
}

// The list as written without the blanks around its names, which belong to no name;
// an empty name keeps its place, for QueryOf to pass over.
CString TrimmedList(const CString& list) {
    const std::vector<std::string> pieces = ListPieces(list);
    std::string joined = pieces.front();
    for (std::size_t index = 1; index < pieces.size(); ++index) joined += "," + pieces[index];
    return CString(joined.data(), static_cast<int>(joined.size()));
}

// NTS authenticates SNTP alone.
bool AuthenticatedSntp(const ProfileSettings& settings) {
    return settings.nts != 0 && settings.protocol == kProtocolSntp;
}

}  // namespace

ProfileSettings ReadProfileSettings(const ProfileSource& profile, const ProfileSettings& kept) {
    ProfileSettings s;
    s.server = profile.Text("DefaultServer");

    // A name exactly as written, in its letter case; anything else is TIME.
    s.protocol = ProtocolFromName(profile.Text("protocol"));

    int reference[2] = {kept.referenceCheck, kept.referenceHours};
    ScanIntegers(profile.Text("ServerReferenceTime"), ",", reference, 2);
    s.referenceCheck = reference[0] != 0 ? 1 : 0;
    s.referenceHours = reference[1] < 1 || reference[1] > 24 ? 24 : reference[1];

    // All three numbers or none.
    int clock[3] = {0, 0, 0};
    if (ScanIntegers(profile.Text("CurrentTimeDisplay"), ",,", clock, 3) == 3) {
        s.clockDisplay = OnOff(clock[0]);
        s.clockFormat = clock[1] >= 0 && clock[1] <= 2 ? clock[1] : 0;
        s.clockTarget = clock[2] >= 0 && clock[2] <= 1 ? clock[2] : 0;
    }

    s.logFile = OnOff(profile.Int("logfile", 0));
    s.beep = OnOff(profile.Int("beep", 0));
    s.autoAdjust = OnOff(profile.Int("AutoAdjust", 0));
    s.autoTerminate = OnOff(profile.Int("AutoTerminate", 0));
    s.iconicStart = OnOff(profile.Int("IconicStart", 0));
    s.indicatorLine = OnOff(profile.Int("indicatorline", 0));

    s.timeOut = profile.Int("TimeOut", 3);
    s.timeOutText.Format("%is", s.timeOut);

    // The whole value is the window's placement; only its first number is read here.
    int windowPos = kept.windowPos;
    ScanIntegers(profile.Text("WindowPos"), "", &windowPos, 1);
    s.windowPos = OnOff(windowPos);

    int retry[4] = {0, 0, 0, 0};
    ScanIntegers(profile.Text("ErrorRetry"), ",,,", retry, 4);
    s.errorRetry = OnOff(retry[0]);
    s.retryCount = retry[1];
    s.retryValue = retry[2];
    s.retryUnit = retry[3];
    s.retryInterval = RetryIntervalToMs(s.retryValue, s.retryUnit);

    int at[3] = {0, 0, 0};
    ScanIntegers(profile.Text("AdjustAt"), ",:", at, 3);
    s.adjustAt = OnOff(at[0]);
    s.adjustHour = at[1] >= 0 && at[1] <= 23 ? at[1] : 0;
    s.adjustMinute = at[2] >= 0 && at[2] <= 59 ? at[2] : 0;

    // Missing, the three keys read as a single query of the one server, without limit.
    s.fallbackServers = TrimmedList(profile.Text("FallbackServers"));
    const int samples = profile.Int("Samples", 1);
    s.samples = samples >= 1 && samples <= kMostSamples ? samples : 1;
    // A negative or unreadable limit is none; a larger one than a year is a year, still
    // a limit, as whoever wrote it wanted one.
    s.maxCorrection = std::min(std::max(profile.Int("MaxCorrection", 0), 0), kLongestMaxCorrection);
    // Authenticated time asks every server for NTS, which a server may not offer: only
    // a plain 1 turns it on, so that no stray value makes queries fail that worked before.
    s.nts = profile.Text("nts") == "1" ? 1 : 0;
    return s;
}

std::vector<CString> FallbackServerNames(const CString& list) {
    std::vector<CString> names;
    for (const std::string& piece : ListPieces(list)) {
        if (!piece.empty()) names.emplace_back(piece.data(), static_cast<int>(piece.size()));
    }
    return names;
}

ServerQuery QueryOf(const ProfileSettings& settings) {
    ServerQuery query;
    query.server = settings.server;
    query.protocol = settings.protocol;
    query.timeOut = settings.timeOut;
    query.beep = settings.beep;
    query.referenceCheck = settings.referenceCheck;
    query.referenceHours = settings.referenceHours;
    query.fallbackServers = FallbackServerNames(settings.fallbackServers);
    if (query.fallbackServers.size() > static_cast<std::size_t>(kMostFallbackServers)) {
        query.fallbackServers.resize(static_cast<std::size_t>(kMostFallbackServers));
    }
    query.samples = settings.samples;
    query.maxCorrectionHours = settings.maxCorrection;
    query.nts = AuthenticatedSntp(settings);
    return query;
}

const char* ShownProtocolName(const ProfileSettings& settings) {
    return AuthenticatedSntp(settings) ? "NTS" : ProtocolName(settings.protocol);
}

std::vector<ProfileEntry> ProfileEntries(const ProfileSettings& s) {
    auto numbers = [](std::initializer_list<int> values, const char* separators) {
        CString text;
        int index = 0;
        for (int value : values) {
            if (index > 0) text += separators[index - 1];
            CString number;
            number.Format("%i", value);
            text += number;
            ++index;
        }
        return text;
    };
    return {
        {"DefaultServer", s.server},
        {"protocol", ProtocolName(s.protocol)},
        {"ServerReferenceTime", numbers({s.referenceCheck, s.referenceHours}, ",")},
        {"CurrentTimeDisplay", numbers({s.clockDisplay, s.clockFormat, s.clockTarget}, ",,")},
        {"logfile", numbers({s.logFile}, "")},
        {"beep", numbers({s.beep}, "")},
        {"AutoAdjust", numbers({s.autoAdjust}, "")},
        {"AutoTerminate", numbers({s.autoTerminate}, "")},
        {"IconicStart", numbers({s.iconicStart}, "")},
        {"indicatorline", numbers({s.indicatorLine}, "")},
        {"TimeOut", numbers({s.timeOut}, "")},
        {"ErrorRetry", numbers({s.errorRetry, s.retryCount, s.retryValue, s.retryUnit}, ",,,")},
        {"AdjustAt", numbers({s.adjustAt, s.adjustHour, s.adjustMinute}, ",:")},
        {"FallbackServers", s.fallbackServers},
        {"Samples", numbers({s.samples}, "")},
        {"MaxCorrection", numbers({s.maxCorrection}, "")},
        {"nts", numbers({s.nts != 0 ? 1 : 0}, "")},
    };
}

CString WindowPosWithFlag(const CString& stored, int flag) {
    CString value;
    value.Format("%i", flag ? 1 : 0);
    int numbers[4] = {0, 0, 0, 0};
    if (ScanIntegers(stored, ",,,", numbers, 4) < 3) return value;
    // The first separator follows the first number: no number holds a comma.
    const std::string text(stored.GetString(), static_cast<std::size_t>(stored.GetLength()));
    return value + text.substr(text.find(',')).c_str();
}

std::uint32_t RetryIntervalToMs(int value, int unit) {
    long long perUnit = unit == 1 ? 60000 : unit == 2 ? 3600000 : 1000;
    long long ms = static_cast<long long>(value) * perUnit;
    if (ms < 0 || ms > kLongestTimerMs) ms = kLongestTimerMs;
    return static_cast<std::uint32_t>(ms);
}
