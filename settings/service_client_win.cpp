#include "settings/service_client_win.h"

#include <string>
#include <vector>

#include "framework/handles_win.h"
#include "framework/text_win.h"

namespace {

constexpr wchar_t kServiceName[] = L"TavrinoService";
constexpr DWORD kPollMs = 100;

// The service's process id, after starting it when it is stopped; 0 while it has none
// (starting or stopping), and false when there is no service to ask.
bool ServiceProcess(DWORD* processId) {
    *processId = 0;
    const ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ScopedServiceHandle service(
        OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS | SERVICE_START));
    // Installed, but this user may not start it: it may still be running.
    const bool mayStart = service.IsValid();
    if (!mayStart) service.Reset(OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<BYTE*>(&status), sizeof status,
                                          &needed)) {
        return false;
    }
    if (status.dwCurrentState == SERVICE_RUNNING) *processId = status.dwProcessId;
    if (status.dwCurrentState != SERVICE_STOPPED) return true;
    return mayStart && (StartServiceW(service.Get(), 0, nullptr) ||
                        GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
}

// Waits for an overlapped operation on handle to end within the time left.
bool Finish(HANDLE handle, OVERLAPPED* overlapped, BOOL started, DWORD waitMs, DWORD* bytes) {
    if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
        return false;
    }
    if (WaitForSingleObject(overlapped->hEvent, waitMs) != WAIT_OBJECT_0) {
        CancelIo(handle);
        // The cancelled operation still ends before its buffer may go.
        GetOverlappedResult(handle, overlapped, bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(handle, overlapped, bytes, FALSE) != FALSE ||
           GetLastError() == ERROR_MORE_DATA;
}

// One request on an open pipe: true with the answer; false when the pipe broke before
// the answer came (the service was stopping: worth asking again) or the time ran out
// (*broken false).
bool Exchange(HANDLE pipe, DWORD waitMs, ServiceAnswer* answer, bool* decoded, bool* broken) {
    *decoded = false;
    *broken = false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    const ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    DWORD bytes = 0;
    BOOL started = WriteFile(pipe, kAdjustRequest, kAdjustRequestLength, nullptr, &overlapped);
    if (!Finish(pipe, &overlapped, started, waitMs, &bytes) ||
        bytes != static_cast<DWORD>(kAdjustRequestLength)) {
        *broken = GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_NO_DATA ||
                  GetLastError() == ERROR_PIPE_NOT_CONNECTED;
        return false;
    }
    std::vector<char> reply(kLongestAnswer + 1);
    ResetEvent(event.Get());
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.Get();
    bytes = 0;
    started = ReadFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), nullptr, &overlapped);
    if (!Finish(pipe, &overlapped, started, waitMs, &bytes)) {
        *broken = GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_PIPE_NOT_CONNECTED;
        return false;
    }
    *decoded = DecodeServiceAnswer(reply.data(), static_cast<int>(bytes), answer);
    return true;
}

}  // namespace

ServiceReply AskServiceToAdjust(DWORD waitMs, ServiceAnswer* answer) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    auto left = [deadline] {
        const ULONGLONG now = GetTickCount64();
        return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    const std::wstring pipeName = Widen(kServicePipeName);

    DWORD processId = 0;
    for (;;) {
        // Started again when it has stopped meanwhile: with nothing scheduled, the
        // service stops right after an adjustment, maybe just as this request comes.
        if (processId == 0 && !ServiceProcess(&processId)) return ServiceReply::kNoService;
        if (processId != 0) {
            // Identification only: the service learns who asks, and can act as nobody.
            const ScopedHandle pipe(CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                nullptr, OPEN_EXISTING,
                                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                                    SECURITY_IDENTIFICATION,
                                                nullptr));
            if (pipe) {
                // The pipe must be the service's own, not one that a program put up in
                // its name.
                ULONG serverProcess = 0;
                if (!GetNamedPipeServerProcessId(pipe.Get(), &serverProcess) ||
                    serverProcess != processId) {
                    return ServiceReply::kNoAnswer;
                }
                bool decoded = false, broken = false;
                if (Exchange(pipe.Get(), left(), answer, &decoded, &broken)) {
                    return decoded ? ServiceReply::kAnswered : ServiceReply::kNoAnswer;
                }
                if (!broken) return ServiceReply::kNoAnswer;
                processId = 0;
            } else if (GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeW(pipeName.c_str(), left());
            } else {
                processId = 0;  // its pipe is gone: it is stopping, or has stopped
            }
        }
        if (left() == 0) return ServiceReply::kNoAnswer;
        Sleep(kPollMs);
    }
}
