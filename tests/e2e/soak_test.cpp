// A long run of the real program, its running clock on: rounds of five checks and one
// adjustment that succeed, fail, are cancelled or are refused by the clock in turn. Its
// threads, handles, windows and private bytes must not grow, and its history must hold
// one whole line per command, in order. By default 8 rounds (about a minute);
// TAVRINO_SOAK=full runs 200 (1000 checks, 200 adjustments), TAVRINO_SOAK=N runs N.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/program_copy.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/fake_time_server.h"

// After windows.h.
#include <psapi.h>
#include <tlhelp32.h>

namespace {

// One kind of command: the button, what the fake server does, what the history
// records. The window shows the record's status, the part up to its last ")", or the
// server's time for "OK".
struct Kind {
    const char* name;
    int button;
    SntpScript reply;
    const char* detail;
};

std::vector<Kind> Kinds() {
    SntpScript good, silent, tooLong, noTransmit, hourAhead;
    silent.kind = SntpScript::kSilent;  // waited for until the user cancels
    tooLong.length = 60;
    noTransmit.zeroTransmit = true;
    hourAhead.offset = 3600;  // Wine refuses a step of half a second or more
    return {
        // Checks: good, failing, cancelled, failing.
        {"check good", IDC_CHECK, good, "OK"},
        {"check kiss-o'-death", IDC_CHECK, SntpScript::KissOfDeath("RATE"),
         "ERROR (SNTP: Kiss-o'-Death RATE)"},
        {"check cancelled", IDC_CHECK, silent, "ERROR (UserCancelled):0"},
        {"check too long", IDC_CHECK, tooLong, "ERROR (Recv):10040"},  // WSAEMSGSIZE
        // Adjustments: good, failing, cancelled, refused by the clock.
        {"adjust good", IDC_ADJUST, good, "OK"},
        {"adjust no transmit", IDC_ADJUST, noTransmit, "ERROR (SNTP: Bad Response)"},
        {"adjust cancelled", IDC_ADJUST, silent, "ERROR (UserCancelled):0"},
        {"adjust refused", IDC_ADJUST, hourAhead, "ERROR (localtime-set):1314"},
    };
}
constexpr int kCheckKinds = 4, kAdjustKinds = 4, kChecksPerRound = 5;

const char kOffer[] =
    "パソコンの時計を合わせるには管理者の権限が必要です。\n"
    "管理者として起動し直して、時計を合わせますか？";

// A dialog of the program besides its main window that passes the test, waiting for it.
HWND WaitForDialog(const StartedCopy& program, const std::function<bool(HWND)>& test) {
    for (int waited = 0; waited <= kCommandMs; waited += 20) {
        for (HWND dialog : program.OtherDialogs(0)) {
            if (test(dialog)) return dialog;
        }
        Sleep(20);
    }
    return nullptr;
}

// One command of the kind against a fresh fake server, as a user answers its boxes;
// lines is what the history held before.
void RunOne(const StartedCopy& program, const Kind& kind, size_t lines) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(kind.reply)) << server.Error();
    program.Click(kind.button);
    if (kind.reply.kind == SntpScript::kSilent) {
        HWND query =
            WaitForDialog(program, [](HWND d) { return GetDlgItem(d, IDC_QUERY_REMAINING); });
        ASSERT_NE(query, nullptr) << "no query dialog";
        PostMessageW(GetDlgItem(query, IDCANCEL), BM_CLICK, 0, 0);
    }
    HistoryLine line;
    ASSERT_TRUE(program.WaitForHistory(lines + 1, &line)) << "no history line, or more than one";
    EXPECT_EQ(line.detail, kind.detail) << line.raw;
    const std::string detail = kind.detail, shown = program.Field(IDC_SERVER_TIME);
    if (detail == "OK") {
        EXPECT_TRUE(IsTimeText(shown)) << shown;
    } else {
        EXPECT_EQ(shown, detail.substr(0, detail.rfind(')') + 1));
    }
    if (kind.button == IDC_ADJUST) {
        // The result notice, closed with Enter rather than waited out.
        HWND notice =
            WaitForDialog(program, [](HWND d) { return GetDlgItem(d, IDC_NOTICE_UPPER); });
        ASSERT_NE(notice, nullptr) << "no result notice";
        const std::string upper = ControlText(notice, IDC_NOTICE_UPPER);
        EXPECT_EQ(upper == "<< ERROR!! >>", detail != "OK") << upper;
        PostMessageW(notice, WM_COMMAND, IDOK, 0);
    }
    if (kind.reply.offset >= 0.5) {
        HWND offer = WaitForDialog(program, [](HWND d) { return MessageBoxText(d) == kOffer; });
        ASSERT_NE(offer, nullptr) << "no offer to start again as administrator";
        PostMessageW(offer, WM_COMMAND, IDNO, 0);
    }
    ASSERT_TRUE(program.WaitForNoOtherDialogs(kCommandMs));
    // A check keeps the PC's time in view a second; the window answers after that.
    ASSERT_TRUE(Responds(program.Window(), kCommandMs));
}

// Handles: one for whatever Wine opens late by itself (none so far); a leak of one per
// command of any kind exceeds it within the short run, where each kind runs twice.
// Private bytes: Wine 8 keeps about 80 bytes for every dialog box with a font and
// controls (a bare DialogBoxIndirectParam does it too), and its heap commits them in
// 64 KiB steps: 192 KiB in the 1200 commands of the long run, which has room for
// about 250 bytes more per command.
constexpr int kHandleSlack = 1;
constexpr long long kPrivateSlack = 512 * 1024;
// Cancelled workers run out within a tenth of a second; the clock ticks on.
constexpr int kSettleMs = 2000;

