#include "framework/dialog_win.h"

#include <exception>
#include <vector>

#include "framework/afx_win.h"
#include "framework/notify.h"
#include "framework/text_win.h"
#include "framework/timer_win.h"

namespace {

// No exception may cross into the system's dialog manager.
template <class Action>
void Guarded(Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        ShowMessage(CString("Internal error: ") + error.what());
    } catch (...) {
        ShowMessage("Internal error");
    }
}

// Clears a flag for the time of one message and gives it back its value afterwards.
class FlagForOneMessage {
  public:
    explicit FlagForOneMessage(bool& flag) : m_flag(flag), m_outer(flag) { m_flag = false; }
    ~FlagForOneMessage() { m_flag = m_outer; }
    FlagForOneMessage(const FlagForOneMessage&) = delete;
    FlagForOneMessage& operator=(const FlagForOneMessage&) = delete;

  private:
    bool& m_flag;
    bool m_outer;
};

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

// Timer owners that outlive their dialog are left holding nothing.
CDialog::~CDialog() {
    for (CDialogTimer* timer : m_timers) timer->DialogGone();
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_hParent ? m_hParent : AfxGetMainWnd();
    if (owner && !IsWindow(owner)) owner = nullptr;
    // The system disables the owner while the dialog runs; its timers and posted
    // messages are still dispatched by the dialog's loop.
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId),
                                     owner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) find no object yet.
    if (!dialog) return FALSE;
    INT_PTR answer = FALSE;
    Guarded([&] { answer = dialog->Handle(message, wParam, lParam); });
    // The window's end, whatever its handlers did: its timers go with it.
    if (message == WM_DESTROY) {
        Guarded([&] {
            for (CDialogTimer* timer : dialog->m_timers) timer->WindowDestroyed();
        });
    } else if (message == WM_NCDESTROY) {
        dialog->m_hWnd = nullptr;
    }
    return answer;
}

INT_PTR CDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    LRESULT result = 0;
    MessageReply reply = MessageReply::kResult;
    bool handled = false;
    bool deferred = false;
    {
        // A handler may run a modal loop (a message box) that brings this dialog
        // further messages; each asks for the default handling on its own.
        FlagForOneMessage scope(m_bDefault);
        handled = OnMessage(message, wParam, lParam, &result, &reply);
        deferred = m_bDefault;
    }
    if (handled) {
        if (deferred || reply == MessageReply::kDefault) return FALSE;
        if (reply == MessageReply::kDirect) return static_cast<INT_PTR>(result);
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    if (message == WM_DPICHANGED && lParam != 0) {
        // Moved to a monitor of another scale: the dialog manager scales the controls
        // and the font; the window takes the size and place that the system suggests.
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left, suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        // The Enter key and the Esc key arrive as these two commands.
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

void CDialog::Default() { m_bDefault = true; }

void CDialog::OnSysCommand(UINT, LPARAM) { Default(); }

void CDialog::OnPaint() { Default(); }

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*, MessageReply*) { return false; }

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate != FALSE);
    DoDataExchange(&exchange);
    return exchange.m_bFailed ? FALSE : TRUE;
}

void CDialog::EndDialog(int result) {
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

void CDialog::SetWindowText(const CString& text) { SetWindowTextW(m_hWnd, Widen(text).c_str()); }

void CDialog::SetDlgItemText(int id, const CString& text) {
    SetDlgItemTextW(m_hWnd, id, Widen(text).c_str());
}

CString CDialog::GetDlgItemText(int id) const {
    HWND item = GetDlgItem(id);
    if (!item) return CString();
    int length = GetWindowTextLengthW(item);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(item, text.data(), length + 1);
    return Narrow(text.data(), got);
}

void CDialog::SetDlgItemInt(int id, int value, BOOL isSigned) {
    ::SetDlgItemInt(m_hWnd, id, static_cast<UINT>(value), isSigned);
}

HWND CDialog::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

// Without a window these would make or end a timer of the thread instead.
UINT_PTR CDialog::SetTimer(UINT_PTR id, UINT milliseconds) {
    return m_hWnd ? ::SetTimer(m_hWnd, id, milliseconds, nullptr) : 0;
}

BOOL CDialog::KillTimer(UINT_PTR id) { return m_hWnd ? ::KillTimer(m_hWnd, id) : FALSE; }

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    if (pDX->m_bSaveAndValidate) {
        value = pDX->m_pDlgWnd->GetDlgItemText(id);
    } else {
        pDX->m_pDlgWnd->SetDlgItemText(id, value);
    }
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
    if (pDX->m_bSaveAndValidate) {
        BOOL ok = FALSE;
        int read = static_cast<int>(GetDlgItemInt(pDX->m_pDlgWnd->GetSafeHwnd(), id, &ok, TRUE));
        if (ok) {
            value = read;
        } else {
            pDX->m_bFailed = true;
        }
    } else {
        pDX->m_pDlgWnd->SetDlgItemInt(id, value, TRUE);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    HWND dialog = pDX->m_pDlgWnd->GetSafeHwnd();
    if (pDX->m_bSaveAndValidate) {
        value = static_cast<int>(IsDlgButtonChecked(dialog, id));
    } else {
        CheckDlgButton(dialog, id, static_cast<UINT>(value));
    }
}
