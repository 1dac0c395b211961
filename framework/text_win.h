// The program's texts are code page 932 in memory; Win32 is called with UTF-16.
// These convert at that boundary, so the Japanese texts read correctly whatever the
// system's ANSI code page is.
#pragma once

#include <string>

#include "framework/cstring.h"

constexpr unsigned kProgramCodePage = 932;

std::wstring Widen(const CString& text);
CString Narrow(const wchar_t* text, int length = -1);
