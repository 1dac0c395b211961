#include "service/console_win.h"

#include <vector>

#include "framework/win_types.h"

void ConsoleLine(const std::wstring& text) {
    const std::wstring line = text + L"\r\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = GetOEMCP();
    const int length = WideCharToMultiByte(codePage, 0, line.c_str(), static_cast<int>(line.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return;
    std::vector<char> bytes(static_cast<std::size_t>(length));
    WideCharToMultiByte(codePage, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(),
                        length, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(length), &written, nullptr);
}
