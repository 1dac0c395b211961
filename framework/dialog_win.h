// Modal dialogs on resource templates. A dialog class overrides OnInitDialog, OnOK,
// OnCancel and DoDataExchange, and lists the messages it handles in a message map of
// typed entries, each of which decodes its message's parameters for the handler:
//
//     BEGIN_MESSAGE_MAP(CQueryDlg)
//         ON_WM_TIMER()                  void OnTimer(UINT_PTR id)
//         ON_WM_SHOWWINDOW()             void OnShowWindow(BOOL shown, UINT status)
//         ON_WM_DESTROY()                void OnDestroy()
//         ON_WM_TIMECHANGE()             void OnTimeChange()
//         ON_WM_POWERBROADCAST()         void OnPowerBroadcast(UINT event)
//         ON_WM_SETTINGCHANGE()          void OnSettingChange(UINT, const wchar_t* area)
//         ON_WM_CLOSE()                  void OnClose()
//         ON_WM_SYSCOMMAND()             void OnSysCommand(UINT id, LPARAM lParam)
//         ON_WM_PAINT()                  void OnPaint()
//         ON_WM_QUERYDRAGICON()          HCURSOR OnQueryDragIcon()
//         ON_COMMAND(IDC_CHECK, OnCheck) void OnCheck()
//         ON_CBN_SELCHANGE(IDC_LIST, f)  void f()
//         ON_MESSAGE(WM_QUERY_DONE, f)   LRESULT f(WPARAM, LPARAM)
//     END_MESSAGE_MAP()
//
// The entry also fixes how the dialog procedure answers once the handler has run
// (MessageReply): the first five keep the dialog manager's default handling as well.
// ON_COMMAND takes a click, a menu item or an accelerator; ON_CBN_SELCHANGE a combo
// box's change of choice; ON_MESSAGE the program's
// own messages (WM_USER and above) only. The dialog object is attached to its window
// at WM_INITDIALOG: messages before that, WM_CREATE among them, never reach the map.
#pragma once

#include <type_traits>
#include <vector>

#include "framework/cstring.h"
#include "framework/win_types.h"

class CDialog;
class CDialogTimer;

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

// How the dialog procedure answers a message that an entry of the map has handled.
enum class MessageReply {
    // The handler's result goes back to the sender through DWLP_MSGRESULT, and the
    // dialog manager does nothing more with the message.
    kResult,
    // The handler's result is the dialog procedure's own return value, as the few
    // messages that return a handle or a brush require (WM_QUERYDRAGICON).
    kDirect,
    // The dialog manager's default handling follows the handler: notifications that
    // the system acts on as well (on WM_SHOWWINDOW it hides an owned dialog whose
    // owner closes, for one).
    kDefault,
};

class CDialog {
  public:
    // The dialog on template templateId; without a parent it is owned by the
    // application's main window when there is one.
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally: the value given to EndDialog, or -1 when the dialog
    // cannot be created.
    INT_PTR DoModal();

    // The dialog's window while it exists; null before and after.
    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

    void SetWindowText(const CString& text);
    void SetDlgItemText(int id, const CString& text);
    CString GetDlgItemText(int id) const;
    void SetDlgItemInt(int id, int value, BOOL isSigned = TRUE);
    HWND GetDlgItem(int id) const;

    // Window timers of the dialog: SetTimer returns the timer's id, 0 on failure or
    // when there is no window. Virtual so that tests can make them fail, which the
    // system never does on cue. CDialogTimer (timer_win.h) owns one timer.
    virtual UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds);
    virtual BOOL KillTimer(UINT_PTR id);

  protected:
    virtual BOOL OnInitDialog();  // exchanges data into the controls; TRUE
    virtual void OnOK();          // exchanges data back, then ends with IDOK
    virtual void OnCancel();      // ends with IDCANCEL
    virtual void DoDataExchange(CDataExchange* pDX);
    // The message map: true when the message was handled, with the handler's result
    // and how the dialog procedure answers it.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                           MessageReply* reply);

    // Called from a handler: the dialog manager handles the message as well, with
    // its original parameters, once the handler returns.
    void Default();
    // What a handler calls for a system command or a paint that it leaves to the
    // system (the move, the close, the minimize): Default().
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();

    HWND m_hWnd = nullptr;

  private:
    friend class CDialogTimer;
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    HWND m_hParent;
    bool m_bDefault = false;              // the handler running has asked for Default()
    std::vector<CDialogTimer*> m_timers;  // the timer owners bound to this dialog
};

