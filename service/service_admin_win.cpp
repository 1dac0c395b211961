#include "service/service_admin_win.h"

#include <algorithm>
#include <string>
#include <vector>

#include "framework/afx_win.h"
#include "framework/handles_win.h"
#include "framework/text_win.h"
#include "framework/win_types.h"
#include "service/console_win.h"
#include "service/service_config.h"
#include "service/service_records_win.h"
#include "service/time_service_win.h"
#include "settings/registry_source_win.h"
#include "settings/service_client_win.h"
#include "settings/setting_sources.h"

// After windows.h.
#include <sddl.h>

namespace {

constexpr wchar_t kDisplayName[] = L"Tavrino 時刻合わせサービス";
constexpr wchar_t kDescription[] =
    L"設定された時刻サーバに問い合わせて、この PC の時計を合わせます。"
    L"標準ユーザーの「時計合わせ」もこのサービスが行います。";
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TavrinoService";
// Windows' trigger for the first IP address arriving on the PC.
constexpr GUID kFirstIpAddressArrival = {
    0x4f27f2de, 0x14e2, 0x430b, {0xa5, 0x49, 0x7c, 0xd4, 0x8c, 0xbc, 0x82, 0x45}};
// The trigger's records as ChangeServiceConfig2 takes them (SERVICE_TRIGGER and
// SERVICE_TRIGGER_INFO of winsvc.h, which the mingw headers lack), laid out alike.
struct ServiceTrigger {
    DWORD dwTriggerType;
    DWORD dwAction;
    GUID* pTriggerSubtype;
    DWORD cDataItems;
    void* pDataItems;
};
struct ServiceTriggerInfo {
    DWORD cTriggers;
    ServiceTrigger* pTriggers;
    BYTE* pReserved;
};
constexpr DWORD kTriggerActionStart = 1;  // SERVICE_TRIGGER_ACTION_SERVICE_START

// Waits for the service to stop, in steps.
constexpr int kStopSteps = 100;
constexpr DWORD kStopStepMs = 100;

std::wstring Number(unsigned long value) { return std::to_wstring(value); }

void Failed(const wchar_t* what, DWORD error) {
    ConsoleLine(std::wstring(what) + L"（エラー " + Number(error) + L"）");
    if (error == ERROR_ACCESS_DENIED) ConsoleLine(L"管理者として実行してください。");
}

// A setting that this Windows does not know is no failure of ours: a warning.
bool Config2(SC_HANDLE service, DWORD level, void* info, const wchar_t* what) {
    if (ChangeServiceConfig2W(service, level, info)) return true;
    const DWORD error = GetLastError();
    // Wine's service manager cannot even carry some of them (RPC_S_INVALID_TAG).
    if (error == ERROR_INVALID_LEVEL || error == ERROR_CALL_NOT_IMPLEMENTED ||
        error == ERROR_INVALID_PARAMETER || error == RPC_S_INVALID_TAG) {
        ConsoleLine(std::wstring(L"注意: この Windows は次の設定に対応していません: ") + what);
        return true;
    }
    Failed(what, error);
    return false;
}

bool Configure(SC_HANDLE service, const ServiceConfig& config) {
    bool ok = true;
    std::wstring description = kDescription;
    SERVICE_DESCRIPTIONW describe{&description[0]};
    ok &= Config2(service, SERVICE_CONFIG_DESCRIPTION, &describe, L"説明");

    SERVICE_DELAYED_AUTO_START_INFO delayed{config.delayedAutoStart ? TRUE : FALSE};
    ok &= Config2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, L"自動（遅延開始）");

    // The privileges as a list of texts ending in an empty one.
    std::wstring privileges;
    for (const std::wstring& privilege : config.requiredPrivileges) privileges += privilege + L'\0';
    privileges += L'\0';
    SERVICE_REQUIRED_PRIVILEGES_INFOW required{&privileges[0]};
    ok &= Config2(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required, L"必要な特権");

    SERVICE_SID_INFO sid{static_cast<DWORD>(config.serviceSid ? SERVICE_SID_TYPE_UNRESTRICTED
                                                             : SERVICE_SID_TYPE_NONE)};
    ok &= Config2(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid, L"サービス SID");

