// CDialog on a real template: the message map, dialog data exchange, the ways a
// modal run ends, the owner that a parentless dialog gets, and the timer owner.
#include "framework/dialog_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "framework/afx_win.h"
#include "framework/timer_win.h"
#include "res/resource.h"
#include "tests/support/dialog_watch_win.h"

namespace {

constexpr UINT WM_TEST_PRIVATE = WM_APP + 7;

class CProbeDlg : public CDialog {
  public:
    CProbeDlg() : CDialog(IDD_QUERY) {}
    CString m_strServer = "ntp.example.jp";
    int m_nRemaining = -12;
    int m_nTimerTicks = 0;
    int m_nPrivateWParam = 0;
    bool m_bCancelled = false;
    CString m_strReadBack;

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SetTimer(3, 50);
        PostMessageW(m_hWnd, WM_TEST_PRIVATE, 99, 0);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, IDC_QUERY_SERVER, m_strServer);
        DDX_Text(pDX, IDC_QUERY_REMAINING, m_nRemaining);
    }
    void OnCancel() override {
        m_bCancelled = true;
        CDialog::OnCancel();
    }
    void OnTimer(UINT_PTR id) {
        if (id == 3 && ++m_nTimerTicks == 2) {
            KillTimer(3);
            m_strReadBack = GetDlgItemText(IDC_QUERY_SERVER);
            SetDlgItemText(IDC_QUERY_SERVER, "time.example.jp");
            SetDlgItemText(IDC_QUERY_REMAINING, "31");
            OnOK();  // reads the controls back
        }
    }
    LRESULT OnPrivate(WPARAM wParam, LPARAM) {
        m_nPrivateWParam = static_cast<int>(wParam);
        return 0;
    }

    DECLARE_MESSAGE_MAP(CProbeDlg)
};

BEGIN_MESSAGE_MAP(CProbeDlg)
    ON_WM_TIMER()
    ON_MESSAGE(WM_TEST_PRIVATE, OnPrivate)
END_MESSAGE_MAP()

TEST(Dialog, MessageMapAndDataExchangeBothWays) {
    CProbeDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_strReadBack, "ntp.example.jp");  // members into the controls
    EXPECT_EQ(dialog.m_strServer, "time.example.jp");   // controls back into members
    EXPECT_EQ(dialog.m_nRemaining, 31);
    EXPECT_EQ(dialog.m_nTimerTicks, 2);
    EXPECT_EQ(dialog.m_nPrivateWParam, 99);
    EXPECT_FALSE(dialog.m_bCancelled);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(Dialog, EscapeCallsOnCancel) {
    DialogWatch watch;
    watch.onEvent = [](const DialogEvent& event) {
        if (event.kind == DialogEvent::kShown) DialogWatch::PressEscape(event.dialog);
    };
    class CEndless : public CProbeDlg {
        BOOL OnInitDialog() override { return CDialog::OnInitDialog(); }  // no timer
    } dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(dialog.m_bCancelled);
}

// A main window that counts its timer ticks and private messages.
int mainTicks = 0;
int mainPrivate = 0;
LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) ++mainTicks;
    if (message == WM_TEST_PRIVATE) ++mainPrivate;
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(Dialog, ParentlessDialogIsOwnedByTheMainWindowWhichKeepsItsMessages) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &MainProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TavrinoTestMain";
    RegisterClassW(&windowClass);
    HWND main = CreateWindowExW(0, L"TavrinoTestMain", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_SHOW);
    AfxSetMainWnd(main);
    SetTimer(main, 1, 30, nullptr);
    mainTicks = mainPrivate = 0;

    DialogWatch watch;
    HWND owner = nullptr;
    BOOL enabledDuring = TRUE;
    int ticksBefore = 0;
    int shownTicks = 0;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind == DialogEvent::kShown) {
            owner = GetWindow(event.dialog, GW_OWNER);
            enabledDuring = IsWindowEnabled(main);
            ticksBefore = mainTicks;
            PostMessageW(main, WM_TEST_PRIVATE, 0, 0);
        }
        // The probe's second tick (after 100 ms) ends the dialog.
        if (event.kind == DialogEvent::kText) shownTicks = mainTicks - ticksBefore;
    };
    CProbeDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    KillTimer(main, 1);
    AfxSetMainWnd(nullptr);

    EXPECT_EQ(owner, main);
    EXPECT_FALSE(enabledDuring);         // a second click cannot start a second command
    EXPECT_TRUE(IsWindowEnabled(main));  // and it is enabled again afterwards
    EXPECT_GE(shownTicks, 1);            // its timer ran while the dialog did
    EXPECT_EQ(mainPrivate, 1);           // and its private message arrived
    DestroyWindow(main);
}

