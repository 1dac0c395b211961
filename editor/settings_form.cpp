#include "editor/settings_form.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "editor/resource.h"

namespace {

CString Number(int value) {
    CString text;
    text.Format("%i", value);
    return text;
}

// Plain decimal digits, as the edit boxes take them; false for anything else.
bool ReadNumber(const CString& text, int* value) {
    const int length = text.GetLength();
    if (length == 0 || length > 9) return false;
    int read = 0;
    for (int at = 0; at < length; ++at) {
        const char ch = text.GetAt(at);
        if (ch < '0' || ch > '9') return false;
        read = read * 10 + (ch - '0');
    }
    *value = read;
    return true;
}

bool InRange(const CString& text, int low, int high, int* value) {
    int read = 0;
    if (!ReadNumber(text, &read) || read < low || read > high) return false;
    *value = read;
    return true;
}

// A host name has no blank: neither an ASCII one nor the ideographic space of code
// page 932, which is looked for at character starts only.
bool IsHostName(const CString& text) {
    if (text.IsEmpty()) return false;
    for (int at = 0; at < text.GetLength(); ++at) {
        const unsigned char ch = static_cast<unsigned char>(text.GetAt(at));
        if (ch == ' ' || ch == '\t') return false;
        const bool lead = (ch >= 0x81 && ch <= 0x9F) || (ch >= 0xE0 && ch <= 0xFC);
        if (lead && at + 1 < text.GetLength()) {
            if (ch == 0x81 && static_cast<unsigned char>(text.GetAt(at + 1)) == 0x40) return false;
            ++at;
        }
    }
    return true;
}

// The fallback servers as typed, written as the names alone between single commas;
// false for a name with a blank in it or more names than a query asks.
bool ReadServerList(const CString& text, CString* list) {
    const std::vector<CString> names = FallbackServerNames(text);
    if (names.size() > static_cast<std::size_t>(kMostFallbackServers)) return false;
    CString joined;
    for (const CString& name : names) {
        if (!IsHostName(name)) return false;
        if (!joined.IsEmpty()) joined += ',';
        joined += name;
    }
    *list = joined;
    return true;
}

// The keys that one check box shows, each on or off.
struct Switch {
    const char* key;
    int SettingsForm::*field;
    int ProfileSettings::*setting;
};
const Switch kSwitches[] = {
    {"logfile", &SettingsForm::logFile, &ProfileSettings::logFile},
    {"beep", &SettingsForm::beep, &ProfileSettings::beep},
    {"AutoAdjust", &SettingsForm::autoAdjust, &ProfileSettings::autoAdjust},
    {"AutoTerminate", &SettingsForm::autoTerminate, &ProfileSettings::autoTerminate},
    {"IconicStart", &SettingsForm::iconicStart, &ProfileSettings::iconicStart},
    {"indicatorline", &SettingsForm::indicatorLine, &ProfileSettings::indicatorLine},
    {"WindowPos", &SettingsForm::windowPos, &ProfileSettings::windowPos},
    {"nts", &SettingsForm::nts, &ProfileSettings::nts},
};

}  // namespace

SettingsForm FormFromSettings(const ProfileSettings& s) {
    SettingsForm form;
    form.server = s.server;
    form.protocol = s.protocol;
    form.timeOut = Number(s.timeOut);
    form.referenceCheck = s.referenceCheck;
    form.referenceHours = Number(s.referenceHours);
    form.clockDisplay = s.clockDisplay;
    form.clockFormat = s.clockFormat;
    form.clockTarget = s.clockTarget;
    form.logFile = s.logFile;
    form.beep = s.beep;
    form.autoAdjust = s.autoAdjust;
    form.autoTerminate = s.autoTerminate;
    form.iconicStart = s.iconicStart;
    form.indicatorLine = s.indicatorLine;
    form.windowPos = s.windowPos;
    form.errorRetry = s.errorRetry;
    form.retryCount = Number(s.retryCount);
    form.retryValue = Number(s.retryValue);
    // Any unit but minutes and hours counts in seconds.
    form.retryUnit = s.retryUnit == 1 || s.retryUnit == 2 ? s.retryUnit : 0;
    form.adjustAt = s.adjustAt;
    form.adjustHour = Number(s.adjustHour);
    form.adjustMinute = Number(s.adjustMinute);
    form.fallbackServers = s.fallbackServers;
    form.samples = s.samples >= 1 && s.samples <= kMostSamples ? s.samples - 1 : 0;
    form.maxCorrection = Number(s.maxCorrection);
    form.nts = s.nts;
    return form;
}

