// Owners of Win32 handles (see owner.h): a kernel handle (thread, mutex, event,
// file) and a registry key, each closed exactly once.
#pragma once

#include "framework/owner.h"
#include "framework/win_types.h"

// Kernel handles. Some functions report failure with null (CreateMutex,
// _beginthreadex), others with INVALID_HANDLE_VALUE (CreateFile, snapshots): both
// mean that nothing is held.
struct HandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};
using ScopedHandle = Owner<HandleTraits>;

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle key) { return key != nullptr; }
    static bool Close(Handle key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};
using ScopedRegKey = Owner<RegKeyTraits>;