constexpr UINT WM_TEST_STEP = WM_APP + 8;
constexpr UINT kAboutCommand = 0x0110;  // an item of the program's own in the system menu
constexpr UINT kMenuCommand = 40001;
constexpr int kStuck = 77;  // the dialog did not end by itself in time
constexpr UINT WM_TEST_STUCK = WM_APP + 9;

// Posts WM_TEST_STUCK to a window that is still there after five seconds. A posted
// message comes before paints and timers: it arrives even while a window spins on
// WM_PAINT, which a timer would not.
class Deadline {
  public:
    explicit Deadline(HWND window)
        : m_thread([this, window] {
              std::unique_lock<std::mutex> hold(m_lock);
              if (!m_changed.wait_for(hold, std::chrono::seconds(5), [this] { return m_bEnded; })) {
                  PostMessageW(window, WM_TEST_STUCK, 0, 0);
              }
          }) {}
    ~Deadline() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_bEnded = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bEnded = false;
    std::thread m_thread;  // last: it starts once the rest is made
};

// A dialog with one entry of each kind, recording what its handlers are given. Its
// script runs once it has first been shown (a modal dialog is shown only when its
// queue is first empty). A dialog that does not end within five seconds of that
// ends as stuck.
class CMapProbeDlg : public CDialog {
  public:
    explicit CMapProbeDlg(HWND parent) : CDialog(IDD_MAIN, parent) {}
    std::function<void(CMapProbeDlg&)> m_script;
    std::vector<std::pair<BOOL, UINT>> m_shows;
    std::vector<UINT> m_sysCommands;
    int m_nCommands = 0;
    int m_nPaints = 0;
    bool m_bDestroyed = false;
    bool m_bWindowAtDestroy = false;
    bool m_bCancelled = false;
    HCURSOR m_hDragIcon = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    std::unique_ptr<Deadline> m_deadline;

  protected:
    void OnCancel() override {
        m_bCancelled = true;
        CDialog::OnCancel();
    }
    void OnShowWindow(BOOL shown, UINT status) {
        m_shows.emplace_back(shown, status);
        if (m_shows.size() != 1) return;
        m_deadline = std::make_unique<Deadline>(m_hWnd);
        PostMessageW(m_hWnd, WM_TEST_STEP, 0, 0);
    }
    LRESULT OnStuck(WPARAM, LPARAM) {
        EndDialog(kStuck);
        return 0;
    }
    void OnSysCommand(UINT id, LPARAM lParam) {
        m_sysCommands.push_back(id);
        if (id != kAboutCommand) CDialog::OnSysCommand(id, lParam);
    }
    void OnPaint() {
        ++m_nPaints;
        CDialog::OnPaint();
    }
    HCURSOR OnQueryDragIcon() { return m_hDragIcon; }
    void OnMenuCommand() { ++m_nCommands; }
    LRESULT OnDouble(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam) * 2; }
    LRESULT OnStep(WPARAM, LPARAM) {
        if (m_script) m_script(*this);
        return 0;
    }
    void OnDestroy() {
        m_bDestroyed = true;
        m_bWindowAtDestroy = IsWindow(m_hWnd) != FALSE;
    }

    DECLARE_MESSAGE_MAP(CMapProbeDlg)
};