FormProblem SettingsFromForm(const SettingsForm& form, const ProfileSettings& loaded,
                             ProfileSettings* settings) {
    return SettingsFromForm(form, loaded, MapSource(), settings);
}

FormProblem SettingsFromForm(const SettingsForm& form, const ProfileSettings& loaded,
                             const ProfileSource& policy, ProfileSettings* settings) {
    ProfileSettings s = loaded;
    const auto users = [&policy](const char* key) { return !policy.Has(key); };
    if (users("DefaultServer")) {
        if (!IsHostName(form.server)) return {IDC_PROP_SERVER, IDS_BAD_SERVER};
        s.server = form.server;
    }
    if (users("protocol")) s.protocol = ProtocolAt(form.protocol);
    if (users("TimeOut") && !InRange(form.timeOut, 1, 60, &s.timeOut)) {
        return {IDC_PROP_TIMEOUT, IDS_BAD_TIMEOUT};
    }
    if (users("ServerReferenceTime")) {
        s.referenceCheck = form.referenceCheck ? 1 : 0;
        if (!InRange(form.referenceHours, 1, 24, &s.referenceHours)) {
            return {IDC_PROP_REFERENCE_HOURS, IDS_BAD_REFERENCE_HOURS};
        }
    }
    if (users("FallbackServers") && !ReadServerList(form.fallbackServers, &s.fallbackServers)) {
        return {IDC_PROP_FALLBACK, IDS_BAD_FALLBACK};
    }
    if (users("Samples")) {
        s.samples = form.samples >= 0 && form.samples < kMostSamples ? form.samples + 1 : 1;
    }
    if (users("CurrentTimeDisplay")) {
        s.clockDisplay = form.clockDisplay ? 1 : 0;
        s.clockFormat = form.clockFormat >= 0 && form.clockFormat <= 2 ? form.clockFormat : 0;
        s.clockTarget = form.clockTarget == 1 ? 1 : 0;
    }
    for (const Switch& on : kSwitches) {
        if (users(on.key)) s.*on.setting = form.*on.field ? 1 : 0;
    }
    if (users("ErrorRetry")) {
        s.errorRetry = form.errorRetry ? 1 : 0;
        if (!InRange(form.retryCount, 0, 99, &s.retryCount) && s.errorRetry) {
            return {IDC_PROP_RETRY_COUNT, IDS_BAD_RETRY_COUNT};
        }
        if (!InRange(form.retryValue, 1, 999, &s.retryValue) && s.errorRetry) {
            return {IDC_PROP_RETRY_VALUE, IDS_BAD_RETRY_VALUE};
        }
        s.retryUnit = form.retryUnit == 1 || form.retryUnit == 2 ? form.retryUnit : 0;
    }
    if (users("AdjustAt")) {
        s.adjustAt = form.adjustAt ? 1 : 0;
        if (!InRange(form.adjustHour, 0, 23, &s.adjustHour)) {
            return {IDC_PROP_ADJUST_HOUR, IDS_BAD_ADJUST_HOUR};
        }
        if (!InRange(form.adjustMinute, 0, 59, &s.adjustMinute)) {
            return {IDC_PROP_ADJUST_MINUTE, IDS_BAD_ADJUST_MINUTE};
        }
    }
    if (users("MaxCorrection") &&
        !InRange(form.maxCorrection, 0, kLongestMaxCorrection, &s.maxCorrection)) {
        return {IDC_PROP_MAX_CORRECTION, IDS_BAD_MAX_CORRECTION};
    }
    *settings = s;
    return {};
}

