// The dial-up check on Windows: the automatic-dialling values as the registry holds
// them, the listing of dial-up connections, and what the user is told.
//
// HKEY_CURRENT_USER is pointed at an empty volatile key of this process for the
// registry cases, so the real Internet settings are neither read nor changed; and
// dial-up connections cannot be made here, so the RAS enumeration is a fake.
#include "logging/dialup_win.h"

#include <gtest/gtest.h>

#include <raserror.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/text_win.h"
#include "logging/dialup.h"
#include "tests/support/recording_sink.h"

namespace {

const wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// "ﾀﾞｲｱﾙｱｯﾌﾟに接続されていません。" in code page 932 and in UTF-16.
const char kNotConnected[] =
    "\xC0\xDE\xB2\xB1\xD9\xB1\xAF\xCC\xDF\x82\xC9\x90\xDA\x91\xB1\x82\xB3\x82\xEA\x82\xC4\x82\xA2"
    "\x82\xDC\x82\xB9\x82\xF1\x81\x42";
const wchar_t kNotConnectedWide[] =
    L"\xFF80\xFF9E\xFF72\xFF71\xFF99\xFF71\xFF6F\xFF8C\xFF9F\x306B\x63A5\x7D9A\x3055\x308C\x3066"
    L"\x3044\x307E\x305B\x3093\x3002";

HRASCONN ConnectionHandle(DWORD index) {
    return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(0x5100 + index));
}

// A RAS enumeration that answers as Windows does: the needed size when the buffer is
// too small, else every active connection. Connections may come up between calls.
struct FakeRas {
    static DWORD active;           // connections at the first call
    static DWORD comingUpPerCall;  // more at each later call
    static bool neverSettles;      // too small, whatever the buffer
    static DWORD failure;          // non-zero: the enumeration fails so
    static int calls;
    static DWORD listed;  // connections written by the last successful call

    static void Reset() {
        active = 0;
        comingUpPerCall = 0;
        neverSettles = false;
        failure = 0;
        calls = 0;
        listed = 0;
    }

    static DWORD WINAPI Enumerate(LPRASCONNA entries, LPDWORD bytes, LPDWORD count) {
        ++calls;
        if (failure != 0) return failure;
        if (!entries || !bytes || !count) return ERROR_INVALID_PARAMETER;
        if (entries[0].dwSize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;
        if (neverSettles) return ERROR_BUFFER_TOO_SMALL;  // and *bytes left as given
        DWORD now = active + comingUpPerCall * static_cast<DWORD>(calls - 1);
        DWORD needed = now * static_cast<DWORD>(sizeof(RASCONNA));
        *count = now;
        if (*bytes < needed) {
            *bytes = needed;
            return ERROR_BUFFER_TOO_SMALL;
        }
        for (DWORD i = 0; i < now; ++i) entries[i].hrasconn = ConnectionHandle(i);
        *bytes = needed;
        listed = now;
        return ERROR_SUCCESS;
    }
};
DWORD FakeRas::active = 0;
DWORD FakeRas::comingUpPerCall = 0;
bool FakeRas::neverSettles = false;
DWORD FakeRas::failure = 0;
int FakeRas::calls = 0;
DWORD FakeRas::listed = 0;

class BoundFakeRas {
  public:
    BoundFakeRas() : m_seams((FakeRas::Reset(), CurrentContext().With(&FakeRas::Enumerate))) {}
    BoundFakeRas(const BoundFakeRas&) = delete;
    BoundFakeRas& operator=(const BoundFakeRas&) = delete;

