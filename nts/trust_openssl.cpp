#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "nts/trust.h"

int SetUpTrust(SSL_CTX* context) {
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    return SSL_CTX_set_default_verify_paths(context) == 1 ? 1 : 0;
}

int BindTrust(SSL* ssl, NtsTrustCheck* check) {
    if (check->isAddress)
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), check->serverName.c_str()) == 1
                   ? 1
                   : 0;
    // A wildcard stands for one whole label, never part of one.
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return SSL_set1_host(ssl, check->serverName.c_str()) == 1 ? 1 : 0;
}

void CollectTrustFailure(const SSL* ssl, NtsTrustCheck* check) {
    const long result = SSL_get_verify_result(ssl);
    if (result == X509_V_OK) return;
    check->failure = TrustFailureOfVerifyResult(result);
    check->detail = X509_verify_cert_error_string(result);
}

NtsTlsFailure TrustFailureOfVerifyResult(long result) {
    switch (result) {
        case X509_V_OK: return kNtsTlsOk;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return kNtsTlsNameMismatch;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        // OpenSSL names the same two for whichever certificate of the chain it was.
        case X509_V_ERR_CERT_NOT_YET_VALID: return kNtsTlsCertTime;
        default: return kNtsTlsUntrusted;
    }
}
