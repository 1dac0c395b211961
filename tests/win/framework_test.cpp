// The framework's Windows side: code page 932 texts at the Win32 boundary, the
// string table, the application's name, message boxes, handle owners, threads,
// sockets and the DLL search; and start-up's one-copy mutex, which rests on them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "app/clock_app_win.h"
#include "framework/afx_win.h"
#include "framework/clock_win.h"
#include "framework/handles_win.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "framework/system_dll_win.h"
#include "framework/text_win.h"
#include "framework/thread_win.h"
#include "res/string_ids.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_driver_win.h"

// After windows.h.
#include <sddl.h>

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

// The restriction's calls, through fakes that record them.
struct DllSearchRecord {
    bool answers[2] = {true, true};  // SetDefaultDllDirectories', SetDllDirectory's
    DWORD flags = 0;
    std::wstring folder = L"(not called)";
} dllSearch;
BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
    dllSearch.flags = flags;
    return dllSearch.answers[0];
}
BOOL WINAPI FakeSetDllDirectory(LPCWSTR folder) {
    dllSearch.folder = folder ? folder : L"(null)";
    return dllSearch.answers[1];
}

TEST(DllSearch, SystemFolderOnlyWhereWindowsCanElseWithoutTheCurrentFolder) {
    const DWORD system32 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    struct Case {
        bool hasDefault;  // Windows 8 and later, or 7 with KB2533623
        bool answers[2];
        DllSearch result;
        const wchar_t* folder;  // empty, not null: null would put the current folder back
    };
    for (const Case& c : {Case{true, {true, true}, DllSearch::kSystemFolderOnly, L"(not called)"},
                          Case{true, {false, true}, DllSearch::kWithoutCurrentFolder, L""},
                          Case{false, {true, true}, DllSearch::kWithoutCurrentFolder, L""},
                          Case{false, {true, false}, DllSearch::kUnrestricted, L""}}) {
        SCOPED_TRACE(::testing::Message() << c.hasDefault << c.answers[0] << c.answers[1]);
        dllSearch = DllSearchRecord{{c.answers[0], c.answers[1]}};
        const DllSearchCalls calls{c.hasDefault ? &FakeSetDefaultDllDirectories : nullptr,
                                   &FakeSetDllDirectory};
        EXPECT_EQ(RestrictDllSearch(calls), c.result);
        EXPECT_EQ(dllSearch.flags, c.hasDefault ? system32 : 0);
        EXPECT_EQ(dllSearch.folder, c.folder);
        // The system DLLs' dependencies: from the system folder, where Windows can say so.
        EXPECT_EQ(SystemFolderLoadFlags(calls), c.hasDefault ? system32 : 0);
    }
}

// Run in a copy of this program by the test below, which the variable tells whether
// to restrict the search first; the exit code tells whether the planted DLL came.
TEST(DllSearchProbe, LoadsTheDllBesideTheProgramByName) {
    wchar_t mode[16] = {};
    if (!GetEnvironmentVariableW(L"TAVRINO_DLL_PROBE", mode, 16))
        GTEST_SKIP() << "run by DllSearch.*";
    if (std::wstring(mode) == L"restricted") RestrictDllSearchToSystemFolder();
    // Its entry point not run, and no detaching at the end: a copy of a program planted.
    const bool loaded = LoadLibraryExW(L"tavplant.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    TerminateProcess(GetCurrentProcess(), loaded ? 0x7A01 : 0x7A02);
}

TEST(DllSearch, ADllBesideTheProgramIsLoadedOnlyUntilTheSearchIsRestricted) {
    TempDir dir;
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileW(self, Wide(dir.File("probe.exe")).c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(self, Wide(dir.File("tavplant.dll")).c_str(), TRUE));
    const ScopedWorkingDirectory there(dir.Path());  // the current folder too
    const auto probe = [&dir](const wchar_t* mode) {
        SetEnvironmentVariableW(L"TAVRINO_DLL_PROBE", mode);
        Program copy;
        const bool started = copy.Start(dir.File("probe.exe"), "--gtest_filter=DllSearchProbe.*");
        SetEnvironmentVariableW(L"TAVRINO_DLL_PROBE", nullptr);
        return started && copy.WaitForExit(60000) ? copy.ExitCode() : 0;
    };
    // A DLL of a name that the system has not is found by the plain search...
    EXPECT_EQ(probe(L"plain"), 0x7A01u);
    // ...and not once the search is the system folder's.
    EXPECT_EQ(probe(L"restricted"), 0x7A02u);
}

// A mutex of the name that this process may not open: a DACL that grants nothing
// stands in for another account's (Wine checks it as Windows does).
HANDLE CreateForeignMutex(const std::wstring& name) {
    PSECURITY_DESCRIPTOR nothing = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &nothing,
                                                              nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nothing, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, name.c_str());
    LocalFree(nothing);
    return mutex;
}

// The elevation offer answered with an administrator's password starts the new
// instance under another account than the first one's: started by hand it gives up at
// once; started by the offer it waits the hand-over time for the first one's end, and
// takes the mutex over within a retry of that end.
TEST(OneCopyMutex, AnotherAccountsInstanceIsThereAndItsEndIsAwaitedOnlyWhenOffered) {
    const std::wstring name = L"TavrinoTest.OneCopy." + std::to_wstring(GetCurrentProcessId());
    struct Case {
        bool byOffer;
        DWORD handOverMs, firstEndsMs;  // 0: the first instance stays
        bool taken;
        DWORD atLeastMs, belowMs;
    };
    for (const Case& c :
         {Case{false, 5000, 0, false, 0, 1000}, Case{true, 700, 0, false, 650, 5000},
          Case{true, 5000, 400, true, 350, 1400}}) {
        SCOPED_TRACE(::testing::Message() << c.byOffer << " " << c.handOverMs);
        ScopedHandle foreign(CreateForeignMutex(name)), held;
        ASSERT_TRUE(foreign);
        std::thread first([&foreign, &c] {
            Sleep(c.firstEndsMs);
            if (c.firstEndsMs) foreign.Reset();
        });
        const DWORD start = GetTickCount();
        EXPECT_EQ(AcquireInstanceMutex(name, c.byOffer, held, c.handOverMs), c.taken);
        const DWORD waited = GetTickCount() - start;
        first.join();
        EXPECT_GE(waited, c.atLeastMs);
        EXPECT_LT(waited, c.belowMs);
        EXPECT_EQ(static_cast<bool>(held), c.taken);
    }
}

}  // namespace
