#include "editor/settings_form.h"

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
    return form;
}

FormProblem SettingsFromForm(const SettingsForm& form, const ProfileSettings& loaded,
                             ProfileSettings* settings) {
    ProfileSettings s = loaded;
    if (!IsHostName(form.server)) return {IDC_PROP_SERVER, IDS_BAD_SERVER};
    s.server = form.server;
    s.protocol = ProtocolAt(form.protocol);
    if (!InRange(form.timeOut, 1, 60, &s.timeOut)) return {IDC_PROP_TIMEOUT, IDS_BAD_TIMEOUT};
    s.referenceCheck = form.referenceCheck ? 1 : 0;
    if (!InRange(form.referenceHours, 1, 24, &s.referenceHours)) {
        return {IDC_PROP_REFERENCE_HOURS, IDS_BAD_REFERENCE_HOURS};
    }
    s.clockDisplay = form.clockDisplay ? 1 : 0;
    s.clockFormat = form.clockFormat >= 0 && form.clockFormat <= 2 ? form.clockFormat : 0;
    s.clockTarget = form.clockTarget == 1 ? 1 : 0;
    s.logFile = form.logFile ? 1 : 0;
    s.beep = form.beep ? 1 : 0;
    s.autoAdjust = form.autoAdjust ? 1 : 0;
    s.autoTerminate = form.autoTerminate ? 1 : 0;
    s.iconicStart = form.iconicStart ? 1 : 0;
    s.indicatorLine = form.indicatorLine ? 1 : 0;
    s.windowPos = form.windowPos ? 1 : 0;
    s.errorRetry = form.errorRetry ? 1 : 0;
    if (!InRange(form.retryCount, 0, 99, &s.retryCount) && s.errorRetry) {
        return {IDC_PROP_RETRY_COUNT, IDS_BAD_RETRY_COUNT};
    }
    if (!InRange(form.retryValue, 1, 999, &s.retryValue) && s.errorRetry) {
        return {IDC_PROP_RETRY_VALUE, IDS_BAD_RETRY_VALUE};
    }
    s.retryUnit = form.retryUnit == 1 || form.retryUnit == 2 ? form.retryUnit : 0;
    s.adjustAt = form.adjustAt ? 1 : 0;
    if (!InRange(form.adjustHour, 0, 23, &s.adjustHour)) {
        return {IDC_PROP_ADJUST_HOUR, IDS_BAD_ADJUST_HOUR};
    }
    if (!InRange(form.adjustMinute, 0, 59, &s.adjustMinute)) {
        return {IDC_PROP_ADJUST_MINUTE, IDS_BAD_ADJUST_MINUTE};
    }
    *settings = s;
    return {};
}
