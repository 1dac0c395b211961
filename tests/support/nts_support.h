// NTS for tests: the cryptography (natively the library linked in; under Wine the DLL
// built beside the programs, loaded by its path as the programs load it), and the
// harness's test root trusted where the programs look for roots: natively OpenSSL's
// file (SSL_CERT_FILE), under Wine the prefix's machine root store.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/nts_backend.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>
#endif

// A Unix path of the harness as this process opens it: under Wine, on drive Z:.
inline std::string LocalPath(std::string path) {
#ifdef _WIN32
    for (char& c : path) c = c == '/' ? '\\' : c;
    if (!path.empty()) path = "Z:" + path;
#endif
    return path;
}

// A file of a folder that the harness names in an environment variable, as this
// process opens it; empty when the variable is not set.
inline std::string HarnessPath(const char* variable, const std::string& file) {
    const char* folder = std::getenv(variable);
    return LocalPath(folder ? std::string(folder) + "/" + file : std::string());
}

#ifdef _WIN32
inline const NtsBackend* TestNtsBackend() {
    HMODULE dll = LoadLibraryA(LocalPath(TAVRINO_NTS_DLL).c_str());
    const auto entry = reinterpret_cast<NtsBackendEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll, TAVRINO_NTS_BACKEND_EXPORT)));
    return entry ? entry() : nullptr;
}

inline bool TrustTestRoot() {
    std::ifstream file(HarnessPath("TAVRINO_NTS_CERTS", "root.der"), std::ios::binary);
    const std::vector<unsigned char> der((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) return false;
    const BOOL added =
        !der.empty() && CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                                         static_cast<DWORD>(der.size()),
                                                         CERT_STORE_ADD_USE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    return added != FALSE;
}
#else
extern "C" const NtsBackend* TavrinoNtsBackend();
inline const NtsBackend* TestNtsBackend() { return TavrinoNtsBackend(); }

inline bool TrustTestRoot() {
    const char* certs = std::getenv("TAVRINO_NTS_CERTS");
    return certs && setenv("SSL_CERT_FILE", (std::string(certs) + "/root.pem").c_str(), 1) == 0;
}
#endif
