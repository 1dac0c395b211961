#include "settings/registry_source_win.h"

#include <vector>

#include "framework/atoi.h"
#include "framework/text_win.h"

namespace {

// No setting is longer; a longer value is not one of ours and is ignored.
constexpr DWORD kLongestValueBytes = 64 * 1024;

}  // namespace

RegistrySource::RegistrySource(const wchar_t* subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        m_key.Reset(key);
    }
}

bool RegistrySource::Read(const char* key, CString* text) const {
    if (!m_key) return false;
    const std::wstring name = Widen(key);
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes > kLongestValueBytes) {
        return false;
    }
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        DWORD number = 0;
        if (RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&number), &bytes) != ERROR_SUCCESS) {
            return false;
        }
        text->Format("%lu", static_cast<unsigned long>(number));
        return true;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // Room for a terminator that the stored value may lack.
    std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 2, L'\0');
    DWORD got = bytes;
    if (RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &got) != ERROR_SUCCESS) {
        return false;
    }
    value[got / sizeof(wchar_t)] = L'\0';
    *text = Narrow(value.data());
    return true;
}

CString RegistrySource::Text(const char* key) const {
    CString text;
    return Read(key, &text) ? text : CString();
}

int RegistrySource::Int(const char* key, int defaultValue) const {
    CString text;
    if (!Read(key, &text)) return defaultValue;
    return static_cast<int>(AtoiSaturating(std::string(text.GetString())));
}

bool RegistrySource::Has(const char* key) const {
    CString text;
    return Read(key, &text);
}

bool WriteMachineValue(const wchar_t* subKey, const char* key, const CString& value,
                       bool keepEmpty) {
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &created,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const ScopedRegKey owner(created);
    const std::wstring name = Widen(key);
    if (value.IsEmpty() && !keepEmpty) {
        const LONG deleted = RegDeleteValueW(created, name.c_str());
        return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    }
    const std::wstring text = Widen(value);
    return RegSetValueExW(created, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}
