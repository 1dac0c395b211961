// The framework's Windows side: code page 932 texts at the Win32 boundary, the
// string table, the application's name, message boxes, handle owners, threads,
// sockets and the DLL search; and start-up's one-copy mutex, which rests on them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
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

// The calls the DLL search restriction made through fakes.
struct DllSearchRecord {
    int defaultCalls = 0;
    DWORD defaultFlags = 0;
    bool defaultAnswer = true;
    int directoryCalls = 0;
    std::wstring directory = L"(none)";
    bool directoryAnswer = true;
};
DllSearchRecord dllSearch;

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
    ++dllSearch.defaultCalls;
    dllSearch.defaultFlags = flags;
    return dllSearch.defaultAnswer ? TRUE : FALSE;
}
BOOL WINAPI FakeSetDllDirectory(LPCWSTR folder) {
    ++dllSearch.directoryCalls;
    dllSearch.directory = folder ? folder : L"(null)";
    return dllSearch.directoryAnswer ? TRUE : FALSE;
}

TEST(DllSearch, SystemFolderOnlyWhereWindowsCanElseWithoutTheCurrentFolder) {
    struct Case {
        bool hasDefault;  // Windows 8 and later, or 7 with KB2533623
        bool defaultAnswer, directoryAnswer;
        DllSearch result;
        int directoryCalls;
    };
    for (const Case& c : {Case{true, true, true, DllSearch::kSystemFolderOnly, 0},
                          Case{true, false, true, DllSearch::kWithoutCurrentFolder, 1},
                          Case{false, true, true, DllSearch::kWithoutCurrentFolder, 1},
                          Case{false, true, false, DllSearch::kUnrestricted, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.hasDefault << c.defaultAnswer << c.directoryAnswer);
        dllSearch = DllSearchRecord{};
        dllSearch.defaultAnswer = c.defaultAnswer;
        dllSearch.directoryAnswer = c.directoryAnswer;
        const DllSearchCalls calls{c.hasDefault ? &FakeSetDefaultDllDirectories : nullptr,
                                   &FakeSetDllDirectory};
        EXPECT_EQ(RestrictDllSearch(calls), c.result);
        EXPECT_EQ(dllSearch.defaultCalls, c.hasDefault ? 1 : 0);
        EXPECT_EQ(dllSearch.defaultFlags, c.hasDefault ? DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32} : 0);
        EXPECT_EQ(dllSearch.directoryCalls, c.directoryCalls);
        // An empty folder, not null: null would put the current folder back.
        EXPECT_EQ(dllSearch.directory, c.directoryCalls ? L"" : L"(none)");
        // The system DLLs' dependencies: from the system folder, where Windows can say so.
        EXPECT_EQ(SystemFolderLoadFlags(calls),
                  c.hasDefault ? DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32} : 0);
    }
    // Wine's kernel32, as Windows 8 and later, has it.
    EXPECT_NE(Kernel32DllSearchCalls().setDefaultDllDirectories, nullptr);
    EXPECT_NE(SystemFunction(L"user32.dll", "MessageBoxW"), nullptr);
    EXPECT_EQ(SystemFunction(L"user32.dll", "NoSuchFunction"), nullptr);
}

// A DLL of this machine's kind without code: headers and one empty data section.
std::string CodelessDll() {
    constexpr DWORD kFileAlignment = 0x200;
    constexpr DWORD kSectionAlignment = 0x1000;
    IMAGE_DOS_HEADER dos{};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = sizeof(dos);
    IMAGE_NT_HEADERS nt{};
    nt.Signature = IMAGE_NT_SIGNATURE;
#ifdef _WIN64
    nt.FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    nt.FileHeader.Characteristics =
        IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL | IMAGE_FILE_LARGE_ADDRESS_AWARE;
#else
    nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
    nt.FileHeader.Characteristics =
        IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL | IMAGE_FILE_32BIT_MACHINE;
#endif
    nt.FileHeader.NumberOfSections = 1;
    nt.FileHeader.SizeOfOptionalHeader = sizeof(nt.OptionalHeader);
    IMAGE_OPTIONAL_HEADER& optional = nt.OptionalHeader;
    optional.Magic = IMAGE_NT_OPTIONAL_HDR_MAGIC;
    optional.ImageBase = 0x6A000000;
    optional.SectionAlignment = kSectionAlignment;
    optional.FileAlignment = kFileAlignment;
    optional.MajorOperatingSystemVersion = 6;
    optional.MajorSubsystemVersion = 6;
    optional.SizeOfInitializedData = kFileAlignment;
    optional.SizeOfImage = 2 * kSectionAlignment;
    optional.SizeOfHeaders = kFileAlignment;
    optional.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
    optional.DllCharacteristics = IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
    optional.SizeOfStackReserve = 0x100000;
    optional.SizeOfStackCommit = 0x1000;
    optional.SizeOfHeapReserve = 0x100000;
    optional.SizeOfHeapCommit = 0x1000;
    optional.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    IMAGE_SECTION_HEADER section{};
    std::memcpy(section.Name, ".data", 5);
    section.Misc.VirtualSize = kFileAlignment;
    section.VirtualAddress = kSectionAlignment;
    section.SizeOfRawData = kFileAlignment;
    section.PointerToRawData = kFileAlignment;
    section.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;

    std::string image(2 * kFileAlignment, '\0');
    std::memcpy(&image[0], &dos, sizeof(dos));
    std::memcpy(&image[sizeof(dos)], &nt, sizeof(nt));
    std::memcpy(&image[sizeof(dos) + sizeof(nt)], &section, sizeof(section));
    return image;
}

