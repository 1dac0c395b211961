// Measures Tavrino.exe under Wine from another process, each figure against a floor
// program started in the same run, and prints Markdown table rows:
//   | figure | Tavrino | floor/peer | ratio or error | notes |
//
//   wine_driver check   TAVRINO_EXE FLOOR_EXE ROUNDS   Check click to server time shown
//   wine_driver idle    TAVRINO_EXE FLOOR_EXE SECONDS  working set, private bytes, CPU
//   wine_driver startup TAVRINO_EXE FLOOR_EXE ROUNDS   process start to window visible
//   wine_driver startup-nts NTS_EXE PLAIN_EXE ROUNDS   the same, the program against itself
//
// check: FLOOR_EXE is the SNTP dialog (one blocking exchange on its window's thread);
// idle and startup: the minimal dialog. startup-nts: two copies of the program, the
// first with nts=1 in its profile and TavrinoNts.dll beside it, the second with nts=0;
// it also tells whether the DLL was loaded once the window was visible, and, to show
// that this look can see the DLL at all, whether it is loaded after one Check. Each program is found by the window property
// it carries (Tavrino's is its executable's base name). The two programs take turns
// round by round, and each round changes which goes first. Every wait is bounded; the
// started programs belong to a job that ends them should this driver end early.
// Exit status 0 when the rows were printed, 1 when the figure could not be measured
// (an error row is printed then too), 2 on a usage error.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_driver_win.h"

// psapi.h after windows.h (pulled in by the driver's header).
#include <psapi.h>

