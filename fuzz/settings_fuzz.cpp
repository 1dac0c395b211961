// Section Property from a profile of any content: every key scanned and normalised,
// the settings written back as the editor writes them and read again unchanged, the
// editor's form over them, and the restore flag of WindowPos. The input is the
// section's lines, key=value.
#include <map>
#include <string>

#include "editor/settings_form.h"
#include "framework/scan.h"
#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

namespace {

std::string Lower(std::string text) {
    for (char& ch : text) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    return text;
}

// The section as the profile functions give it: keys in any letter case, the first of
// a key given twice, values without line ends and ending at a NUL; the integer
// conversion an optional sign and decimal digits, wrapping at 32 bits.
class TextProfile : public ProfileSource {
  public:
    explicit TextProfile(const std::string& text) {
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find_first_of("\r\n", at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            const std::size_t equals = line.find('=');
            if (equals != std::string::npos) {
                m_values.emplace(Lower(line.substr(0, equals)), line.substr(equals + 1).c_str());
            }
            at = end + 1;
        }
    }
    CString Text(const char* key) const override {
        const auto found = m_values.find(Lower(key));
        return found == m_values.end() ? CString() : CString(found->second.c_str());
    }
    int Int(const char* key, int defaultValue) const override {
        const auto found = m_values.find(Lower(key));
        if (found == m_values.end() || found->second.empty()) return defaultValue;
        const std::string& value = found->second;
        std::size_t at = value[0] == '-' || value[0] == '+' ? 1 : 0;
        std::uint32_t number = 0;
        for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) {
            number = number * 10u + static_cast<std::uint32_t>(value[at] - '0');
        }
        if (value[0] == '-') number = 0u - number;
        return static_cast<int>(number);
    }

  private:
    std::map<std::string, std::string> m_values;
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