// The probe below runs in a copy of this program, told by the variable whether to
// restrict the search first, and tells by its exit code whether the planted DLL came.
const wchar_t kProbeVariable[] = L"TAVRINO_DLL_PROBE";
const wchar_t kPlantedDll[] = L"tavplant.dll";
constexpr DWORD kProbeLoaded = 0x7A01;
constexpr DWORD kProbeNotLoaded = 0x7A02;
constexpr DWORD kProbeNotRun = 0x7AFF;

TEST(DllSearchProbe, LoadsTheDllBesideTheProgramByName) {
    wchar_t mode[16] = {};
    if (GetEnvironmentVariableW(kProbeVariable, mode, 16) == 0)
        GTEST_SKIP() << "run by DllSearch.* in a copy of this program";
    if (std::wstring(mode) == L"restricted") RestrictDllSearchToSystemFolder();
    ExitProcess(LoadLibraryW(kPlantedDll) ? kProbeLoaded : kProbeNotLoaded);
}

// The probe's exit code in the copy, run with the folder as its current one too.
DWORD RunProbe(const std::wstring& program, const std::wstring& folder, const wchar_t* mode) {
    std::wstring command = L"\"" + program + L"\" --gtest_filter=DllSearchProbe.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    SetEnvironmentVariableW(kProbeVariable, mode);
    const BOOL ok = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, folder.c_str(), &startup, &started);
    SetEnvironmentVariableW(kProbeVariable, nullptr);
    if (!ok) return kProbeNotRun;
    ScopedHandle process(started.hProcess), thread(started.hThread);
    DWORD code = kProbeNotRun;
    if (WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(started.hProcess, kProbeNotRun);
        WaitForSingleObject(started.hProcess, 5000);
        return kProbeNotRun;
    }
    GetExitCodeProcess(started.hProcess, &code);
    return code;
}

TEST(DllSearch, ADllBesideTheProgramIsLoadedOnlyUntilTheSearchIsRestricted) {
    TempDir dir;
    const std::wstring folder = Wide(dir.Path());
    const std::wstring copy = folder + L"probe.exe";
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), TRUE));
    WriteFileBytes(dir.File("tavplant.dll"), CodelessDll());
    // Beside the program and in the current folder, the DLL of a name that the system
    // has not is found by the plain search...
    EXPECT_EQ(RunProbe(copy, folder, L"plain"), kProbeLoaded);
    // ...and not once the search is the system folder's.
    EXPECT_EQ(RunProbe(copy, folder, L"restricted"), kProbeNotLoaded);
}

// A mutex of the name that this process may not open: a DACL that grants nothing
// stands in for another account's (Wine checks it as Windows does).
HANDLE CreateForeignMutex(const std::wstring& name) {
    SECURITY_DESCRIPTOR descriptor;
    ACL nothing;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(&nothing, sizeof(nothing), ACL_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, &nothing, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
    return CreateMutexW(&attributes, FALSE, name.c_str());
}

// The elevation offer answered with an administrator's password starts the new
// instance under another account than the first one's.
TEST(OneCopyMutex, AnotherAccountsInstanceIsThereAndItsEndIsAwaitedOnlyWhenOffered) {
    const std::wstring name = L"TavrinoTest.OneCopy." + std::to_wstring(GetCurrentProcessId());
    ScopedHandle foreign(CreateForeignMutex(name));
    ASSERT_TRUE(foreign);
    SetLastError(0);
    ASSERT_EQ(CreateMutexW(nullptr, TRUE, name.c_str()), nullptr);
    ASSERT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});

    // Started by hand: "already running", at once.
    ScopedHandle held;
    DWORD start = GetTickCount();
    EXPECT_FALSE(AcquireInstanceMutex(name, false, held));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(held);

    // Started by the offer, and the first instance stays: given up after the hand-over
    // time, not before.
    start = GetTickCount();
    EXPECT_FALSE(AcquireInstanceMutex(name, true, held, 700));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 650u);
    EXPECT_LT(waited, 5000u);
    EXPECT_FALSE(held);

    // Started by the offer, and the first instance ends a little later: taken over
    // within a retry of its end.
    std::thread firstEnds([&foreign] {
        Sleep(400);
        foreign.Reset();
    });
    start = GetTickCount();
    EXPECT_TRUE(AcquireInstanceMutex(name, true, held, 5000));
    waited = GetTickCount() - start;
    firstEnds.join();
    EXPECT_GE(waited, 350u);
    EXPECT_LT(waited, 400u + 1000u);
    ASSERT_TRUE(held);
    // Held now: a later copy finds it.
    ScopedHandle later(CreateMutexW(nullptr, TRUE, name.c_str()));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_TRUE(later);
}

}  // namespace