// What the program holds: its threads; its handles, counted in the system's handle
// table (SystemExtendedHandleInformation), as GetProcessHandleCount and GetGuiResources
// give 0 under Wine; its top-level windows; its private bytes: PrivateUsage or, where
// Wine leaves that at 0 (it reports swap there), the committed private regions.
struct Footprint {
    int threads = 0, handles = 0, windows = 0;
    long long privateBytes = 0;
};

Footprint Measure(DWORD id, HANDLE process) {
    Footprint f;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread{};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot, &thread); more;
         more = Thread32Next(snapshot, &thread)) {
        f.threads += thread.th32OwnerProcessID == id;
    }
    CloseHandle(snapshot);
    f.handles = ProcessHandleCount(id);
    HWND window = nullptr;
    for (int n = 0; n < 100000 && (window = FindWindowExW(nullptr, window, nullptr, nullptr));
         ++n) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        f.windows += owner == id;
    }

    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    f.privateBytes = static_cast<long long>(counters.PrivateUsage);
    MEMORY_BASIC_INFORMATION region{};
    const char* at = nullptr;
    for (int n = 0; counters.PrivateUsage == 0 && n < 100000; ++n) {
        if (VirtualQueryEx(process, at, &region, sizeof region) != sizeof region) break;
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            f.privateBytes += static_cast<long long>(region.RegionSize);
        }
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return f;
}

std::string Describe(const Footprint& f) {
    char text[160];
    std::snprintf(text, sizeof text, "%d threads, %d handles, %d windows, %lld KiB private",
                  f.threads, f.handles, f.windows, f.privateBytes / 1024);
    return text;
}

int Rounds() {
    const char* soak = std::getenv("TAVRINO_SOAK");
    if (!soak || !*soak) return 8;
    if (std::string(soak) == "full") return 200;
    return std::max(1, std::atoi(soak));
}

TEST(Soak, ChecksAndAdjustmentsOfEveryOutcomeLeaveNothingBehind) {
    const std::vector<Kind> kinds = Kinds();
    const int rounds = Rounds();
    StartedCopy program(ServerSettings(kFakeServerAddress, "SNTP") +
                        "CurrentTimeDisplay=1,2,0\r\n");
    ASSERT_NE(program.Window(), nullptr);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.Id());
    ASSERT_NE(process, nullptr);

    std::vector<size_t> ran;  // the kind of each command, in order
    auto run = [&](size_t kind) {
        SCOPED_TRACE(std::string(kinds[kind].name) + ", command " + std::to_string(ran.size() + 1));
        RunOne(program, kinds[kind], ran.size());
        ran.push_back(kind);
    };
    // Warm-up: one of each kind, so that what the first use of sockets, dialogs and
    // message boxes keeps for the process's life is in the baseline.
    for (size_t kind = 0; kind < kinds.size() && !HasFailure(); ++kind) run(kind);
    Sleep(kSettleMs);
    const Footprint before = Measure(program.Id(), process);
    ASSERT_GT(before.threads, 0);
    ASSERT_GT(before.handles, 0) << "no count from the system's handle table";
    ASSERT_GT(before.privateBytes, 0);

    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::minutes(10 + rounds / 5);  // 4 s a round would be slow
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        ASSERT_LT(std::chrono::steady_clock::now() - start, limit) << "round " << round;
        for (int c = 0; c < kChecksPerRound && !HasFailure(); ++c) {
            run(static_cast<size_t>((round * kChecksPerRound + c) % kCheckKinds));
        }
        if (!HasFailure()) run(static_cast<size_t>(kCheckKinds + round % kAdjustKinds));
        if (round % 25 == 24) {  // the trend of a long run, for the record
            Sleep(kSettleMs);
            std::printf("  round %3d: %s\n", round + 1,
                        Describe(Measure(program.Id(), process)).c_str());
        }
    }
    ASSERT_FALSE(HasFailure());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Sleep(kSettleMs);
    const Footprint after = Measure(program.Id(), process);
    CloseHandle(process);
    program.Close();
    std::printf(
        "soak: %d checks and %d adjustments in %.0f s, after a warm-up of %zu\n"
        "  before: %s\n  after:  %s\n",
        rounds * kChecksPerRound, rounds, seconds, kinds.size(), Describe(before).c_str(),
        Describe(after).c_str());
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.windows, before.windows);
    EXPECT_LE(after.handles, before.handles + kHandleSlack);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateSlack);

    // One whole line per command, in order: nothing lost, doubled or mixed.
    const std::string bytes = ReadFileBytes(program.HistoryPath());
    EXPECT_EQ(bytes.substr(bytes.size() - std::min<size_t>(bytes.size(), 2)), "\r\n");
    const std::vector<HistoryLine> lines = program.History();
    ASSERT_EQ(lines.size(), ran.size());
    std::vector<int> whole(kinds.size(), 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        const HistoryLine& l = lines[i];
        const Kind& kind = kinds[ran[i]];
        const bool ok = std::count(l.raw.begin(), l.raw.end(), ',') == 6 && IsTimeText(l.pcTime) &&
                        l.server == kFakeServerAddress && l.protocol == "SNTP" &&
                        l.mode == (kind.button == IDC_CHECK ? "check" : "adjust") &&
                        l.detail == kind.detail && IsTimeText(l.serverTime) == (l.detail == "OK");
        EXPECT_TRUE(ok) << "line " << i + 1 << " (" << kind.name << "): " << l.raw;
        whole[ran[i]] += ok;
    }
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
        std::printf("  %-20s %d lines\n", kinds[kind].name, whole[kind]);
        EXPECT_EQ(whole[kind], std::count(ran.begin(), ran.end(), kind)) << kinds[kind].name;
    }
}

}  // namespace
