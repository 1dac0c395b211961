// The time service's decisions without Windows: where each machine setting comes from,
// its command line, the minute that holds users' requests to one query, the answer on
// its pipe, and the least right it asks the service manager for.
#include "service/adjustment_gate.h"
#include "service/service_command.h"
#include "service/service_config.h"
#include "settings/service_link.h"
#include "settings/setting_sources.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Each key from the first source that holds it: policy, then the service's parameters,
// then the sample profile's values; only the nine machine keys, so that a policy for the
// window's own switches changes nothing here.
TEST(MachineSettings, EachKeyComesFromTheFirstSourceThatHoldsIt) {
    MapSource policy({{"DefaultServer", "policy.example"}, {"AutoAdjust", "1"}, {"logfile", ""},
                      {"Samples", "2"}, {"nts", "1"}});
    MapSource parameters({{"DefaultServer", "params.example"}, {"protocol", "daytime"},
                          {"ErrorRetry", "1,2,30,0"}, {"Samples", "8"}, {"MaxCorrection", "0"},
                          {"nts", "0"}});
    const ProfileSettings s = ReadMachineSettings(policy, parameters);
    EXPECT_EQ(s.server, "policy.example");
    EXPECT_EQ(s.protocol, kProtocolDaytime);
    EXPECT_EQ(s.timeOut, 3);
    EXPECT_EQ(s.autoAdjust, 0);
    EXPECT_EQ(s.logFile, 0);  // policy's empty value, not the default's 1
    EXPECT_EQ(s.retryInterval, 30000u);
    EXPECT_EQ(s.samples, 2);
    EXPECT_EQ(s.maxCorrection, 0);  // the parameters' no limit over the default's
    EXPECT_EQ(s.nts, 1);            // the policy's on over the parameters' off
    EXPECT_EQ(s.fallbackServers, "ntp.jst.mfeed.ad.jp,s2csntp.miz.nao.ac.jp");
    EXPECT_EQ(ReadMachineSettings(MapSource(), MapSource()).server, "ntp.nict.jp");
    // Policy's empty list is no fallback at all; the defaults ask four samples, 15 hours at most.
    MapSource emptyList;
    emptyList.Set("FallbackServers", "");
    const ProfileSettings bare = ReadMachineSettings(emptyList, MapSource());
    EXPECT_EQ(bare.fallbackServers, "");
    EXPECT_EQ(bare.samples, 4);
    EXPECT_EQ(bare.maxCorrection, 15);

    const LayeredSource layered({{&policy, SettingOrigin::kPolicy},
                                 {&parameters, SettingOrigin::kParameters},
                                 {&MachineDefaults(), SettingOrigin::kDefault}});
    const std::pair<const char*, SettingOrigin> origins[] = {
        {"DefaultServer", SettingOrigin::kPolicy},   {"protocol", SettingOrigin::kParameters},
        {"TimeOut", SettingOrigin::kDefault},        {"AdjustAt", SettingOrigin::kDefault},
        {"logfile", SettingOrigin::kPolicy},         {"beep", SettingOrigin::kNone},
        {"nts", SettingOrigin::kPolicy},
    };
    for (const auto& [key, origin] : origins) EXPECT_EQ(layered.Origin(key), origin) << key;
    EXPECT_EQ(layered.Text("AdjustAt"), "0,7:30");
    EXPECT_EQ(MachineDefaults().Text("nts"), "0");  // plain SNTP, as the sample profile
}