const KeyControls kKeyControls[18] = {
    {"DefaultServer", {IDC_PROP_SERVER_LABEL, IDC_PROP_SERVER}},
    {"protocol", {IDC_PROP_PROTOCOL_LABEL, IDC_PROP_PROTOCOL}},
    {"nts", {IDC_PROP_NTS}},
    {"TimeOut", {IDC_PROP_TIMEOUT_LABEL, IDC_PROP_TIMEOUT, IDC_PROP_TIMEOUT_UNIT}},
    {"ServerReferenceTime",
     {IDC_PROP_REFERENCE, IDC_PROP_REFERENCE_HOURS, IDC_PROP_REFERENCE_UNIT}},
    {"FallbackServers", {IDC_PROP_FALLBACK_LABEL, IDC_PROP_FALLBACK, IDC_PROP_FALLBACK_HINT}},
    {"Samples", {IDC_PROP_SAMPLES_LABEL, IDC_PROP_SAMPLES}},
    {"CurrentTimeDisplay", {IDC_PROP_CLOCK, IDC_PROP_CLOCK_FORMAT, IDC_PROP_CLOCK_TARGET}},
    {"logfile", {IDC_PROP_LOGFILE}},
    {"beep", {IDC_PROP_BEEP}},
    {"AutoAdjust", {IDC_PROP_AUTO_ADJUST}},
    {"AutoTerminate", {IDC_PROP_AUTO_TERMINATE}},
    {"IconicStart", {IDC_PROP_ICONIC}},
    {"indicatorline", {IDC_PROP_INDICATOR}},
    {"WindowPos", {IDC_PROP_WINDOW_POS}},
    {"ErrorRetry",
     {IDC_PROP_RETRY, IDC_PROP_RETRY_COUNT, IDC_PROP_RETRY_LABEL, IDC_PROP_RETRY_VALUE,
      IDC_PROP_RETRY_UNIT}},
    {"AdjustAt",
     {IDC_PROP_ADJUST_AT, IDC_PROP_ADJUST_HOUR, IDC_PROP_ADJUST_HOUR_UNIT, IDC_PROP_ADJUST_MINUTE,
      IDC_PROP_ADJUST_MINUTE_UNIT}},
    {"MaxCorrection",
     {IDC_PROP_MAX_CORRECTION_LABEL, IDC_PROP_MAX_CORRECTION, IDC_PROP_MAX_CORRECTION_UNIT}},
};

bool NtsChoiceEnabled(int protocol, const ProfileSource& policy) {
    return !policy.Has("nts") && ProtocolAt(protocol) == kProtocolSntp;
}

MapSource PolicySnapshot(const ProfileSource& policy) {
    MapSource snapshot;
    for (const KeyControls& shown : kKeyControls) {
        if (policy.Has(shown.key)) snapshot.Set(shown.key, policy.Text(shown.key));
    }
    return snapshot;
}

std::vector<ProfileEntry> EntriesNotSetBy(const ProfileSource& policy,
                                          std::vector<ProfileEntry> entries) {
    std::vector<ProfileEntry> kept;
    for (ProfileEntry& entry : entries) {
        if (!policy.Has(entry.key)) kept.push_back(std::move(entry));
    }
    return kept;
}

void TakeKeyFromForm(const char* key, const SettingsForm& from, SettingsForm* to) {
    const std::string name = key;
    if (name == "DefaultServer") {
        to->server = from.server;
    } else if (name == "protocol") {
        to->protocol = from.protocol;
    } else if (name == "TimeOut") {
        to->timeOut = from.timeOut;
    } else if (name == "ServerReferenceTime") {
        to->referenceCheck = from.referenceCheck;
        to->referenceHours = from.referenceHours;
    } else if (name == "CurrentTimeDisplay") {
        to->clockDisplay = from.clockDisplay;
        to->clockFormat = from.clockFormat;
        to->clockTarget = from.clockTarget;
    } else if (name == "ErrorRetry") {
        to->errorRetry = from.errorRetry;
        to->retryCount = from.retryCount;
        to->retryValue = from.retryValue;
        to->retryUnit = from.retryUnit;
    } else if (name == "AdjustAt") {
        to->adjustAt = from.adjustAt;
        to->adjustHour = from.adjustHour;
        to->adjustMinute = from.adjustMinute;
    } else if (name == "FallbackServers") {
        to->fallbackServers = from.fallbackServers;
    } else if (name == "Samples") {
        to->samples = from.samples;
    } else if (name == "MaxCorrection") {
        to->maxCorrection = from.maxCorrection;
    } else {
        for (const Switch& on : kSwitches) {
            if (name == on.key) to->*on.field = from.*on.field;
        }
    }
}
