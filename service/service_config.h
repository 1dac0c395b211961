// What the time service asks of the service control manager and of Windows' security:
// its account, its one right, how it starts, what starts it, what follows a failure,
// and who may do what to the service, its pipe and its data folder. Kept apart from
// the calls that hand it over, so that it can be checked where no service manager
// honours it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The service's name, as the service manager and the event log know it.
constexpr wchar_t kServiceName[] = L"TavrinoService";
// Its history, in its data folder under %ProgramData%.
constexpr wchar_t kServiceDataFolder[] = L"Tavrino";
constexpr wchar_t kServiceHistoryFile[] = L"TavrinoService.log";
// Its last result and next run, for the status command.
constexpr wchar_t kServiceStateFile[] = L"TavrinoService.state";

// The events it reports to the Application log (their texts: service/messages.mc).
constexpr std::uint32_t kEventClockSet = 1000;
constexpr std::uint32_t kEventAdjustFailed = 1001;
constexpr std::uint32_t kEventRequestRefused = 1002;
constexpr std::uint32_t kEventCannotWrite = 1003;
// An adjustment not made: the correction was beyond MaxCorrection.
constexpr std::uint32_t kEventTooFar = 1004;

struct ServiceConfig {
    std::wstring name = kServiceName;
    // Least right: the local service account, with the one privilege that it needs
    // and no other, and a service SID of its own that its data folder names.
    std::wstring account = L"NT AUTHORITY\\LocalService";
    std::vector<std::wstring> requiredPrivileges = {L"SeSystemtimePrivilege"};
    bool serviceSid = true;        // SERVICE_SID_TYPE_UNRESTRICTED
    bool autoStart = true;         // SERVICE_AUTO_START,
    bool delayedAutoStart = true;  //   delayed after the boot's own services
    // Started when the first IP address arrives: a laptop adjusts once it is online.
    bool startOnFirstIpAddress = true;
    // After a failure: restart once, a minute later; the count resets after a day.
    std::uint32_t restartDelayMs = 60000;
    std::uint32_t failureResetSeconds = 86400;
    int restartCount = 1;
    // The service object: SYSTEM and Administrators control it; interactive and
    // service users may read its state and start it (the main window starts a stopped
    // service when its user asks for an adjustment), never stop or change it.
    std::wstring securityDescriptor =
        L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
        L"(A;;CCLCSWLOCRRCRP;;;IU)(A;;CCLCSWLOCRRCRP;;;SU)(A;;CCLCSWLOCRRC;;;AU)";
};

// The pipe that users open: SYSTEM, Administrators and the service itself in full;
// authenticated users may read and write one message, but never create an instance of
// their own (FILE_CREATE_PIPE_INSTANCE, the 4 in generic write, is left out), so no
// program can pose as the service. Remote clients are refused by the pipe's mode.
constexpr wchar_t kPipeSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)(A;;0x0012019B;;;AU)";

// The data folder: no inheritance from ProgramData (whose users may create files);
// SYSTEM, Administrators and the service (serviceSid, its SID as a text such as
// S-1-5-80-...; LocalService's S-1-5-19 where Windows gives none) may write; users
// read what it records.
std::wstring DataFolderSecurity(const std::wstring& serviceSid);
