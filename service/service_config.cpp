#include "service/service_config.h"

std::wstring DataFolderSecurity(const std::wstring& serviceSid) {
    const std::wstring writer = serviceSid.empty() ? L"LS" : serviceSid;
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x001301BF;;;" + writer +
           L")(A;OICI;FR;;;BU)";
}
