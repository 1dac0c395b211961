#include "framework/winapp_win.h"

#include <string>
#include <vector>

#include "framework/text_win.h"

namespace {
CWinApp* application = nullptr;
}

CWinApp::CWinApp() { application = this; }

CWinApp::~CWinApp() {
    if (application == this) application = nullptr;
}

CWinApp* AfxGetApp() { return application; }

int CWinApp::GetProfileInt(const CString& section, const CString& key, int defaultValue) const {
    return static_cast<int>(GetPrivateProfileIntW(Widen(section).c_str(), Widen(key).c_str(),
                                                  defaultValue, m_strProfilePath.c_str()));
}

CString CWinApp::GetProfileString(const CString& section, const CString& key) const {
    // A value that fills the buffer may have been cut; grow until it fits.
    std::vector<wchar_t> value(256);
    for (int attempt = 0; attempt < 10; ++attempt) {
        DWORD length =
            GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), L"", value.data(),
                                     static_cast<DWORD>(value.size()), m_strProfilePath.c_str());
        if (length + 1 < value.size()) return Narrow(value.data(), static_cast<int>(length));
        value.resize(value.size() * 4);
    }
    return CString();
}

BOOL CWinApp::WriteProfileString(const CString& section, const CString& key, const CString& value) {
    return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(),
                                      Widen(value).c_str(), m_strProfilePath.c_str());
}

CString AfxGetCommandTail() { return Narrow(AfxGetCommandTailW().c_str()); }

std::wstring AfxGetCommandTailW() {
    const wchar_t* line = GetCommandLineW();
    if (!line) return std::wstring();
    // The program's name ends at the closing quote, or at the first blank.
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line == L'"') ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}
