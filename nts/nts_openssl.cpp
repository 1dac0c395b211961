#include "nts/nts_openssl.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "nts/openssl_owned.h"
#include "nts/siv_openssl.h"
#include "nts/trust.h"

// The session behind the table's opaque handle. The SSL object owns both memory BIOs.
struct NtsTls {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    NtsTrustCheck trust;
    bool established = false;
    bool closed = false;  // the server ended the session
    NtsTlsFailure failure = kNtsTlsOk;
    std::string detail;

    NtsTls() = default;
    NtsTls(const NtsTls&) = delete;
    NtsTls& operator=(const NtsTls&) = delete;
    ~NtsTls() {
        SSL_free(ssl);
        SSL_CTX_free(context);
    }
};

namespace {

// ALPN's wire form: the length, then the name.
const unsigned char kAlpn[] = {7, 'n', 't', 's', 'k', 'e', '/', '1'};

using COctets = COpenSslOwned<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;

bool IsAddressLiteral(const char* name) { return COctets(a2i_IPADDRESS(name)) != nullptr; }

// The first error OpenSSL queued for this thread, as a line.
std::string OpenSslError() {
    const unsigned long code = ERR_peek_error();
    if (code == 0) return {};
    char line[256];
    ERR_error_string_n(code, line, sizeof(line));
    return line;
}

void Fail(NtsTls* tls, NtsTlsFailure failure, std::string detail) {
    tls->failure = failure;
    tls->detail = std::move(detail);
    ERR_clear_error();
}

// Why a call that OpenSSL refused failed: the certificate when the check refused it,
// a library failure when OpenSSL ran out of memory or hit its own fault, the protocol
// otherwise (an alert, a malformed message, the server's close).
void FailFromOpenSsl(NtsTls* tls, int result) {
    CollectTrustFailure(tls->ssl, &tls->trust);
    if (tls->trust.failure != kNtsTlsOk) {
        Fail(tls, tls->trust.failure, tls->trust.detail);
        return;
    }
    const int error = SSL_get_error(tls->ssl, result);
    const unsigned long code = ERR_peek_error();
    const int reason = ERR_GET_REASON(code);
    std::string detail = OpenSslError();
    if (detail.empty())
        detail = error == SSL_ERROR_ZERO_RETURN ? "the server closed the session"
                                                : "the session ended unexpectedly";
    const bool internal = error == SSL_ERROR_SSL && code != 0 &&
                          (reason == ERR_R_MALLOC_FAILURE || reason == ERR_R_INTERNAL_ERROR);
    Fail(tls, internal ? kNtsTlsInternal : kNtsTlsProtocol, std::move(detail));
}

bool UsableBuffer(const unsigned char* data, int length) {
    return length >= 0 && (data || length == 0);
}

NtsTls* Open(const char* serverName) {
    if (!serverName || !*serverName) return nullptr;
    ERR_clear_error();
    std::unique_ptr<NtsTls> tls(new (std::nothrow) NtsTls);
    if (!tls) return nullptr;
    tls->trust.serverName = serverName;
    tls->trust.isAddress = IsAddressLiteral(serverName);
    tls->context = SSL_CTX_new(TLS_client_method());
    // The context's check first: an SSL object copies the verify mode when it is made.
    if (!tls->context || SetUpTrust(tls->context) != 1) return nullptr;
    tls->ssl = SSL_new(tls->context);
    BIO* input = BIO_new(BIO_s_mem());
    BIO* output = BIO_new(BIO_s_mem());
    if (!tls->ssl || !input || !output) {
        BIO_free(input);
        BIO_free(output);
        return nullptr;
    }
    SSL_set_bio(tls->ssl, input, output);
    // NTS-KE is TLS 1.3 only; the ALPN call returns 0 on success.
    const bool ok = SSL_set_min_proto_version(tls->ssl, TLS1_3_VERSION) == 1 &&
                    SSL_set_max_proto_version(tls->ssl, TLS1_3_VERSION) == 1 &&
                    SSL_set_alpn_protos(tls->ssl, kAlpn, sizeof(kAlpn)) == 0 &&
                    BindTrust(tls->ssl, &tls->trust) == 1 &&
                    (tls->trust.isAddress || SSL_set_tlsext_host_name(tls->ssl, serverName) == 1);
    if (!ok) return nullptr;
    SSL_set_connect_state(tls->ssl);
    return tls.release();
}

NtsTls* TlsOpen(const char* serverName) {
    NtsTls* tls = nullptr;
    try {
        tls = Open(serverName);
    } catch (const std::bad_alloc&) {
        tls = nullptr;  // the caller reports that no session could be made
    }
    ERR_clear_error();
    return tls;
}

void TlsClose(NtsTls* tls) { delete tls; }

int TlsPutInput(NtsTls* tls, const unsigned char* data, int length) {
    if (!tls || !UsableBuffer(data, length)) return 0;
    if (length == 0) return 1;
    return BIO_write(SSL_get_rbio(tls->ssl), data, length) == length ? 1 : 0;
}

int TlsTakeOutput(NtsTls* tls, unsigned char* data, int capacity) {
    if (!tls || !data || capacity <= 0) return 0;
    BIO* output = SSL_get_wbio(tls->ssl);
    if (BIO_ctrl_pending(output) == 0) return 0;
    const int taken = BIO_read(output, data, capacity);
    return std::max(taken, 0);
}

int Handshake(NtsTls* tls) {
    if (tls->failure != kNtsTlsOk) return -1;
    if (tls->established) return 1;
    ERR_clear_error();
    const int result = SSL_do_handshake(tls->ssl);
    if (result != 1) {
        if (SSL_get_error(tls->ssl, result) == SSL_ERROR_WANT_READ) return 0;
        FailFromOpenSsl(tls, result);
        return -1;
    }
    const unsigned char* selected = nullptr;
    unsigned int selectedLength = 0;
    SSL_get0_alpn_selected(tls->ssl, &selected, &selectedLength);
    if (selectedLength != sizeof(kAlpn) - 1 ||
        std::memcmp(selected, kAlpn + 1, selectedLength) != 0) {
        Fail(tls, kNtsTlsProtocol, "the server did not select ALPN ntske/1");
        return -1;
    }
    tls->established = true;
    return 1;
}

int TlsHandshake(NtsTls* tls) {
    if (!tls) return -1;
    try {
        return Handshake(tls);
    } catch (const std::bad_alloc&) {
        tls->failure = kNtsTlsInternal;
        return -1;
    }
}

int TlsWrite(NtsTls* tls, const unsigned char* data, int length) {
    if (!tls || !tls->established || tls->failure != kNtsTlsOk || !UsableBuffer(data, length))
        return -1;
    if (length == 0) return 1;
    ERR_clear_error();
    // A memory BIO takes all: the record is written whole or not at all.
    const int result = SSL_write(tls->ssl, data, length);
    if (result == length) return 1;
    try {
        FailFromOpenSsl(tls, result);
    } catch (const std::bad_alloc&) {
        tls->failure = kNtsTlsInternal;
    }
    return -1;
}

int TlsRead(NtsTls* tls, unsigned char* data, int capacity) {
    if (!tls || !tls->established || tls->closed || tls->failure != kNtsTlsOk || !data ||
        capacity <= 0)
        return -1;
    ERR_clear_error();
    const int result = SSL_read(tls->ssl, data, capacity);
    if (result > 0) return result;
    const int error = SSL_get_error(tls->ssl, result);
    // A session ticket after the handshake is read and kept quiet: more input.
    if (error == SSL_ERROR_WANT_READ) return 0;
    // The server's close_notify ends every NTS-KE exchange; it is no failure.
    if (error == SSL_ERROR_ZERO_RETURN) {
        tls->closed = true;
        return -1;
    }
    try {
        FailFromOpenSsl(tls, result);
    } catch (const std::bad_alloc&) {
        tls->failure = kNtsTlsInternal;
    }
    return -1;
}

int TlsExport(NtsTls* tls, const char* label, const unsigned char* context, int contextLength,
              unsigned char* out, int outLength) {
    if (!tls || !tls->established || !label || !UsableBuffer(context, contextLength) || !out ||
        outLength <= 0)
        return 0;
    ERR_clear_error();
    const int ok = SSL_export_keying_material(tls->ssl, out, static_cast<size_t>(outLength), label,
                                              std::strlen(label), context,
                                              static_cast<size_t>(contextLength), 1);
    ERR_clear_error();
    return ok == 1 ? 1 : 0;
}

int TlsFailure(NtsTls* tls, char* detail, int capacity) {
    if (detail && capacity > 0) {
        const size_t length =
            tls ? std::min(tls->detail.size(), static_cast<size_t>(capacity - 1)) : 0;
        if (length > 0) std::memcpy(detail, tls->detail.data(), length);
        detail[length] = '\0';
    }
    return tls ? tls->failure : kNtsTlsInternal;
}

const NtsBackend kBackend = {
    kNtsBackendVersion, TlsOpen, TlsClose,  TlsPutInput, TlsTakeOutput, TlsHandshake,
    TlsWrite,           TlsRead, TlsExport, TlsFailure,  SivSeal,       SivOpen,
};

constexpr bool SameName(const char* a, const char* b) {
    return *a == *b && (*a == '\0' || SameName(a + 1, b + 1));
}
static_assert(SameName(TAVRINO_NTS_BACKEND_EXPORT, "TavrinoNtsBackend"),
              "the DLL exports the table under the name the loader asks for");

}  // namespace

extern "C" const NtsBackend* TavrinoNtsBackend(void) { return &kBackend; }

static_assert(std::is_same<decltype(&TavrinoNtsBackend), NtsBackendEntry>::value,
              "the export has the loader's type");
