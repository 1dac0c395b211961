// The bytes of authenticated time (NTS): the key establishment's records, which go
// over TLS to port 4460, and the NTP extension fields that each SNTP request and
// reply carry. Pure computation over byte buffers; the cryptography is the backend's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/nts_backend.h"
#include "engine/nts_client.h"

// The port of the key establishment and the ALPN name its TLS session agrees on.
constexpr unsigned short kNtsKePort = 4460;
constexpr char kNtsAlpn[] = "ntske/1";
// The TLS exporter's label for the two keys.
constexpr char kNtsExporterLabel[] = "EXPORTER-network-time-security";
// The one AEAD algorithm the client offers: AEAD_AES_SIV_CMAC_256.
constexpr unsigned kNtsAeadSivCmac256 = 15;

// The client's request: NTPv4 as the next protocol, AES-SIV-CMAC-256, end of message.
std::vector<unsigned char> BuildNtsKeRequest();

// The context of the exporter for one direction: protocol NTPv4, the AEAD, and 0 for
// the client-to-server key or 1 for the server-to-client one.
std::vector<unsigned char> NtsExporterContext(bool serverToClient);

enum class NtsKeParse {
    kComplete,  // the server's answer ended with its end-of-message record
    kNeedMore,  // the bytes so far are a sound beginning
    kRefused,   // an error record, or no NTPv4 or no AES-SIV-CMAC-256 agreed
    kMalformed  // records that are not what a server sends
};

// The most a server's answer may take; a longer one is malformed.
constexpr std::size_t kNtsKeMostResponse = 65536;
// The cookies kept for one server, and the longest cookie taken.
constexpr std::size_t kNtsMostCookies = 8;
constexpr std::size_t kNtsMostCookieLength = 1024;

// Reads the server's answer received so far. On kComplete the session has the cookies
// (at most kNtsMostCookies) and the NTP server and port the server named, or keeps
// defaultServer and 123. On kRefused *errorCode is the server's error code (or -1
// when it sent none but agreed to nothing we asked).
NtsKeParse ParseNtsKeResponse(const unsigned char* data, std::size_t length,
                              const std::string& defaultServer, NtsSession* session,
                              int* errorCode);

// An SNTP request with NTS: the 48-byte header, then the Unique Identifier, one cookie,
// placeholders asking for more, and the authenticator sealed under the
// client-to-server key. The uid and nonce are the caller's fresh random bytes. Empty
// when sealing failed.
constexpr std::size_t kNtsUidLength = 32;
constexpr std::size_t kNtsNonceLength = 16;
std::vector<unsigned char> BuildNtsRequest(const NtsBackend& backend, const unsigned char* header,
                                           const unsigned char* uid,
                                           const std::vector<unsigned char>& cookie,
                                           int placeholders, const unsigned char* c2sKey,
                                           const unsigned char* nonce);

enum class NtsReplyCheck {
    kAuthentic,  // echoes the uid and verifies under the server-to-client key
    kNak,        // the server's "NTSN" kiss: it no longer takes our cookies
    kForeign,    // echoes another uid: not the reply to this request
    kFailed      // no authenticator, or one that does not verify: never used
};

// Checks an SNTP reply (its first 48 bytes the header) to the request of uid; on
// kAuthentic the cookies it carries inside the sealed part are appended to cookies.
NtsReplyCheck CheckNtsReply(const NtsBackend& backend, const unsigned char* reply,
                            std::size_t length, const unsigned char* uid,
                            const unsigned char* s2cKey,
                            std::vector<std::vector<unsigned char>>* cookies);
