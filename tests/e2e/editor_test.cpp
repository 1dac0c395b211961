// The settings editor as the main window starts it: a copy of Quillet.exe in a folder
// whose name has blanks and Japanese, the profile in another such folder, and a window
// of this test standing in for the main window, which records the editor's notices.
// The editor is driven from here through its controls, as a user would.
#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor/resource.h"
#include "settings/editor_link.h"
#include "settings/registry_source_win.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_driver_win.h"

namespace {

constexpr int kStartMs = 30000;                // a cold Wine may take its time
constexpr int kStepMs = 10000;

// The lines of a profile, which ends each line with CR LF.
std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < bytes.size(); at = end + 2) {
        end = bytes.find("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(at, end - at));
    }
    return lines;
}

// The names of the keys that the editor writes, from the writer itself.
bool IsEditedKey(const std::string& line) {
    const std::string key = line.substr(0, line.find('='));
    for (const ProfileEntry& entry : ProfileEntries(ProfileSettings())) {
        if (key == entry.key) return true;
    }
    return false;
}

// The lines that the editor has no business with, blank lines left out.
std::vector<std::string> UntouchedLines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(bytes)) {
        if (!line.empty() && !IsEditedKey(line)) lines.push_back(line);
    }
    return lines;
}

// The editor's keys and their values, each key once.
std::map<std::string, std::string> EditedValues(const std::string& bytes) {
    std::map<std::string, std::string> values;
    for (const std::string& line : Lines(bytes)) {
        const size_t equals = line.find('=');
        if (IsEditedKey(line) && values.count(line.substr(0, equals)) == 0) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        } else if (IsEditedKey(line)) {
            values[line.substr(0, equals)] += " (twice)";
        }
    }
    return values;
}

// Group Policy's values for Tavrino while the object lives, where the editor reads them:
// texts, the time-out and the samples as numbers (REG_DWORD, as a policy template's decimal).
// They go on every path, and the key with them when made here (no other test writes it).
class ScopedPolicy {
  public:
    ScopedPolicy() {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &m_key, &m_made);
        const DWORD timeOut = 9;
        RegSetValueExW(m_key, L"TimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timeOut),
                       sizeof timeOut);
        const DWORD samples = 6;
        RegSetValueExW(m_key, L"Samples", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&samples),
                       sizeof samples);
        WriteMachineValue(kPolicyKey, "DefaultServer", "policy.example.jp");
        WriteMachineValue(kPolicyKey, "protocol", "daytime");
    }
    ~ScopedPolicy() {
        Remove({"DefaultServer", "protocol", "TimeOut", "Samples", "nts"}, nullptr);
        RegCloseKey(m_key);
        if (m_made == REG_CREATED_NEW_KEY)
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, KEY_WOW64_64KEY, 0);
    }
    // Takes the values out and tells the window, as Windows does when the policy changes.
    void Remove(std::initializer_list<const char*> names, HWND window) const {
        for (const char* name : names) WriteMachineValue(kPolicyKey, name, "");
        SendMessageTimeoutW(window, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"),
                            SMTO_ABORTIFHUNG, kStepMs, nullptr);
    }

  private:
    HKEY m_key = nullptr;
    DWORD m_made = 0;
};

// The profile the editor starts on: comments (one in code page 932: "; 毎日の調整"),
// keys it does not edit, the window's place, section TZ after a blank line; several
// of its keys are missing.
const char kProfile[] =
    "; Tavrino profile\r\n"
    "[Property]\r\n"
    "DefaultServer=ntp.example.jp\r\n"
    "protocol=SNTP\r\n"
    "TimeOut=5\r\n"
    "WindowPos=1,120,80\r\n"
    "; \x96\x88\x93\xfa\x82\xcc\x92\xb2\x90\xae\r\n"
    "AdjustAt=1,7:30\r\n"
    "ErrorRetry=1,3,30,0\r\n"
    "Voice=1\r\n"
    "logfile=1\r\n"
    "Samples=2\r\n"
    "\r\n"
    "[TZ]\r\n"
    "tz0=0,-9,JS,,JST-9\r\n";

