#include "ui/editor_link_win.h"

#include <utility>
#include <vector>

#include "framework/afx_win.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/winapp_win.h"
#include "res/string_ids.h"
#include "settings/editor_link.h"

namespace {

// How long closing the main window waits for the settings editor to close.
constexpr UINT kEditorCloseWaitMs = 5000;
// How often a pressed button looks whether its editor still runs.
constexpr UINT kWatchMs = 500;
// The editor's command line as the editor reads it: its file name, a blank and the
// arguments.
constexpr size_t kLongestEditorLine = 255;

}  // namespace

DWORD LaunchProgram(const std::wstring& program, const std::wstring& arguments,
                    ScopedHandle* process, DWORD* processId) {
    // The program by its full path, quoted, as the first word of its command line.
    std::wstring line = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
        return GetLastError();
    }
    ScopedHandle thread(started.hThread);
    process->Reset(started.hProcess);
    *processId = started.dwProcessId;
    return 0;
}

CEditorLink::CEditorLink(CDialog* dialog, int buttonId, UINT_PTR timerId)
    : m_pDialog(dialog), m_nButton(buttonId), m_watch(dialog, timerId) {}

std::wstring CEditorLink::EditorPath() {
    // Never a file of that name elsewhere on the search path.
    const std::wstring folder = AfxGetModuleFolder();
    return folder.empty() ? folder : folder + Widen(LoadAppString(IDS_EDITOR_FILE));
}

void CEditorLink::HideButtonWithoutEditor() {
    const std::wstring path = EditorPath();
    const DWORD attributes =
        path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ShowWindow(m_pDialog->GetDlgItem(m_nButton), SW_HIDE);
    }
}

void CEditorLink::Start(const std::wstring& profile, HWND answer) {
    HWND button = m_pDialog->GetDlgItem(m_nButton);
    EnableWindow(button, FALSE);
    SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);

    const std::wstring arguments =
        L"-profile=\"" + profile + L"\" -geohwnd=" +
        std::to_wstring(static_cast<long long>(reinterpret_cast<INT_PTR>(answer))) + L" xyz";
    const size_t length = Widen(LoadAppString(IDS_EDITOR_FILE)).size() + 1 + arguments.size();
    if (length > kLongestEditorLine) {
        Release();
        AfxMessageBox(LoadAppString(IDS_EDITOR_LINE_TOO_LONG));
        return;
    }
    ScopedHandle process;
    DWORD processId = 0;
    const DWORD error = LaunchProgram(EditorPath(), arguments, &process, &processId);
    if (error != 0) {
        Release();
        CString text;
        text.Format(" (%lu)", static_cast<unsigned long>(error));
        AfxMessageBox(LoadAppString(IDS_EDITOR_NOT_STARTED) + text);
        return;
    }
    Watch(std::move(process), processId);
}

void CEditorLink::Watch(ScopedHandle process, DWORD processId) {
    m_hProcess = std::move(process);
    m_dwProcess = processId;
    m_watch.Set(kWatchMs);
}

bool CEditorLink::OnNotice(WPARAM code, LPARAM window) {
    if (code > static_cast<WPARAM>(EditorCode::kSaved)) return false;
    switch (static_cast<EditorCode>(code)) {
        case EditorCode::kAnnounce: {
            // Anybody may send this message: only a live window of the editor that the
            // button started is one to close later.
            HWND editor = reinterpret_cast<HWND>(window);
            DWORD owner = 0;
            if (!IsWindow(editor) || !GetWindowThreadProcessId(editor, &owner) ||
                owner != m_dwProcess || owner == 0) {
                return false;
            }
            if (m_hEditorWnd) {
                AfxMessageBox("SetEnv is already running.");
            } else {
                m_hEditorWnd = editor;
            }
            return false;
        }
        case EditorCode::kSavedAndClosed:
            Release();
            return true;
        case EditorCode::kClosed:
            Release();
            return false;
        case EditorCode::kSaved:
            return true;
    }
    return false;
}

void CEditorLink::OnTimer() {
    // Gone without a word: the button comes up, and there is nothing to read again.
    if (!m_hProcess || WaitForSingleObject(m_hProcess.Get(), 0) == WAIT_OBJECT_0) Release();
}

void CEditorLink::Release() {
    HWND button = m_pDialog->GetDlgItem(m_nButton);
    EnableWindow(button, TRUE);
    SendMessageW(button, BM_SETCHECK, BST_UNCHECKED, 0);
    m_hEditorWnd = nullptr;
    m_watch.Kill();
    m_hProcess.Close();
    m_dwProcess = 0;
}

void CEditorLink::Close() {
    m_watch.Kill();
    if (!m_hEditorWnd) return;
    // A window that has gone or hangs must not hold up the end of this one.
    if (IsWindow(m_hEditorWnd)) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(m_hEditorWnd, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kEditorCloseWaitMs,
                            &ignored);
    }
    m_hEditorWnd = nullptr;
}