    SC_ACTION restart{SC_ACTION_RESTART, config.restartDelayMs};
    std::vector<SC_ACTION> actions(static_cast<std::size_t>(config.restartCount), restart);
    actions.push_back(SC_ACTION{SC_ACTION_NONE, 0});
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = config.failureResetSeconds;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.data();
    ok &= Config2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure, L"回復");

    if (config.startOnFirstIpAddress) {
        GUID subtype = kFirstIpAddressArrival;
        ServiceTrigger trigger{};
        trigger.dwTriggerType = SERVICE_TRIGGER_TYPE_IP_ADDRESS_AVAILABILITY;
        trigger.dwAction = kTriggerActionStart;
        trigger.pTriggerSubtype = &subtype;
        ServiceTriggerInfo triggers{};
        triggers.cTriggers = 1;
        triggers.pTriggers = &trigger;
        ok &= Config2(service, SERVICE_CONFIG_TRIGGER_INFO, &triggers, L"開始のトリガー");
    }

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(config.securityDescriptor.c_str(),
                                                             SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        if (!SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor)) {
            Failed(L"サービスのアクセス許可を設定できませんでした", GetLastError());
            ok = false;
        }
        LocalFree(descriptor);
    } else {
        Failed(L"サービスのアクセス許可を作れませんでした", GetLastError());
        ok = false;
    }
    return ok;
}

bool RegisterEventSource(const std::wstring& program) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const ScopedRegKey owner(key);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    return RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(program.c_str()),
                          static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t))) ==
               ERROR_SUCCESS &&
           RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
}

// Stops the service and waits for it, a few seconds at most.
bool StopAndWait(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return false;
    }
    for (int step = 0; step < kStopSteps; ++step) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
            return true;
        }
        Sleep(kStopStepMs);
    }
    return false;
}

std::wstring OriginText(SettingOrigin origin) {
    switch (origin) {
        case SettingOrigin::kPolicy:
            return L"グループ ポリシー";
        case SettingOrigin::kParameters:
            return L"サービスのパラメーター";
        case SettingOrigin::kProfile:
            return L"設定ファイル";
        case SettingOrigin::kDefault:
            return L"既定値";
        case SettingOrigin::kNone:
            break;
    }
    return L"なし";
}

std::wstring StateText(DWORD state) {
    switch (state) {
        case SERVICE_RUNNING:
            return L"実行中";
        case SERVICE_STOPPED:
            return L"停止（毎日の時刻が設定されていなければ、合わせたあと停止します）";
        case SERVICE_START_PENDING:
            return L"開始中";
        case SERVICE_STOP_PENDING:
            return L"停止中";
        default:
            return L"状態 " + Number(state);
    }
}

void PrintAnswer(const ServiceAnswer& answer) {
    const CommandOutcome& o = answer.outcome;
    ConsoleLine(L"  結果: " + Widen(o.HistoryDetail()));
    const char* protocol = o.authenticated ? "NTS" : ProtocolName(answer.protocol);
    ConsoleLine(L"  サーバ: " + Widen(answer.server) + L" (" + Widen(protocol) + L")");
    ConsoleLine(L"  サーバ時刻: " + Widen(o.serverTimeText));
    ConsoleLine(L"  PC時刻: " + Widen(o.pcTimeText));
}

}  // namespace

int InstallService(const ServiceCommand& command) {
    const ServiceConfig config;
    const std::wstring program = AfxGetModulePath();
    // Quoted: a path with blanks must never be read as a shorter program's.
    const std::wstring commandLine = L"\"" + program + L"\"";

    const ScopedServiceHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        Failed(L"サービス コントロール マネージャーを開けませんでした", GetLastError());
        return 1;
    }
    ScopedServiceHandle service(CreateServiceW(
        manager.Get(), config.name.c_str(), kDisplayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, config.autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr, nullptr,
        config.account.c_str(), nullptr));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        service.Reset(OpenServiceW(manager.Get(), config.name.c_str(), SERVICE_ALL_ACCESS));
        if (service &&
            !ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS,
                                  config.autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                  nullptr, config.account.c_str(), L"", kDisplayName)) {
            Failed(L"サービスの設定を変更できませんでした", GetLastError());
            return 1;
        }
    }
    if (!service) {
        Failed(L"サービスを登録できませんでした", GetLastError());
        return 1;
    }
    bool ok = Configure(service.Get(), config);

    // A server named at install is the organisation's own: the public fallback servers
    // of the defaults are not asked behind it unless an administrator lists them.
    if (!command.server.IsEmpty() &&
        (!WriteMachineValue(kServiceParametersKey, "DefaultServer", command.server) ||
         (!RegistrySource(kServiceParametersKey).Has("FallbackServers") &&
          !WriteMachineValue(kServiceParametersKey, "FallbackServers", CString(), true)))) {
        Failed(L"サーバ名を書き込めませんでした", GetLastError());
        ok = false;
    }
    if (command.hasProtocol &&
        !WriteMachineValue(kServiceParametersKey, "protocol", ProtocolName(command.protocol))) {
        Failed(L"プロトコルを書き込めませんでした", GetLastError());
        ok = false;
    }
    if (!RegisterEventSource(program)) {
        Failed(L"イベント ログのソースを登録できませんでした", GetLastError());
        ok = false;
    }
    if (!PrepareServiceDataFolder()) {
        Failed(L"記録のフォルダーを作れませんでした", GetLastError());
        ok = false;
    }
    if (!StartServiceW(service.Get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        Failed(L"サービスを開始できませんでした", GetLastError());
        ok = false;
    }
    ConsoleLine(ok ? L"サービス TavrinoService を登録して開始しました。"
                   : L"サービスの登録を完了できませんでした。");
    return ok ? 0 : 1;
}