// The stand-in for the main window: a hidden window of this thread. Notices come as
// sent messages, which this thread takes only while it pumps.
class NoticeWindow {
  public:
    NoticeWindow() {
        WNDCLASSW type{};
        type.lpfnWndProc = &Procedure;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"TavrinoEditorTestMain";
        RegisterClassW(&type);  // fails harmlessly when it is already there
        m_hWnd = CreateWindowExW(0, type.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 type.hInstance, nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NoticeWindow() { DestroyWindow(m_hWnd); }
    NoticeWindow(const NoticeWindow&) = delete;
    NoticeWindow& operator=(const NoticeWindow&) = delete;

    HWND Handle() const { return m_hWnd; }
    const std::vector<std::pair<WPARAM, LPARAM>>& Notices() const { return m_notices; }

    // Pumps until count notices have come; false when they do not within the time.
    bool WaitFor(size_t count, int milliseconds = kStepMs) {
        return PumpUntil([&] { return m_notices.size() >= count; }, milliseconds);
    }
    // Pumps until the program has ended; false when it does not within the time.
    bool WaitForExit(Program& program, int milliseconds = kStepMs) {
        return PumpUntil([&] { return program.WaitForExit(0); }, milliseconds);
    }

  private:
    template <class Done>
    bool PumpUntil(Done done, int milliseconds) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (done()) return true;
            if (GetTickCount() - start > static_cast<DWORD>(milliseconds)) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_SETENV_NOTIFY) {
            auto* self = reinterpret_cast<NoticeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (self) self->m_notices.emplace_back(wParam, lParam);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
    std::vector<std::pair<WPARAM, LPARAM>> m_notices;
};

// A copy of the editor started on a copy of kProfile for the notice window, its
// dialog found once it has announced itself.
class Editor {
  public:
    explicit Editor(NoticeWindow& main) {
        const std::string folder = m_dir.Path() + "Quillet 設定 copy\\";
        const std::string profileFolder = m_dir.Path() + "my profile 設定\\";
        CreateDirectoryW(Wide(folder).c_str(), nullptr);
        CreateDirectoryW(Wide(profileFolder).c_str(), nullptr);
        m_profile = profileFolder + "Tavrino.INI";
        WriteFileBytes(m_profile, kProfile);
        const std::string exe = folder + "Quillet.exe";
        const std::string handle =
            std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(main.Handle())));
        if (!CopyFileUtf8(ModuleFolder() + "..\\Quillet.exe", exe) ||
            !m_program.Start(exe, "-profile=\"" + m_profile + "\" -geohwnd=" + handle + " xyz")) {
            return;
        }
        if (!main.WaitFor(1, kStartMs)) return;
        m_hWnd = WaitForWindowWithProperty("Quillet", m_program.Id(), kStepMs);
    }

    HWND Window() const { return m_hWnd; }
    Program& Process() { return m_program; }
    std::string Profile() const { return ReadFileBytes(m_profile); }

