// Files in folders whose names the system's code page cannot hold: "Jürgen" under
// code page 932, "ツール" under a Western 1252. The profile, the history and the
// packet trace all land in the folder itself, never in a look-alike. The same tests
// run again under an English locale (see tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/sntp.h"
#include "framework/winapp_win.h"
#include "logging/event_log.h"
#include "logging/history_log.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string ReadWide(const fs::path& path) {
    std::FILE* file = _wfopen(path.wstring().c_str(), L"rb");
    if (!file) return std::string();
    std::string bytes;
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        bytes.append(chunk, got);
    }
    std::fclose(file);
    return bytes;
}

}  // namespace

TEST(WidePaths, TheLocaleIsTheOneThisRunIsFor) {
    // Without this the English run could pass on a Japanese code page unseen.
    const char* expected = std::getenv("TAVRINO_EXPECT_ACP");
    EXPECT_EQ(GetACP(), expected ? static_cast<UINT>(std::atoi(expected)) : 932u);
}

TEST(WidePaths, ProfileHistoryAndTraceStayInTheFolder) {
    for (const wchar_t* name : {L"J\u00FCrgen", L"\u30C4\u30FC\u30EB", L"J\u00FCrgen \u30C4\u30FC\u30EB"}) {
        TempDir dir;
        const fs::path folder = fs::path(Wide(dir.Path())) / name;
        SCOPED_TRACE(folder.u8string());
        ASSERT_TRUE(fs::create_directory(folder));
        const std::wstring profile = (folder / L"Tavrino.INI").wstring();

        CWinApp app;
        app.SetProfilePath(profile);
        EXPECT_TRUE(app.WriteProfileString("Property", "DefaultServer", "ntp.example.jp"));
        EXPECT_EQ(app.GetProfileString("Property", "DefaultServer"), "ntp.example.jp");

        RecordingSink sink;
        EXPECT_EQ(WriteHistoryRecord(HistoryLogPath(profile), "Sun Jan 06 12:34:56 2002", "s",
                                     kProtocolSntp, 0, "OK", "Sun Jan 06 12:34:50 2002"),
                  1);
        unsigned char reply[kSntpPacketSize] = {};
        EXPECT_EQ(WriteSntpLog(EventLogPath(profile), "s", reply, TimeStamp{1010320496u, 0}), 1);
        EXPECT_TRUE(sink.Messages().empty());

        EXPECT_NE(ReadWide(folder / L"Tavrino.INI").find("DefaultServer=ntp.example.jp"),
                  std::string::npos);
        EXPECT_EQ(ReadWide(folder / L"Tavrino.log"),
                  "Sun Jan 06 12:34:56 2002, s,    SNTP,  check, OK, "
                  "Sun Jan 06 12:34:50 2002, +6\r\n");
        EXPECT_EQ(ReadWide(folder / L"Tavrino.sntp.log").substr(0, 3), "s\r\n");
        // Nothing beside the folder: no look-alike was made.
        int entries = 0;
        for (const auto& entry : fs::directory_iterator(fs::path(Wide(dir.Path())))) {
            (void)entry;
            ++entries;
        }
        EXPECT_EQ(entries, 1);
    }
}
