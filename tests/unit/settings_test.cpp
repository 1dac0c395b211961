// The profile's settings as the main window reads them: defaults, exact words,
// partial scans, octal and hexadecimal numbers, clamps, and hostile values.
#include "settings/setting_sources.h"
#include "settings/settings.h"
#include "ui/status_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Section Property as a map of key to value. The integer conversion is the
// platform's for what these cases hold: missing or empty gives the default,
// otherwise the leading decimal number (0 when there is none).
class MapProfile : public ProfileSource {
  public:
    explicit MapProfile(std::map<std::string, std::string> values) : m_values(std::move(values)) {}
    CString Text(const char* key) const override {
        auto found = m_values.find(key);
        return found == m_values.end() ? CString() : CString(found->second.c_str());
    }
    int Int(const char* key, int defaultValue) const override {
        auto found = m_values.find(key);
        if (found == m_values.end() || found->second.empty()) return defaultValue;
        return static_cast<int>(std::strtol(found->second.c_str(), nullptr, 10));
    }

  private:
    std::map<std::string, std::string> m_values;
};

ProfileSettings Read(std::map<std::string, std::string> values, ProfileSettings kept = {}) {
    return ReadProfileSettings(MapProfile(std::move(values)), kept);
}

TEST(Settings, AnEmptyProfileGivesTheDefaults) {
    ProfileSettings s = Read({});
    EXPECT_EQ(s.server, "");
    EXPECT_EQ(s.protocol, kProtocolTime);
    EXPECT_STREQ(ProtocolName(s.protocol), "time");
    EXPECT_EQ(s.referenceCheck, 1);
    EXPECT_EQ(s.referenceHours, 24);
    EXPECT_EQ(s.clockDisplay + s.clockFormat + s.clockTarget, 0);
    EXPECT_EQ(s.logFile + s.beep + s.autoAdjust + s.autoTerminate + s.iconicStart +
                  s.indicatorLine + s.windowPos,
              0);
    EXPECT_EQ(s.timeOut, 3);
    EXPECT_EQ(s.timeOutText, "3s");
    EXPECT_EQ(s.errorRetry, 0);
    EXPECT_EQ(RetryCountText(s.retryCount), "0\x89\xF1");
    EXPECT_EQ(s.retryInterval, 0u);
    EXPECT_EQ(RetryIntervalText(s.retryValue, s.retryUnit), "0s");
    EXPECT_EQ(s.adjustAt, 0);
    EXPECT_EQ(AdjustAtText(s.adjustHour, s.adjustMinute), "00:00");
}