// An entry of the message map of dialog class T. The thunk decodes the parameters
// and calls the handler that it was instantiated on.
template <class T>
struct MessageMapEntry {
    UINT message;
    UINT id;  // for WM_COMMAND the command's id, or a control's id and notification
              // as WM_COMMAND's wParam has them; 0 otherwise
    MessageReply reply;
    LRESULT (*thunk)(T& dialog, WPARAM wParam, LPARAM lParam);
};

// A handler's class and signature, read from its member pointer.
template <class Member>
struct HandlerOf;
template <class C, class R, class... Args>
struct HandlerOf<R (C::*)(Args...)> {
    using Class = C;
    using Signature = R(Args...);
};

// A handler of the dialog class T or of one of its bases, with the signature that
// its entry requires.
template <class T, auto handler, class Signature>
constexpr bool FitsEntry() {
    using Handler = HandlerOf<decltype(handler)>;
    static_assert(std::is_base_of_v<typename Handler::Class, T>, "not a handler of this dialog");
    static_assert(std::is_same_v<typename Handler::Signature, Signature>,
                  "the handler's signature does not fit its entry");
    return true;
}

// The thunks, one per handler signature.
template <class T>
struct MessageThunks {
    template <auto handler>
    static LRESULT Timer(T& dialog, WPARAM wParam, LPARAM) {
        static_assert(FitsEntry<T, handler, void(UINT_PTR)>());
        (dialog.*handler)(static_cast<UINT_PTR>(wParam));
        return 0;
    }
    template <auto handler>
    static LRESULT ShowWindow(T& dialog, WPARAM wParam, LPARAM lParam) {
        static_assert(FitsEntry<T, handler, void(BOOL, UINT)>());
        (dialog.*handler)(static_cast<BOOL>(wParam), static_cast<UINT>(lParam));
        return 0;
    }
    template <auto handler>
    static LRESULT SysCommand(T& dialog, WPARAM wParam, LPARAM lParam) {
        static_assert(FitsEntry<T, handler, void(UINT, LPARAM)>());
        // The low four bits are the system's own.
        (dialog.*handler)(static_cast<UINT>(wParam) & 0xFFF0u, lParam);
        return 0;
    }
    template <auto handler>
    static LRESULT PowerBroadcast(T& dialog, WPARAM wParam, LPARAM) {
        static_assert(FitsEntry<T, handler, void(UINT)>());
        (dialog.*handler)(static_cast<UINT>(wParam));
        return 0;
    }
    template <auto handler>
    static LRESULT SettingChange(T& dialog, WPARAM wParam, LPARAM lParam) {
        static_assert(FitsEntry<T, handler, void(UINT, const wchar_t*)>());
        (dialog.*handler)(static_cast<UINT>(wParam), reinterpret_cast<const wchar_t*>(lParam));
        return 0;
    }
    template <auto handler>
    static LRESULT Plain(T& dialog, WPARAM, LPARAM) {
        static_assert(FitsEntry<T, handler, void()>());
        (dialog.*handler)();
        return 0;
    }
    template <auto handler>
    static LRESULT QueryDragIcon(T& dialog, WPARAM, LPARAM) {
        static_assert(FitsEntry<T, handler, HCURSOR()>());
        return reinterpret_cast<LRESULT>((dialog.*handler)());
    }
    template <auto handler>
    static LRESULT Message(T& dialog, WPARAM wParam, LPARAM lParam) {
        static_assert(FitsEntry<T, handler, LRESULT(WPARAM, LPARAM)>());
        return (dialog.*handler)(wParam, lParam);
    }
};

// WM_COMMAND for the entry's id as a command: a button's click, or a menu item or
// an accelerator (no control). Other notifications of the control are not commands.
// An entry that names a notification as well takes that one from the control only.
inline bool IsCommandFor(UINT id, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(id) != 0) return lParam != 0 && static_cast<UINT>(wParam & 0xFFFFFFFFu) == id;
    if (LOWORD(wParam) != id) return false;
    UINT code = HIWORD(wParam);
    const UINT kAccelerator = 1;  // the code of a command from an accelerator
    return code == BN_CLICKED || (lParam == 0 && code == kAccelerator);
}

