#include "framework/file.h"

namespace {
#ifndef _WIN32
// Native paths are UTF-8 bytes; a wide character is one code point here.
std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wide : text) {
        auto c = static_cast<unsigned long>(static_cast<char32_t>(wide));
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
#endif
}  // namespace

ScopedFile OpenForAppend(const std::wstring& path) {
#ifdef _WIN32
    return ScopedFile(_wfopen(path.c_str(), L"ab"));
#else
    return ScopedFile(std::fopen(Utf8(path).c_str(), "ab"));
#endif
}

std::wstring ReplaceAfterLastDot(const std::wstring& path, const wchar_t* tail) {
    const std::size_t dot = path.rfind(L'.');
    return (dot == std::wstring::npos ? std::wstring() : path.substr(0, dot + 1)) + tail;
}
