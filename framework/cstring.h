// CString: the counted byte string of every text in the program. Texts are multibyte
// (code page 932 for the Japanese ones) and stay so in memory.
#pragma once

#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define TAV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAV_PRINTF_FORMAT(fmt, args)
#endif

class CString {
  public:
    CString() = default;
    // NOLINTNEXTLINE(google-explicit-constructor): implicit as in MFC
    CString(const char* text) : m_str(text ? text : "") {}
    CString(const char* bytes, int length)
        : m_str(bytes ? std::string(bytes, length > 0 ? length : 0) : std::string()) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    // NOLINTNEXTLINE(google-explicit-constructor): as LPCTSTR in MFC
    operator const char*() const { return m_str.c_str(); }
    char GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }

    CString& operator=(const char* text) {
        m_str = text ? text : "";
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_str += other.m_str;
        return *this;
    }
    CString& operator+=(const char* text) {
        if (text) m_str += text;
        return *this;
    }
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }

    // Index of the last occurrence of ch, or -1.
    int ReverseFind(char ch) const;
    // The first count bytes (all of them when count is larger).
    CString Left(int count) const;

    // printf-style formatting into this string. The format must be a literal of the
    // program, never a user's text; arguments of any length are safe.
    void Format(const char* format, ...) TAV_PRINTF_FORMAT(2, 3);

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char* b) { return a += b; }
    friend CString operator+(const char* a, const CString& b) { return CString(a) += b; }

  private:
    std::string m_str;
};
