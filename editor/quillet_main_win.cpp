// The settings editor's entry: the DLL search kept to the system folder, the profile
// and the main window from the command line, then the dialog, run to its end.
#include <vector>

#include "editor/command_line.h"
#include "editor/settings_dlg_win.h"
#include "framework/afx_win.h"
#include "framework/context.h"
#include "framework/system_dll_win.h"
#include "framework/winapp_win.h"

namespace {

// Without -profile, the main program's profile beside this program.
std::wstring ProfilePath(const std::wstring& given) {
    std::wstring path = given.empty() ? AfxGetModuleFolder() + L"Tavrino.INI" : given;
    // A bare name would send the profile functions to the Windows folder.
    std::vector<wchar_t> full(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return path;
        if (length < full.size()) return std::wstring(full.data(), length);
        full.resize(length + 1);
    }
    return path;
}

HWND MainWindow(std::uint64_t handle) {
    const std::uint64_t fitting = HandleForPointerSize(handle, sizeof(HWND));
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(fitting));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL: an administrator may run the editor from a
    // folder that users write.
    RestrictDllSearchToSystemFolder();
    Context real;
    real.showMessage = &ShowMessageBox;
    ScopedContext seams(real);
    const EditorCommandLine line = ParseEditorCommandLine(CommandLineTail(GetCommandLineW()));
    CWinApp app;
    app.SetProfilePath(ProfilePath(line.profile));
    CSettingsDlg dialog(app, MainWindow(line.mainWindow));
    dialog.DoModal();
    return 0;
}
