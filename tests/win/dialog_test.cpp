// CDialog on a real template: the message map, dialog data exchange, the ways a
// modal run ends, and the owner that a parentless dialog gets.
#include "framework/dialog_win.h"

#include <gtest/gtest.h>

#include "framework/afx_win.h"
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
    LRESULT OnTimer(WPARAM wParam, LPARAM) {
        if (wParam == 3 && ++m_nTimerTicks == 2) {
            KillTimer(3);
            m_strReadBack = GetDlgItemText(IDC_QUERY_SERVER);
            SetDlgItemText(IDC_QUERY_SERVER, "time.example.jp");
            SetDlgItemText(IDC_QUERY_REMAINING, "31");
            OnOK();  // reads the controls back
        }
        return 0;
    }
    LRESULT OnPrivate(WPARAM wParam, LPARAM) {
        m_nPrivateWParam = static_cast<int>(wParam);
        return 0;
    }

    DECLARE_MESSAGE_MAP(CProbeDlg)
};

BEGIN_MESSAGE_MAP(CProbeDlg)
    ON_MESSAGE(WM_TIMER, OnTimer)
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

}  // namespace
