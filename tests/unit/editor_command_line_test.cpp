// The settings editor's portable parts: its command line as the main window writes it
// (and as a user might), and the checks of its form before anything is written.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "editor/command_line.h"
#include "editor/resource.h"
#include "editor/settings_form.h"

namespace {

struct LineCase {
    const wchar_t* line;  // the whole command line, the program's name first
    const wchar_t* profile;
    std::uint64_t window;
};

TEST(EditorCommandLine, ReadsTheProfileAndTheMainWindow) {
    const LineCase cases[] = {
        // As the main window starts it: a quoted path with blanks and Japanese names.
        {L"\"C:\\Program Files\\時刻 合わせ\\Quillet.exe\" -profile=\"C:\\Program Files\\時刻 "
         L"合わせ\\Tavrino.INI\" -geohwnd=132456 xyz",
         L"C:\\Program Files\\時刻 合わせ\\Tavrino.INI", 132456},
        {L"Quillet.exe -profile=C:\\tav\\Tavrino.INI -geohwnd=7", L"C:\\tav\\Tavrino.INI", 7},
        {L"Quillet.exe -PROFILE=\"D:\\a b\\x.ini\"   -GeoHwnd=12", L"D:\\a b\\x.ini", 12},
        // Unquoted, the path ends at the first blank.
        {L"Quillet.exe -profile=C:\\a b\\Tavrino.INI", L"C:\\a", 0},
        {L"Quillet.exe", L"", 0},
        {L"Quillet.exe xyz -profile -geohwnd profile=a.ini --profile=b.ini", L"", 0},
        {L"Quillet.exe -profile=a.ini -profile=\"b c.ini\"", L"b c.ini", 0},
        {L"Quillet.exe -profile=\"unclosed path", L"unclosed path", 0},
        // 64-bit handles, the largest ones, and what is no handle.
        {L"Quillet.exe -geohwnd=18446744073709551615", L"", UINT64_MAX},
        {L"Quillet.exe -geohwnd=18446744073709551616", L"", 0},
        {L"Quillet.exe -geohwnd=4294967296", L"", 4294967296u},
        {L"Quillet.exe -geohwnd=-1", L"", UINT64_MAX},
        {L"Quillet.exe -geohwnd=-9223372036854775808", L"", std::uint64_t{1} << 63},
        {L"Quillet.exe -geohwnd=12abc", L"", 0},
        {L"Quillet.exe -geohwnd=0x1F", L"", 0},
        {L"Quillet.exe -geohwnd=", L"", 0},
        {L"Quillet.exe -geohwnd=\"77\"", L"", 77},
    };
    for (const LineCase& c : cases) {
        const EditorCommandLine parsed = ParseEditorCommandLine(CommandLineTail(c.line));
        EXPECT_EQ(parsed.profile, c.profile) << std::wstring(c.line).size();
        EXPECT_EQ(parsed.mainWindow, c.window) << parsed.mainWindow;
    }
}

TEST(EditorCommandLine, KeepsAHandleOnlyWhereItFitsThePointer) {
    EXPECT_EQ(HandleForPointerSize(UINT64_MAX, 8), UINT64_MAX);
    EXPECT_EQ(HandleForPointerSize(0x10062u, 4), 0x10062u);
    EXPECT_EQ(HandleForPointerSize(UINT64_MAX, 4), 0xFFFFFFFFu);  // -1
    EXPECT_EQ(HandleForPointerSize(0xFFFFFFFF80000000u, 4), 0x80000000u);
    EXPECT_EQ(HandleForPointerSize(0xFFFFFFFF7FFFFFFFu, 4), 0u);
    EXPECT_EQ(HandleForPointerSize(4294967296u, 4), 0u);
}

// A form as a fresh profile fills it, with a server: every entry in range.
SettingsForm ValidForm() {
    SettingsForm form = FormFromSettings(ProfileSettings());
    form.server = "127.0.0.1";
    return form;
}

TEST(EditorForm, ShowsTheSettingsAndWritesThemBackInTheReadersForms) {
    ProfileSettings loaded;
    loaded.server = "ntp.example.jp";
    loaded.protocol = kProtocolDaytime;
    loaded.timeOut = 5;
    loaded.retryUnit = 7;  // seconds, for the reader
    loaded.adjustAt = 1;
    loaded.adjustHour = 8;
    loaded.adjustMinute = 5;
    loaded.windowPos = 1;
    SettingsForm form = FormFromSettings(loaded);
    EXPECT_EQ(form.windowPos, 1);
    EXPECT_EQ(form.timeOut, "5");
    EXPECT_EQ(form.retryUnit, 0);
    EXPECT_EQ(form.adjustMinute, "5");

    form.adjustMinute = "07";
    form.windowPos = 0;
    ProfileSettings saved;
    ASSERT_EQ(SettingsFromForm(form, loaded, &saved).message, 0u);
    EXPECT_EQ(saved.windowPos, 0);
    std::map<std::string, std::string> written;
    for (const ProfileEntry& entry : ProfileEntries(saved)) {
        written[entry.key] = entry.value.GetString();
    }
    EXPECT_EQ(written["AdjustAt"], "1,8:7");
    EXPECT_EQ(written["protocol"], "daytime");
    EXPECT_EQ(written["ErrorRetry"], "0,0,0,0");
    EXPECT_EQ(written.count("WindowPos"), 0u);  // the main window's own value

    // Only the flag is the editor's: a saved place after it stays as it is.
    for (const auto& [stored, flag, value] : std::vector<std::tuple<const char*, int, std::string>>{
             {"1,120,80,1", 0, "0,120,80,1"},
             {"0, 0x10,-5", 1, "1, 0x10,-5"},
             {"0,120", 1, "1"},  // no place to keep: the flag alone
             {"", 1, "1"},
             {"x,1,2,3", 0, "0"}}) {
        EXPECT_EQ(std::string(WindowPosWithFlag(stored, flag)), value) << stored;
    }
}

struct FormCase {
    CString SettingsForm::*field;
    const char* text;
    int errorRetry;
    int control;  // 0: accepted
    unsigned message;
};

TEST(EditorForm, RefusesWhatIsOutOfRange) {
    using F = SettingsForm;
    const FormCase cases[] = {
        {&F::server, "", 0, IDC_PROP_SERVER, IDS_BAD_SERVER},
        {&F::server, "ntp .jp", 0, IDC_PROP_SERVER, IDS_BAD_SERVER},
        {&F::server, "ntp\x81\x40jp", 0, IDC_PROP_SERVER, IDS_BAD_SERVER},  // 全角空白
        {&F::server, "\x83\x40jp", 0, 0, 0},  // ァ: 0x40 as a second byte is no blank
        {&F::timeOut, "0", 0, IDC_PROP_TIMEOUT, IDS_BAD_TIMEOUT},
        {&F::timeOut, "60", 0, 0, 0},
        {&F::timeOut, "61", 0, IDC_PROP_TIMEOUT, IDS_BAD_TIMEOUT},
        {&F::timeOut, "-5", 0, IDC_PROP_TIMEOUT, IDS_BAD_TIMEOUT},
        {&F::referenceHours, "24", 0, 0, 0},
        {&F::referenceHours, "25", 0, IDC_PROP_REFERENCE_HOURS, IDS_BAD_REFERENCE_HOURS},
        {&F::retryCount, "100", 1, IDC_PROP_RETRY_COUNT, IDS_BAD_RETRY_COUNT},
        {&F::retryCount, "99", 1, 0, 0},
        {&F::retryCount, "100", 0, 0, 0},  // the series is off
        {&F::retryValue, "0", 1, IDC_PROP_RETRY_VALUE, IDS_BAD_RETRY_VALUE},
        {&F::retryValue, "1000", 1, IDC_PROP_RETRY_VALUE, IDS_BAD_RETRY_VALUE},
        {&F::adjustHour, "24", 0, IDC_PROP_ADJUST_HOUR, IDS_BAD_ADJUST_HOUR},
        {&F::adjustMinute, "75", 0, IDC_PROP_ADJUST_MINUTE, IDS_BAD_ADJUST_MINUTE},
        {&F::adjustMinute, "5x", 0, IDC_PROP_ADJUST_MINUTE, IDS_BAD_ADJUST_MINUTE},
    };
    for (const FormCase& c : cases) {
        SettingsForm form = ValidForm();
        form.errorRetry = c.errorRetry;
        form.retryCount = "3";
        form.retryValue = "30";
        form.*c.field = c.text;
        ProfileSettings saved;
        saved.server = "untouched";
        const FormProblem problem = SettingsFromForm(form, ProfileSettings(), &saved);
        EXPECT_EQ(problem.control, c.control) << c.text;
        EXPECT_EQ(problem.message, c.message) << c.text;
        EXPECT_EQ(saved.server == "untouched", c.control != 0) << c.text;
    }
}

TEST(EditorForm, ASeriesThatIsOffKeepsItsNumbersWhenTheTypedOnesAreNoGood) {
    ProfileSettings loaded;  // a fresh profile's series: 0,0,0,0
    SettingsForm form = FormFromSettings(loaded);
    form.server = "127.0.0.1";
    EXPECT_EQ(form.retryValue, "0");
    form.retryCount = "500";
    ProfileSettings saved;
    ASSERT_EQ(SettingsFromForm(form, loaded, &saved).message, 0u);
    EXPECT_EQ(saved.retryCount, 0);
    EXPECT_EQ(saved.retryValue, 0);
}

}  // namespace