BEGIN_MESSAGE_MAP(CMapProbeDlg)
    ON_WM_SHOWWINDOW()
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_DESTROY()
    ON_COMMAND(kMenuCommand, OnMenuCommand)
    ON_MESSAGE(WM_TEST_PRIVATE, OnDouble)
    ON_MESSAGE(WM_TEST_STEP, OnStep)
    ON_MESSAGE(WM_TEST_STUCK, OnStuck)
END_MESSAGE_MAP()

// A top-level window to own the probe.
struct OwnerWindow {
    OwnerWindow() {
        window = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, nullptr, nullptr);
        ShowWindow(window, SW_SHOW);
    }
    ~OwnerWindow() { DestroyWindow(window); }
    HWND window;
};

TEST(MessageMap, TypedHandlersAnswerAsTheirMessagesRequire) {
    OwnerWindow owner;
    ASSERT_NE(owner.window, nullptr);
    CMapProbeDlg dialog(owner.window);
    LRESULT dragIcon = 0, doubled = 0;
    BOOL leftToPaint = TRUE;
    dialog.m_script = [&](CMapProbeDlg& probe) {
        HWND window = probe.GetSafeHwnd();
        // A handle comes back as the dialog procedure's own value, a private
        // message's result through DWLP_MSGRESULT.
        dragIcon = SendMessageW(window, WM_QUERYDRAGICON, 0, 0);
        doubled = SendMessageW(window, WM_TEST_PRIVATE, 21, 0);
        // A menu item, an accelerator and a click are commands; a control's other
        // notifications on the same id are not.
        LPARAM control = reinterpret_cast<LPARAM>(probe.GetDlgItem(IDOK));
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuCommand, 0), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuCommand, 1), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuCommand, BN_CLICKED), control);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuCommand, LBN_SELCHANGE), control);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(kMenuCommand, EN_CHANGE), control);
        // A paint handler that leaves the painting to the system gets it done.
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        leftToPaint = GetUpdateRect(window, nullptr, FALSE);
        // The system's own bits of a system command are masked off. The program's own
        // item is answered by the handler; the close command goes on to the system,
        // which closes the dialog as the Esc key would.
        PostMessageW(window, WM_SYSCOMMAND, kAboutCommand | 0x3, 0);
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);

    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(dialog.m_hDragIcon));
    EXPECT_NE(dialog.m_hDragIcon, nullptr);
    EXPECT_EQ(doubled, 42);
    EXPECT_EQ(dialog.m_nCommands, 3);
    EXPECT_GE(dialog.m_nPaints, 1);
    EXPECT_FALSE(leftToPaint);
    EXPECT_EQ(dialog.m_sysCommands, (std::vector<UINT>{kAboutCommand, SC_CLOSE}));
    EXPECT_TRUE(dialog.m_bCancelled);
}

