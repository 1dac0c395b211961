/* The floor for the Check figure: the least a Win32 program does to show a server's
   time on a click. Its Check button (1000) sends one SNTP request to 127.0.0.1:123
   from the window's own thread, waits for the reply (3 s at most) and writes the
   server's transmit time, as local time, into the field 1001; "connecting..." stands
   there meanwhile, as in the main window. The window carries the property
   "TavrinoSntpDialog". */
#include <winsock2.h>
#include <windows.h>

#include <string.h>

static const wchar_t kProperty[] = L"TavrinoSntpDialog";
#define IDC_CHECK 1000
#define IDC_SERVER_TIME 1001
/* Seconds from 1601-01-01 (FILETIME) to 1900-01-01 (NTP era 0). */
#define NTP_TO_FILETIME_SECONDS 9435484800ULL

static unsigned long Big32(const unsigned char* bytes) {
    return ((unsigned long)bytes[0] << 24) | ((unsigned long)bytes[1] << 16) |
           ((unsigned long)bytes[2] << 8) | (unsigned long)bytes[3];
}

/* One exchange; the server's transmit time as local text, or an error text. */
static void AskServer(wchar_t* text, size_t capacity) {
    unsigned char packet[48];
    struct sockaddr_in server;
    fd_set readable;
    struct timeval wait;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int received = -1;
    if (s == INVALID_SOCKET) {
        wsprintfW(text, L"ERROR (Socket %d)", WSAGetLastError());
        return;
    }
    memset(packet, 0, sizeof packet);
    packet[0] = 0x23; /* no leap warning, version 4, client */
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(123);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(s, (const char*)packet, (int)sizeof packet, 0, (const struct sockaddr*)&server,
               (int)sizeof server) == (int)sizeof packet) {
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        wait.tv_sec = 3;
        wait.tv_usec = 0;
        if (select(0, &readable, NULL, NULL, &wait) == 1) {
            received = recv(s, (char*)packet, (int)sizeof packet, 0);
        }
    }
    closesocket(s);
    if (received != (int)sizeof packet) {
        lstrcpynW(text, L"ERROR (TimeOut)", (int)capacity);
        return;
    }
    {
        const unsigned long long seconds = Big32(packet + 40);
        const unsigned long long fraction = Big32(packet + 44);
        const unsigned long long ticks =
            (seconds + NTP_TO_FILETIME_SECONDS) * 10000000ULL + ((fraction * 10000000ULL) >> 32);
        FILETIME utc;
        SYSTEMTIME universal;
        SYSTEMTIME local;
        utc.dwLowDateTime = (DWORD)ticks;
        utc.dwHighDateTime = (DWORD)(ticks >> 32);
        FileTimeToSystemTime(&utc, &universal);
        SystemTimeToTzSpecificLocalTime(NULL, &universal, &local);
        wsprintfW(text, L"%04u/%02u/%02u %02u:%02u:%02u.%03u", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    }
}

static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
        case WM_INITDIALOG:
            SetPropW(window, kProperty, (HANDLE)1);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_CHECK) {
                wchar_t text[64];
                SetDlgItemTextW(window, IDC_SERVER_TIME, L"connecting...");
                AskServer(text, sizeof text / sizeof text[0]);
                SetDlgItemTextW(window, IDC_SERVER_TIME, text);
                return TRUE;
            }
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                RemovePropW(window, kProperty);
                EndDialog(window, 0);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    WSADATA data;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    DialogBoxW(instance, MAKEINTRESOURCEW(100), NULL, DialogProc);
    WSACleanup();
    return 0;
}
