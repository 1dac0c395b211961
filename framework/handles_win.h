// Owners of Win32 handles (see owner.h): a kernel handle (thread, mutex, event,
// file), a registry key, a handle of the service manager and memory that Windows
// allocated with LocalAlloc, each let go exactly once.
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

// The service manager and its services (OpenSCManager, OpenService, CreateService).
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static bool Close(Handle handle) { return CloseServiceHandle(handle) != FALSE; }
};
using ScopedServiceHandle = Owner<ServiceHandleTraits>;

// What Windows hands over for LocalFree (a security descriptor made from its text).
struct LocalMemoryTraits {
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle memory) { return memory != nullptr; }
    static bool Close(Handle memory) { return LocalFree(memory) == nullptr; }
};
using ScopedLocalMemory = Owner<LocalMemoryTraits>;