// Arguments separated by "|": the command, its server and protocol (-1 none), or
// kInvalid for an unknown verb or switch, a protocol that is none of the three, an
// empty or blank server, a switch given twice or to another command.
TEST(ServiceCommandLine, CommandsAndSwitches) {
    using K = ServiceCommandKind;
    const struct {
        const char* arguments;
        K kind;
        const char* server;
        int protocol;
    } rows[] = {
        {"", K::kRun, "", -1},
        {"install", K::kInstall, "", -1},
        {"INSTALL|/SERVER=ntp.example.jp|/Protocol=daytime", K::kInstall, "ntp.example.jp", 2},
        {"install|-protocol=sntp", K::kInstall, "", kProtocolSntp},
        {"install|/server=Ntp.Example.JP", K::kInstall, "Ntp.Example.JP", -1},
        {"uninstall", K::kUninstall, "", -1},
        {"Adjust", K::kAdjust, "", -1},
        {"status", K::kStatus, "", -1},
        {"/?", K::kHelp, "", -1},
        {"start", K::kInvalid, "", -1},
        {"install|/port=123", K::kInvalid, "", -1},
        {"install|/protocol=ntp", K::kInvalid, "", -1},
        {"install|/server=", K::kInvalid, "", -1},
        {"install|/server=a b", K::kInvalid, "", -1},
        {"install|/server=a|/server=b", K::kInvalid, "", -1},
        {"install|/protocol=time|/protocol=sntp", K::kInvalid, "", -1},
        {"adjust|/server=a", K::kInvalid, "", -1},
        {"install|server=a", K::kInvalid, "", -1},
        {"install|/nts=1", K::kInvalid, "", -1},  // nts is policy's or the parameters' alone
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        std::vector<CString> arguments;
        std::string rest = row.arguments;
        while (!rest.empty()) {
            const std::size_t bar = rest.find('|');
            arguments.emplace_back(rest.substr(0, bar).c_str());
            rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
        }
        const ServiceCommand command = ParseServiceCommand(arguments);
        EXPECT_EQ(command.kind, row.kind);
        EXPECT_EQ(command.error.IsEmpty(), row.kind != K::kInvalid);
        if (row.kind == K::kInvalid) continue;
        EXPECT_EQ(command.server, row.server);
        EXPECT_EQ(command.hasProtocol ? static_cast<int>(command.protocol) : -1, row.protocol);
    }
}

// Requests by time (ms): within a minute of the end of the last adjustment a request
// gets its answer; the service's own adjustments always query.
TEST(AdjustmentGate, UsersGetOneQueryAMinute) {
    std::uint64_t now = 1000000;
    int queries = 0;
    AdjustmentGate gate([&now] { return now; });
    const auto adjust = [&] {
        ++queries;
        now += 2000;  // the query takes two seconds
        ServiceAnswer answer;
        answer.outcome.statusText.Format("answer %i", queries);
        return answer;
    };
    const struct {
        std::uint64_t at;  // ms after the start
        bool serviceOwn;
        int queriesAfter;
        const char* answer;
        bool reused;
    } rows[] = {
        {0, false, 1, "answer 1", false},     // ends at 2000
        {30000, false, 1, "answer 1", true},  // 28 s after
        {61999, false, 1, "answer 1", true},  // 59.999 s after
        {62000, false, 2, "answer 2", false},  // a minute after; ends at 64000
        {64500, true, 3, "answer 3", false},   // the daily run queries anyway; ends at 66500
        {70000, false, 3, "answer 3", true},   // and its end holds the requests off
        {200000, false, 4, "answer 4", false},
    };
    const std::uint64_t start = now;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at);
        now = start + row.at;
        bool reused = !row.reused;
        const ServiceAnswer answer =
            row.serviceOwn ? gate.Run(adjust) : gate.Request(adjust, &reused);
        EXPECT_EQ(queries, row.queriesAfter);
        EXPECT_EQ(answer.outcome.statusText, row.answer);
        if (!row.serviceOwn) {
            EXPECT_EQ(reused, row.reused);
        }
    }
    // The minute outlasts the service's process (a request starts a stopped service),
    // but not the PC's restart, after which the tick count starts again below it.
    for (const bool restarted : {false, true}) {
        AdjustmentGate next([&now] { return now; });
        next.Seed(ServiceAnswer(), restarted ? now + 1 : now - 10000);
        bool reused = restarted;
        next.Request(adjust, &reused);
        EXPECT_EQ(reused, !restarted);
    }
}

