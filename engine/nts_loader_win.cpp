#include <windows.h>

#include <string>

#include "engine/nts_client.h"
#include "framework/system_dll_win.h"

const NtsBackend* LoadNtsBackendBesideProgram() {
    // The program's own folder, by the module's full path: never the current folder
    // or the search path, where anybody may put a DLL of this name.
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD got = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (got == 0) return nullptr;
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        if (attempt == 7) return nullptr;
        path.resize(path.size() * 2);
    }
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return nullptr;
    path.replace(slash + 1, std::wstring::npos, L"TavrinoNts.dll");
    // Its own dependencies are system DLLs, taken from the system folder only.
    HMODULE dll =
        LoadLibraryExW(path.c_str(), nullptr, SystemFolderLoadFlags(Kernel32DllSearchCalls()));
    if (!dll) return nullptr;
    const auto entry = FunctionAs<NtsBackendEntry>(GetProcAddress(dll, TAVRINO_NTS_BACKEND_EXPORT));
    const NtsBackend* backend = entry ? entry() : nullptr;
    if (!backend || backend->version != kNtsBackendVersion) {
        FreeLibrary(dll);
        return nullptr;
    }
    return backend;  // stays loaded for the program's lifetime
}
