// The settings editor under Group Policy: a key that policy sets keeps the policy's
// value whatever its controls hold, is never written to the profile, and every other
// key is checked and written as without policy.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "editor/resource.h"
#include "editor/settings_form.h"
#include "settings/setting_sources.h"

namespace {

// Section Property's values as "key=value key=value ..." gives them, and as read.
MapSource Texts(const std::string& pairs) {
    std::map<std::string, std::string> texts;
    std::istringstream in(pairs);
    for (std::string p; in >> p;) texts[p.substr(0, p.find('='))] = p.substr(p.find('=') + 1);
    return MapSource(texts);
}
ProfileSettings Settings(const char* pairs) { return ReadProfileSettings(Texts(pairs), {}); }

// What the editor writes of the settings, WindowPos's restore flag among it.
std::vector<ProfileEntry> Entries(const ProfileSettings& s) {
    std::vector<ProfileEntry> entries = ProfileEntries(s);
    entries.push_back({"WindowPos", s.windowPos ? "1" : "0"});
    return entries;
}
std::map<std::string, std::string> Written(const std::vector<ProfileEntry>& entries) {
    std::map<std::string, std::string> written;
    for (const ProfileEntry& entry : entries) written[entry.key] = entry.value.GetString();
    return written;
}

TEST(EditorPolicy, EveryKeyTheEditorWritesHasItsControlsAndEveryControlOneKey) {
    std::set<std::string> keys, written;
    std::multiset<int> controls, dialog = {IDC_PROP_WINDOW_POS};
    for (const KeyControls& shown : kKeyControls) {
        keys.insert(shown.key);
        controls.insert(std::begin(shown.controls), std::end(shown.controls));
    }
    controls.erase(0);  // the lists' ends
    for (const auto& entry : Written(Entries(ProfileSettings()))) written.insert(entry.first);
    EXPECT_EQ(keys, written);
    for (int id = IDC_PROP_SERVER; id <= IDC_PROP_ADJUST_MINUTE; ++id) dialog.insert(id);
    for (int id = IDC_PROP_SERVER_LABEL; id <= IDC_PROP_ADJUST_MINUTE_UNIT; ++id) dialog.insert(id);
    for (int id = IDC_PROP_FALLBACK; id <= IDC_PROP_NTS; ++id) dialog.insert(id);
    for (int i = IDC_PROP_FALLBACK_LABEL; i <= IDC_PROP_MAX_CORRECTION_UNIT; ++i) dialog.insert(i);
    EXPECT_EQ(controls, dialog);
}

TEST(EditorPolicy, AKeyThatPolicySetsKeepsThePolicysValueAndIsNotWritten) {
    // The policy's values, the user's, and controls unlike both or refused for every key.
    const ProfileSettings inForce = Settings(
        "DefaultServer=policy.example.jp protocol=SNTP TimeOut=7 ServerReferenceTime=0,12 "
        "CurrentTimeDisplay=1,2,1 logfile=1 beep=1 AutoAdjust=1 AutoTerminate=1 "
        "IconicStart=1 indicatorline=1 WindowPos=1 ErrorRetry=1,5,10,2 AdjustAt=1,6:45 "
        "FallbackServers=p1.example.jp,p2.example.jp Samples=4 MaxCorrection=15 nts=1");
    const ProfileSettings users = Settings(
        "DefaultServer=user.example.jp protocol=daytime TimeOut=20 ServerReferenceTime=1,3 "
        "CurrentTimeDisplay=0,1,0 ErrorRetry=0,2,7,1 AdjustAt=0,23:10 "
        "FallbackServers=u.example.jp Samples=2 MaxCorrection=0 nts=1");
    SettingsForm bad;  // the protocol TIME, every check box off
    bad.server = "bad name";
    bad.timeOut = "0";
    bad.referenceHours = "25";
    bad.errorRetry = 1;
    bad.retryCount = "500";
    bad.adjustHour = "24";
    bad.fallbackServers = "ok.example.jp,bad name";
    const auto forced = Written(Entries(inForce)), typed = Written(Entries(users));
    for (const KeyControls& shown : kKeyControls) {
        SCOPED_TRACE(shown.key);
        SettingsForm form = FormFromSettings(users);
        TakeKeyFromForm(shown.key, bad, &form);

        // Without policy the key's controls count: refused, or written as they stand.
        ProfileSettings saved;
        EXPECT_TRUE(SettingsFromForm(form, inForce, &saved).control != 0 ||
                    Written(Entries(saved))[shown.key] != forced.at(shown.key));

        // With it they do not, and the key alone is left out of what is written.
        const MapSource policy = Texts(std::string(shown.key) + "=policy");
        ASSERT_EQ(SettingsFromForm(form, inForce, policy, &saved).control, 0);
        std::map<std::string, std::string> expected = typed;
        expected[shown.key] = forced.at(shown.key);
        EXPECT_EQ(Written(Entries(saved)), expected);
        expected.erase(shown.key);
        EXPECT_EQ(Written(EntriesNotSetBy(policy, Entries(saved))), expected);
    }
}

// The list, the samples' selection and the limit alone, refused with the control and message,
// or saved and shown again, then written so: FallbackServers|Samples|MaxCorrection.
TEST(EditorForm, FallbackSamplesAndLimitAreCheckedAndWrittenAsTheReaderReadsThem) {
    const auto loaded = Settings("DefaultServer=a FallbackServers=x Samples=3 MaxCorrection=5");
    for (const auto& [list, samples, limit, control, message, expected] :
         std::vector<std::tuple<const char*, int, const char*, int, unsigned, std::string>>{
             {" 1 , ,2,3,4,5,6,7,8 ,", 7, "8760", 0, 0, "1,2,3,4,5,6,7,8|8|8760"},
             {"", -1, "0", 0, 0, "|1|0"},  // no selection: one request
             {"1,2,3,4,5,6,7,8,9", 0, "0", IDC_PROP_FALLBACK, IDS_BAD_FALLBACK, ""},
             {"a.example.jp,b example.jp", 0, "0", IDC_PROP_FALLBACK, IDS_BAD_FALLBACK, ""},
             {"x", 0, "8761", IDC_PROP_MAX_CORRECTION, IDS_BAD_MAX_CORRECTION, ""},
             {"x", 0, "", IDC_PROP_MAX_CORRECTION, IDS_BAD_MAX_CORRECTION, ""},
         }) {
        SettingsForm form = FormFromSettings(loaded);
        form.fallbackServers = list;
        form.samples = samples;
        form.maxCorrection = limit;
        ProfileSettings saved, again;
        const FormProblem problem = SettingsFromForm(form, loaded, &saved);
        EXPECT_EQ(std::pair(problem.control, problem.message), std::pair(control, message)) << list;
        if (control != 0) continue;
        ASSERT_EQ(SettingsFromForm(FormFromSettings(saved), loaded, &again).control, 0);
        auto w = Written(Entries(again));
        EXPECT_EQ(w["FallbackServers"] + "|" + w["Samples"] + "|" + w["MaxCorrection"], expected);
    }
}

// The NTS box is the user's only for SNTP (list index; -1 none) while policy leaves nts
// alone; a protocol policy sets leaves it to the list's choice.
TEST(EditorForm, NtsIsTheUsersChoiceOnlyForSntpAndWithoutPolicy) {
    const std::tuple<int, const char*, bool> rows[] = {
        {0, "", true},       {1, "", false},      {2, "", false}, {-1, "", false},
        {0, "nts=0", false}, {0, "nts=1", false}, {0, "protocol=time", true}};
    for (const auto& [protocol, policy, enabled] : rows)
        EXPECT_EQ(NtsChoiceEnabled(protocol, Texts(policy)), enabled) << protocol << " " << policy;
}

TEST(EditorPolicy, TheSnapshotHoldsTheEditorsKeysThatPolicySets) {
    const MapSource held = PolicySnapshot(Texts("DefaultServer=p.example.jp protocol= Voice=1"));
    EXPECT_EQ(std::string(held.Text("DefaultServer")), "p.example.jp");
    EXPECT_TRUE(held.Has("protocol"));  // set, and empty
    EXPECT_FALSE(held.Has("Voice"));    // not the editor's
    EXPECT_FALSE(held.Has("AdjustAt"));
}

}  // namespace