// Looks the message up in a map that ends with an entry without thunk.
template <class T>
bool DispatchMessageMap(T* dialog, const MessageMapEntry<T>* map, UINT message, WPARAM wParam,
                        LPARAM lParam, LRESULT* result, MessageReply* reply) {
    for (const MessageMapEntry<T>* entry = map; entry->thunk; ++entry) {
        if (entry->message != message) continue;
        if (message == WM_COMMAND && !IsCommandFor(entry->id, wParam, lParam)) continue;
        *reply = entry->reply;
        *result = entry->thunk(*dialog, wParam, lParam);
        return true;
    }
    return false;
}

// ON_MESSAGE takes the program's own messages only; system messages have typed entries.
template <UINT message>
constexpr UINT PrivateMessage() {
    static_assert(message >= WM_USER, "ON_MESSAGE is for the program's own messages");
    return message;
}

#define DECLARE_MESSAGE_MAP(Class)                                                           \
  protected:                                                                                 \
    using ThisClass = Class;                                                                 \
    static const MessageMapEntry<Class> messageMap[];                                        \
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,              \
                   MessageReply* reply) override {                                           \
        return DispatchMessageMap(this, messageMap, message, wParam, lParam, result, reply); \
    }

// The handler's signature is part of the entry: a handler of another signature does
// not compile. A handler inherited from a base class is taken too.
#define TAVRINO_MAP_ENTRY(message, id, reply, thunk, handler) \
    {message, id, reply, &MessageThunks<ThisClass>::thunk<&ThisClass::handler>},

#define BEGIN_MESSAGE_MAP(Class) const MessageMapEntry<Class> Class::messageMap[] = {
#define ON_WM_TIMER() TAVRINO_MAP_ENTRY(WM_TIMER, 0, MessageReply::kDefault, Timer, OnTimer)
#define ON_WM_SHOWWINDOW() \
    TAVRINO_MAP_ENTRY(WM_SHOWWINDOW, 0, MessageReply::kDefault, ShowWindow, OnShowWindow)
#define ON_WM_DESTROY() TAVRINO_MAP_ENTRY(WM_DESTROY, 0, MessageReply::kDefault, Plain, OnDestroy)
#define ON_WM_TIMECHANGE() \
    TAVRINO_MAP_ENTRY(WM_TIMECHANGE, 0, MessageReply::kDefault, Plain, OnTimeChange)
// The power event (PBT_...) only; the system's own answer follows.
#define ON_WM_POWERBROADCAST()                                                      \
    TAVRINO_MAP_ENTRY(WM_POWERBROADCAST, 0, MessageReply::kDefault, PowerBroadcast, \
                      OnPowerBroadcast)
// A change of the system's settings: the flag and the area's name (null when none),
// "Policy" when Group Policy has been applied again.
#define ON_WM_SETTINGCHANGE() \
    TAVRINO_MAP_ENTRY(WM_SETTINGCHANGE, 0, MessageReply::kDefault, SettingChange, OnSettingChange)
// A close request that the handler answers itself: the dialog manager would turn it
// into IDCANCEL.
#define ON_WM_CLOSE() TAVRINO_MAP_ENTRY(WM_CLOSE, 0, MessageReply::kResult, Plain, OnClose)
#define ON_WM_SYSCOMMAND() \
    TAVRINO_MAP_ENTRY(WM_SYSCOMMAND, 0, MessageReply::kResult, SysCommand, OnSysCommand)
#define ON_WM_PAINT() TAVRINO_MAP_ENTRY(WM_PAINT, 0, MessageReply::kResult, Plain, OnPaint)
#define ON_WM_QUERYDRAGICON() \
    TAVRINO_MAP_ENTRY(WM_QUERYDRAGICON, 0, MessageReply::kDirect, QueryDragIcon, OnQueryDragIcon)
#define ON_COMMAND(id, handler) \
    TAVRINO_MAP_ENTRY(WM_COMMAND, id, MessageReply::kResult, Plain, handler)
#define ON_CBN_SELCHANGE(id, handler)                                               \
    TAVRINO_MAP_ENTRY(WM_COMMAND, static_cast<UINT>(MAKELONG((id), CBN_SELCHANGE)), \
                      MessageReply::kResult, Plain, handler)
#define ON_MESSAGE(message, handler) \
    TAVRINO_MAP_ENTRY(PrivateMessage<(message)>(), 0, MessageReply::kResult, Message, handler)
#define END_MESSAGE_MAP()                    \
    { 0, 0, MessageReply::kResult, nullptr } \
    }                                        \
    ;