namespace {

constexpr int kWindowWaitMs = 30000;
constexpr int kCheckDeadlineMs = 10000;
constexpr int kStartDeadlineMs = 30000;
constexpr int kExitWaitMs = 10000;
constexpr int kMaxRounds = 1000;
constexpr int kMaxSeconds = 600;
const char kTavrinoProperty[] = "Tavrino";
const char kMinDialogProperty[] = "TavrinoMinDialog";
const char kSntpDialogProperty[] = "TavrinoSntpDialog";
const char kConnecting[] = "connecting...";
const wchar_t kSentinel[] = L"(bench)";
const char kSentinelUtf8[] = "(bench)";

HANDLE job = nullptr;

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// ---- distributions and rows ----

struct Stats {
    size_t count = 0;
    double median = 0;
    double p90 = 0;
    double worst = 0;
};

Stats Summarise(std::vector<double> values) {
    Stats s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    // The nearest-rank 90th percentile.
    size_t rank = static_cast<size_t>(std::ceil(0.9 * static_cast<double>(n)));
    s.p90 = values[std::max<size_t>(rank, 1) - 1];
    s.worst = values.back();
    return s;
}

std::string Ms(double ms) { return Format(ms < 10 ? "%.2f ms" : "%.1f ms", ms); }

std::string MsDistribution(const Stats& s) {
    return "median " + Ms(s.median) + ", p90 " + Ms(s.p90) + ", worst " + Ms(s.worst) +
           " (n=" + std::to_string(s.count) + ")";
}

std::string MiB(double bytes) { return Format("%.2f MiB", bytes / (1024.0 * 1024.0)); }

std::string MiBDistribution(const Stats& s) {
    return "median " + MiB(s.median) + ", p90 " + MiB(s.p90) + ", worst " + MiB(s.worst) +
           " (n=" + std::to_string(s.count) + ")";
}

std::string Ratio(double ours, double floor) {
    if (!(floor > 0)) return "n/a (floor is 0)";
    return Format("%.2fx", ours / floor);
}

void Row(const std::string& figure, const std::string& ours, const std::string& floor,
         const std::string& ratio, const std::string& notes) {
    std::printf("| %s | %s | %s | %s | %s |\n", figure.c_str(), ours.c_str(), floor.c_str(),
                ratio.c_str(), notes.c_str());
    std::fflush(stdout);
}

void ErrorRow(const std::string& figure, const std::string& why) {
    Row(figure, "not measured", "-", "error: " + why, "-");
}

// ---- started programs ----

// A program this driver started, ended (forcibly if need be) when the object goes.
class Child {
  public:
    Child() = default;
    ~Child() { End(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts the program; false when it cannot start. started is the counter's time
    // just before CreateProcess.
    bool Start(const std::string& path, double* started = nullptr) {
        End();
        std::wstring line = L"\"" + Wide(path) + L"\"";
        std::vector<wchar_t> buffer(line.begin(), line.end());
        buffer.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (started) *started = NowMs();
        if (!CreateProcessW(Wide(path).c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &m_info)) {
            m_info = PROCESS_INFORMATION{};
            return false;
        }
        if (job) AssignProcessToJobObject(job, m_info.hProcess);
        return true;
    }

    HANDLE Handle() const { return m_info.hProcess; }
    DWORD Id() const { return m_info.dwProcessId; }
    bool Running() const {
        return m_info.hProcess && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
    }

    // Closes the program with the window's OK (Close) button; true when it ended by
    // itself within the wait.
    bool Close(HWND window) {
        if (!m_info.hProcess) return true;
        if (window && Running()) {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        }
        const bool ended = WaitForSingleObject(m_info.hProcess, kExitWaitMs) == WAIT_OBJECT_0;
        End();
        return ended;
    }

  private:
    void End() {
        if (!m_info.hProcess) return;
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
        m_info = PROCESS_INFORMATION{};
    }

    PROCESS_INFORMATION m_info{};
};

// A job that ends every program in it when its last handle closes, so that programs
// do not outlive a driver that is itself ended early.
void CreateJob() {
    job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
}

// ---- 5. Check click to server time shown ----

struct CheckResult {
    bool ok = false;
    double ms = 0;
    std::string text;
};

// A message box of the process other than its main window, or null.
HWND MessageBoxOf(HWND window, DWORD processId) {
    for (HWND dialog : WaitForDialogs(processId, 0)) {
        if (dialog != window && GetDlgItem(dialog, 0xFFFF)) return dialog;
    }
    return nullptr;
}

// Puts a mark into the server-time field, posts the Check click and waits, looking
// every millisecond, until the field holds neither the mark nor "connecting...".
CheckResult MeasureCheck(HWND window, DWORD processId) {
    CheckResult result;
    HWND field = GetDlgItem(window, IDC_SERVER_TIME);
    DWORD_PTR ignored = 0;
    if (!field || !SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kSentinel),
                                       SMTO_ABORTIFHUNG, 5000, &ignored)) {
        result.text = "the server-time field cannot be marked";
        return result;
    }
    const double start = NowMs();
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHECK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_CHECK)));
    double lastLook = start;
    for (;;) {
        const std::string text = ControlText(window, IDC_SERVER_TIME);
        const double now = NowMs();
        if (!text.empty() && text != kSentinelUtf8 && text != kConnecting) {
            result.ms = now - start;
            result.text = text;
            result.ok = text.compare(0, 5, "ERROR") != 0;
            return result;
        }
        if (now - lastLook >= 50) {
            lastLook = now;
            if (HWND box = MessageBoxOf(window, processId)) {
                result.text = "message box: " + MessageBoxText(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return result;
            }
        }
        if (now - start > kCheckDeadlineMs) {
            result.text = "no result within " + std::to_string(kCheckDeadlineMs) + " ms";
            return result;
        }
        Sleep(1);
    }
}

