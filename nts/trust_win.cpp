// The server's certificate checked by Windows itself: the chain built by the system's
// chain engine from the certificates the server sent, and the SSL policy over it for
// the name. OpenSSL's own chain building is replaced (SSL_CTX_set_cert_verify_callback),
// since its roots would be a file of ours, not the ones the PC's administrators manage.
#include <windows.h>
// After windows.h, whose types it uses; before OpenSSL, which takes back the names
// (X509_NAME and others) that it defines as macros.
#include <wincrypt.h>

#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "nts/trust.h"

namespace {

// wininet.h's flag, also understood by the SSL chain policy.
#ifndef SECURITY_FLAG_IGNORE_CERT_CN_INVALID
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
#endif

// The session's check, found from the SSL object in the callback.
int CheckIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

struct CCertFree {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct CStoreClose {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using CCertificate = std::unique_ptr<const CERT_CONTEXT, CCertFree>;
using CStore = std::unique_ptr<void, CStoreClose>;
using CChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, CChainFree>;

std::vector<unsigned char> Der(X509* certificate) {
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0) return {};
    std::vector<unsigned char> der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    if (i2d_X509(certificate, &cursor) != length) return {};
    return der;
}

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        &wide[0], length);
    return wide;
}

std::string Hex(const char* what, DWORD code) {
    char line[96];
    const int length =
        std::snprintf(line, sizeof(line), "%s 0x%08lX", what, static_cast<unsigned long>(code));
    return length > 0 ? std::string(line) : std::string(what);
}

void Refuse(NtsTrustCheck* check, NtsTlsFailure failure, std::string detail) {
    check->failure = failure;
    check->detail = std::move(detail);
}

// The policy's error, and the chain's own status, as a kind of failure.
NtsTlsFailure FailureOfPolicy(DWORD error, DWORD chainStatus) {
    if (error == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return kNtsTlsNameMismatch;
    if (error == static_cast<DWORD>(CERT_E_EXPIRED) || (chainStatus & CERT_TRUST_IS_NOT_TIME_VALID))
        return kNtsTlsCertTime;
    return kNtsTlsUntrusted;
}

// Fills check's verdict; true when the certificate is accepted.
bool CheckWithSystem(X509_STORE_CTX* store, NtsTrustCheck* check) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    const std::vector<unsigned char> leafDer = leaf ? Der(leaf) : std::vector<unsigned char>();
    if (leafDer.empty()) {
        Refuse(check, kNtsTlsProtocol, "no certificate from the server");
        return false;
    }
    CCertificate certificate(CertCreateCertificateContext(X509_ASN_ENCODING, leafDer.data(),
                                                          static_cast<DWORD>(leafDer.size())));
    if (!certificate) {
        Refuse(check, kNtsTlsUntrusted, Hex("CertCreateCertificateContext", GetLastError()));
        return false;
    }
    // The intermediates the server sent, where the chain engine looks for issuers.
    CStore sent(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!sent) {
        Refuse(check, kNtsTlsInternal, Hex("CertOpenStore", GetLastError()));
        return false;
    }
    STACK_OF(X509)* untrusted = X509_STORE_CTX_get0_untrusted(store);
    for (int i = 0; untrusted && i < sk_X509_num(untrusted); ++i) {
        const std::vector<unsigned char> der = Der(sk_X509_value(untrusted, i));
        if (!der.empty())
            CertAddEncodedCertificateToStore(sent.get(), X509_ASN_ENCODING, der.data(),
                                             static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_USE_EXISTING, nullptr);
    }

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate.get(), nullptr, sent.get(), &chainPara, 0,
                                 nullptr, &rawChain)) {
        Refuse(check, kNtsTlsInternal, Hex("CertGetCertificateChain", GetLastError()));
        return false;
    }
    CChain chain(rawChain);

    // An address is matched by OpenSSL below; the policy matches host names only.
    std::wstring name = Wide(check->serverName);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
    sslPara.cbStruct = sizeof(sslPara);
    sslPara.dwAuthType = AUTHTYPE_SERVER;
    sslPara.fdwChecks = check->isAddress ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID : 0;
    sslPara.pwszServerName = check->isAddress ? nullptr : &name[0];
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof(policyPara);
    policyPara.pvExtraPolicyPara = &sslPara;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    if (name.empty() && !check->isAddress) {
        Refuse(check, kNtsTlsNameMismatch, "the server's name is not UTF-8");
        return false;
    }
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara,
                                          &status)) {
        Refuse(check, kNtsTlsInternal, Hex("CertVerifyCertificateChainPolicy", GetLastError()));
        return false;
    }
    if (status.dwError != 0) {
        Refuse(check, FailureOfPolicy(status.dwError, chain->TrustStatus.dwErrorStatus),
               Hex("CertVerifyCertificateChainPolicy: error", status.dwError));
        return false;
    }
    // The chain's own faults as well: Wine's SSL policy passes a chain that ends at no
    // trusted root. Revocation is not asked for (a time client may run before the
    // network can reach a revocation list), so its unknown state is no fault.
    const DWORD chainFaults =
        chain->TrustStatus.dwErrorStatus &
        ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                            CERT_TRUST_IS_OFFLINE_REVOCATION | CERT_TRUST_IS_NOT_TIME_NESTED);
    if (chainFaults != 0) {
        Refuse(check,
               (chainFaults & CERT_TRUST_IS_NOT_TIME_VALID) ? kNtsTlsCertTime : kNtsTlsUntrusted,
               Hex("CertGetCertificateChain: trust status", chainFaults));
        return false;
    }
    if (check->isAddress && X509_check_ip_asc(leaf, check->serverName.c_str(), 0) != 1) {
        Refuse(check, kNtsTlsNameMismatch, "the certificate does not name the address");
        return false;
    }
    return true;
}

// OpenSSL's error for each kind, so that the alert it sends the server says why.
int VerifyErrorOf(NtsTlsFailure failure) {
    switch (failure) {
        case kNtsTlsNameMismatch: return X509_V_ERR_HOSTNAME_MISMATCH;
        case kNtsTlsCertTime: return X509_V_ERR_CERT_HAS_EXPIRED;
        case kNtsTlsUntrusted: return X509_V_ERR_CERT_UNTRUSTED;
        default: return X509_V_ERR_UNSPECIFIED;
    }
}

int VerifyWithSystem(X509_STORE_CTX* store, void* /*unused*/) {
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* check = ssl ? static_cast<NtsTrustCheck*>(SSL_get_ex_data(ssl, CheckIndex())) : nullptr;
    if (!check) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    bool accepted = false;
    try {
        accepted = CheckWithSystem(store, check);
    } catch (const std::bad_alloc&) {
        // Out of memory inside OpenSSL's callback: the handshake fails, nothing unwinds
        // through OpenSSL's C frames.
        check->failure = kNtsTlsInternal;
    }
    X509_STORE_CTX_set_error(store, accepted ? X509_V_OK : VerifyErrorOf(check->failure));
    return accepted ? 1 : 0;
}

}  // namespace

int SetUpTrust(SSL_CTX* context) {
    if (CheckIndex() < 0) return 0;
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, VerifyWithSystem, nullptr);
    return 1;
}

int BindTrust(SSL* ssl, NtsTrustCheck* check) {
    return SSL_set_ex_data(ssl, CheckIndex(), check) == 1 ? 1 : 0;
}

// The callback has filled the check already; OpenSSL's verify result holds only what
// the callback set.
void CollectTrustFailure(const SSL* /*ssl*/, NtsTrustCheck* /*check*/) {}
