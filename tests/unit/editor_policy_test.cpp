// The settings editor under Group Policy: a key that policy sets keeps the policy's
// value whatever its controls hold, is never written to the profile, and every other
// key is checked and written as without policy.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "editor/resource.h"
#include "editor/settings_form.h"
#include "settings/setting_sources.h"

namespace {

std::map<std::string, std::string> Written(const std::vector<ProfileEntry>& entries) {
    std::map<std::string, std::string> written;
    for (const ProfileEntry& entry : entries) written[entry.key] = entry.value.GetString();
    return written;
}

// The policy's values, as the dialog read them.
ProfileSettings PolicyValues() {
    ProfileSettings s;
    s.server = "policy.example.jp";
    s.protocol = kProtocolSntp;
    s.timeOut = 7;
    s.referenceCheck = 0;
    s.referenceHours = 12;
    s.clockDisplay = 1;
    s.clockFormat = 2;
    s.clockTarget = 1;
    s.logFile = s.beep = s.autoAdjust = s.autoTerminate = s.iconicStart = s.indicatorLine = 1;
    s.windowPos = 1;
    s.errorRetry = 1;
    s.retryCount = 5;
    s.retryValue = 10;
    s.retryUnit = 2;
    s.adjustAt = 1;
    s.adjustHour = 6;
    s.adjustMinute = 45;
    return s;
}

// What the user has in the controls: every value unlike the policy's.
ProfileSettings UsersValues() {
    ProfileSettings s;
    s.server = "user.example.jp";
    s.protocol = kProtocolDaytime;
    s.timeOut = 20;
    s.referenceCheck = 1;
    s.referenceHours = 3;
    s.clockFormat = 1;
    s.retryCount = 2;
    s.retryValue = 7;
    s.retryUnit = 1;
    s.adjustHour = 23;
    s.adjustMinute = 10;
    return s;
}

// Controls that would be refused, or differ from the policy's, for every key.
SettingsForm BadForm() {
    SettingsForm form = FormFromSettings(ProfileSettings());
    form.server = "bad name";
    form.protocol = 1;  // time
    form.timeOut = "0";
    form.referenceHours = "25";
    form.errorRetry = 1;
    form.retryCount = "500";
    form.adjustHour = "24";
    return form;
}

TEST(EditorPolicy, EveryKeyTheEditorWritesHasItsControlsAndEveryControlOneKey) {
    std::set<std::string> keys;
    std::multiset<int> controls;
    for (const KeyControls& shown : kKeyControls) {
        EXPECT_TRUE(keys.insert(shown.key).second) << shown.key;
        for (int id : shown.controls) {
            if (id != 0) controls.insert(id);
        }
    }
    std::set<std::string> written = {"WindowPos"};
    for (const ProfileEntry& entry : ProfileEntries(ProfileSettings())) written.insert(entry.key);
    EXPECT_EQ(keys, written);

    std::multiset<int> dialog = {IDC_PROP_WINDOW_POS};
    for (int id = IDC_PROP_SERVER; id <= IDC_PROP_ADJUST_MINUTE; ++id) dialog.insert(id);
    for (int id = IDC_PROP_SERVER_LABEL; id <= IDC_PROP_ADJUST_MINUTE_UNIT; ++id) dialog.insert(id);
    EXPECT_EQ(controls, dialog);
}

TEST(EditorPolicy, AKeyThatPolicySetsKeepsThePolicysValueAndIsNotWritten) {
    struct Case {
        const char* key;
        int refused;           // the control that the same form is refused for without policy
        const char* unlocked;  // else the value that is then written
    };
    const Case cases[] = {
        {"DefaultServer", IDC_PROP_SERVER, nullptr},
        {"protocol", 0, "time"},
        {"TimeOut", IDC_PROP_TIMEOUT, nullptr},
        {"ServerReferenceTime", IDC_PROP_REFERENCE_HOURS, nullptr},
        {"CurrentTimeDisplay", 0, "0,0,0"},
        {"logfile", 0, "0"},
        {"beep", 0, "0"},
        {"AutoAdjust", 0, "0"},
        {"AutoTerminate", 0, "0"},
        {"IconicStart", 0, "0"},
        {"indicatorline", 0, "0"},
        {"WindowPos", 0, nullptr},
        {"ErrorRetry", IDC_PROP_RETRY_COUNT, nullptr},
        {"AdjustAt", IDC_PROP_ADJUST_HOUR, nullptr},
    };
    ASSERT_EQ(std::size(cases), std::size(kKeyControls));
    const ProfileSettings policyValues = PolicyValues(), users = UsersValues();
    const auto inForce = Written(ProfileEntries(policyValues));
    const auto typed = Written(ProfileEntries(users));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        SettingsForm form = FormFromSettings(users);
        TakeKeyFromForm(c.key, BadForm(), &form);

        // Without policy the key's controls count: refused, or written as they stand.
        ProfileSettings saved;
        const FormProblem problem = SettingsFromForm(form, policyValues, MapSource(), &saved);
        EXPECT_EQ(problem.control, c.refused);
        if (c.unlocked) {
            EXPECT_EQ(Written(ProfileEntries(saved))[c.key], c.unlocked);
        }
        if (std::string(c.key) == "WindowPos") {
            EXPECT_EQ(saved.windowPos, 0);
        }

        // With it they do not, and the key alone is left out of what is written.
        MapSource policy;
        policy.Set(c.key, "set by policy");
        ASSERT_EQ(SettingsFromForm(form, policyValues, policy, &saved).control, 0);
        std::map<std::string, std::string> expected = typed;
        if (expected.count(c.key)) expected[c.key] = inForce.at(c.key);
        EXPECT_EQ(Written(ProfileEntries(saved)), expected);
        EXPECT_EQ(saved.windowPos, std::string(c.key) == "WindowPos" ? 1 : 0);

        std::vector<ProfileEntry> entries = ProfileEntries(saved);
        entries.push_back({"WindowPos", "0,1,2"});
        expected["WindowPos"] = "0,1,2";
        expected.erase(c.key);
        EXPECT_EQ(Written(EntriesNotSetBy(policy, entries)), expected);
    }
}

TEST(EditorPolicy, TheSnapshotHoldsTheEditorsKeysThatPolicySetsOverTheProfile) {
    const MapSource registry({{"DefaultServer", "policy.example.jp"},
                              {"protocol", ""},  // set, and empty: the reader's TIME
                              {"TimeOut", "9"},
                              {"Voice", "1"}});  // not the editor's
    const MapSource snapshot = PolicySnapshot(registry);
    EXPECT_TRUE(snapshot.Has("DefaultServer"));
    EXPECT_TRUE(snapshot.Has("protocol"));
    EXPECT_FALSE(snapshot.Has("Voice"));
    EXPECT_FALSE(snapshot.Has("AdjustAt"));
    EXPECT_EQ(std::string(snapshot.Text("DefaultServer")), "policy.example.jp");

    const MapSource profile({{"DefaultServer", "user.example.jp"},
                             {"protocol", "SNTP"},
                             {"TimeOut", "4"},
                             {"AdjustAt", "1,7:30"}});
    const LayeredSource layered(
        {{&snapshot, SettingOrigin::kPolicy}, {&profile, SettingOrigin::kProfile}});
    const ProfileSettings read = ReadProfileSettings(layered, ProfileSettings());
    EXPECT_EQ(std::string(read.server), "policy.example.jp");
    EXPECT_EQ(read.protocol, kProtocolTime);
    EXPECT_EQ(read.timeOut, 9);
    EXPECT_EQ(read.adjustMinute, 30);  // the profile's own
}

}  // namespace