int RunCheck(const std::string& tavrinoExe, const std::string& floorExe, int rounds) {
    const std::string figure = "5. Check click to server time shown (Wine, chronyd 127.0.0.1, SNTP)";
    Child tavrino, floor;
    if (!tavrino.Start(tavrinoExe) || !floor.Start(floorExe)) {
        ErrorRow(figure, "a program did not start");
        return 1;
    }
    HWND ours = WaitForWindowWithProperty(kTavrinoProperty, tavrino.Id(), kWindowWaitMs);
    HWND theirs = WaitForWindowWithProperty(kSntpDialogProperty, floor.Id(), kWindowWaitMs);
    if (!ours || !theirs) {
        ErrorRow(figure, std::string(ours ? "the SNTP dialog's" : "Tavrino's") +
                             " window did not appear within 30 s");
        return 1;
    }
    // The first check of each loads Winsock and, in Tavrino, creates the query
    // dialog for the first time: shown apart, not counted.
    const CheckResult firstOurs = MeasureCheck(ours, tavrino.Id());
    const CheckResult firstTheirs = MeasureCheck(theirs, floor.Id());
    if (!firstOurs.ok || !firstTheirs.ok) {
        ErrorRow(figure, "first check failed: Tavrino \"" + firstOurs.text + "\", floor \"" +
                             firstTheirs.text + "\"");
        tavrino.Close(ours);
        floor.Close(theirs);
        return 1;
    }
    std::vector<double> oursMs, theirsMs;
    int oursFailed = 0, theirsFailed = 0;
    std::string lastFailure;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool tavrinoTurn = (turn == 0) == (round % 2 == 0);
            const CheckResult r = tavrinoTurn ? MeasureCheck(ours, tavrino.Id())
                                              : MeasureCheck(theirs, floor.Id());
            if (r.ok) {
                (tavrinoTurn ? oursMs : theirsMs).push_back(r.ms);
            } else {
                ++(tavrinoTurn ? oursFailed : theirsFailed);
                lastFailure = r.text;
            }
        }
    }
    tavrino.Close(ours);
    floor.Close(theirs);
    if (oursMs.empty() || theirsMs.empty()) {
        ErrorRow(figure, "every check failed; last: " + lastFailure);
        return 1;
    }
    const Stats a = Summarise(oursMs), b = Summarise(theirsMs);
    std::string notes = "alternating rounds; field polled in 1 ms steps; first check (not counted): " +
                        Ms(firstOurs.ms) + " vs " + Ms(firstTheirs.ms) +
                        "; p90 ratio " + Ratio(a.p90, b.p90) + "; failures " +
                        std::to_string(oursFailed) + "/" + std::to_string(theirsFailed);
    if (!lastFailure.empty()) notes += " (last: " + lastFailure + ")";
    Row(figure, MsDistribution(a), "minimal Winsock dialog: " + MsDistribution(b),
        Ratio(a.median, b.median), notes);
    return 0;
}

// ---- 6. Footprint and idle CPU ----

struct Memory {
    bool ok = false;
    double workingSet = 0;
    double peakWorkingSet = 0;
    double privateUsage = 0;
};

Memory ReadMemory(HANDLE process) {
    Memory m;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
        return m;
    }
    m.ok = true;
    m.workingSet = static_cast<double>(counters.WorkingSetSize);
    m.peakWorkingSet = static_cast<double>(counters.PeakWorkingSetSize);
    m.privateUsage = static_cast<double>(counters.PrivateUsage);
    return m;
}

// The committed private memory of a process, region by region: what "private bytes"
// counts, for when the counters leave PrivateUsage at 0.
double CommittedPrivateBytes(HANDLE process) {
    double total = 0;
    const char* address = nullptr;
    for (int regions = 0; regions < 100000; ++regions) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQueryEx(process, address, &info, sizeof info) != sizeof info) break;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) {
            total += static_cast<double>(info.RegionSize);
        }
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

// User plus kernel time of a process, in milliseconds; negative when unknown.
double CpuMs(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto value = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (value(kernel) + value(user)) / 10000.0;
}

// Wine counts a process's CPU time in the kernel's 10 ms ticks. The Unix process
// that runs a Windows program has the exact figure, in nanoseconds per thread, in
// /proc/PID/task/TID/schedstat, which Wine shows on its Z: drive. The process is the
// one whose first argument is the program's path.
std::string Normalised(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
    return path;
}

std::string ReadSmallFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    char buffer[4096];
    DWORD read = 0;
    std::string text;
    if (ReadFile(file, buffer, sizeof buffer, &read, nullptr)) text.assign(buffer, read);
    CloseHandle(file);
    return text;
}

