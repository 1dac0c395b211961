// The check of the server's certificate in a TLS session: against this system's trusted
// roots and the name asked for. Natively OpenSSL's own check over its default roots
// (SSL_CERT_FILE and SSL_CERT_DIR name others); on Windows the system's certificate
// functions, so that the roots an enterprise deploys are trusted as the system trusts
// them.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "engine/nts_backend.h"

// What the session asks of the check and what the check found. Lives as long as the
// session's SSL object.
struct NtsTrustCheck {
    std::string serverName;
    bool isAddress = false;             // serverName is an address literal
    NtsTlsFailure failure = kNtsTlsOk;  // why the certificate was refused
    std::string detail;                 // a line for the trace
};

// Makes every session of context check the server's certificate: 1, or 0 on failure.
int SetUpTrust(SSL_CTX* context);
// Ties the check of ssl to check: the name to look for, the place for the verdict.
int BindTrust(SSL* ssl, NtsTrustCheck* check);
// After a failed handshake: fills check's failure when it was the certificate that
// was refused; leaves it kNtsTlsOk otherwise.
void CollectTrustFailure(const SSL* ssl, NtsTrustCheck* check);

// The kind of failure that OpenSSL's verify result names (its own check, natively).
NtsTlsFailure TrustFailureOfVerifyResult(long result);