TEST(MessageMap, NotificationsKeepTheDialogManagersOwnHandling) {
    OwnerWindow owner;
    ASSERT_NE(owner.window, nullptr);
    CMapProbeDlg dialog(owner.window);
    BOOL visibleAfterParentClosing = TRUE;
    dialog.m_script = [&](CMapProbeDlg& probe) {
        // As the owner's closing tells its popups: the handler sees it, and then the
        // system hides the dialog, which tells the handler in turn.
        SendMessageW(probe.GetSafeHwnd(), WM_SHOWWINDOW, FALSE, SW_PARENTCLOSING);
        visibleAfterParentClosing = IsWindowVisible(probe.GetSafeHwnd());
        probe.EndDialog(IDOK);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);

    ASSERT_GE(dialog.m_shows.size(), 3u);
    EXPECT_EQ(dialog.m_shows[0], std::make_pair(TRUE, 0u));  // shown
    EXPECT_EQ(dialog.m_shows[1], std::make_pair(FALSE, static_cast<UINT>(SW_PARENTCLOSING)));
    EXPECT_EQ(dialog.m_shows[2], std::make_pair(FALSE, 0u));  // hidden by the system
    EXPECT_FALSE(visibleAfterParentClosing);
    // The destroy handler ran on the living window, and the window went all the same.
    EXPECT_TRUE(dialog.m_bDestroyed);
    EXPECT_TRUE(dialog.m_bWindowAtDestroy);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

// A dialog with a timer owner, whose window timers fail on cue and record the kills.
class CTimerProbeDlg : public CDialog {
  public:
    CTimerProbeDlg() : CDialog(IDD_QUERY) {}
    CDialogTimer m_tick{this, 5};
    bool m_bFailSet = false;
    bool m_bFailKill = false;
    std::vector<UINT_PTR> m_kills;  // the timers KillTimer was asked to end
    std::vector<bool> m_checks;     // what each step found, in order
    int m_nTicks = 0;
    std::unique_ptr<Deadline> m_deadline;

    UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) override {
        return m_bFailSet ? 0 : CDialog::SetTimer(id, milliseconds);
    }
    BOOL KillTimer(UINT_PTR id) override {
        m_kills.push_back(id);
        return m_bFailKill ? FALSE : CDialog::KillTimer(id);
    }

  protected:
    BOOL OnInitDialog() override {
        m_deadline = std::make_unique<Deadline>(m_hWnd);
        m_bFailSet = true;
        m_checks.push_back(m_tick.Set(20));      // false
        m_checks.push_back(m_tick.IsRunning());  // false
        m_bFailSet = false;
        m_checks.push_back(m_tick.Set(20));  // true
        return TRUE;
    }
    void OnTimer(UINT_PTR id) {
        if (id != m_tick.Id()) return;
        if (++m_nTicks == 1) {
            m_bFailKill = true;
            m_checks.push_back(m_tick.Kill());       // false
            m_checks.push_back(m_tick.IsRunning());  // true: the system said no
            m_bFailKill = false;
            m_checks.push_back(m_tick.Kill());       // true
            m_checks.push_back(m_tick.IsRunning());  // false
            m_checks.push_back(m_tick.Kill());       // true: nothing ran
            {
                CDialogTimer local(this, 6);
                m_checks.push_back(local.Set(1000));  // true; killed when it goes
            }
            m_checks.push_back(m_tick.Set(20));  // true
        } else {
            EndDialog(IDOK);  // with the tick still running
        }
    }
    LRESULT OnStuck(WPARAM, LPARAM) {
        EndDialog(kStuck);
        return 0;
    }

    DECLARE_MESSAGE_MAP(CTimerProbeDlg)
};

BEGIN_MESSAGE_MAP(CTimerProbeDlg)
    ON_WM_TIMER()
    ON_MESSAGE(WM_TEST_STUCK, OnStuck)
END_MESSAGE_MAP()

TEST(DialogTimer, RunsOnlyWhatTheSystemStartedAndEndsWithItsWindow) {
    CTimerProbeDlg dialog;
    EXPECT_FALSE(dialog.m_tick.Set(20));  // no window yet
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_checks,
              (std::vector<bool>{false, false, true, false, true, true, false, true, true, true}));
    EXPECT_EQ(dialog.m_nTicks, 2);
    // Failed kill, kill, the local owner's end, the window's end.
    EXPECT_EQ(dialog.m_kills, (std::vector<UINT_PTR>{5, 5, 6, 5}));
    EXPECT_FALSE(dialog.m_tick.IsRunning());
    EXPECT_FALSE(dialog.m_tick.Set(20));  // no window any more
}

TEST(DialogTimer, OutlivingItsDialogLeavesItHoldingNothing) {
    auto dialog = std::make_unique<CDialog>(IDD_QUERY);
    CDialogTimer timer(dialog.get(), 1);
    dialog.reset();
    EXPECT_FALSE(timer.Set(20));
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_TRUE(timer.Kill());
}

}  // namespace
