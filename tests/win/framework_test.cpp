// The framework's Windows side: code page 932 texts at the Win32 boundary, the
// string table, the application's name, message boxes, handle owners, threads and
// sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "framework/afx_win.h"
#include "framework/clock_win.h"
#include "framework/handles_win.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "framework/text_win.h"
#include "framework/thread_win.h"
#include "res/string_ids.h"
#include "tests/support/dialog_watch_win.h"

namespace {

// "ｷｬﾝｾﾙ" (half-width katakana) and "既に" in code page 932 and in UTF-16.
const char kCancel932[] = "\xB7\xAC\xDD\xBE\xD9";
const wchar_t kCancelWide[] = L"\xFF77\xFF6C\xFF9D\xFF7E\xFF99";
const char kAlready932[] = "\x8A\xF9\x82\xC9";
const wchar_t kAlreadyWide[] = L"\x65E2\x306B";

TEST(CodePage932, ConvertsBothWaysWhateverTheSystemCodePage) {
    EXPECT_EQ(Widen(kCancel932), std::wstring(kCancelWide));
    EXPECT_EQ(Widen(kAlready932), std::wstring(kAlreadyWide));
    EXPECT_EQ(Narrow(kCancelWide), kCancel932);
    EXPECT_EQ(Narrow(kAlreadyWide, 1), "\x8A\xF9");
    EXPECT_EQ(Narrow(L"Tavrino "), "Tavrino ");
    EXPECT_EQ(Widen(""), std::wstring());
    EXPECT_EQ(Narrow(nullptr), "");
    // A lone lead byte does not swallow what follows or run past the end.
    EXPECT_EQ(Widen("\x82").size(), 1u);
}

TEST(StringTable, EntriesReadAsCodePage932) {
    EXPECT_EQ(LoadAppString(IDS_HOST_NOT_FOUND), "HostNotFound");
    EXPECT_EQ(LoadAppString(IDS_TITLE), "Tavrino ");
    EXPECT_EQ(LoadAppString(IDS_EDITOR_FILE), "Quillet.exe");
    EXPECT_EQ(LoadAppString(IDS_VERSION), "Ver.1.00");
    // "は既に起動しています。"
    EXPECT_EQ(LoadAppString(IDS_ALREADY_RUNNING),
              "\x82\xCD\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7"
              "\x81\x42");
    // "（[ESC]ｷｰでｷｬﾝｾﾙ）": full-width brackets, half-width katakana.
    EXPECT_EQ(LoadAppString(IDS_ESC_CANCELS),
              "\x81\x69[ESC]\xB7\xB0\x82\xC5\xB7\xAC\xDD\xBE\xD9\x81\x6A");
    EXPECT_EQ(LoadAppString(999), "");
}

TEST(Application, NameIsTheExecutablesBaseName) { EXPECT_EQ(AfxGetAppName(), "win_tests"); }

TEST(Application, SocketInitialisationCanBeAskedTwice) {
    EXPECT_TRUE(AfxSocketInit());
    EXPECT_TRUE(AfxSocketInit());
}

TEST(OkBox, PlainOkBoxCaptionedWithTheAppNameAndOwnedByTheMainWindow) {
    HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(main, nullptr);
    AfxSetMainWnd(main);
    DialogWatch watch;
    std::string caption, text;
    HWND owner = nullptr;
    BOOL ownerEnabled = TRUE;
    int buttons = 0;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind != DialogEvent::kShown) return;
        caption = DialogWatch::WindowText(event.dialog);
        text = DialogWatch::ItemText(event.dialog, 0xFFFF);  // the box's text control
        owner = GetWindow(event.dialog, GW_OWNER);
        ownerEnabled = IsWindowEnabled(main);
        buttons =
            (GetDlgItem(event.dialog, IDOK) ? 1 : 0) + (GetDlgItem(event.dialog, IDCANCEL) ? 2 : 0);
        PostMessageW(event.dialog, WM_COMMAND, IDOK, 0);
    };
    {
        ScopedContext real(CurrentContext().With(&ShowMessageBox));
        AfxMessageBox("Timer is Error.");
    }
    AfxSetMainWnd(nullptr);

    EXPECT_EQ(caption, "win_tests");
    EXPECT_EQ(text, "Timer is Error.");
    EXPECT_EQ(owner, main);
    EXPECT_FALSE(ownerEnabled);  // disabled while the box runs
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(buttons, 1);  // OK only
    DestroyWindow(main);
}

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(HandleOwner, ClosesWhatItHoldsOnceAndTakesBothFailureValuesForNothing) {
    // CreateFile and snapshots fail with INVALID_HANDLE_VALUE, which is also the
    // current process's pseudo handle: never closed.
    ScopedHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid);
    EXPECT_TRUE(invalid.Close());
    EXPECT_FALSE(ScopedHandle());

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ScopedHandle first(event);
    ScopedHandle second(std::move(first));  // the move leaves the first empty
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), event);
    EXPECT_TRUE(IsOpen(event));
    second.Reset();
    EXPECT_FALSE(IsOpen(event));
    EXPECT_TRUE(second.Close());  // nothing left to close

    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(kept, nullptr);
    {
        ScopedHandle owner(kept);
        EXPECT_EQ(owner.Detach(), kept);
    }
    EXPECT_TRUE(IsOpen(kept));
    { ScopedHandle owner(kept); }
    EXPECT_FALSE(IsOpen(kept));
}

