#include "framework/system_dll_win.h"

#include <string>

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

DllSearch RestrictDllSearch(const DllSearchCalls& calls) {
    if (calls.setDefaultDllDirectories &&
        calls.setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return DllSearch::kSystemFolderOnly;
    // An empty folder takes the current folder out of the search; the program's own
    // folder stays in it, which only the first call could change.
    if (calls.setDllDirectory && calls.setDllDirectory(L""))
        return DllSearch::kWithoutCurrentFolder;
    return DllSearch::kUnrestricted;
}

DllSearchCalls Kernel32DllSearchCalls() {
    // kernel32 is in every process from its start: no load, hence no search, here.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    DllSearchCalls calls{};
    calls.setDefaultDllDirectories = kernel32
                                         ? FunctionAs<SetDefaultDllDirectoriesFunction>(
                                               GetProcAddress(kernel32, "SetDefaultDllDirectories"))
                                         : nullptr;
    calls.setDllDirectory = &SetDllDirectoryW;
    return calls;
}

void RestrictDllSearchToSystemFolder() { RestrictDllSearch(Kernel32DllSearchCalls()); }

DWORD SystemFolderLoadFlags(const DllSearchCalls& calls) {
    // The search flags came to LoadLibraryExW with SetDefaultDllDirectories.
    return calls.setDefaultDllDirectories ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0;
}

FARPROC SystemFunction(const wchar_t* dll, const char* name) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + dll;
    static const DWORD flags = SystemFolderLoadFlags(Kernel32DllSearchCalls());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, flags);
    return module ? GetProcAddress(module, name) : nullptr;
}
