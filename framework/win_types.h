// The few Win32 value types that the portable core shares with the Windows edge.
// On Windows they are the platform's own; elsewhere they are declared here with the
// same layout so that the core compiles and is tested natively.
#pragma once

#ifdef _WIN32
// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>
#else
#include <cstdint>

typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef void* HWND;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
#endif
