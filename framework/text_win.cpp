#include "framework/text_win.h"

#include "framework/win_types.h"

std::wstring Widen(const CString& text) {
    if (text.IsEmpty()) return std::wstring();
    int length =
        MultiByteToWideChar(kProgramCodePage, 0, text.GetString(), text.GetLength(), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(kProgramCodePage, 0, text.GetString(), text.GetLength(), &wide[0], length);
    return wide;
}

CString Narrow(const wchar_t* text, int length) {
    if (!text || length == 0) return CString();
    int bytes =
        WideCharToMultiByte(kProgramCodePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return CString();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(kProgramCodePage, 0, text, length, &narrow[0], bytes, nullptr, nullptr);
    // A length of -1 converts the terminating NUL as well.
    if (length < 0 && !narrow.empty() && narrow.back() == '\0') narrow.pop_back();
    return CString(narrow.data(), static_cast<int>(narrow.size()));
}
