#include "engine/nts_records.h"

#include <cstring>

#include "engine/sntp.h"

namespace {

// Key-establishment record types; the high bit of the type field marks a record the
// receiver must understand.
enum KeRecord : unsigned {
    kEndOfMessage = 0,
    kNextProtocol = 1,
    kError = 2,
    kWarning = 3,
    kAead = 4,
    kNewCookie = 5,
    kServer = 6,
    kPort = 7,
};
constexpr unsigned kCritical = 0x8000;
constexpr unsigned kProtocolNtpV4 = 0;

// NTP extension field types of NTS.
constexpr unsigned kUniqueIdentifier = 0x0104;
constexpr unsigned kCookie = 0x0204;
constexpr unsigned kCookiePlaceholder = 0x0304;
constexpr unsigned kAuthenticator = 0x0404;

unsigned Read16(const unsigned char* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

void Put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void PutRecord(std::vector<unsigned char>& out, unsigned type, const std::vector<unsigned>& body) {
    Put16(out, type);
    Put16(out, static_cast<unsigned>(body.size() * 2));
    for (unsigned value : body) Put16(out, value);
}

std::size_t Padded(std::size_t length) { return (length + 3) & ~static_cast<std::size_t>(3); }

// An extension field: its type, its length with the header, then body and zeros.
void PutField(std::vector<unsigned char>& out, unsigned type, const unsigned char* body,
              std::size_t length) {
    Put16(out, type);
    Put16(out, static_cast<unsigned>(4 + Padded(length)));
    if (body) {
        out.insert(out.end(), body, body + length);
    } else {
        out.insert(out.end(), length, 0);
    }
    out.insert(out.end(), Padded(length) - length, 0);
}

// A name a server may give for its NTP: printable ASCII, as a host name or an address.
bool ServerNameFits(const unsigned char* name, std::size_t length) {
    if (length == 0 || length > 255) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] <= 0x20 || name[i] >= 0x7F) return false;
    }
    return true;
}

// The extension fields of bytes[begin, end) one after another; false at the first
// that does not fit (shorter than its header, not whole words, past the end).
template <class Visit>
bool ForEachField(const unsigned char* bytes, std::size_t begin, std::size_t end, Visit visit) {
    std::size_t at = begin;
    while (at < end) {
        if (end - at < 4) return false;
        const std::size_t length = Read16(bytes + at + 2);
        if (length < 4 || length % 4 != 0 || length > end - at) return false;
        if (!visit(Read16(bytes + at), at, length)) return true;
        at += length;
    }
    return true;
}

}  // namespace

std::vector<unsigned char> BuildNtsKeRequest() {
    std::vector<unsigned char> out;
    PutRecord(out, kCritical | kNextProtocol, {kProtocolNtpV4});
    PutRecord(out, kCritical | kAead, {kNtsAeadSivCmac256});
    PutRecord(out, kCritical | kEndOfMessage, {});
    return out;
}

std::vector<unsigned char> NtsExporterContext(bool serverToClient) {
    std::vector<unsigned char> context;
    Put16(context, kProtocolNtpV4);
    Put16(context, kNtsAeadSivCmac256);
    context.push_back(serverToClient ? 1 : 0);
    return context;
}

NtsKeParse ParseNtsKeResponse(const unsigned char* data, std::size_t length,
                              const std::string& defaultServer, NtsSession* session,
                              int* errorCode) {
    if (length > kNtsKeMostResponse) return NtsKeParse::kMalformed;
    bool protocolAgreed = false;
    bool aeadAgreed = false;
    int error = -1;
    std::vector<std::vector<unsigned char>> cookies;
    std::string server;
    unsigned port = 123;
    std::size_t at = 0;
    for (;;) {
        if (length - at < 4) return NtsKeParse::kNeedMore;
        const unsigned type = Read16(data + at) & ~kCritical;
        const bool critical = (Read16(data + at) & kCritical) != 0;
        const std::size_t bodyLength = Read16(data + at + 2);
        if (length - at - 4 < bodyLength) return NtsKeParse::kNeedMore;
        const unsigned char* body = data + at + 4;
        at += 4 + bodyLength;
        switch (type) {
            case kEndOfMessage:
                if (bodyLength != 0) return NtsKeParse::kMalformed;
                break;
            case kNextProtocol:
                // The server's choice: NTPv4 alone, or nothing when it serves none we asked.
                if (bodyLength % 2 != 0) return NtsKeParse::kMalformed;
                protocolAgreed = bodyLength == 2 && Read16(body) == kProtocolNtpV4;
                continue;
            case kError:
                if (bodyLength != 2) return NtsKeParse::kMalformed;
                error = static_cast<int>(Read16(body));
                continue;
            case kAead:
                if (bodyLength % 2 != 0) return NtsKeParse::kMalformed;
                aeadAgreed = bodyLength == 2 && Read16(body) == kNtsAeadSivCmac256;
                continue;
            case kNewCookie:
                if (bodyLength == 0 || bodyLength > kNtsMostCookieLength) {
                    return NtsKeParse::kMalformed;
                }
                if (cookies.size() < kNtsMostCookies) cookies.emplace_back(body, body + bodyLength);
                continue;
            case kServer:
                if (!ServerNameFits(body, bodyLength)) return NtsKeParse::kMalformed;
                server.assign(reinterpret_cast<const char*>(body), bodyLength);
                continue;
            case kPort:
                if (bodyLength != 2 || Read16(body) == 0) return NtsKeParse::kMalformed;
                port = Read16(body);
                continue;
            case kWarning: continue;  // a condition the server reports; nothing the client must do
            default:
                if (critical) {
                    *errorCode = -1;
                    return NtsKeParse::kRefused;
                }
                continue;
        }
        break;  // the end of message
    }
    // Whatever follows the end of message is not the server's answer.
    if (at != length) return NtsKeParse::kMalformed;
    if (error >= 0 || !protocolAgreed || !aeadAgreed) {
        *errorCode = error;
        return NtsKeParse::kRefused;
    }
    session->cookies = std::move(cookies);
    session->ntpServer = server.empty() ? defaultServer : server;
    session->ntpPort = static_cast<unsigned short>(port);
    return NtsKeParse::kComplete;
}

