// A client of the time service's pipe for tests/e2e/service.sh, as a user could write:
// service_probe request|garbage|long MILLISECONDS sends the request, bytes that are no
// request, or the request padded to 4 KB on \\.\pipe\TavrinoService and waits up to
// MILLISECONDS in all. Prints "answer: FIRST-LINE" (exit 0), "no answer: closed (error
// N)" or "no answer: nothing in time" (1); 2 on a usage error, 3 with no pipe in time.
// The request is written out here, not taken from the program: the test holds the
// service to the protocol, not to itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Buffers of I/O that may still be pending when the process ends.
std::string g_message = "TAVRINO ADJUST 1\n";
char g_answer[8192];

[[noreturn]] void Finish(int code, const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace

int main(int argc, char** argv) {
    static const char kGarbage[] = "\x00\xff\x16\x03\x01GET / HTTP/1.0\r\n\r\n";
    const std::string kind = argc == 3 ? argv[1] : "";
    if (kind == "garbage") {
        g_message.assign(kGarbage, sizeof kGarbage - 1);
    } else if (kind == "long") {
        g_message.resize(4096, 'A');
    } else if (kind != "request") {
        std::fprintf(stderr, "usage: service_probe request|garbage|long MILLISECONDS\n");
        return 2;
    }
    const ULONGLONG end = GetTickCount64() + std::strtoul(argv[2], nullptr, 10);
    // The service serves one client at a time: wait for the pipe, as a client would.
    HANDLE pipe = INVALID_HANDLE_VALUE;
    while ((pipe = CreateFileW(L"\\\\.\\pipe\\TavrinoService", GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)) ==
           INVALID_HANDLE_VALUE) {
        if (GetTickCount64() >= end) Finish(3, "no pipe: error " + std::to_string(GetLastError()));
        Sleep(50);
    }
    // The answer is read while the message is written: a service that answers a message
    // it has not read to its end leaves the rest unwritten.
    OVERLAPPED write{}, read{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WriteFile(pipe, g_message.data(), static_cast<DWORD>(g_message.size()), nullptr, &write);
    DWORD bytes = 0;
    if (!ReadFile(pipe, g_answer, sizeof g_answer - 1, nullptr, &read) &&
        GetLastError() != ERROR_IO_PENDING) {
        Finish(1, "no answer: closed (error " + std::to_string(GetLastError()) + ")");
    }
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(read.hEvent, now < end ? static_cast<DWORD>(end - now) : 0) !=
        WAIT_OBJECT_0) {
        Finish(1, "no answer: nothing in time");
    }
    if (!GetOverlappedResult(pipe, &read, &bytes, FALSE) || bytes == 0) {
        Finish(1, "no answer: closed (error " + std::to_string(GetLastError()) + ")");
    }
    g_answer[bytes] = '\0';
    const std::string answer = g_answer;
    Finish(0, "answer: " + answer.substr(0, answer.find('\n')));
}
