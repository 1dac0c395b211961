#include "tests/e2e/program_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "res/resource.h"

ProgramCopy::ProgramCopy(const std::string& name) : m_name(name) {
    m_path = m_dir.Path() + name + ".exe";
    m_ok = CopyFileUtf8(ModuleFolder() + "..\\Tavrino.exe", m_path);
    // As installed: the cryptography of authenticated time beside the program.
    m_ok = m_ok &&
           CopyFileUtf8(ModuleFolder() + "..\\TavrinoNts.dll", m_dir.Path() + "TavrinoNts.dll");
}

HWND StartAndFindWindow(const ProgramCopy& copy, Program& program, const std::string& arguments) {
    if (!copy.Ok() || !program.Start(copy.Path(), arguments)) return nullptr;
    return WaitForWindowWithProperty(copy.Name(), program.Id(), kStartMs);
}

std::string ProfileValue(const std::string& file, const char* section, const char* key) {
    wchar_t value[512] = {};
    GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), L"(missing)", value, 512,
                             Wide(file).c_str());
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

void CloseWithTheCloseButton(HWND window, Program& program) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    EXPECT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), 0u);
}

bool IsTimeText(const std::string& text) {
    static const std::regex layout(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[ 0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
    return std::regex_match(text, layout);
}

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<HistoryLine> ReadHistory(const std::string& path) {
    std::vector<HistoryLine> lines;
    const std::string bytes = ReadFileBytes(path);
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string raw = bytes.substr(at, end - at);
        std::vector<std::string> f;
        for (size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1) {
            comma = raw.find(',', from);
            f.push_back(Trimmed(raw.substr(from, comma - from)));
        }
        f.resize(7);
        lines.push_back({raw, f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
    }
    return lines;
}

std::string ServerSettings(const std::string& server, const std::string& protocol) {
    return "DefaultServer=" + server + "\r\nprotocol=" + protocol + "\r\n";
}

StartedCopy::StartedCopy(const std::string& properties, bool waitForWindow) {
    WriteFileBytes(m_copy.Profile(), "[Property]\r\n" + properties + "logfile=1\r\n");
    if (!m_copy.Ok() || !m_program.Start(m_copy.Path())) return;
    if (waitForWindow) WaitForWindow(kStartMs);
}

HWND StartedCopy::WaitForWindow(int milliseconds) {
    m_window = WaitForWindowWithProperty(m_copy.Name(), m_program.Id(), milliseconds);
    return m_window;
}

std::vector<HWND> StartedCopy::OtherDialogs(int milliseconds) const {
    for (int waited = 0;; waited += 50) {
        std::vector<HWND> dialogs = WaitForDialogs(Id(), 0);
        dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), m_window), dialogs.end());
        if (!dialogs.empty() || waited >= milliseconds) return dialogs;
        Sleep(50);
    }
}

bool StartedCopy::WaitForNoOtherDialogs(int milliseconds) const {
    for (int waited = 0; waited <= milliseconds; waited += 50) {
        if (OtherDialogs(0).empty()) return true;
        Sleep(50);
    }
    return false;
}

void StartedCopy::Click(int button) const {
    PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_window, button)));
}

bool StartedCopy::WaitForHistory(size_t count, HistoryLine* last) const {
    for (int waited = 0; waited <= kCommandMs; waited += 50) {
        std::vector<HistoryLine> lines = History();
        if (lines.size() >= count) {
            *last = lines.back();
            return lines.size() == count;
        }
        Sleep(50);
    }
    return false;
}

bool StartedCopy::Press(int button, HistoryLine* line) const {
    const size_t count = History().size() + 1;
    Click(button);
    return WaitForHistory(count, line);
}
