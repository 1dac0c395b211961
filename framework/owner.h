// One owner for every kind of handle the program holds: a file, a socket, a kernel
// handle, a registry key. The traits say what "no handle" is and how one is closed;
// the owner closes what it holds exactly once, on whichever path its holder leaves
// by. Movable, not copyable; Detach hands the handle over without closing it.
#pragma once

#include <cstdio>

template <class Traits>
class Owner {
  public:
    using Handle = typename Traits::Handle;

    Owner() noexcept : m_h(Traits::Invalid()) {}
    explicit Owner(Handle handle) noexcept : m_h(handle) {}
    ~Owner() { Close(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : m_h(other.Detach()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }

    Handle Get() const { return m_h; }
    bool IsValid() const { return Traits::IsValid(m_h); }
    explicit operator bool() const { return IsValid(); }

    // Gives the handle up without closing it.
    Handle Detach() {
        Handle handle = m_h;
        m_h = Traits::Invalid();
        return handle;
    }
    // Closes what is held and takes handle instead.
    void Reset(Handle handle = Traits::Invalid()) {
        Close();
        m_h = handle;
    }
    // Closes now. False when closing failed (a file whose last buffered bytes could
    // not be written, for one); true when there was nothing to close.
    bool Close() {
        Handle handle = Detach();
        return Traits::IsValid(handle) ? Traits::Close(handle) : true;
    }

  private:
    Handle m_h;
};

struct FileTraits {
    using Handle = std::FILE*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle file) { return file != nullptr; }
    static bool Close(Handle file) { return std::fclose(file) == 0; }
};
using ScopedFile = Owner<FileTraits>;
