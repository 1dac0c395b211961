// Start-up's computations: the trace switch, the profile path, the time-zone record, the
// one-copy decision.
#include "app/start_up.h"

#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"

TEST(CommandLine, OnlyTheExactSwitchAnywhereTurnsTheTraceOn) {
    struct Case {
        const char* line;
        unsigned short flags;
    };
    for (const Case& c : {Case{"/Dsntp", 0x8000}, Case{"-x /Dsntp -y", 0x8000},
                          Case{"foo/Dsntpbar", 0x8000}, Case{"/dsntp", 0}, Case{"/DSNTP", 0},
                          Case{"/D sntp", 0}, Case{"", 0}, Case{nullptr, 0}}) {
        SCOPED_TRACE(c.line ? c.line : "(null)");
        traceFlags = 0x1234;  // cleared whatever it held
        EXPECT_EQ(ScanCommandLine(c.line), c.flags);
        EXPECT_EQ(traceFlags, c.flags);
    }
    traceFlags = 0;
}

TEST(ProfilePath, LastThreeCharactersBecomeIni) {
    EXPECT_EQ(MakeProfilePath(L"C:\\A\\b.exe"), L"C:\\A\\b.INI");
    EXPECT_EQ(MakeProfilePath(L"D:\\Tools\\clock.exe"), L"D:\\Tools\\clock.INI");
    // Whatever the three are: another extension, none at all, a short one.
    EXPECT_EQ(MakeProfilePath(L"C:\\A\\b.com"), L"C:\\A\\b.INI");
    EXPECT_EQ(MakeProfilePath(L"C:\\A\\clock"), L"C:\\A\\clINI");
    EXPECT_EQ(MakeProfilePath(L"C:\\A\\b.x"), L"C:\\A\\INI");
    EXPECT_EQ(MakeProfilePath(L"ab"), L"INI");
    // Folder names that no single code page holds are kept as they are.
    EXPECT_EQ(MakeProfilePath(L"C:\\J\u00FCrgen\\\u30C4\u30FC\u30EB\\Tavrino.exe"),
              L"C:\\J\u00FCrgen\\\u30C4\u30FC\u30EB\\Tavrino.INI");
    // A path beyond 260 characters is kept whole.
    std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\Tavrino.exe";
    EXPECT_EQ(MakeProfilePath(deep), deep.substr(0, deep.size() - 3) + L"INI");
}

TEST(TimeZone, FixedAtUtcPlusNineWithoutDaylightSaving) {
    // The test program has fixed the zone as start-up does; fixing again changes nothing.
    ASSERT_TRUE(FixTimeZoneAtJst());
    ClearDaylightFlag();
    CString record = TimeZoneRecord();
    // "0,-9,JST,,JST-9" on most runtimes; the daylight name varies (Wine reports "JS").
    std::string text = record.GetString();
    EXPECT_EQ(text.substr(0, 5), "0,-9,") << text;
    EXPECT_EQ(text.substr(text.size() - 6), ",JST-9") << text;
    std::tm local{};
    std::time_t zero = 0;
#ifdef _WIN32
    localtime_s(&local, &zero);
#else
    localtime_r(&zero, &local);
#endif
    EXPECT_EQ(local.tm_hour, 9);
    EXPECT_EQ(local.tm_isdst, 0);
}

TEST(OneCopy, AnotherInstanceIsThereWhenItsMutexExistsOrCannotBeOpened) {
    struct Case {
        bool gotHandle;
        unsigned long lastError;
        bool startedByOffer;
        InstanceStart expected;
    };
    const InstanceStart run = InstanceStart::kRun;
    const InstanceStart wait = InstanceStart::kWaitForHandOver;
    const InstanceStart refuse = InstanceStart::kRefuse;
    for (const Case& c : {
             // Made here: this instance is the first.
             Case{true, 0, false, run},
             Case{true, 0, true, run},
             // A stale error code beside a handle of a fresh mutex means nothing.
             Case{true, kErrorAccessDenied, false, run},
             Case{true, kErrorAccessDenied, true, run},
             // Opened: the same account's instance holds it.
             Case{true, kErrorAlreadyExists, false, refuse},
             Case{true, kErrorAlreadyExists, true, wait},
             // Another account's instance (the offer, answered with an administrator's
             // password): its mutex cannot even be opened.
             Case{false, kErrorAccessDenied, false, refuse},
             Case{false, kErrorAccessDenied, true, wait},
             // No handle, and not for lack of access: nothing to tell a copy by.
             Case{false, kErrorAlreadyExists, false, run},
             Case{false, 6, false, run},  // the name taken by another kind of object
             Case{false, 6, true, run},
             Case{false, 0, true, run},
         }) {
        SCOPED_TRACE(::testing::Message() << "handle " << c.gotHandle << ", error " << c.lastError
                                          << ", offer " << c.startedByOffer);
        EXPECT_EQ(DecideInstanceStart(c.gotHandle, c.lastError, c.startedByOffer), c.expected);
    }
}
