#include "service/service_records_win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/file.h"
#include "framework/text_win.h"
#include "framework/win_types.h"
#include "service/service_config.h"

// After windows.h.
#include <sddl.h>

namespace {

// The event source, opened at the first event and kept.
HANDLE EventSource() {
    static HANDLE source = RegisterEventSourceW(nullptr, kServiceName);
    return source;
}

}  // namespace

std::wstring ServiceDataFolder() {
    // The machine's own ProgramData as the profile list names it, the same for the
    // service and for an administrator's console (their environments may differ).
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD bytes = sizeof folder;
    std::wstring base = L"C:\\ProgramData";
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                     L"ProgramData", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, folder,
                     &bytes) == ERROR_SUCCESS &&
        folder[0] != L'\0') {
        base = folder;
    }
    return base + L"\\" + kServiceDataFolder;
}

std::wstring ServiceHistoryPath() { return ServiceDataFolder() + L"\\" + kServiceHistoryFile; }
std::wstring ServiceStatePath() { return ServiceDataFolder() + L"\\" + kServiceStateFile; }

bool PrepareServiceDataFolder() {
    // The service's own SID where Windows gives one (NT SERVICE\TavrinoService).
    std::wstring serviceSid;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    const std::wstring account = std::wstring(L"NT SERVICE\\") + kServiceName;
    if (LookupAccountNameW(nullptr, account.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(sid, &text)) {
            serviceSid = text;
            LocalFree(text);
        }
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            DataFolderSecurity(serviceSid).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const std::wstring folder = ServiceDataFolder();
    bool ok = CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
    if (!ok && GetLastError() == ERROR_ALREADY_EXISTS) {
        // Protected: the folder's rights stand alone, inheriting nothing.
        ok = SetFileSecurityW(folder.c_str(),
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              descriptor) != FALSE;
    }
    LocalFree(descriptor);
    return ok;
}

void ReportServiceEvent(unsigned long id, bool warning, const CString* inserts, int count) {
    HANDLE source = EventSource();
    if (!source) return;
    std::vector<std::wstring> wide(static_cast<std::size_t>(count > 0 ? count : 0));
    std::vector<const wchar_t*> strings(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = Widen(inserts[i]);
        strings[i] = wide[i].c_str();
    }
    ReportEventW(source, warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, id,
                 nullptr, static_cast<WORD>(strings.size()), 0,
                 strings.empty() ? nullptr : strings.data(), nullptr);
}

void ReportMessageEvent(const CString& text) {
    ReportServiceEvent(kEventCannotWrite, true, &text, 1);
}

CServiceState::CServiceState() {
    CString nextRun;  // the earlier run's: the schedule says its own
    m_bEarlier = ReadServiceState(&m_last, &nextRun, &m_lastEnd);
}

bool CServiceState::Earlier(ServiceAnswer* last, std::uint64_t* lastEnd) const {
    if (!m_bEarlier) return false;
    *last = m_last;
    *lastEnd = m_lastEnd;
    return true;
}

void CServiceState::SetLast(const ServiceAnswer& last, std::uint64_t lastEnd) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_last = last;
    m_lastEnd = lastEnd;
    WriteLocked();
}

void CServiceState::SetNextRun(const CString& nextRun) {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (nextRun == m_nextRun) return;
    m_nextRun = nextRun;
    WriteLocked();
}

void CServiceState::WriteLocked() const {
    CString end;
    end.Format("%llu", static_cast<unsigned long long>(m_lastEnd));
    const CString text =
        EncodeServiceAnswer(m_last) + "next=" + m_nextRun + "\nended=" + end + "\n";
    ScopedFile file(_wfopen(ServiceStatePath().c_str(), L"wb"));
    // A state that cannot be written leaves the status command an older one: no more.
    if (file) {
        (void)std::fwrite(text.GetString(), 1, static_cast<std::size_t>(text.GetLength()),
                          file.Get());
    }
}

bool ReadServiceState(ServiceAnswer* last, CString* nextRun, std::uint64_t* lastEnd) {
    ScopedFile file(_wfopen(ServiceStatePath().c_str(), L"rb"));
    if (!file) return false;
    std::vector<char> bytes(kLongestAnswer + 256);
    const std::size_t length = std::fread(bytes.data(), 1, bytes.size(), file.Get());
    const CString text(bytes.data(), static_cast<int>(length));
    *nextRun = AnswerField(text, "next");
    *lastEnd = std::strtoull(AnswerField(text, "ended").GetString(), nullptr, 10);
    // The answer's decoder takes the answer's own fields and passes "next" over.
    return DecodeServiceAnswer(bytes.data(), static_cast<int>(std::min<std::size_t>(
                                                 length, kLongestAnswer)),
                               last);
}
