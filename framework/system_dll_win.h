// Where the program's DLLs come from. Run elevated from a folder that users write (a
// ZIP unpacked in Downloads), a DLL lying beside the program under a system DLL's name
// would otherwise be loaded by the program or by the system DLLs it uses; so each
// program first restricts the search of its process to the system folder.
//
// Functions of Windows DLLs that the program needs only now and then (the shell's
// elevation, the dial-up enumeration). Linking them would load those DLLs, and the
// DLLs they pull in, at every start; looked up here, they are loaded at their first
// use. A DLL is taken from the system folder by its full path, its own dependencies
// from there too where Windows can say so, and stays loaded.
#pragma once

#include "framework/win_types.h"

// First thing in each program: later DLL loads of the process, by the program or by
// the system's DLLs, search the system folder only. Where Windows lacks that
// (Windows 7 without KB2533623), the current folder is at least taken out of the
// search.
void RestrictDllSearchToSystemFolder();

// The two calls that restrict the search, as kernel32 has them; a test gives its own.
struct DllSearchCalls {
    BOOL(WINAPI* setDefaultDllDirectories)(DWORD flags);  // nullptr where Windows lacks it
    BOOL(WINAPI* setDllDirectory)(LPCWSTR folder);
};

enum class DllSearch {
    kSystemFolderOnly,      // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
    kWithoutCurrentFolder,  // SetDllDirectoryW(L"")
    kUnrestricted,          // both refused
};

// The restriction through the given calls, and what it achieved.
DllSearch RestrictDllSearch(const DllSearchCalls& calls);

// kernel32's own calls; setDefaultDllDirectories looked up at run time.
DllSearchCalls Kernel32DllSearchCalls();

// The flags for LoadLibraryExW that keep a DLL's dependencies to the system folder,
// or 0 where Windows does not know them (it would refuse the call).
DWORD SystemFolderLoadFlags(const DllSearchCalls& calls);

// The function, or nullptr when the DLL or the function is not there.
FARPROC SystemFunction(const wchar_t* dll, const char* name);

// A looked-up address as the function's own type, through the generic function type.
template <class Function>
Function FunctionAs(FARPROC address) {
    using Generic = void (*)();
    return reinterpret_cast<Function>(reinterpret_cast<Generic>(address));
}

// SystemFunction as the function's own type.
template <class Function>
Function SystemFunctionAs(const wchar_t* dll, const char* name) {
    return FunctionAs<Function>(SystemFunction(dll, name));
}
