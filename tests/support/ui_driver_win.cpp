#include "tests/support/ui_driver_win.h"

#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                        nullptr, nullptr);
    return out;
}

struct Search {
    std::wstring property;
    DWORD processId;
    bool dialogsOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search.processId != 0 && owner != search.processId) return TRUE;
    if (search.dialogsOnly) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window))
            search.found.push_back(window);
    } else if (GetPropW(window, search.property.c_str())) {
        search.found.push_back(window);
    }
    return TRUE;
}

}  // namespace

Program::~Program() {
    if (m_info.hProcess) {
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
}

bool Program::Start(const std::string& path, const std::string& arguments) {
    std::wstring line = L"\"" + Wide(path) + L"\"";
    if (!arguments.empty()) line += L" " + Wide(arguments);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(Wide(path).c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &m_info) != FALSE;
}

bool Program::WaitForExit(int milliseconds) {
    return m_info.hProcess &&
           WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
}

DWORD Program::ExitCode() const {
    DWORD code = 0;
    if (!m_info.hProcess || !GetExitCodeProcess(m_info.hProcess, &code)) return 0xFFFFFFFF;
    return code;
}

HWND FindWindowWithProperty(const std::string& name, DWORD processId) {
    Search search{Wide(name), processId, false, {}};
    EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

HWND WaitForWindowWithProperty(const std::string& name, DWORD processId, int milliseconds) {
    for (int waited = 0; waited <= milliseconds; waited += 50) {
        HWND window = FindWindowWithProperty(name, processId);
        if (window && IsWindowVisible(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

std::vector<HWND> WaitForDialogs(DWORD processId, int milliseconds) {
    for (int waited = 0;; waited += 50) {
        Search search{std::wstring(), processId, true, {}};
        EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty() || waited >= milliseconds) return search.found;
        Sleep(50);
    }
}

std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    int length = GetWindowTextW(window, text, 1024);
    return Utf8(std::wstring(text, static_cast<size_t>(length > 0 ? length : 0)));
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return std::string();
    // GetWindowText does not ask a control of another process; the message does.
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
        return std::string();
    }
    return Utf8(std::wstring(text, static_cast<size_t>(length)));
}

std::string MessageBoxText(HWND box) { return ControlText(box, 0xFFFF); }

bool Responds(HWND window, int milliseconds) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                               static_cast<UINT>(milliseconds), &result) != 0;
}

bool CopyFileUtf8(const std::string& from, const std::string& to) {
    return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) != FALSE;
}

std::string ModuleFolder() {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return Utf8(folder);
}
