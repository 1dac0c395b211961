#include "framework/dialog_win.h"

#include <exception>
#include <vector>

#include "framework/afx_win.h"
#include "framework/notify.h"
#include "framework/text_win.h"

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

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
    // No exception may cross into the system's dialog manager.
    try {
        return dialog->Handle(message, wParam, lParam);
    } catch (const std::exception& error) {
        ShowMessage(CString("Internal error: ") + error.what());
    } catch (...) {
        ShowMessage("Internal error");
    }
    return FALSE;
}

INT_PTR CDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, &result)) {
        // Notifications keep their default handling as well (the dialog manager frees
        // its font on WM_DESTROY, for one); other messages are answered here.
        if (message == WM_DESTROY || message == WM_SHOWWINDOW || message == WM_TIMER) return FALSE;
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
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

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

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

UINT_PTR CDialog::SetTimer(UINT_PTR id, UINT milliseconds) {
    return ::SetTimer(m_hWnd, id, milliseconds, nullptr);
}

BOOL CDialog::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

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
