// The Settings button and the settings editor together, as a user meets them: the
// program and its editor in a folder whose name has blanks, the editor started from
// the main window, and the main window following what the editor saves or its silent end.
#include <gtest/gtest.h>

#include <string>

#include "editor/resource.h"
#include "res/resource.h"
#include "tests/e2e/program_copy.h"

namespace {

// Waits until the condition holds; false when it does not within the time.
template <class Condition>
bool WaitFor(Condition condition, int milliseconds = kCommandMs) {
    for (int waited = 0; waited <= milliseconds; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return false;
}

bool Pressed(HWND button) {
    return !IsWindowEnabled(button) && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Released(HWND button) {
    return IsWindowEnabled(button) && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_UNCHECKED;
}

TEST(SettingsButton, StartsTheEditorAndTheWindowFollowsWhatItSaves) {
    TempDir dir;
    const std::string folder = dir.Path() + "設定 テスト\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    ASSERT_TRUE(CopyFileUtf8(ModuleFolder() + "..\\Tavrino.exe", folder + "Tavrino.exe"));
    ASSERT_TRUE(CopyFileUtf8(ModuleFolder() + "..\\Quillet.exe", folder + "Quillet.exe"));
    WriteFileBytes(folder + "Tavrino.INI", "[Property]\r\nDefaultServer=old.example.jp\r\n");
    Program program;
    ASSERT_TRUE(program.Start(folder + "Tavrino.exe"));
    HWND window = WaitForWindowWithProperty("Tavrino", program.Id(), kStartMs);
    ASSERT_NE(window, nullptr);
    HWND button = GetDlgItem(window, IDC_SETTINGS);
    ASSERT_TRUE(IsWindowVisible(button));

    // Opens the editor from the button; its window, found by its mark.
    auto openEditor = [&]() -> HWND {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        HWND editor = WaitForWindowWithProperty("Quillet", 0, kStartMs);
        EXPECT_TRUE(Pressed(button));
        return editor;
    };
    auto press = [](HWND editor, int id) {
        PostMessageW(editor, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(editor, id)));
    };
    auto setServer = [](HWND editor, const wchar_t* name) {
        SendMessageW(GetDlgItem(editor, IDC_PROP_SERVER), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(name));
    };

    // The profile's path, blanks and all, reached the editor: it shows its server.
    HWND editor = openEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(ControlText(editor, IDC_PROP_SERVER), "old.example.jp");
    // Apply: the window reloads at once; the button stays pressed.
    setServer(editor, L"apply.example.jp");
    press(editor, IDC_APPLY);
    EXPECT_TRUE(WaitFor([&] { return ControlText(window, IDC_SERVER) == "apply.example.jp"; }));
    EXPECT_TRUE(Pressed(button));
    // OK: saved, the editor ends, the button is released.
    setServer(editor, L"ok.example.jp");
    press(editor, IDOK);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(editor); }));
    EXPECT_TRUE(WaitFor([&] { return Released(button); }));
    EXPECT_EQ(ControlText(window, IDC_SERVER), "ok.example.jp");

    // Cancel: released, nothing read again.
    editor = openEditor();
    ASSERT_NE(editor, nullptr);
    setServer(editor, L"cancel.example.jp");
    press(editor, IDCANCEL);
    EXPECT_TRUE(WaitFor([&] { return Released(button); }));
    EXPECT_EQ(ControlText(window, IDC_SERVER), "ok.example.jp");

    // An editor ended without a word (from the task manager): released, nothing read.
    editor = openEditor();
    ASSERT_NE(editor, nullptr);
    DWORD editorId = 0;
    GetWindowThreadProcessId(editor, &editorId);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, editorId);
    ASSERT_NE(process, nullptr);
    EXPECT_TRUE(TerminateProcess(process, 1));
    CloseHandle(process);
    EXPECT_TRUE(WaitFor([&] { return Released(button); }));
    EXPECT_EQ(ControlText(window, IDC_SERVER), "ok.example.jp");

    // The window's end ends an editor that is still open.
    editor = openEditor();
    ASSERT_NE(editor, nullptr);
    CloseWithTheCloseButton(window, program);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(editor); }));
    EXPECT_EQ(ProfileValue(folder + "Tavrino.INI", "Property", "DefaultServer"), "ok.example.jp");
}

}  // namespace