std::vector<unsigned char> BuildNtsRequest(const NtsBackend& backend, const unsigned char* header,
                                           const unsigned char* uid,
                                           const std::vector<unsigned char>& cookie,
                                           int placeholders, const unsigned char* c2sKey,
                                           const unsigned char* nonce) {
    std::vector<unsigned char> out(header, header + kSntpPacketSize);
    // Extension fields are NTPv4's: a server reads them only in a version 4 packet.
    out[0] = static_cast<unsigned char>((out[0] & 0xC7) | 4 << 3);
    PutField(out, kUniqueIdentifier, uid, kNtsUidLength);
    PutField(out, kCookie, cookie.data(), cookie.size());
    for (int i = 0; i < placeholders; ++i) {
        PutField(out, kCookiePlaceholder, nullptr, cookie.size());
    }
    // The authenticator: nonce and sealed lengths, the nonce, the tag of an empty
    // plaintext; the associated data is everything before it.
    unsigned char tag[kNtsSivTagLength];
    if (!backend.sivSeal(c2sKey, out.data(), static_cast<int>(out.size()), nonce,
                         static_cast<int>(kNtsNonceLength), nullptr, 0, tag)) {
        return {};
    }
    std::vector<unsigned char> body;
    Put16(body, kNtsNonceLength);
    Put16(body, kNtsSivTagLength);
    body.insert(body.end(), nonce, nonce + kNtsNonceLength);
    body.insert(body.end(), tag, tag + kNtsSivTagLength);
    PutField(out, kAuthenticator, body.data(), body.size());
    return out;
}

NtsReplyCheck CheckNtsReply(const NtsBackend& backend, const unsigned char* reply,
                            std::size_t length, const unsigned char* uid,
                            const unsigned char* s2cKey,
                            std::vector<std::vector<unsigned char>>* cookies) {
    if (length < kSntpPacketSize) return NtsReplyCheck::kFailed;
    bool uidSeen = false;
    bool otherUid = false;
    std::size_t authenticator = 0;
    std::size_t authenticatorLength = 0;
    const bool fieldsFit = ForEachField(
        reply, kSntpPacketSize, length, [&](unsigned type, std::size_t at, std::size_t size) {
            if (type == kUniqueIdentifier) {
                const bool same = size == 4 + kNtsUidLength &&
                                  std::memcmp(reply + at + 4, uid, kNtsUidLength) == 0;
                (same ? uidSeen : otherUid) = true;
            } else if (type == kAuthenticator) {
                authenticator = at;
                authenticatorLength = size;
                return false;  // what follows it is not authenticated and is not read
            }
            return true;
        });
    if (otherUid && !uidSeen) return NtsReplyCheck::kForeign;
    if (!fieldsFit || !uidSeen) return NtsReplyCheck::kFailed;
    // The server's refusal of our cookie is a kiss, stratum 0 and "NTSN", and carries
    // no authenticator; it ends the cookies, never sets the clock.
    if (authenticator == 0) {
        const bool nak = reply[1] == 0 && std::memcmp(reply + 12, "NTSN", 4) == 0;
        return nak ? NtsReplyCheck::kNak : NtsReplyCheck::kFailed;
    }
    if (authenticatorLength < 8) return NtsReplyCheck::kFailed;
    const unsigned char* body = reply + authenticator + 4;
    const std::size_t nonceLength = Read16(body);
    const std::size_t sealedLength = Read16(body + 2);
    if (sealedLength < kNtsSivTagLength ||
        8 + Padded(nonceLength) + Padded(sealedLength) > authenticatorLength) {
        return NtsReplyCheck::kFailed;
    }
    const unsigned char* nonce = body + 4;
    const unsigned char* sealed = nonce + Padded(nonceLength);
    std::vector<unsigned char> plain(sealedLength - kNtsSivTagLength + 1);
    if (!backend.sivOpen(s2cKey, reply, static_cast<int>(authenticator), nonce,
                         static_cast<int>(nonceLength), sealed, static_cast<int>(sealedLength),
                         plain.data())) {
        return NtsReplyCheck::kFailed;
    }
    plain.pop_back();
    // The sealed part holds extension fields of its own: the new cookies.
    std::vector<std::vector<unsigned char>> fresh;
    const bool sealedFit = ForEachField(
        plain.data(), 0, plain.size(), [&](unsigned type, std::size_t at, std::size_t size) {
            if (type == kCookie && size > 4 && size - 4 <= kNtsMostCookieLength) {
                fresh.emplace_back(plain.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                   plain.begin() + static_cast<std::ptrdiff_t>(at + size));
            }
            return true;
        });
    if (!sealedFit) return NtsReplyCheck::kFailed;
    for (auto& cookie : fresh) {
        if (cookies->size() < kNtsMostCookies) cookies->push_back(std::move(cookie));
    }
    return NtsReplyCheck::kAuthentic;
}
