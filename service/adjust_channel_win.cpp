#include "service/adjust_channel_win.h"

#include <vector>

#include "framework/text_win.h"
#include "framework/win_types.h"
#include "service/service_config.h"

// After windows.h.
#include <sddl.h>

namespace {

// How long a connected client may take for each step: send its request, read the answer.
constexpr DWORD kClientStepMs = 5000;
// How long the answer waits for the client to read it before the pipe is disconnected.
constexpr DWORD kClosingMs = 1000;
// A request longer than this is not ours whatever it holds.
constexpr DWORD kReadBytes = 256;

HANDLE MakePipe(bool first) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    const ScopedLocalMemory owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const std::wstring name = Widen(kServicePipeName);
    // The first instance claims the name: should a program hold it already, the
    // service does not serve behind it.
    return CreateNamedPipeW(name.c_str(),
                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                PIPE_REJECT_REMOTE_CLIENTS,
                            1, kLongestAnswer, kReadBytes, 0, &attributes);
}

// Waits for an overlapped step on pipe: 1 done, 0 failed or timed out, -1 stopped (stop
// may be null: the step is then waited for whatever comes).
int Await(HANDLE pipe, OVERLAPPED* overlapped, BOOL started, HANDLE stop, DWORD waitMs,
          DWORD* bytes) {
    const DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED &&
        error != ERROR_MORE_DATA) {
        return 0;
    }
    if (error == ERROR_PIPE_CONNECTED) return 1;
    const HANDLE waits[2] = {overlapped->hEvent, stop};
    const DWORD ended = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, waitMs);
    if (ended != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, overlapped, bytes, TRUE);
        return ended == WAIT_OBJECT_0 + 1 ? -1 : 0;
    }
    if (GetOverlappedResult(pipe, overlapped, bytes, FALSE)) return 1;
    return GetLastError() == ERROR_MORE_DATA ? 1 : 0;
}

}  // namespace

bool CAdjustChannel::Start(HANDLE stop) {
    m_hStop = stop;
    m_hFirstPipe.Reset(MakePipe(true));
    if (!m_hFirstPipe) return false;
    m_pThread.reset(AfxBeginThread(&Serve, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!m_pThread) return false;
    m_pThread->m_bAutoDelete = FALSE;
    m_pThread->ResumeThread();
    return true;
}

void CAdjustChannel::Stop() {
    if (!m_pThread) return;
    // The thread ends at the stop; an answer under way waits for its adjustment, which
    // the same stop cuts short.
    WaitForSingleObject(m_pThread->Handle(), INFINITE);
    m_pThread.reset();
}

UINT CAdjustChannel::Serve(LPVOID self) {
    static_cast<CAdjustChannel*>(self)->ServeClients();
    return 0;
}

void CAdjustChannel::ServeClients() {
    const ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return;
    ScopedHandle pipe(m_hFirstPipe.Detach());
    while (WaitForSingleObject(m_hStop, 0) != WAIT_OBJECT_0) {
        if (!pipe) {
            pipe.Reset(MakePipe(false));
            // Nothing to serve on: try again in a while rather than spin.
            if (!pipe) {
                if (WaitForSingleObject(m_hStop, 1000) == WAIT_OBJECT_0) break;
                continue;
            }
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        ResetEvent(event.Get());
        DWORD bytes = 0;
        const int connected = Await(pipe.Get(), &overlapped,
                                    ConnectNamedPipe(pipe.Get(), &overlapped), m_hStop,
                                    INFINITE, &bytes);
        if (connected < 0) break;
        if (connected > 0) ServeOne(pipe.Get(), event.Get());
        DisconnectNamedPipe(pipe.Get());
    }
}

void CAdjustChannel::ServeOne(HANDLE pipe, HANDLE event) {
    std::vector<char> request(kReadBytes);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD bytes = 0;
    BOOL started = ReadFile(pipe, request.data(), kReadBytes, nullptr, &overlapped);
    const int read = Await(pipe, &overlapped, started, m_hStop, kClientStepMs, &bytes);
    if (read < 0) return;
    if (read == 0 || !IsAdjustRequest(request.data(), static_cast<int>(bytes))) {
        if (m_refused) m_refused(bytes);
        return;
    }

    // A request that came is answered, also when the service is stopping meanwhile
    // (its adjustment then ends at once): the client is waiting for it.
    const CString answer = EncodeServiceAnswer(m_answer());
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    ResetEvent(event);
    started = WriteFile(pipe, answer.GetString(), static_cast<DWORD>(answer.GetLength()), nullptr,
                        &overlapped);
    if (Await(pipe, &overlapped, started, nullptr, kClientStepMs, &bytes) <= 0) return;
    // Disconnecting would drop an answer that the client has not read yet: wait until it
    // has read and closed its end (the read then fails). A client that asked is reading
    // already, so a second is plenty, and a stop is not held up longer.
    char rest[1];
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    ResetEvent(event);
    started = ReadFile(pipe, rest, sizeof rest, nullptr, &overlapped);
    Await(pipe, &overlapped, started, nullptr, kClosingMs, &bytes);
}