    std::string Text(int id) const { return ControlText(m_hWnd, id); }
    LRESULT Ask(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(GetDlgItem(m_hWnd, id), message, wParam, lParam, SMTO_ABORTIFHUNG,
                            kStepMs, &result);
        return static_cast<LRESULT>(result);
    }
    void SetText(int id, const wchar_t* text) const {
        Ask(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    // A click that returns once handled; one that may end the dialog or show a box
    // is posted instead.
    void Click(int id) const { Ask(id, BM_CLICK); }
    void PostClick(int id) const { PostMessageW(GetDlgItem(m_hWnd, id), BM_CLICK, 0, 0); }

    // The message box that the editor shows over its dialog, waiting for it.
    HWND MessageBoxWindow() const {
        for (int waited = 0; waited <= kStepMs; waited += 50) {
            for (HWND dialog : WaitForDialogs(m_program.Id(), 0)) {
                if (dialog != m_hWnd) return dialog;
            }
            Sleep(50);
        }
        return nullptr;
    }

  private:
    TempDir m_dir;
    std::string m_profile;
    Program m_program;
    HWND m_hWnd = nullptr;
};

TEST(SettingsEditor, ShowsTheProfileAppliesOnlyItsKeysRefusesABadMinuteAndEndsWithOk) {
    NoticeWindow main;
    Editor editor(main);
    HWND window = editor.Window();
    ASSERT_NE(window, nullptr) << "no settings dialog";
    ASSERT_EQ(main.Notices().size(), 1u);
    EXPECT_EQ(main.Notices()[0].first, 0u);
    EXPECT_EQ(reinterpret_cast<HWND>(main.Notices()[0].second), window);
    EXPECT_EQ(WindowText(window), "Quillet - Tavrino 設定");

    // The profile's values, and the loader's defaults for the keys it lacks.
    EXPECT_EQ(editor.Text(IDC_PROP_SERVER), "ntp.example.jp");
    EXPECT_EQ(editor.Ask(IDC_PROP_PROTOCOL, CB_GETCURSEL), 0);  // SNTP
    EXPECT_EQ(editor.Text(IDC_PROP_TIMEOUT), "5");
    EXPECT_EQ(editor.Ask(IDC_PROP_REFERENCE, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(editor.Text(IDC_PROP_REFERENCE_HOURS), "24");
    EXPECT_EQ(editor.Text(IDC_PROP_CLOCK_FORMAT), "時刻のみ");
    EXPECT_EQ(editor.Text(IDC_PROP_CLOCK_TARGET), "PC時刻欄");
    EXPECT_EQ(editor.Ask(IDC_PROP_LOGFILE, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(editor.Ask(IDC_PROP_RETRY, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(editor.Text(IDC_PROP_RETRY_VALUE), "30");
    EXPECT_EQ(editor.Text(IDC_PROP_RETRY_UNIT), "秒");
    EXPECT_EQ(editor.Text(IDC_PROP_ADJUST_MINUTE), "30");
    EXPECT_EQ(editor.Ask(IDC_PROP_WINDOW_POS, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(editor.Text(IDC_PROP_SAMPLES), "2");
    EXPECT_EQ(editor.Ask(IDC_PROP_SAMPLES, CB_GETCOUNT), 8);

    // Apply writes every key the editor edits, in the loader's forms, and the dialog
    // stays.
    editor.SetText(IDC_PROP_SERVER, L"127.0.0.1");
    editor.SetText(IDC_PROP_FALLBACK, L" a.example.jp ,,b.example.jp ");
    editor.SetText(IDC_PROP_ADJUST_HOUR, L"08");
    editor.SetText(IDC_PROP_ADJUST_MINUTE, L"5");
    editor.Click(IDC_PROP_BEEP);
    editor.Click(IDC_APPLY);
    ASSERT_TRUE(main.WaitFor(2));
    EXPECT_EQ(main.Notices()[1], std::make_pair(WPARAM{3}, LPARAM{0}));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(editor.Text(IDC_PROP_ADJUST_HOUR), "8");

    // The editor's keys hold the loader's forms; every other line keeps its bytes and
    // its place. Wine writes the whole file again: it drops blank lines (and the blanks
    // around keys and values) and adds missing keys at the end of their section.
    const std::string applied = editor.Profile();
    EXPECT_EQ(UntouchedLines(applied), UntouchedLines(kProfile)) << applied;
    const std::map<std::string, std::string> expected = {
        {"DefaultServer", "127.0.0.1"},
        {"protocol", "SNTP"},
        {"ServerReferenceTime", "1,24"},
        {"CurrentTimeDisplay", "0,0,0"},
        {"logfile", "1"},
        {"beep", "1"},
        {"AutoAdjust", "0"},
        {"AutoTerminate", "0"},
        {"IconicStart", "0"},
        {"indicatorline", "0"},
        {"TimeOut", "5"},
        {"ErrorRetry", "1,3,30,0"},
        {"AdjustAt", "1,8:5"},
        {"FallbackServers", "a.example.jp,b.example.jp"},
        {"Samples", "2"},
        {"MaxCorrection", "0"},
        {"nts", "0"},
    };
    EXPECT_EQ(EditedValues(applied), expected) << applied;

    // A limit, then a minute out of range: a Japanese message box each; nothing is written.
    editor.SetText(IDC_PROP_MAX_CORRECTION, L"8761");
    editor.PostClick(IDOK);
    HWND box = editor.MessageBoxWindow();
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(MessageBoxText(box), "補正の上限は 0～8760 時間の範囲で入力してください。");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int waited = 0; IsWindow(box) && waited < kStepMs; waited += 50) Sleep(50);
    editor.SetText(IDC_PROP_MAX_CORRECTION, L"0");
    editor.SetText(IDC_PROP_ADJUST_MINUTE, L"75");
    editor.SetText(IDC_PROP_SERVER, L"ntp.nict.jp");
    editor.PostClick(IDOK);
    box = editor.MessageBoxWindow();
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(WindowText(box), "Quillet");
    EXPECT_EQ(MessageBoxText(box), "毎日の調整の分は 0～59 の範囲で入力してください。");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(main.WaitFor(2));
    for (int waited = 0; IsWindow(box) && waited < kStepMs; waited += 50) Sleep(50);
    EXPECT_EQ(editor.Profile(), applied);
    EXPECT_EQ(main.Notices().size(), 2u);
    EXPECT_TRUE(IsWindow(window));

    // OK with the minute put right: written, notice 1, and the editor ends.
    editor.SetText(IDC_PROP_ADJUST_MINUTE, L"59");
    editor.PostClick(IDOK);
    ASSERT_TRUE(main.WaitFor(3));
    EXPECT_EQ(main.Notices()[2], std::make_pair(WPARAM{1}, LPARAM{0}));
    EXPECT_TRUE(main.WaitForExit(editor.Process()));
    EXPECT_EQ(editor.Process().ExitCode(), 0u);
    std::string finished = applied;
    finished.replace(finished.find("127.0.0.1"), 9, "ntp.nict.jp");
    finished.replace(finished.find("1,8:5"), 5, "1,8:59");
    EXPECT_EQ(editor.Profile(), finished);
}

// Every way to end the editor without saving, after a change that is then dropped:
// those of the user tell the main window (2), the main window's own WM_CLOSE does not.
TEST(SettingsEditor, EndsWithoutWritingOnCancelEscTheCloseBoxAndWmClose) {
    struct Way {
        const char* name;
        void (*end)(const Editor& editor);
        size_t notices;  // with the announcement
    };
    const Way ways[] = {
        {"Cancel", [](const Editor& e) { e.PostClick(IDCANCEL); }, 2},
        {"Esc",
         [](const Editor& e) {
             PostMessageW(GetDlgItem(e.Window(), IDC_PROP_SERVER), WM_KEYDOWN, VK_ESCAPE, 0);
         },
         2},
        {"close box", [](const Editor& e) { PostMessageW(e.Window(), WM_SYSCOMMAND, SC_CLOSE, 0); },
         2},
        {"WM_CLOSE from the main window",
         [](const Editor& e) {
             DWORD_PTR ignored = 0;
             SendMessageTimeoutW(e.Window(), WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kStepMs, &ignored);
         },
         1},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        NoticeWindow main;
        Editor editor(main);
        ASSERT_NE(editor.Window(), nullptr);
        editor.SetText(IDC_PROP_SERVER, L"changed.example.jp");
        way.end(editor);
        EXPECT_TRUE(main.WaitForExit(editor.Process()));
        ASSERT_EQ(main.Notices().size(), way.notices);
        if (way.notices == 2) {
            EXPECT_EQ(main.Notices()[1], std::make_pair(WPARAM{2}, LPARAM{0}));
        }
        EXPECT_EQ(editor.Profile(), kProfile);
    }
}

TEST(SettingsEditor, WithoutArgumentsEditsTheProfileBesideIt) {
    TempDir dir;
    const std::string exe = dir.File("Quillet.exe");
    ASSERT_TRUE(CopyFileUtf8(ModuleFolder() + "..\\Quillet.exe", exe));
    WriteFileBytes(dir.File("Tavrino.INI"), "[Property]\r\nDefaultServer=127.0.0.1\r\nTimeOut=9\r\n");
    Program program;
    ASSERT_TRUE(program.Start(exe));
    HWND window = WaitForWindowWithProperty("Quillet", program.Id(), kStartMs);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ControlText(window, IDC_PROP_TIMEOUT), "9");
    // The window's place, asked for: the flag alone, until the main window saves one.
    SendMessageW(GetDlgItem(window, IDC_PROP_WINDOW_POS), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.WaitForExit(kStepMs));
    const std::string written = ReadFileBytes(dir.File("Tavrino.INI"));
    EXPECT_NE(written.find("\r\nWindowPos=1\r\n"), std::string::npos) << written;
    const std::map<std::string, std::string> values = EditedValues(written);
    EXPECT_EQ(values.size(), ProfileEntries(ProfileSettings()).size());
    EXPECT_EQ(values.at("TimeOut"), "9");
    EXPECT_EQ(values.at("AdjustAt"), "0,0:0");
}

// What is wrong with where the control is: out of the dialog, over another control (frames
// aside), or too small for its text in the dialogs' font at this scale; empty when nothing.
std::string PlacementFault(HWND dialog, int id) {
    RECT mine{}, client{}, other{}, both{};  // on the screen
    GetWindowRect(GetDlgItem(dialog, id), &mine);
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    if (SubtractRect(&both, &mine, &client)) return "out of the dialog";
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t type[16] = {};
        const bool aside = GetDlgCtrlID(c) == id || !IsWindowVisible(c) ||
                           (GetClassNameW(c, type, 16) && _wcsicmp(type, L"Button") == 0 &&
                            (GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX);
        if (!aside && GetWindowRect(c, &other) && IntersectRect(&both, &mine, &other))
            return "over control " + std::to_string(GetDlgCtrlID(c));
    }
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(
        dc, CreateFontW(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                        FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"ＭＳ Ｐゴシック"));
    const std::wstring text = Wide(ControlText(dialog, id));
    RECT needed{mine.left, mine.top, mine.right, mine.top};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK);
    DeleteObject(SelectObject(dc, old));
    ReleaseDC(nullptr, dc);
    return SubtractRect(&both, &needed, &mine) ? "clipped" : "";
}

// Policy sets the server, protocol, time-out and samples: the editor shows its values, greys
// their controls with the note why, writes every other key and leaves the profile's own values
// of the policy's; when Windows says the policy changed, the keys it no longer sets come back.
TEST(SettingsEditor, ShowsPolicysValuesGreyedWithTheNoteAndNeverWritesThem) {
    const ScopedPolicy policy;
    NoticeWindow main;
    Editor editor(main);
    HWND window = editor.Window(), note = GetDlgItem(window, IDC_POLICY_NOTE);
    ASSERT_NE(window, nullptr) << "no settings dialog";
    const auto enabled = [window](int id) { return IsWindowEnabled(GetDlgItem(window, id)); };
    // Every key once, these with the values of the "key=value" lines.
    const auto expectWritten = [&editor](const std::string& lines) {
        std::map<std::string, std::string> values = EditedValues(editor.Profile());
        for (const auto& [key, text] : EditedValues(lines)) EXPECT_EQ(values[key], text) << key;
        EXPECT_EQ(values.size(), ProfileEntries(ProfileSettings()).size()) << editor.Profile();
    };
    EXPECT_EQ(editor.Text(IDC_PROP_SERVER), "policy.example.jp");
    EXPECT_EQ(editor.Ask(IDC_PROP_PROTOCOL, CB_GETCURSEL), 2);  // daytime
    EXPECT_EQ(editor.Text(IDC_PROP_TIMEOUT), "9");
    EXPECT_EQ(editor.Text(IDC_PROP_SAMPLES), "6");
    const int locked[] = {IDC_PROP_SERVER_LABEL, IDC_PROP_SERVER,        IDC_PROP_PROTOCOL_LABEL,
                          IDC_PROP_PROTOCOL,     IDC_PROP_TIMEOUT_LABEL, IDC_PROP_TIMEOUT,
                          IDC_PROP_TIMEOUT_UNIT, IDC_PROP_SAMPLES_LABEL, IDC_PROP_SAMPLES};
    for (int id : locked) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(enabled(IDC_PROP_NTS));  // the policy's DAYTIME has no NTS
    for (int id : {IDC_PROP_REFERENCE_HOURS, IDC_PROP_CLOCK, IDC_PROP_LOGFILE, IDC_PROP_WINDOW_POS,
                   IDC_PROP_RETRY_COUNT, IDC_PROP_ADJUST_MINUTE, IDOK, IDC_APPLY})
        EXPECT_TRUE(enabled(id)) << id;
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &focus);
    EXPECT_TRUE(focus.hwndFocus && IsWindowEnabled(focus.hwndFocus)) << "focus on a greyed control";
    EXPECT_TRUE(IsWindowVisible(note));
    EXPECT_EQ(editor.Text(IDC_POLICY_NOTE), "灰色の項目は管理者がポリシーで設定しています。");
    EXPECT_EQ(PlacementFault(window, IDC_POLICY_NOTE), "");

    // Apply writes the user's keys; the policy's keep the profile's own values.
    editor.SetText(IDC_PROP_ADJUST_MINUTE, L"5");
    editor.Click(IDC_APPLY);
    ASSERT_TRUE(main.WaitFor(2));
    expectWritten("DefaultServer=ntp.example.jp\r\nprotocol=SNTP\r\nTimeOut=5\r\n"
                  "AdjustAt=1,7:5\r\nSamples=2");  // the profile's own, not the policy's 6
    EXPECT_EQ(editor.Text(IDC_PROP_SERVER), "policy.example.jp");

    // The policy no longer sets the protocol: it comes back to be changed; the rest stays.
    editor.SetText(IDC_PROP_RETRY_COUNT, L"4");
    policy.Remove({"protocol"}, window);
    EXPECT_TRUE(enabled(IDC_PROP_PROTOCOL));
    EXPECT_TRUE(enabled(IDC_PROP_NTS));  // the profile's SNTP
    EXPECT_FALSE(enabled(IDC_PROP_SERVER));
    EXPECT_TRUE(IsWindowVisible(note));

    // Policy turning NTS on, alone: the box checked and greyed though SNTP, with the note.
    WriteMachineValue(kPolicyKey, "nts", "1");
    policy.Remove({"DefaultServer", "TimeOut", "Samples"}, window);
    EXPECT_EQ(editor.Ask(IDC_PROP_NTS, BM_GETCHECK), BST_CHECKED);
    EXPECT_FALSE(enabled(IDC_PROP_NTS));
    EXPECT_TRUE(IsWindowVisible(note));

    // Policy gone: nothing greyed, no note, the profile's own values; OK writes them.
    policy.Remove({"nts"}, window);
    EXPECT_FALSE(IsWindowVisible(note));
    for (int id : locked) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(enabled(IDC_PROP_NTS));
    EXPECT_EQ(editor.Text(IDC_PROP_SERVER), "ntp.example.jp");
    EXPECT_EQ(editor.Text(IDC_PROP_SAMPLES), "2");
    editor.SetText(IDC_PROP_SERVER, L"127.0.0.1");
    editor.PostClick(IDOK);
    ASSERT_TRUE(main.WaitForExit(editor.Process()));
    expectWritten("DefaultServer=127.0.0.1\r\nprotocol=SNTP\r\nTimeOut=5\r\nErrorRetry=1,4,30,0\r\n"
                  "nts=0");  // the profile's own, never the policy's
}

// The NTS box: the user's for SNTP alone, kept and written for TIME and DAYTIME; a unique key.
TEST(SettingsEditor, TheNtsBoxFollowsTheProtocolAndIsWritten) {
    NoticeWindow main;
    Editor editor(main);
    HWND window = editor.Window();
    ASSERT_NE(window, nullptr) << "no settings dialog";
    EXPECT_EQ(editor.Text(IDC_PROP_NTS), "NTS で認証する(&V)");
    for (int id : {IDC_PROP_NTS, IDC_PROP_REFERENCE, IDC_PROP_REFERENCE_HOURS})  // the moved ones
        EXPECT_EQ(PlacementFault(window, id), "") << id;
    std::map<wint_t, int> keys;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const std::wstring text = Wide(WindowText(c));
        const size_t at = text.find(L'&') + 1;  // 0 when there is none
        if (at > 0 && at < text.size()) ++keys[towupper(text[at])];
    }
    for (const auto& [key, count] : keys) EXPECT_EQ(count, 1) << static_cast<char>(key);
    editor.Click(IDC_PROP_NTS);  // open for the profile's SNTP
    const HWND list = GetDlgItem(window, IDC_PROP_PROTOCOL);
    const struct { int protocol; const char* name; bool open; } picks[] = {
        {1, "time", false}, {2, "daytime", false}, {0, "SNTP", true}};
    size_t notices = 1;
    for (const auto& [protocol, name, open] : picks) {
        SCOPED_TRACE(name);  // picked as a user picks: the list tells its dialog
        editor.Ask(IDC_PROP_PROTOCOL, CB_SETCURSEL, static_cast<WPARAM>(protocol));
        SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(IDC_PROP_PROTOCOL, CBN_SELCHANGE),
                            reinterpret_cast<LPARAM>(list), SMTO_ABORTIFHUNG, kStepMs, nullptr);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, IDC_PROP_NTS)) != 0, open);
        EXPECT_EQ(editor.Ask(IDC_PROP_NTS, BM_GETCHECK), BST_CHECKED);
        editor.Click(IDC_APPLY);
        ASSERT_TRUE(main.WaitFor(++notices));
        const auto written = EditedValues(editor.Profile());
        EXPECT_EQ(written.at("protocol") + "," + written.at("nts"), name + std::string(",1"));
    }
}

}  // namespace
