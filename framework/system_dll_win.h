// Functions of Windows DLLs that the program needs only now and then (the shell's
// elevation, the dial-up enumeration). Linking them would load those DLLs, and the
// DLLs they pull in, at every start; looked up here, they are loaded at their first
// use. A DLL is taken from the system folder by its full path, never found by a
// search that could reach the program's own folder, and stays loaded.
#pragma once

#include "framework/win_types.h"

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
