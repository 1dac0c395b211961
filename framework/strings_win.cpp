#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/win_types.h"

CString LoadAppString(unsigned id) {
    // With a length of 0, LoadStringW hands out a read-only pointer into the resource.
    const wchar_t* text = nullptr;
    int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return CString();
    return Narrow(text, length);
}
