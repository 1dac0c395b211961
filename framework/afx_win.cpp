#include "framework/afx_win.h"

#include <atomic>
#include <vector>

#include "framework/notify.h"
#include "framework/text_win.h"

namespace {
std::atomic<HWND> mainWindow{nullptr};

std::wstring ModuleFileName() {
    // The path may be longer than MAX_PATH; grow until it fits.
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return std::wstring(path.data(), length);
        path.resize(path.size() * 4);
    }
    return std::wstring();
}

// Ends Windows Sockets when the process ends, if AfxSocketInit started it.
struct SocketLibrary {
    bool started = false;
    ~SocketLibrary() {
        if (started) WSACleanup();
    }
};
}  // namespace

CString AfxGetAppName() {
    std::wstring path = ModuleFileName();
    size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return Narrow(name.c_str(), static_cast<int>(name.size()));
}

std::wstring AfxGetModulePath() { return ModuleFileName(); }

std::wstring AfxGetModuleFolder() {
    const std::wstring path = ModuleFileName();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HWND AfxGetMainWnd() { return mainWindow.load(); }
void AfxSetMainWnd(HWND window) { mainWindow.store(window); }

int AfxMessageBox(const CString& text) {
    ShowMessage(text);
    return IDOK;
}

int AfxMessageBox(const CString& text, UINT type) {
    HWND owner = AfxGetMainWnd();
    if (owner && !IsWindow(owner)) owner = nullptr;
    return MessageBoxW(owner, Widen(text).c_str(), Widen(AfxGetAppName()).c_str(), type);
}

void ShowMessageBox(const CString& text) { AfxMessageBox(text, MB_OK); }

BOOL AfxSocketInit() {
    static SocketLibrary library;
    if (library.started) return TRUE;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return FALSE;
    library.started = true;
    return TRUE;
}