int UninstallService() {
    const ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Failed(L"サービス コントロール マネージャーを開けませんでした", GetLastError());
        return 1;
    }
    const ScopedServiceHandle service(OpenServiceW(
        manager.Get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            ConsoleLine(L"サービス TavrinoService は登録されていません。");
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_WOW64_64KEY, 0);
            return 0;
        }
        Failed(L"サービスを開けませんでした", GetLastError());
        return 1;
    }
    if (!StopAndWait(service.Get())) ConsoleLine(L"注意: サービスが停止するのを待ちきれませんでした。");
    if (!DeleteService(service.Get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        Failed(L"サービスを削除できませんでした", GetLastError());
        return 1;
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_WOW64_64KEY, 0);
    ConsoleLine(L"サービス TavrinoService を削除しました（記録のフォルダーは残します）。");
    return 0;
}

int AdjustByService() {
    // As long as the service's own query may take, and then some.
    const ProfileSettings settings = ReadServiceSettings();
    const long long seconds = std::min(std::max(settings.timeOut, 1), 600) + 15;
    ServiceAnswer answer;
    switch (AskServiceToAdjust(static_cast<DWORD>(seconds * 1000), &answer)) {
        case ServiceReply::kAnswered:
            ConsoleLine(answer.outcome.success ? L"サービスが時計を合わせました。"
                                               : L"サービスは時計を合わせられませんでした。");
            PrintAnswer(answer);
            return answer.outcome.success ? 0 : 1;
        case ServiceReply::kNoAnswer:
            ConsoleLine(L"サービスから答えがありませんでした。");
            return 1;
        case ServiceReply::kNoService:
            break;
    }
    ConsoleLine(L"サービス TavrinoService がありません（install で登録してください）。");
    return 2;
}

int PrintServiceStatus() {
    const RegistrySource policy(kPolicyKey);
    const RegistrySource parameters(kServiceParametersKey);
    const LayeredSource layered({{&policy, SettingOrigin::kPolicy},
                                 {&parameters, SettingOrigin::kParameters},
                                 {&MachineDefaults(), SettingOrigin::kDefault}});
    ConsoleLine(L"設定:");
    for (const char* key : kMachineKeys) {
        ConsoleLine(L"  " + Widen(key) + L" = " + Widen(layered.Text(key)) + L"  （" +
                    OriginText(layered.Origin(key)) + L"）");
    }

    const ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const ScopedServiceHandle service(
        manager ? OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service) {
        ConsoleLine(L"サービス: 登録されていません");
    } else if (QueryServiceStatus(service.Get(), &status)) {
        ConsoleLine(L"サービス: " + StateText(status.dwCurrentState));
    }

    ServiceAnswer last;
    CString nextRun;
    std::uint64_t lastEnd = 0;
    if (ReadServiceState(&last, &nextRun, &lastEnd)) {
        ConsoleLine(L"前回の結果:");
        PrintAnswer(last);
    } else {
        ConsoleLine(L"前回の結果: まだありません");
    }
    ConsoleLine(L"次回: " + (nextRun.IsEmpty() ? std::wstring(L"予定なし") : Widen(nextRun)));
    ConsoleLine(L"記録: " + ServiceHistoryPath());
    return 0;
}

int PrintUsage(const ServiceCommand& command) {
    if (command.kind == ServiceCommandKind::kInvalid) {
        ConsoleLine(L"分からない指定です: " + Widen(command.error));
    }
    ConsoleLine(L"使い方（管理者のコマンド プロンプトで）:");
    ConsoleLine(L"  TavrinoSvc.exe install [/server=サーバ名] [/protocol=SNTP|TIME|DAYTIME]");
    ConsoleLine(L"      サービスを登録して開始します。");
    ConsoleLine(L"  TavrinoSvc.exe uninstall   サービスを停止して削除します。");
    ConsoleLine(L"  TavrinoSvc.exe adjust      サービスに今すぐ時計を合わせさせます。");
    ConsoleLine(L"  TavrinoSvc.exe status      設定、前回の結果、次回の予定を表示します。");
    return command.kind == ServiceCommandKind::kInvalid ? 1 : 0;
}
