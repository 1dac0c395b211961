// A probe of the time service for tests/e2e/service.sh, a client of its pipe that a
// user could write, and a finger for the main window's buttons:
//   service_probe send KIND MILLISECONDS   sends one message on \\.\pipe\TavrinoService
//                                          and waits up to MILLISECONDS for an answer.
//                                          KIND: request  the request itself
//                                                garbage  bytes that are no request
//                                                long     the request padded to 4 KB
//                                                extra    the request and one more byte
//                                                short    the request less its line end
//                                          Prints "answer: FIRST-LINE" (exit 0), or
//                                          "no answer: ..." (exit 1) when the service
//                                          closed the pipe or said nothing in time.
//   service_probe press PROPERTY ID        presses the button ID of the main window
//                                          that carries the window property PROPERTY.
// The request's bytes are written out here rather than taken from the program's
// headers: the test holds the service to the protocol, not to itself.
// Exit status 2 on a usage error, 3 when the pipe cannot be opened or written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/ui_driver_win.h"

namespace {

constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoPipe = 3;
constexpr DWORD kPollMs = 50;
const wchar_t kPipe[] = L"\\\\.\\pipe\\TavrinoService";
const char kRequest[] = "TAVRINO ADJUST 1\n";

int Usage() {
    std::fprintf(stderr,
                 "usage: service_probe send request|garbage|long|extra|short MILLISECONDS\n"
                 "       service_probe press PROPERTY ID\n");
    return kExitUsage;
}

bool Number(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 0x7FFFFFFF) return false;
    value = static_cast<int>(parsed);
    return true;
}

// The message of a kind; false for a kind this probe does not know.
bool Message(const std::string& kind, std::string* message) {
    const std::string request = kRequest;
    if (kind == "request") {
        *message = request;
    } else if (kind == "garbage") {
        static const char kGarbage[] = "\x00\xff\x16\x03\x01GET / HTTP/1.0\r\n\r\n";
        *message = std::string(kGarbage, sizeof kGarbage - 1);
    } else if (kind == "long") {
        *message = request + std::string(4096 - request.size(), 'A');
    } else if (kind == "extra") {
        *message = request + "X";
    } else if (kind == "short") {
        *message = request.substr(0, request.size() - 1);
    } else {
        return false;
    }
    return true;
}

// Ends an overlapped operation within waitMs: true when it completed (a message
// longer than the buffer counts), with the error it ended with in *error otherwise.
bool Finish(HANDLE pipe, OVERLAPPED* overlapped, BOOL started, DWORD waitMs, DWORD* bytes,
            DWORD* error) {
    *error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && *error != ERROR_IO_PENDING) return *error == ERROR_MORE_DATA;
    if (WaitForSingleObject(overlapped->hEvent, waitMs) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, overlapped, bytes, TRUE);
        *error = WAIT_TIMEOUT;
        return false;
    }
    if (GetOverlappedResult(pipe, overlapped, bytes, FALSE)) return true;
    *error = GetLastError();
    return *error == ERROR_MORE_DATA;
}

int Send(const std::string& kind, int milliseconds) {
    std::string message;
    if (!Message(kind, &message)) return Usage();
    const ULONGLONG start = GetTickCount64();
    const auto elapsed = [start] { return static_cast<unsigned long>(GetTickCount64() - start); };

    // The service serves one client at a time: wait for the pipe, as a client would.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        pipe = CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (elapsed() >= static_cast<unsigned long>(milliseconds)) {
            std::printf("no pipe: error %lu after %lu ms\n", error, elapsed());
            return kExitNoPipe;
        }
        Sleep(kPollMs);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto left = [&] {
        const unsigned long spent = elapsed();
        return spent >= static_cast<unsigned long>(milliseconds)
                   ? DWORD{0}
                   : static_cast<DWORD>(static_cast<unsigned long>(milliseconds) - spent);
    };

    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD bytes = 0;
    DWORD error = 0;
    BOOL started = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr,
                             &overlapped);
    // A message the service does not read to its end may stay unwritten: that is its
    // refusal too, seen at the read.
    Finish(pipe, &overlapped, started, left(), &bytes, &error);

    std::string answer(8192, '\0');
    ResetEvent(event);
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    bytes = 0;
    started = ReadFile(pipe, &answer[0], static_cast<DWORD>(answer.size()), nullptr, &overlapped);
    const bool read = Finish(pipe, &overlapped, started, left(), &bytes, &error);
    CloseHandle(event);
    CloseHandle(pipe);
    if (!read || bytes == 0) {
        if (error == WAIT_TIMEOUT) {
            std::printf("no answer: nothing within %d ms\n", milliseconds);
        } else {
            std::printf("no answer: closed (error %lu) after %lu ms\n", error, elapsed());
        }
        return kExitNoAnswer;
    }
    answer.resize(bytes);
    std::printf("answer: %s\n", answer.substr(0, answer.find('\n')).c_str());
    return 0;
}

int Press(const char* property, int id) {
    HWND window = FindWindowWithProperty(property, 0);
    if (!window) {
        std::fprintf(stderr, "service_probe: no window with the property %s\n", property);
        return 1;
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage();
    const std::string command = argv[1];
    int number = 0;
    if (!Number(argv[3], number)) return Usage();
    if (command == "send") return Send(argv[2], number);
    if (command == "press") return Press(argv[2], number);
    return Usage();
}