TEST(ServiceLink, AnswersRoundTripAndAnythingElseIsRefused) {
    ServiceAnswer answer;
    answer.outcome.success = 1;
    answer.outcome.statusText = "OK";
    answer.outcome.serverTimeText = "Tue Dec 08 18:36:21 2026";
    answer.outcome.pcTimeText = "Tue Dec 08 09:36:21\r\n2026";  // a break never makes a field
    answer.outcome.pcZoneOffset = -3600;
    answer.server = "ntp.\x93\xfa\x96\x7b.jp";  // Shift-JIS bytes
    answer.protocol = kProtocolDaytime;
    const CString encoded = EncodeServiceAnswer(answer);
    ServiceAnswer decoded;
    ASSERT_TRUE(DecodeServiceAnswer(encoded.GetString(), encoded.GetLength(), &decoded));
    EXPECT_EQ(decoded.outcome.success, 1);
    EXPECT_EQ(decoded.outcome.statusText, "OK");
    EXPECT_EQ(decoded.outcome.serverTimeText, answer.outcome.serverTimeText);
    EXPECT_EQ(decoded.outcome.pcTimeText, "Tue Dec 08 09:36:21  2026");
    EXPECT_EQ(decoded.outcome.pcZoneOffset, -3600);
    EXPECT_EQ(decoded.server, answer.server);
    EXPECT_EQ(decoded.protocol, kProtocolDaytime);
    // Whether NTS authenticated it goes along only when it did; without the field it did not.
    EXPECT_FALSE(decoded.outcome.authenticated);
    EXPECT_TRUE(AnswerField(encoded, "nts").IsEmpty());
    answer.outcome.authenticated = true;
    const CString withNts = EncodeServiceAnswer(answer);
    ASSERT_TRUE(DecodeServiceAnswer(withNts.GetString(), withNts.GetLength(), &decoded));
    EXPECT_TRUE(decoded.outcome.authenticated);

    const std::string good(encoded.GetString(), static_cast<std::size_t>(encoded.GetLength()));
    const std::string hostile[] = {
        "",
        "TAVRINO ANSWER 2\nsuccess=1\nstatus=OK\n",
        "TAVRINO ANSWER 1\nsuccess=1\n",              // no status
        "TAVRINO ANSWER 1\nsuccess=yes\nstatus=OK\n",  // success neither 1 nor 0
        good + std::string(kLongestAnswer, 'x'),
    };
    for (const std::string& bytes : hostile) {
        ServiceAnswer kept;
        kept.server = "kept";
        EXPECT_FALSE(DecodeServiceAnswer(bytes.data(), static_cast<int>(bytes.size()), &kept));
        EXPECT_EQ(kept.server, "kept");
    }

    EXPECT_TRUE(IsAdjustRequest(kAdjustRequest, kAdjustRequestLength));
    const std::string requests[] = {"TAVRINO ADJUST 1", "TAVRINO ADJUST 1\n\n",
                                    "tavrino adjust 1\n", "TAVRINO ADJUST 1\nDefaultServer=x\n"};
    for (const std::string& request : requests) {
        EXPECT_FALSE(IsAdjustRequest(request.data(), static_cast<int>(request.size()))) << request;
    }
}

// The rights that an SDDL text gives a trustee, as two-letter codes or a mask.
std::wstring Rights(const std::wstring& sddl, const wchar_t* trustee) {
    const std::size_t end = sddl.find(std::wstring(L";;;") + trustee + L")");
    if (end == std::wstring::npos) return L"";
    const std::size_t start = sddl.rfind(L';', end - 1) + 1;
    return sddl.substr(start, end - start);
}

bool HasCode(const std::wstring& rights, const wchar_t* code) {
    for (std::size_t at = 0; at + 1 < rights.size(); at += 2) {
        if (rights.compare(at, 2, code) == 0) return true;
    }
    return false;
}

// What the service asks of Windows: the local service account with the one right to
// set the clock; users may start it (a request starts a stopped service) but never
// stop or reconfigure it, and may talk on its pipe but never serve it themselves.
TEST(ServiceConfig, TheLeastRight) {
    const ServiceConfig config;
    EXPECT_EQ(config.account, L"NT AUTHORITY\\LocalService");
    EXPECT_EQ(config.requiredPrivileges, std::vector<std::wstring>{L"SeSystemtimePrivilege"});
    for (const wchar_t* users : {L"IU", L"SU", L"AU"}) {
        const std::wstring rights = Rights(config.securityDescriptor, users);
        ASSERT_FALSE(rights.empty()) << users;
        for (const wchar_t* code : {L"WP", L"DC", L"SD", L"WD", L"WO", L"DT"}) {
            EXPECT_FALSE(HasCode(rights, code)) << users << " " << code;
        }
    }
    EXPECT_TRUE(HasCode(Rights(config.securityDescriptor, L"IU"), L"RP"));
    // FILE_CREATE_PIPE_INSTANCE (4) is not among the users' rights on the pipe.
    EXPECT_EQ(std::stoul(Rights(kPipeSecurity, L"AU"), nullptr, 16) & 0x4u, 0u);
    // The data folder inherits nothing; users only read; the service's SID writes.
    const std::wstring folder = DataFolderSecurity(L"S-1-5-80-1");
    EXPECT_EQ(folder.rfind(L"D:P", 0), 0u);
    EXPECT_EQ(Rights(folder, L"BU"), L"FR");
    EXPECT_FALSE(Rights(folder, L"S-1-5-80-1").empty());
    EXPECT_FALSE(Rights(DataFolderSecurity(L""), L"LS").empty());
}

}  // namespace
