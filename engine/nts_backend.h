// The cryptography that authenticated time (NTS) needs, as a table of plain C
// functions: a TLS 1.3 client that works on memory buffers (the exchange moves its
// bytes over its own socket, with its own time-out and cancel) and the AEAD
// AES-SIV-CMAC-256. OpenSSL provides them; on Windows they live in a DLL of ours
// beside the program, loaded only when a query asks for NTS, so that the table is the
// whole interface between the two and holds no C++ type.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Why a TLS session failed; kNtsTlsOk while it has not.
enum NtsTlsFailure {
    kNtsTlsOk = 0,
    kNtsTlsProtocol = 1,      // no TLS 1.3, an alert, a malformed message, "ntske/1" refused
    kNtsTlsUntrusted = 2,     // the certificate does not chain to a trusted root
    kNtsTlsNameMismatch = 3,  // the certificate does not name the server asked for
    kNtsTlsCertTime = 4,      // expired or not yet valid by this PC's clock
    kNtsTlsInternal = 5       // out of memory, a library failure
};

struct NtsTls;  // one TLS client session; opaque

// AEAD_AES_SIV_CMAC_256: a 32-byte key; the sealed form is the 16-byte synthetic IV
// followed by the ciphertext, as long as the plaintext.
enum { kNtsSivKeyLength = 32, kNtsSivTagLength = 16 };

enum { kNtsBackendVersion = 1 };

struct NtsBackend {
    unsigned version;  // kNtsBackendVersion

    // A client for serverName (host name or address): TLS 1.3 only, the name sent as
    // SNI when it is a host name, the ALPN "ntske/1", the certificate checked against
    // the system's trusted roots and the name. Null when no session could be made.
    NtsTls* (*tlsOpen)(const char* serverName);
    void (*tlsClose)(NtsTls* tls);
    // Bytes that came from the server: 1, or 0 when they could not be taken.
    int (*tlsPutInput)(NtsTls* tls, const unsigned char* data, int length);
    // Bytes waiting to go to the server, at most capacity: the count, 0 when none.
    int (*tlsTakeOutput)(NtsTls* tls, unsigned char* data, int capacity);
    // Drives the handshake: 1 done, 0 waiting for more input, -1 failed.
    int (*tlsHandshake)(NtsTls* tls);
    // After the handshake: plaintext to send (1, or -1 on failure), and plaintext
    // received: the count, 0 when more input is needed, -1 when the server closed
    // the session or it failed.
    int (*tlsWrite)(NtsTls* tls, const unsigned char* data, int length);
    int (*tlsRead)(NtsTls* tls, unsigned char* data, int capacity);
    // Keying material exported from the session (RFC 5705 with a context): 1 or 0.
    int (*tlsExport)(NtsTls* tls, const char* label, const unsigned char* context,
                     int contextLength, unsigned char* out, int outLength);
    // Why the session failed, and a line of detail for the trace (may be empty).
    int (*tlsFailure)(NtsTls* tls, char* detail, int capacity);

    // Seals plain under key with the associated data and the nonce into out, which
    // takes plainLength + kNtsSivTagLength bytes: 1, or 0 on failure.
    int (*sivSeal)(const unsigned char* key, const unsigned char* associated, int associatedLength,
                   const unsigned char* nonce, int nonceLength, const unsigned char* plain,
                   int plainLength, unsigned char* out);
    // Opens sealed (tag, then ciphertext) into plain, which takes sealedLength -
    // kNtsSivTagLength bytes: 1 when it verified, 0 when it did not.
    int (*sivOpen)(const unsigned char* key, const unsigned char* associated, int associatedLength,
                   const unsigned char* nonce, int nonceLength, const unsigned char* sealed,
                   int sealedLength, unsigned char* plain);
};

// The name the DLL exports its table under.
#define TAVRINO_NTS_BACKEND_EXPORT "TavrinoNtsBackend"
typedef const struct NtsBackend* (*NtsBackendEntry)(void);

#ifdef __cplusplus
}
#endif
