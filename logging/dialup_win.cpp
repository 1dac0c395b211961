#include "logging/dialup_win.h"

#include <raserror.h>

#include <algorithm>
#include <vector>

#include "framework/afx_win.h"
#include "framework/handles_win.h"
#include "framework/system_dll_win.h"
#include "logging/dialup.h"

namespace {

const wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

AutodialValue ReadAutodialValue(HKEY key, const wchar_t* name) {
    unsigned char data[4] = {};
    DWORD length = sizeof data;
    // The type is not looked at: a REG_BINARY of up to 4 bytes counts like a REG_DWORD.
    LONG result = RegQueryValueExW(key, name, nullptr, nullptr, data, &length);
    if (result == ERROR_FILE_NOT_FOUND) return AutodialValue::Absent();
    if (result != ERROR_SUCCESS) return AutodialValue::Unreadable();  // ERROR_MORE_DATA too
    return AutodialValueFromData(data, length);
}

// Connections may come up while the buffer is grown; give up after a few rounds rather
// than chase them.
constexpr int kEnumerationAttempts = 8;

}  // namespace

int ReadAutodialSetting() {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_READ, &opened);
    if (result == ERROR_FILE_NOT_FOUND) {
        return ClassifyAutodial(AutodialValue::Absent(), AutodialValue::Absent());
    }
    if (result != ERROR_SUCCESS) return kAutodialNotTrusted;
    ScopedRegKey key(opened);
    AutodialValue enable = ReadAutodialValue(key.Get(), L"EnableAutodial");
    if (enable.state == AutodialValue::kUnreadable) return kAutodialNotTrusted;
    AutodialValue noNet = ReadAutodialValue(key.Get(), L"NoNetAutodial");
    return ClassifyAutodial(enable, noNet);
}

HRASCONN FindDialupConnection() {
    RasEnumerator bound = CurrentContext().enumerateDialup;
    // Remote access is loaded only when a query needs to know about connections.
    RasEnumerator enumerate =
        bound ? bound : SystemFunctionAs<RasEnumerator>(L"rasapi32.dll", "RasEnumConnectionsA");
    if (!enumerate) return nullptr;
    std::vector<RASCONNA> entries(1);
    for (int attempt = 0; attempt < kEnumerationAttempts; ++attempt) {
        for (RASCONNA& entry : entries) {
            entry = {};
            entry.dwSize = sizeof(RASCONNA);
        }
        DWORD bytes = static_cast<DWORD>(entries.size() * sizeof(RASCONNA));
        DWORD count = 0;
        DWORD result = enumerate(entries.data(), &bytes, &count);
        if (result == ERROR_SUCCESS) return count > 0 ? entries[0].hrasconn : nullptr;
        if (result != ERROR_BUFFER_TOO_SMALL) return nullptr;
        // The platform reports the bytes it needs. One entry more leaves room for a
        // connection that comes up meanwhile and makes progress even when the report
        // does not move.
        size_t needed = (static_cast<size_t>(bytes) + sizeof(RASCONNA) - 1) / sizeof(RASCONNA);
        entries.resize(std::max(needed, entries.size()) + 1);
    }
    return nullptr;
}

int CheckDialupConnection() {
    int classification = ReadAutodialSetting();
    // Connections matter only when Windows would dial for the query.
    bool connectionActive = classification == kAutodialAlways && FindDialupConnection() != nullptr;
    if (DialupAllowsQuery(classification, connectionActive)) return 1;
    // "ﾀﾞｲｱﾙｱｯﾌﾟに接続されていません。"
    AfxMessageBox(
        "\xC0\xDE\xB2\xB1\xD9\xB1\xAF\xCC\xDF\x82\xC9\x90\xDA\x91\xB1\x82\xB3\x82\xEA\x82\xC4"
        "\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81\x42");
    return 0;
}
