#include "tests/support/dialog_watch_win.h"

#include <algorithm>
#include <vector>

#include <tlhelp32.h>

#include "framework/handles_win.h"
#include "framework/system_dll_win.h"
#include "tests/support/ui_driver_win.h"

namespace {
DialogWatch* activeWatch = nullptr;

bool IsDialog(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"#32770") == 0;
}
}  // namespace

DialogWatch::DialogWatch() {
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
    activeWatch = this;
    m_hook =
        SetWindowsHookExW(WH_CALLWNDPROCRET, &DialogWatch::Hook, nullptr, GetCurrentThreadId());
}

DialogWatch::~DialogWatch() {
    if (m_hook) UnhookWindowsHookEx(m_hook);
    activeWatch = nullptr;
}

double DialogWatch::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - m_start.QuadPart) /
           static_cast<double>(m_frequency.QuadPart);
}

LRESULT CALLBACK DialogWatch::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && activeWatch) {
        activeWatch->Observe(*reinterpret_cast<const CWPRETSTRUCT*>(lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void DialogWatch::Observe(const CWPRETSTRUCT& message) {
    DialogEvent event{DialogEvent::kShown, nullptr, 0, std::string(), Now()};
    if (message.message == WM_SHOWWINDOW && message.wParam && IsDialog(message.hwnd)) {
        event.dialog = message.hwnd;
    } else if (message.message == WM_DESTROY && IsDialog(message.hwnd)) {
        event.kind = DialogEvent::kDestroyed;
        event.dialog = message.hwnd;
    } else if (message.message == WM_SETTEXT && !IsDialog(message.hwnd)) {
        HWND parent = GetParent(message.hwnd);
        if (!parent || !IsDialog(parent)) return;
        event.kind = DialogEvent::kText;
        event.dialog = parent;
        event.controlId = GetDlgCtrlID(message.hwnd);
        // The message may have been sent in either character set; read the result.
        event.text = WindowText(message.hwnd);
    } else {
        return;
    }
    m_events.push_back(event);
    if (onEvent) onEvent(event);
}

std::vector<std::string> DialogWatch::Texts(int id, HWND dialog) const {
    std::vector<std::string> texts;
    for (const DialogEvent& event : m_events) {
        if (event.kind == DialogEvent::kText && event.controlId == id &&
            (!dialog || event.dialog == dialog)) {
            texts.push_back(event.text);
        }
    }
    return texts;
}

std::vector<HWND> DialogWatch::Shown() const {
    std::vector<HWND> shown;
    for (const DialogEvent& event : m_events) {
        if (event.kind == DialogEvent::kShown) shown.push_back(event.dialog);
    }
    return shown;
}

void DialogWatch::PressEscape(HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0xC0000001);
}

void DialogWatch::ClickButton(HWND dialog, int id) {
    // The button's own click, as the mouse would give it.
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::string DialogWatch::WindowText(HWND window) { return ::WindowText(window); }

std::string DialogWatch::ItemText(HWND dialog, int id) { return ControlText(dialog, id); }

int ProcessThreadCount() {
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    return count;
}

namespace {

struct HandleEntry {
    void* object;
    ULONG_PTR process, handle;
    ULONG access;
    USHORT backTrace, type;
    ULONG attributes, reserved;
};

}  // namespace

int ProcessHandleCount(DWORD processId) {
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = SystemFunctionAs<Query>(L"ntdll.dll", "NtQuerySystemInformation");
    std::vector<ULONG_PTR> table(1 << 14);  // the count, a reserved word, the entries
    LONG status = -1;
    for (int tries = 0; query && tries < 8; ++tries, table.resize(table.size() * 2)) {
        status =
            query(64, table.data(), static_cast<ULONG>(table.size() * sizeof table[0]), nullptr);
        if (status != static_cast<LONG>(0xC0000004)) break;  // STATUS_INFO_LENGTH_MISMATCH
    }
    if (status != 0) return -1;
    const auto* entries = reinterpret_cast<const HandleEntry*>(&table[2]);
    return static_cast<int>(
        std::count_if(entries, entries + table[0],
                      [processId](const HandleEntry& e) { return e.process == processId; }));
}
