#include "ui/service_link_win.h"

#include <memory>

#include "framework/thread_win.h"

namespace {

// Shared by the asking thread and the window: whichever ends last frees it.
struct Asking {
    DWORD waitMs = 0;
    ServiceReply reply = ServiceReply::kNoAnswer;
    ServiceAnswer answer;
};

UINT AskProc(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<Asking>> share(static_cast<std::shared_ptr<Asking>*>(parameter));
    Asking& asking = **share;
    asking.reply = AskServiceToAdjust(asking.waitMs, &asking.answer);
    return 0;
}

// Beyond the client's own limit: it gives up by itself before this.
constexpr DWORD kSlackMs = 5000;

}  // namespace

ServiceReply AskServiceWhileWaiting(HWND window, DWORD waitMs, ServiceAnswer* answer) {
    auto asking = std::make_shared<Asking>();
    asking->waitMs = waitMs;
    auto share = std::make_unique<std::shared_ptr<Asking>>(asking);
    std::unique_ptr<CWinThread> thread(
        AfxBeginThread(&AskProc, share.get(), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!thread) return ServiceReply::kNoAnswer;
    thread->m_bAutoDelete = FALSE;
    share.release();  // NOLINT(bugprone-unused-return-value): the thread owns it now
    thread->ResumeThread();

    const bool wasEnabled = window && !EnableWindow(window, FALSE);
    const ULONGLONG deadline = GetTickCount64() + waitMs + kSlackMs;
    HANDLE handle = thread->Handle();
    bool ended = false;
    bool quit = false;
    WPARAM quitCode = 0;
    while (!ended && GetTickCount64() < deadline) {
        const DWORD left = static_cast<DWORD>(deadline - GetTickCount64());
        // Once the program is asked to end, its messages wait for the loop that ends it.
        const DWORD woken = quit ? WaitForSingleObject(handle, left)
                                 : MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            ended = true;
        } else if (woken == WAIT_OBJECT_0 + 1) {
            MSG message;
            while (!quit && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    quit = true;
                    quitCode = message.wParam;
                    break;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        } else {
            break;
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    if (wasEnabled) EnableWindow(window, TRUE);
    if (!ended) return ServiceReply::kNoAnswer;
    *answer = asking->answer;
    return asking->reply;
}
