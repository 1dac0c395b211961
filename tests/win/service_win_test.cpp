// What the service and the window read from the registry, and the security that the
// service hands Windows, as Windows itself parses it (Wine parses it too, but enforces
// none of it).
#include "service/service_config.h"
#include "settings/registry_source_win.h"

#include <gtest/gtest.h>

// After windows.h.
#include <sddl.h>

namespace {

constexpr wchar_t kTestKey[] = L"SOFTWARE\\TavrinoTest\\Source";

void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Values as a policy template or an administrator may write them: texts, a number of
// the template's decimal kind, an empty text, and kinds that are no setting at all.
TEST(RegistrySource, ReadsTextsAndNumbersAndNothingElse) {
    // Other tests share the prefix: the key goes again whatever happens.
    struct Removed {
        ~Removed() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TavrinoTest"); }
    } removed;
    const wchar_t server[] = L"ntp.\x65e5\x672c.jp";  // a name beyond ASCII
    SetValue(L"DefaultServer", REG_SZ, server, sizeof server);
    const DWORD timeOut = 45;
    SetValue(L"TimeOut", REG_DWORD, &timeOut, sizeof timeOut);
    SetValue(L"logfile", REG_SZ, L"", sizeof(wchar_t));
    const wchar_t unterminated[] = {L'1', L',', L'7', L':', L'3', L'0'};
    SetValue(L"AdjustAt", REG_SZ, unterminated, sizeof unterminated);
    const BYTE binary[] = {1, 2, 3};
    SetValue(L"protocol", REG_BINARY, binary, sizeof binary);

    const RegistrySource source(kTestKey);
    EXPECT_TRUE(source.Has("DefaultServer"));
    EXPECT_EQ(source.Text("DefaultServer"), "ntp.\x93\xfa\x96\x7b.jp");
    EXPECT_EQ(source.Text("TimeOut"), "45");
    EXPECT_EQ(source.Int("TimeOut", 3), 45);
    EXPECT_TRUE(source.Has("logfile"));
    EXPECT_EQ(source.Int("logfile", 7), 0);
    EXPECT_EQ(source.Text("AdjustAt"), "1,7:30");
    EXPECT_FALSE(source.Has("protocol"));
    EXPECT_FALSE(source.Has("beep"));
    EXPECT_EQ(source.Int("beep", 7), 7);
    EXPECT_FALSE(RegistrySource(L"SOFTWARE\\TavrinoTest\\None").Has("DefaultServer"));

    // What the install command writes reads back; an empty text removes the value.
    ASSERT_TRUE(WriteMachineValue(kTestKey, "protocol", "daytime"));
    EXPECT_EQ(RegistrySource(kTestKey).Text("protocol"), "daytime");
    ASSERT_TRUE(WriteMachineValue(kTestKey, "protocol", ""));
    EXPECT_FALSE(RegistrySource(kTestKey).Has("protocol"));
}

TEST(ServiceSecurity, EveryDescriptorParses) {
    const std::wstring descriptors[] = {ServiceConfig().securityDescriptor, kPipeSecurity,
                                        DataFolderSecurity(L"S-1-5-80-3141592653-1"),
                                        DataFolderSecurity(L"")};
    for (const std::wstring& text : descriptors) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << "error " << GetLastError();
        LocalFree(descriptor);
    }
}

}  // namespace
