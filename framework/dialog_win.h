// Modal dialogs on resource templates, in the manner of the framework the program
// was written for: a dialog class overrides OnInitDialog, OnOK, OnCancel and
// DoDataExchange, and lists the messages it handles in a message map:
//
//     BEGIN_MESSAGE_MAP(CQueryDlg)
//         ON_MESSAGE(WM_TIMER, OnTimer)
//         ON_COMMAND(IDC_CHECK, OnCheck)
//     END_MESSAGE_MAP()
//
// Handlers take (WPARAM, LPARAM) and return the message's result.
#pragma once

#include "framework/cstring.h"
#include "framework/win_types.h"

class CDialog;

// Dialog data exchange: moves member values into the controls or back.
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, bool saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: controls to members
    bool m_bFailed = false;   // a control held no valid value; its member is unchanged
};

void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);

template <class T>
struct MessageMapEntry {
    UINT message;
    UINT id;  // for WM_COMMAND the control's id; 0 otherwise
    LRESULT (T::*handler)(WPARAM, LPARAM);
};

class CDialog {
  public:
    // The dialog on template templateId; without a parent it is owned by the
    // application's main window when there is one.
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally: the value given to EndDialog, or -1 when the dialog
    // cannot be created.
    INT_PTR DoModal();

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

    void SetWindowText(const CString& text);
    void SetDlgItemText(int id, const CString& text);
    CString GetDlgItemText(int id) const;
    void SetDlgItemInt(int id, int value, BOOL isSigned = TRUE);
    HWND GetDlgItem(int id) const;

    // Window timers of the dialog: SetTimer returns the timer's id, 0 on failure.
    // Virtual so that tests can make them fail, which the system never does on cue.
    virtual UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds);
    virtual BOOL KillTimer(UINT_PTR id);

  protected:
    virtual BOOL OnInitDialog();  // exchanges data into the controls; TRUE
    virtual void OnOK();          // exchanges data back, then ends with IDOK
    virtual void OnCancel();      // ends with IDCANCEL
    virtual void DoDataExchange(CDataExchange* pDX);
    // The message map; true when the message was handled, with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    HWND m_hWnd = nullptr;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    HWND m_hParent;
};

// Looks the message up in a map that ends with an entry without handler.
template <class T>
bool DispatchMessageMap(T* dialog, const MessageMapEntry<T>* map, UINT message, WPARAM wParam,
                        LPARAM lParam, LRESULT* result) {
    for (const MessageMapEntry<T>* entry = map; entry->handler; ++entry) {
        if (entry->message != message) continue;
        if (message == WM_COMMAND && entry->id != LOWORD(wParam)) continue;
        *result = (dialog->*entry->handler)(wParam, lParam);
        return true;
    }
    return false;
}

#define DECLARE_MESSAGE_MAP(Class)                                                         \
  protected:                                                                               \
    using ThisClass = Class;                                                               \
    static const MessageMapEntry<Class> messageMap[];                                      \
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override { \
        return DispatchMessageMap(this, messageMap, message, wParam, lParam, result);      \
    }

#define BEGIN_MESSAGE_MAP(Class) const MessageMapEntry<Class> Class::messageMap[] = {
#define ON_MESSAGE(message, handler) {message, 0, &ThisClass::handler},
#define ON_COMMAND(id, handler) {WM_COMMAND, id, &ThisClass::handler},
#define END_MESSAGE_MAP() \
    { 0, 0, nullptr }     \
    }                     \
    ;
