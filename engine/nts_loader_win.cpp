#include <windows.h>

#include <string>

#include "engine/nts_client.h"
#include "framework/afx_win.h"
#include "framework/system_dll_win.h"

const NtsBackend* LoadNtsBackendBesideProgram() {
    // The program's own folder, by the module's full path: never the current folder
    // or the search path, where anybody may put a DLL of this name.
    const std::wstring folder = AfxGetModuleFolder();
    if (folder.empty()) return nullptr;
    const std::wstring path = folder + L"TavrinoNts.dll";
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