  private:
    ScopedContext m_seams;
};

// HKEY_CURRENT_USER of this process redirected to an empty volatile key, which is
// deleted afterwards (and would not outlive the registry's session anyway).
class DialupRegistry : public testing::Test {
  protected:
    void SetUp() override {
        m_name = L"Software\\TavrinoDialupTest." + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, m_name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &m_scratch, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_scratch), ERROR_SUCCESS);
        m_overridden = true;
        // Every user has a Software key; not seeing one proves the redirection.
        HKEY software = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &software),
                  ERROR_FILE_NOT_FOUND);
    }

    void TearDown() override {
        if (m_overridden) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (m_scratch) {
            RegCloseKey(m_scratch);
            EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, m_name.c_str()), ERROR_SUCCESS);
            RegDeleteKeyW(HKEY_CURRENT_USER, m_name.c_str());
        }
        HKEY left = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, m_name.c_str(), 0, KEY_READ, &left),
                  ERROR_FILE_NOT_FOUND);
    }

    static void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD length) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        LONG result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), length);
        RegCloseKey(key);
        ASSERT_EQ(result, ERROR_SUCCESS);
    }
    static void SetDword(const wchar_t* name, DWORD number) {
        SetValue(name, REG_DWORD, &number, sizeof number);
    }
    static void SetBytes(const wchar_t* name, DWORD type, std::vector<unsigned char> bytes) {
        SetValue(name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    static void SetPair(DWORD enable, DWORD noNet) {
        SetDword(L"EnableAutodial", enable);
        SetDword(L"NoNetAutodial", noNet);
    }
    static void RemoveSettingsKey() {
        LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, kInternetSettings);
        ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << result;
    }

    // The classification read, then the whole check with no dial-up connection up:
    // whether it lets the query go, and the message it shows when not.
    static void ExpectCheck(int classification, bool allowed) {
        EXPECT_EQ(ReadAutodialSetting(), classification);
        BoundFakeRas ras;
        RecordingSink sink;
        EXPECT_EQ(CheckDialupConnection(), allowed ? 1 : 0);
        if (allowed) {
            EXPECT_TRUE(sink.Messages().empty());
        } else {
            EXPECT_EQ(sink.Messages(), std::vector<std::string>{kNotConnected});
        }
        // Connections are looked at only when Windows would dial for the query.
        if (classification == kAutodialAlways) {
            EXPECT_GE(FakeRas::calls, 1);
        } else {
            EXPECT_EQ(FakeRas::calls, 0);
        }
    }

  private:
    std::wstring m_name;
    HKEY m_scratch = nullptr;
    bool m_overridden = false;
};

}  // namespace

TEST_F(DialupRegistry, AbsentKeyOrValuesMeanNoAutomaticDialling) {
    {
        SCOPED_TRACE("no Internet settings key");
        ExpectCheck(kAutodialNever, true);
    }
    SetDword(L"Unrelated", 1);
    {
        SCOPED_TRACE("key without either value");
        ExpectCheck(kAutodialNever, true);
    }
}

TEST_F(DialupRegistry, OneValueAbsentCountsAsZero) {
    SetDword(L"EnableAutodial", 1);
    {
        SCOPED_TRACE("EnableAutodial 1 alone: dials whenever a program needs the network");
        ExpectCheck(kAutodialAlways, false);
    }
    RemoveSettingsKey();
    SetDword(L"EnableAutodial", 0);
    {
        SCOPED_TRACE("EnableAutodial 0 alone");
        ExpectCheck(kAutodialNever, true);
    }
    RemoveSettingsKey();
    SetDword(L"NoNetAutodial", 1);
    {
        SCOPED_TRACE("NoNetAutodial 1 alone");
        ExpectCheck(kAutodialNotTrusted, false);
    }
}

TEST_F(DialupRegistry, DwordPairsOfZeroOneAndOthers) {
    const struct {
        DWORD enable, noNet;
        int classification;
        bool allowed;
    } cases[] = {
        {0, 0, kAutodialNever, true},           {1, 1, kAutodialNever, true},
        {1, 0, kAutodialAlways, false},         {0, 1, kAutodialNotTrusted, false},
        {2, 0, kAutodialNotTrusted, false},     {2, 1, kAutodialNotTrusted, false},
        {1, 2, kAutodialNotTrusted, false},     {0, 0x100, kAutodialNotTrusted, false},
        {0x101, 1, kAutodialNotTrusted, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("EnableAutodial " + std::to_string(c.enable) + ", NoNetAutodial " +
                     std::to_string(c.noNet));
        SetPair(c.enable, c.noNet);
        ExpectCheck(c.classification, c.allowed);
    }
}

TEST_F(DialupRegistry, ShortDataIsZeroExtendedLittleEndianWhateverTheType) {
    {
        SCOPED_TRACE("2-byte and 1-byte REG_BINARY ones");
        SetBytes(L"EnableAutodial", REG_BINARY, {0x01, 0x00});
        SetBytes(L"NoNetAutodial", REG_BINARY, {0x01});
        ExpectCheck(kAutodialNever, true);
    }
    {
        SCOPED_TRACE("2-byte REG_BINARY one with a REG_DWORD zero");
        SetBytes(L"EnableAutodial", REG_BINARY, {0x01, 0x00});
        SetDword(L"NoNetAutodial", 0);
        ExpectCheck(kAutodialAlways, false);
    }
    {
        SCOPED_TRACE("2-byte REG_BINARY 256");
        SetBytes(L"EnableAutodial", REG_BINARY, {0x00, 0x01});
        SetDword(L"NoNetAutodial", 1);
        ExpectCheck(kAutodialNotTrusted, false);
    }
    {
        SCOPED_TRACE("empty REG_BINARY reads as zero");
        SetBytes(L"EnableAutodial", REG_BINARY, {});
        SetDword(L"NoNetAutodial", 0);
        ExpectCheck(kAutodialNever, true);
    }
    {
        SCOPED_TRACE("REG_DWORD_BIG_ENDIAN one is read little-endian");
        SetBytes(L"EnableAutodial", REG_DWORD_BIG_ENDIAN, {0x00, 0x00, 0x00, 0x01});
        SetDword(L"NoNetAutodial", 1);
        ExpectCheck(kAutodialNotTrusted, false);
    }
}

TEST_F(DialupRegistry, DataLongerThanFourBytesIsRefused) {
    {
        SCOPED_TRACE("8-byte REG_BINARY whose first four bytes say one");
        SetBytes(L"EnableAutodial", REG_BINARY, {0x01, 0, 0, 0, 0, 0, 0, 0});
        SetDword(L"NoNetAutodial", 1);
        ExpectCheck(kAutodialNotTrusted, false);
    }
    {
        SCOPED_TRACE("8-byte REG_BINARY zero as NoNetAutodial");
        SetDword(L"EnableAutodial", 0);
        SetBytes(L"NoNetAutodial", REG_BINARY, {0, 0, 0, 0, 0, 0, 0, 0});
        ExpectCheck(kAutodialNotTrusted, false);
    }
    {
        SCOPED_TRACE("REG_QWORD zero");
        SetBytes(L"EnableAutodial", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0});
        SetDword(L"NoNetAutodial", 0);
        ExpectCheck(kAutodialNotTrusted, false);
    }
    {
        SCOPED_TRACE("5-byte REG_BINARY");
        SetDword(L"EnableAutodial", 1);
        SetBytes(L"NoNetAutodial", REG_BINARY, {0, 0, 0, 0, 0});
        ExpectCheck(kAutodialNotTrusted, false);
    }
}