TEST(Settings, EachKeyIsReadAndNormalised) {
    // One key at a time over the defaults; the expectation names the fields it sets.
    struct Case {
        const char* key;
        const char* value;
        std::map<std::string, long long> expected;
    };
    const Case cases[] = {
        {"protocol", "SNTP", {{"protocol", 0}}},
        {"protocol", "daytime", {{"protocol", 2}}},
        {"protocol", "sntp", {{"protocol", 1}}},  // another letter case is TIME
        {"protocol", "SNTP ", {{"protocol", 1}}},
        {"protocol", "Daytime", {{"protocol", 1}}},
        {"ServerReferenceTime", "5,0", {{"check", 1}, {"hours", 24}}},
        {"ServerReferenceTime", "0,12", {{"check", 0}, {"hours", 12}}},
        {"ServerReferenceTime", "-3,25", {{"check", 1}, {"hours", 24}}},
        {"ServerReferenceTime", "0x0,0x10", {{"check", 0}, {"hours", 16}}},
        {"CurrentTimeDisplay", "1,2,1", {{"display", 1}, {"format", 2}, {"target", 1}}},
        {"CurrentTimeDisplay", "1,2", {{"display", 0}, {"format", 0}, {"target", 0}}},
        {"CurrentTimeDisplay", "2,7,5", {{"display", 0}, {"format", 0}, {"target", 0}}},
        {"CurrentTimeDisplay", "1,-1,-1", {{"display", 1}, {"format", 0}, {"target", 0}}},
        {"logfile", "1", {{"logfile", 1}}},
        {"logfile", "2", {{"logfile", 0}}},
        {"logfile", "-1", {{"logfile", 0}}},
        {"beep", "1", {{"beep", 1}}},
        {"IconicStart", "yes", {{"iconic", 0}}},
        {"TimeOut", "0", {{"timeout", 0}}},
        {"TimeOut", "-5", {{"timeout", -5}}},
        {"TimeOut", "", {{"timeout", 3}}},
        {"WindowPos", "1,100,200,1", {{"windowPos", 1}}},
        {"WindowPos", "2,0,0,0", {{"windowPos", 0}}},
        {"ErrorRetry", "1,3,30,0", {{"retry", 1}, {"count", 3}, {"interval", 30000}}},
        {"ErrorRetry", "1,3,2,1", {{"retry", 1}, {"count", 3}, {"interval", 120000}}},
        {"ErrorRetry", "1,3,2,2", {{"retry", 1}, {"count", 3}, {"interval", 7200000}}},
        {"ErrorRetry", "1,3,10,5", {{"retry", 1}, {"count", 3}, {"interval", 10000}}},
        {"ErrorRetry", "1,3", {{"retry", 1}, {"count", 3}, {"interval", 0}}},
        {"ErrorRetry", "2,-4,1,0", {{"retry", 0}, {"count", -4}, {"interval", 1000}}},
        // The longest timer period, never a wrapped short one.
        {"ErrorRetry", "1,1,1000,2", {{"retry", 1}, {"interval", 0x7FFFFFFF}}},
        {"ErrorRetry", "1,1,-1,0", {{"retry", 1}, {"interval", 0x7FFFFFFF}}},
        {"AdjustAt", "1,7:30", {{"at", 1}, {"hour", 7}, {"minute", 30}}},
        {"AdjustAt", "1,24:75", {{"at", 1}, {"hour", 0}, {"minute", 0}}},
        {"AdjustAt", "1,08:30", {{"at", 1}, {"hour", 0}, {"minute", 0}}},  // octal 0, then stop
        {"AdjustAt", "1,07:030", {{"at", 1}, {"hour", 7}, {"minute", 24}}},
        {"AdjustAt", "1,0x17:0x3b", {{"at", 1}, {"hour", 23}, {"minute", 59}}},
        {"AdjustAt", "1, 6: 5", {{"at", 1}, {"hour", 6}, {"minute", 5}}},
        {"AdjustAt", "1 ,6:5", {{"at", 1}, {"hour", 0}, {"minute", 0}}},
        {"AdjustAt", "on,6:5", {{"at", 0}, {"hour", 0}, {"minute", 0}}},
        // Authenticated time only for a plain 1: whatever else stays the plain SNTP of before.
        {"nts", "1", {{"nts", 1}}},   {"nts", "2", {{"nts", 0}}},  {"nts", "yes", {{"nts", 0}}},
        {"nts", "01", {{"nts", 0}}},  {"nts", "1x", {{"nts", 0}}}, {"nts", "", {{"nts", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        ProfileSettings s = Read({{c.key, c.value}});
        const std::map<std::string, long long> actual = {
            {"protocol", s.protocol},     {"check", s.referenceCheck}, {"hours", s.referenceHours},
            {"display", s.clockDisplay},  {"format", s.clockFormat},   {"target", s.clockTarget},
            {"logfile", s.logFile},       {"beep", s.beep},            {"iconic", s.iconicStart},
            {"timeout", s.timeOut},       {"windowPos", s.windowPos},  {"retry", s.errorRetry},
            {"count", s.retryCount},      {"interval", s.retryInterval}, {"at", s.adjustAt},
            {"hour", s.adjustHour},       {"minute", s.adjustMinute},  {"nts", s.nts},
        };
        for (const auto& [field, value] : c.expected) EXPECT_EQ(actual.at(field), value) << field;
    }
}

// The three keys alone, through the profile's own saturating conversion: the list as the
// editor shows it, the names a query asks (the first eight), the clamped numbers, and
// what the editor writes of them read back the same.
TEST(Settings, FallbackSamplesAndLimitAreReadNormalisedAndWritten) {
    const struct {
        const char* key;  // nullptr: none of them, one server asked once without a limit
        std::string value;
        const char* servers;
        std::vector<std::string> asked;
        int samples, maxCorrection;
    } rows[] = {
        {nullptr, "", "", {}, 1, 0},
        {"FallbackServers", " ntp a , 2001:db8::1,,\tb\t,", "ntp a,2001:db8::1,,b,",
         {"ntp a", "2001:db8::1", "b"}, 1, 0},
        {"FallbackServers", ", ,\t", ",,", {}, 1, 0},
        {"FallbackServers", "1,2,,3,4,5,6,7,8,9,10", "1,2,,3,4,5,6,7,8,9,10",
         {"1", "2", "3", "4", "5", "6", "7", "8"}, 1, 0},
        {"Samples", "8", "", {}, 8, 0},
        {"Samples", "9", "", {}, 1, 0},
        {"Samples", "0", "", {}, 1, 0},
        {"MaxCorrection", " 24h", "", {}, 1, 24},
        {"MaxCorrection", "8760", "", {}, 1, 8760},
        {"MaxCorrection", "8761", "", {}, 1, 8760},
        {"MaxCorrection", std::string(40, '9'), "", {}, 1, 8760},
        {"MaxCorrection", "-1", "", {}, 1, 0},
    };
    const auto three = [](const ProfileSettings& p) {
        return std::make_tuple(std::string(p.fallbackServers), p.samples, p.maxCorrection);
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key ? row.key : "none") + "=" + row.value);
        MapSource profile;
        if (row.key) profile.Set(row.key, row.value.c_str());
        const ProfileSettings s = ReadProfileSettings(profile, {});
        EXPECT_EQ(three(s),
                  std::make_tuple(std::string(row.servers), row.samples, row.maxCorrection));
        const ServerQuery query = QueryOf(s);
        std::vector<std::string> asked;
        for (const CString& name : query.fallbackServers) asked.emplace_back(name.GetString());
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(query.samples, row.samples);
        EXPECT_EQ(query.maxCorrectionHours, row.maxCorrection);
        std::map<std::string, std::string> written;
        for (const ProfileEntry& entry : ProfileEntries(s)) written[entry.key] = entry.value.GetString();
        EXPECT_EQ(three(Read(written)), three(s));
    }
    EXPECT_EQ(FallbackServerNames("1,2,,3,4,5,6,7,8,9,10").size(), 10u);  // all, for the editor
}

// NTS authenticates SNTP alone; the switch itself is kept and written whatever the protocol.
TEST(Settings, NtsAuthenticatesSntpOnly) {
    for (const std::string protocol : {"SNTP", "time", "daytime"}) {
        for (const std::string nts : {"1", "0"}) {
            SCOPED_TRACE(protocol + " nts=" + nts);
            const ProfileSettings s = Read({{"protocol", protocol}, {"nts", nts}});
            const bool asked = protocol == "SNTP" && nts == "1";
            EXPECT_EQ(QueryOf(s).nts, asked);
            EXPECT_EQ(ShownProtocolName(s), asked ? "NTS" : protocol);
            std::map<std::string, std::string> written;
            for (const ProfileEntry& entry : ProfileEntries(s)) written[entry.key] = entry.value.GetString();
            EXPECT_EQ(written["nts"], nts);
        }
    }
}

TEST(Settings, TextsFollowTheirNumbers) {
    ProfileSettings s = Read({{"protocol", "daytime"}, {"TimeOut", "0"}, {"ErrorRetry", "1,3,2,1"}});
    EXPECT_STREQ(ProtocolName(s.protocol), "daytime");
    EXPECT_EQ(s.timeOutText, "0s");
    EXPECT_EQ(RetryCountText(s.retryCount), "3\x89\xF1");
    EXPECT_EQ(RetryIntervalText(2, 1), "2m");
    EXPECT_EQ(RetryIntervalText(5, 2), "5h");
    EXPECT_EQ(RetryIntervalText(10, 3), "10");  // another unit shows the number alone
    EXPECT_EQ(AdjustAtText(7, 5), "07:05");
}

TEST(Settings, ValuesTheScanDoesNotReachKeepTheirFormerContents) {
    ProfileSettings kept;
    kept.referenceCheck = 0;
    kept.referenceHours = 6;
    kept.windowPos = 1;
    ProfileSettings s = Read({{"ServerReferenceTime", "1"}, {"WindowPos", "x"}}, kept);
    EXPECT_EQ(s.referenceCheck, 1);
    EXPECT_EQ(s.referenceHours, 6);
    EXPECT_EQ(s.windowPos, 1);
    // Every other value comes afresh: a reload after the retry was switched off.
    kept.errorRetry = 1;
    kept.retryCount = 9;
    s = Read({{"ErrorRetry", "0"}}, kept);
    EXPECT_EQ(s.errorRetry, 0);
    EXPECT_EQ(s.retryCount, 0);
}

TEST(Settings, HostileValuesGiveDefinedResults) {
    const std::string huge(65536, '9');
    const std::string format = "%s%n%x%s%n";
    ProfileSettings s = Read({{"DefaultServer", format},
                              {"ServerReferenceTime", "1," + huge},
                              {"ErrorRetry", "1," + huge + ",-" + huge + ",2"},
                              {"AdjustAt", "1,-" + huge + ":" + huge},
                              {"CurrentTimeDisplay", std::string(65536, ',')},
                              {"protocol", std::string(65536, 'S')}});
    EXPECT_EQ(std::string(s.server), format);  // a name, never a format
    EXPECT_EQ(s.protocol, kProtocolTime);
    EXPECT_EQ(s.referenceHours, 24);
    EXPECT_EQ(s.retryCount, INT_MAX);
    EXPECT_EQ(s.retryValue, INT_MIN);
    EXPECT_EQ(s.retryInterval, 0x7FFFFFFFu);
    EXPECT_EQ(s.adjustHour, 0);
    EXPECT_EQ(s.adjustMinute, 0);
    EXPECT_EQ(s.clockDisplay, 0);
    EXPECT_EQ(RetryCountText(s.retryCount), "2147483647\x89\xF1");
}

TEST(Settings, WhatTheEditorWritesReadsBackTheSame) {
    struct Case {
        int protocol, hour, minute, unit, hours;
    };
    for (const Case& c : {Case{0, 8, 5, 0, 1}, Case{1, 0, 0, 1, 24}, Case{2, 23, 59, 2, 12},
                          Case{0, 9, 8, 0, 24}}) {
        ProfileSettings s;
        s.server = "ntp.example.jp";
        s.protocol = ProtocolAt(c.protocol);
        s.referenceCheck = 0;
        s.referenceHours = c.hours;
        s.clockDisplay = 1;
        s.clockFormat = 2;
        s.clockTarget = 1;
        s.logFile = s.beep = s.autoAdjust = s.autoTerminate = s.iconicStart = s.indicatorLine = 1;
        s.timeOut = 10;
        s.timeOutText = "10s";
        s.errorRetry = 1;
        s.retryCount = 3;
        s.retryValue = 30;
        s.retryUnit = c.unit;
        s.retryInterval = RetryIntervalToMs(30, c.unit);
        s.adjustAt = 1;
        s.adjustHour = c.hour;
        s.adjustMinute = c.minute;
        std::map<std::string, std::string> profile;
        for (const ProfileEntry& entry : ProfileEntries(s)) profile[entry.key] = entry.value.GetString();
        EXPECT_EQ(profile.count("WindowPos"), 0u);
        const ProfileSettings back = Read(profile);
        SCOPED_TRACE(profile["AdjustAt"] + " " + profile["ErrorRetry"]);
        EXPECT_EQ(back.protocol, s.protocol);
        EXPECT_EQ(back.referenceHours, c.hours);
        EXPECT_EQ(back.adjustHour, c.hour);
        EXPECT_EQ(back.adjustMinute, c.minute);
        EXPECT_EQ(back.retryInterval, s.retryInterval);
        EXPECT_EQ(back.referenceCheck, 0);
        EXPECT_EQ(back.clockFormat, 2);
        EXPECT_EQ(back.clockTarget, 1);
        EXPECT_EQ(back.iconicStart, 1);
        EXPECT_EQ(back.timeOut, 10);
    }
}

}  // namespace
