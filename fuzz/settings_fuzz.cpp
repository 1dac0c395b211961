// Section Property from a profile of any content: every key scanned and normalised,
// the settings written back as the editor writes them and read again unchanged, the
// editor's form over them, and the restore flag of WindowPos. The input is the
// section's lines, key=value.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include "editor/settings_form.h"
#include "framework/scan.h"
#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

namespace {

// Keys match in any letter case, as the profile functions match them.
struct AnyCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

// The section as the profile functions give it: the first of a key given twice, values
// without line ends and ending at a NUL, the integer conversion decimal, wrapping at
// 32 bits.
class TextProfile : public ProfileSource {
  public:
    explicit TextProfile(const std::string& text) {
        for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
            end = std::min(text.find_first_of("\r\n", at), text.size());
            const std::size_t equals = text.find('=', at);
            if (equals >= end) continue;
            m_values.emplace(text.substr(at, equals - at),
                             text.substr(equals + 1, end - equals - 1).c_str());
        }
    }
    CString Text(const char* key) const override {
        const auto found = m_values.find(key);
        return found == m_values.end() ? CString() : CString(found->second.c_str());
    }
    int Int(const char* key, int defaultValue) const override {
        const auto found = m_values.find(key);
        if (found == m_values.end() || found->second.empty()) return defaultValue;
        return static_cast<int>(
            static_cast<std::uint32_t>(std::strtoll(found->second.c_str(), nullptr, 10)));
    }

  private:
    std::map<std::string, std::string, AnyCase> m_values;
};

// The same settings write the same entries and agree on what those leave out: the
// restore flag and what reading derives.
bool Same(const ProfileSettings& a, const ProfileSettings& b) {
    const std::vector<ProfileEntry> x = ProfileEntries(a), y = ProfileEntries(b);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].value != y[i].value) return false;
    }
    return a.windowPos == b.windowPos && a.retryInterval == b.retryInterval &&
           a.timeOutText == b.timeOutText;
}

// What the editor would write, read back over the settings it came from.
ProfileSettings WrittenAndRead(const ProfileSettings& s) {
    std::string section;
    for (const ProfileEntry& entry : ProfileEntries(s)) {
        section += std::string(entry.key) + "=" + entry.value.GetString() + "\n";
    }
    return ReadProfileSettings(TextProfile(section), s);
}

bool OnOff(int value) { return value == 0 || value == 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TextProfile profile(std::string(reinterpret_cast<const char*>(data), size));
    ProfileSettings kept;
    kept.windowPos = static_cast<int>(size % 3);  // any earlier flag, even a stray one
    const ProfileSettings s = ReadProfileSettings(profile, kept);

    FUZZ_CHECK(s.protocol == kProtocolSntp || s.protocol == kProtocolTime ||
               s.protocol == kProtocolDaytime);
    FUZZ_CHECK(OnOff(s.referenceCheck) && s.referenceHours >= 1 && s.referenceHours <= 24);
    FUZZ_CHECK(OnOff(s.clockDisplay) && s.clockFormat >= 0 && s.clockFormat <= 2 &&
               OnOff(s.clockTarget));
    FUZZ_CHECK(OnOff(s.logFile) && OnOff(s.beep) && OnOff(s.autoAdjust) && OnOff(s.autoTerminate) &&
               OnOff(s.iconicStart) && OnOff(s.indicatorLine) && OnOff(s.windowPos));
    FUZZ_CHECK(OnOff(s.errorRetry) && s.retryInterval <= 0x7FFFFFFFu);
    FUZZ_CHECK(OnOff(s.adjustAt) && s.adjustHour >= 0 && s.adjustHour <= 23 &&
               s.adjustMinute >= 0 && s.adjustMinute <= 59);
    FUZZ_CHECK(s.timeOutText.GetLength() >= 2 &&
               s.timeOutText.GetString()[s.timeOutText.GetLength() - 1] == 's');
    FUZZ_CHECK(Same(WrittenAndRead(s), s));

    // The editor's form over these settings: accepted only within its ranges, and what
    // it accepts the profile keeps.
    ProfileSettings edited;
    if (SettingsFromForm(FormFromSettings(s), s, &edited).control == 0) {
        FUZZ_CHECK(edited.timeOut >= 1 && edited.timeOut <= 60 && !edited.server.IsEmpty());
        FUZZ_CHECK(Same(WrittenAndRead(edited), edited));
    }

    // The restore flag set in the stored place keeps the place and reads back as set.
    const CString stored = profile.Text("WindowPos");
    for (int flag = 0; flag <= 1; ++flag) {
        const CString value = WindowPosWithFlag(stored, flag);
        ProfileSettings other = kept;
        other.windowPos = 1 - flag;
        FUZZ_CHECK(
            ReadProfileSettings(TextProfile("WindowPos=" + std::string(value)), other).windowPos ==
            flag);
        int before[4] = {0, 0, 0, 0}, after[4] = {0, 0, 0, 0};
        if (ScanIntegers(stored, ",,,", before, 4) >= 3) {
            FUZZ_CHECK(ScanIntegers(value, ",,,", after, 4) >= 3 && before[1] == after[1] &&
                       before[2] == after[2] && before[3] == after[3]);
        }
    }
    return 0;
}