TEST_F(DialupRegistry, AlwaysDiallingGoesAheadOnlyWithAnActiveConnection) {
    SetPair(1, 0);
    BoundFakeRas ras;
    for (DWORD active : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(active) + " active connection(s)");
        FakeRas::Reset();
        FakeRas::active = active;
        RecordingSink sink;
        EXPECT_EQ(CheckDialupConnection(), 1);
        EXPECT_TRUE(sink.Messages().empty());
        EXPECT_EQ(FakeRas::listed, active);
    }
    {
        SCOPED_TRACE("none");
        FakeRas::Reset();
        RecordingSink sink;
        EXPECT_EQ(CheckDialupConnection(), 0);
        ASSERT_EQ(sink.Messages(), std::vector<std::string>{kNotConnected});
        // The box shows the Japanese text whatever the system code page.
        EXPECT_EQ(Widen(sink.Messages()[0].c_str()), std::wstring(kNotConnectedWide));
    }
    {
        SCOPED_TRACE("connections cannot be listed");
        FakeRas::Reset();
        FakeRas::active = 1;
        FakeRas::failure = ERROR_CANNOT_OPEN_PHONEBOOK;
        RecordingSink sink;
        EXPECT_EQ(CheckDialupConnection(), 0);
        EXPECT_EQ(sink.Messages(), std::vector<std::string>{kNotConnected});
    }
}

TEST(DialupConnections, FirstOfAllActiveConnections) {
    BoundFakeRas ras;
    EXPECT_EQ(FindDialupConnection(), nullptr);  // none

    for (DWORD active : {1u, 2u, 5u, 40u}) {
        SCOPED_TRACE(std::to_string(active) + " active");
        FakeRas::Reset();
        FakeRas::active = active;
        EXPECT_EQ(FindDialupConnection(), ConnectionHandle(0));
        EXPECT_EQ(FakeRas::listed, active);  // the buffer held every one of them
        EXPECT_LE(FakeRas::calls, 3);
    }
}

TEST(DialupConnections, ConnectionsComingUpWhileTheBufferGrows) {
    BoundFakeRas ras;
    FakeRas::active = 2;
    FakeRas::comingUpPerCall = 1;
    EXPECT_EQ(FindDialupConnection(), ConnectionHandle(0));
    EXPECT_GE(FakeRas::listed, 3u);
}

TEST(DialupConnections, EnumerationFailureOrNoEndMeansNone) {
    BoundFakeRas ras;
    FakeRas::active = 1;
    FakeRas::failure = ERROR_CANNOT_OPEN_PHONEBOOK;
    EXPECT_EQ(FindDialupConnection(), nullptr);
    EXPECT_EQ(FakeRas::calls, 1);

    FakeRas::Reset();
    FakeRas::active = 1;
    FakeRas::neverSettles = true;
    EXPECT_EQ(FindDialupConnection(), nullptr);
    EXPECT_GT(FakeRas::calls, 1);
    EXPECT_LE(FakeRas::calls, 16);  // gives up instead of looping
}

TEST(DialupConnections, RealRemoteAccessServiceAnswers) {
    // Where the tests run there is no dial-up connection; the real enumeration must
    // say so rather than fail or crash.
    ASSERT_EQ(CurrentContext().enumerateDialup, nullptr);
    EXPECT_EQ(FindDialupConnection(), nullptr);
}