// The Unix process id of the program at path, or an empty string.
std::wstring UnixProcessOf(const std::string& exe) {
    const std::string wanted = Normalised(exe);
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring found;
    int looked = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::string line = ReadSmallFile(L"Z:\\proc\\" + name + L"\\cmdline");
        const std::string first = Normalised(line.substr(0, line.find('\0')));
        if (first.size() >= wanted.size() &&
            first.compare(first.size() - wanted.size(), wanted.size(), wanted) == 0) {
            found = name;
            break;
        }
    } while (++looked < 100000 && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

// The CPU time of all threads of the Unix process, in milliseconds; negative when
// unknown.
double ExactCpuMs(const std::wstring& unixProcess) {
    if (unixProcess.empty()) return -1;
    const std::wstring tasks = L"Z:\\proc\\" + unixProcess + L"\\task\\";
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return -1;
    double nanoseconds = 0;
    int threads = 0;
    do {
        const std::wstring name = entry.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::string stat = ReadSmallFile(tasks + name + L"\\schedstat");
        if (stat.empty()) continue;
        nanoseconds += std::strtod(stat.c_str(), nullptr);
        ++threads;
    } while (threads < 10000 && FindNextFileW(search, &entry));
    FindClose(search);
    return threads ? nanoseconds / 1e6 : -1;
}

int RunIdle(const std::string& tavrinoExe, const std::string& floorExe, int seconds) {
    const std::string wsFigure = "6. Working set, idle (Wine)";
    const std::string privateFigure = "6. Private bytes, idle (Wine)";
    const std::string cpuFigure =
        "6. CPU time over " + std::to_string(seconds) + " s idle, clock display on (Wine)";
    auto allErrors = [&](const std::string& why) {
        ErrorRow(wsFigure, why);
        ErrorRow(privateFigure, why);
        ErrorRow(cpuFigure, why);
        return 1;
    };
    Child tavrino, floor;
    if (!tavrino.Start(tavrinoExe) || !floor.Start(floorExe)) {
        return allErrors("a program did not start");
    }
    HWND ours = WaitForWindowWithProperty(kTavrinoProperty, tavrino.Id(), kWindowWaitMs);
    HWND theirs = WaitForWindowWithProperty(kMinDialogProperty, floor.Id(), kWindowWaitMs);
    if (!ours || !theirs) {
        return allErrors(std::string(ours ? "the minimal dialog's" : "Tavrino's") +
                         " window did not appear within 30 s");
    }
    // Both settle (fonts, the first clock ticks) before anything is counted.
    Sleep(2000);

    std::vector<double> oursWs, theirsWs, oursPrivate, theirsPrivate;
    Memory lastOurs, lastTheirs;
    auto sample = [&](int round) {
        // Alternate which is read first.
        for (int turn = 0; turn < 2; ++turn) {
            const bool tavrinoTurn = (turn == 0) == (round % 2 == 0);
            const Memory m = ReadMemory(tavrinoTurn ? tavrino.Handle() : floor.Handle());
            if (!m.ok) continue;
            (tavrinoTurn ? oursWs : theirsWs).push_back(m.workingSet);
            (tavrinoTurn ? oursPrivate : theirsPrivate).push_back(m.privateUsage);
            (tavrinoTurn ? lastOurs : lastTheirs) = m;
        }
    };

    const std::wstring unixOurs = UnixProcessOf(tavrinoExe);
    const std::wstring unixTheirs = UnixProcessOf(floorExe);
    const double exactOurs0 = ExactCpuMs(unixOurs);
    const double exactTheirs0 = ExactCpuMs(unixTheirs);
    const double cpuOurs0 = CpuMs(tavrino.Handle());
    const double cpuTheirs0 = CpuMs(floor.Handle());
    const double cpuSelf0 = CpuMs(GetCurrentProcess());
    const double start = NowMs();
    const double end = start + seconds * 1000.0;
    int round = 0;
    bool alive = true;
    sample(round++);
    for (double now = NowMs(); now < end && round < kMaxSeconds + 2; now = NowMs()) {
        Sleep(static_cast<DWORD>(std::min(1000.0, end - now)));
        if (!tavrino.Running() || !floor.Running()) {
            alive = false;
            break;
        }
        sample(round++);
    }
    const double cpuOurs1 = CpuMs(tavrino.Handle());
    const double cpuTheirs1 = CpuMs(floor.Handle());
    const double cpuSelf1 = CpuMs(GetCurrentProcess());
    const double exactOurs1 = ExactCpuMs(unixOurs);
    const double exactTheirs1 = ExactCpuMs(unixTheirs);
    const double wall = NowMs() - start;
    const bool privateZero = !lastOurs.ok || lastOurs.privateUsage <= 0 || lastTheirs.privateUsage <= 0;
    const double committedOurs = privateZero ? CommittedPrivateBytes(tavrino.Handle()) : 0;
    const double committedTheirs = privateZero ? CommittedPrivateBytes(floor.Handle()) : 0;
    tavrino.Close(ours);
    floor.Close(theirs);
    if (!alive) return allErrors("a program ended during the idle time");

    // Working set.
    if (oursWs.empty() || theirsWs.empty()) {
        ErrorRow(wsFigure, "GetProcessMemoryInfo failed");
        ErrorRow(privateFigure, "GetProcessMemoryInfo failed");
    } else {
        const Stats a = Summarise(oursWs), b = Summarise(theirsWs);
        Row(wsFigure, MiBDistribution(a), "minimal dialog: " + MiBDistribution(b),
            Ratio(a.median, b.median),
            "GetProcessMemoryInfo every 1 s over the idle time; peak working set " +
                MiB(lastOurs.peakWorkingSet) + " vs " + MiB(lastTheirs.peakWorkingSet) +
                "; under Wine it is the Unix process's resident set, Wine's own DLLs included");
        if (!privateZero) {
            const Stats c = Summarise(oursPrivate), d = Summarise(theirsPrivate);
            Row(privateFigure, MiBDistribution(c), "minimal dialog: " + MiBDistribution(d),
                Ratio(c.median, d.median), "PROCESS_MEMORY_COUNTERS_EX.PrivateUsage every 1 s");
        } else if (committedOurs > 0 && committedTheirs > 0) {
            Row(privateFigure, MiB(committedOurs), "minimal dialog: " + MiB(committedTheirs),
                Ratio(committedOurs, committedTheirs),
                "Wine leaves PrivateUsage at 0 (it reports swap there); counted instead as the "
                "committed MEM_PRIVATE regions (VirtualQueryEx) at the end of the idle time");
        } else {
            ErrorRow(privateFigure,
                     "PrivateUsage is 0 under Wine and VirtualQueryEx gave no regions");
        }
    }

    // CPU time: exactly from the Unix processes when they are found, else from
    // GetProcessTimes (which Wine counts in 10 ms ticks).
    if (cpuOurs0 < 0 || cpuOurs1 < 0 || cpuTheirs0 < 0 || cpuTheirs1 < 0) {
        ErrorRow(cpuFigure, "GetProcessTimes failed");
        return 1;
    }
    const double tickOurs = cpuOurs1 - cpuOurs0, tickTheirs = cpuTheirs1 - cpuTheirs0;
    const double tickSelf = cpuSelf1 - cpuSelf0;
    std::string ticks = "GetProcessTimes: " + Ms(tickOurs) + " vs " + Ms(tickTheirs) +
                        " (this driver's own: " + Ms(tickSelf) + ")";
    if (tickOurs == tickSelf && tickTheirs == tickSelf) {
        ticks += ", the same for all three: Wine 8 does not give another process's times";
    }
    const std::string common = " over " + Format("%.1f s", wall / 1000.0) +
                               ", both running at once; wineserver's and the X server's share "
                               "are not included; ";
    if (exactOurs0 >= 0 && exactOurs1 >= 0 && exactTheirs0 >= 0 && exactTheirs1 >= 0) {
        const double a = exactOurs1 - exactOurs0, b = exactTheirs1 - exactTheirs0;
        Row(cpuFigure, Ms(a) + Format(" (%.3f%% of one core)", a * 100.0 / wall),
            "minimal dialog: " + Ms(b),
            b > 0 ? Ratio(a, b) : "n/a (the floor used none)",
            "CPU time of all threads of the Unix processes that run them "
            "(/proc/PID/task/*/schedstat, in ns)" + common + ticks);
    } else {
        Row(cpuFigure, Ms(tickOurs) + Format(" (%.3f%% of one core)", tickOurs * 100.0 / wall),
            "minimal dialog: " + Ms(tickTheirs),
            tickTheirs > 0 ? Ratio(tickOurs, tickTheirs) : "n/a (the floor used none)",
            "user+kernel (GetProcessTimes); the Unix processes were not found" + common +
                ticks);
    }
    return 0;
}

// ---- 7. Start-up ----

const wchar_t kNtsDll[] = L"TavrinoNts.dll";

// Whether the process has a module of that file name loaded: 1 or 0, or -1 when its
// modules cannot be listed.
int HasModule(HANDLE process, const wchar_t* name) {
    std::vector<HMODULE> modules(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!EnumProcessModulesEx(process, modules.data(), bytes, &needed, LIST_MODULES_ALL)) {
            return -1;
        }
        if (needed <= bytes) {
            modules.resize(needed / sizeof(HMODULE));
            for (HMODULE module : modules) {
                wchar_t base[MAX_PATH] = {};
                if (GetModuleBaseNameW(process, module, base, MAX_PATH) &&
                    _wcsicmp(base, name) == 0) {
                    return 1;
                }
            }
            return 0;
        }
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    return -1;
}

struct StartResult {
    bool ok = false;
    double ms = 0;
    std::string why;
    int moduleLoaded = -1;  // of the module asked about, once the window was visible
};

// Starts the program and looks every millisecond for its window with the property,
// until it is visible; then, when asked, whether the module is loaded, and closes it
// with its Close button.
StartResult MeasureStart(const std::string& exe, const char* property,
                         const wchar_t* module = nullptr) {
    StartResult result;
    Child child;
    double start = 0;
    if (!child.Start(exe, &start)) {
        result.why = "did not start";
        return result;
    }
    HWND window = nullptr;
    for (;;) {
        if (!window) window = FindWindowWithProperty(property, child.Id());
        const double now = NowMs();
        if (window && IsWindowVisible(window)) {
            result.ms = now - start;
            result.ok = true;
            break;
        }
        if (now - start > kStartDeadlineMs) {
            result.why = "no visible window within 30 s";
            break;
        }
        if (!child.Running()) {
            result.why = "ended before its window was shown";
            break;
        }
        Sleep(1);
    }
    if (result.ok && module) result.moduleLoaded = HasModule(child.Handle(), module);
    if (!child.Close(window) && result.ok) {
        result.why = "did not end on its Close button";
    }
    return result;
}

// What a start-up comparison sets against the program: the floor's window property
// and its name in the row, and the module whose loading is looked at, if any.
struct StartFloor {
    std::string figure;
    const char* property;
    std::string label;
    const wchar_t* module;
};

int RunStartup(const std::string& tavrinoExe, const std::string& floorExe, int rounds,
               const StartFloor& floor) {
    const std::string& figure = floor.figure;
    // One start of each first, not counted: Wine maps the DLLs for the first time.
    const StartResult firstOurs = MeasureStart(tavrinoExe, kTavrinoProperty, floor.module);
    const StartResult firstTheirs = MeasureStart(floorExe, floor.property);
    if (!firstOurs.ok || !firstTheirs.ok) {
        ErrorRow(figure, "first start failed: Tavrino " + (firstOurs.ok ? "ok" : firstOurs.why) +
                             ", " + floor.label + " " + (firstTheirs.ok ? "ok" : firstTheirs.why));
        return 1;
    }
    std::vector<double> oursMs, theirsMs;
    std::string failures;
    int loaded = firstOurs.moduleLoaded == 1 ? 1 : 0;
    int looked = firstOurs.moduleLoaded >= 0 ? 1 : 0;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool tavrinoTurn = (turn == 0) == (round % 2 == 0);
            const StartResult r = tavrinoTurn
                                      ? MeasureStart(tavrinoExe, kTavrinoProperty, floor.module)
                                      : MeasureStart(floorExe, floor.property);
            if (r.ok) (tavrinoTurn ? oursMs : theirsMs).push_back(r.ms);
            if (r.moduleLoaded >= 0) ++looked;
            if (r.moduleLoaded == 1) ++loaded;
            if (!r.why.empty()) {
                failures += std::string(failures.empty() ? "" : "; ") +
                            (tavrinoTurn ? "Tavrino " : floor.label + " ") + r.why;
            }
        }
    }
    if (oursMs.empty() || theirsMs.empty()) {
        ErrorRow(figure, "no start measured: " + failures);
        return 1;
    }
    const Stats a = Summarise(oursMs), b = Summarise(theirsMs);
    std::string notes =
        "alternating rounds; IsWindowVisible polled in 1 ms steps; first start (not counted): " +
        Ms(firstOurs.ms) + " vs " + Ms(firstTheirs.ms) + "; p90 ratio " + Ratio(a.p90, b.p90);
    if (floor.module) {
        notes += "; TavrinoNts.dll loaded once the window was visible: " + std::to_string(loaded) +
                 " of " + std::to_string(looked) + " starts (EnumProcessModulesEx)";
    }
    if (!failures.empty()) notes += "; " + failures;
    Row(figure, MsDistribution(a), floor.label + ": " + MsDistribution(b),
        Ratio(a.median, b.median), notes);
    return 0;
}