std::atomic<int> ranWith{0};
UINT RecordParameter(LPVOID parameter) {
    ranWith = *static_cast<int*>(parameter);
    return 7;
}

TEST(WorkerThread, CreatedSuspendedRunsOnlyWhenResumed) {
    int parameter = 42;
    ranWith = 0;
    std::unique_ptr<CWinThread> thread(
        AfxBeginThread(&RecordParameter, &parameter, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    Sleep(100);
    EXPECT_EQ(ranWith.load(), 0);
    EXPECT_EQ(thread->ResumeThread(), 1u);
    ASSERT_EQ(WaitForSingleObject(thread->Handle(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread->Handle(), &code);
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(ranWith.load(), 42);
}

std::atomic<int> runs{0};
UINT CountRun(LPVOID) {
    ++runs;
    return 0;
}

TEST(WorkerThread, OwnerMayDeleteTheObjectBeforeTheThreadHasBegun) {
    // A query dialog lets go of its worker's object at once when cancelled at once.
    runs = 0;
    for (int i = 0; i < 50; ++i) {
        std::unique_ptr<CWinThread> thread(
            AfxBeginThread(&CountRun, nullptr, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
        ASSERT_NE(thread, nullptr);
        thread->m_bAutoDelete = FALSE;
        thread->ResumeThread();
    }
    for (int wait = 0; wait < 250 && runs.load() < 50; ++wait) Sleep(20);
    EXPECT_EQ(runs.load(), 50);
}

TEST(WorkerThread, AutoDeletedThreadCleansUpAfterItself) {
    int parameter = 5;
    ranWith = 0;
    int before = ProcessHandleCount();
    ASSERT_NE(AfxBeginThread(&RecordParameter, &parameter), nullptr);
    for (int wait = 0; wait < 100 && ranWith.load() == 0; ++wait) Sleep(20);
    EXPECT_EQ(ranWith.load(), 5);
    int after = -1;
    for (int wait = 0; wait < 100; ++wait) {
        after = ProcessHandleCount();
        if (after <= before) break;
        Sleep(20);
    }
    if (before >= 0) {
        EXPECT_LE(after, before);
    }
}

// Readers standing in for kernel32's: a tick at a fixed time, and a precise clock that
// reads it plus an offset.
constexpr long long kTickTime = 130000000000000000LL;
long long preciseOffset = 0;
void Put(long long time, LPFILETIME now) {
    *now = FILETIME{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
}
VOID WINAPI FakeTick(LPFILETIME now) { Put(kTickTime, now); }
VOID WINAPI FakePrecise(LPFILETIME now) { Put(kTickTime + preciseOffset, now); }
FARPROC Windows7(const char*) { return nullptr; }
FARPROC Windows10(const char* name) {
    return std::string(name) == "GetSystemTimePreciseAsFileTime"
               ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakePrecise))
               : nullptr;
}

TEST(PcClock, ReadsThePreciseClockWhereThereIsOneAndItAgreesWithTheTick) {
    struct Case {
        Kernel32Lookup lookup;
        long long offset;  // of the precise clock from the tick, 100 ns units
        long long read;    // what the clock reads, from the tick
    };
    for (const Case& c : {Case{&Windows7, 5, 0}, Case{&Windows10, 5, 5},
                          Case{&Windows10, -999999, -999999}, Case{&Windows10, 1000001, 0},
                          Case{&Windows10, -1000001, 0}}) {
        SCOPED_TRACE(c.offset);
        preciseOffset = c.offset;
        FILETIME now{};
        ReadClockWith(LookUpPreciseClock(c.lookup), &FakeTick, &now);
        EXPECT_EQ((static_cast<long long>(now.dwHighDateTime) << 32 | now.dwLowDateTime) - kTickTime,
                  c.read);
    }
    // Wine's kernel32, as Windows 8 and later, has the precise clock.
    EXPECT_STREQ(PlatformClockFunction(), "GetSystemTimePreciseAsFileTime");
}

}  // namespace
