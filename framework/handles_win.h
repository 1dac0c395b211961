// Owners of Win32 handles: each closes what it holds exactly once.
#pragma once

#include "framework/win_types.h"

class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : m_h(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr) {
        Close();
        m_h = handle;
    }

  private:
    void Close() {
        if (IsValid()) CloseHandle(m_h);
        m_h = nullptr;
    }
    HANDLE m_h = nullptr;
};

// A registry key, closed exactly once on whichever path its reader leaves by.
class ScopedRegKey {
  public:
    explicit ScopedRegKey(HKEY key) : m_h(key) {}
    ~ScopedRegKey() {
        if (m_h) RegCloseKey(m_h);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;
    HKEY Get() const { return m_h; }

  private:
    HKEY m_h;
};