// Whether the DLL is loaded after one Check with nts=1: the look that found it absent
// at start-up must find it here, or its absence proved nothing.
std::string ModuleAfterCheck(const std::string& exe) {
    Child child;
    if (!child.Start(exe)) return "the program did not start";
    HWND window = WaitForWindowWithProperty(kTavrinoProperty, child.Id(), kWindowWaitMs);
    if (!window) return "its window did not appear";
    const int before = HasModule(child.Handle(), kNtsDll);
    const CheckResult check = MeasureCheck(window, child.Id());
    const int after = HasModule(child.Handle(), kNtsDll);
    child.Close(window);
    const auto said = [](int state) {
        return state < 0 ? std::string("unknown") : state ? std::string("yes") : std::string("no");
    };
    return "loaded before the first Check: " + said(before) + ", after it: " + said(after) +
           " (the Check: \"" + check.text + "\", " + Ms(check.ms) + ")";
}

int RunStartupNts(const std::string& ntsExe, const std::string& plainExe, int rounds) {
    const StartFloor floor{"7c. Start-up with nts=1 in the profile, CreateProcess to main window "
                           "visible (Wine)",
                           kTavrinoProperty, "the same program with nts=0", kNtsDll};
    const int status = RunStartup(ntsExe, plainExe, rounds, floor);
    if (status == 0) {
        Row("7c. TavrinoNts.dll after a Check with nts=1 (Wine)", ModuleAfterCheck(ntsExe), "-", "-",
            "the DLL is loaded at the first query that asks for NTS; the same look as above");
    }
    return status;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: wine_driver check TAVRINO_EXE SNTP_DIALOG_EXE ROUNDS\n"
                 "       wine_driver idle TAVRINO_EXE MIN_DIALOG_EXE SECONDS\n"
                 "       wine_driver startup TAVRINO_EXE MIN_DIALOG_EXE ROUNDS\n"
                 "       wine_driver startup-nts NTS_TAVRINO_EXE PLAIN_TAVRINO_EXE ROUNDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Lines for a shell: LF only.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc != 5) return Usage();
    const std::string command = argv[1];
    char* end = nullptr;
    const long number = std::strtol(argv[4], &end, 10);
    if (end == argv[4] || *end != '\0' || number < 1) return Usage();
    CreateJob();
    if (command == "check") {
        return RunCheck(argv[2], argv[3], static_cast<int>(std::min<long>(number, kMaxRounds)));
    }
    if (command == "idle") {
        return RunIdle(argv[2], argv[3], static_cast<int>(std::min<long>(number, kMaxSeconds)));
    }
    if (command == "startup") {
        const StartFloor floor{"7. Start-up, CreateProcess to main window visible (Wine)",
                               kMinDialogProperty, "minimal dialog", nullptr};
        return RunStartup(argv[2], argv[3], static_cast<int>(std::min<long>(number, kMaxRounds)),
                          floor);
    }
    if (command == "startup-nts") {
        return RunStartupNts(argv[2], argv[3],
                             static_cast<int>(std::min<long>(number, kMaxRounds)));
    }
    return Usage();
}
