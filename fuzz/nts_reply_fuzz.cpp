// The request BuildNtsRequest makes and CheckNtsReply over any reply, with a fake AEAD
// whose tag is a keyed checksum of all it covers, the plaintext kept as it is, so that
// replies verify and their sealed cookies are read. The input: the cookie, the reply;
// from its end flags (playing a server that answers us: our uid in the uid fields, a
// true tag), the placeholders, the cookie's length, the cookies kept before.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/nts_records.h"
#include "engine/sntp.h"
#include "fuzz/fuzz_support.h"

namespace {

using Byte = unsigned char;
using Bytes = std::vector<Byte>;
using Bits = const unsigned char*;
const unsigned char kC2s[kNtsSivKeyLength] = {0x11, 0x22};
const unsigned char kS2c[kNtsSivKeyLength] = {0x33, 0x44};

unsigned Read16(Bits p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }
std::size_t Padded(std::size_t length) { return (length + 3) & ~static_cast<std::size_t>(3); }

// An extension field: type, length, the body padded with zeros to whole words.
Bytes Field(unsigned type, const Bytes& body) {
    const std::size_t length = 4 + Padded(body.size());
    Bytes field = {Byte(type >> 8), Byte(type), Byte(length >> 8), Byte(length)};
    field.insert(field.end(), body.begin(), body.end());
    field.resize(length);
    return field;
}
const Bytes kUidField = Field(0x0104, Bytes(kNtsUidLength, 0xA5));
Bits const kUid = kUidField.data() + 4;
const Bytes kNonce(kNtsNonceLength, 0x4E);

int FakeSeal(Bits key, Bits ad, int adLength, Bits nonce, int nonceLength, Bits plain,
             int plainLength, unsigned char* out) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (auto [p, n] : {std::pair(key, int{kNtsSivKeyLength}), std::pair(ad, adLength),
                        std::pair(nonce, nonceLength), std::pair(plain, plainLength)}) {
        h = (h ^ static_cast<std::uint64_t>(n)) * 0x100000001B3ULL;
        for (int i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ULL;
    }
    if (plainLength > 0) std::memmove(out + kNtsSivTagLength, plain, unsigned(plainLength));
    for (int i = 0; i < kNtsSivTagLength; ++i) out[i] = static_cast<unsigned char>(h >> i % 8 * 8);
    return 1;
}
int FakeOpen(Bits key, Bits ad, int adLength, Bits nonce, int nonceLength, Bits sealed,
             int sealedLength, unsigned char* plain) {
    Bytes again(static_cast<std::size_t>(sealedLength));
    FakeSeal(key, ad, adLength, nonce, nonceLength, sealed + kNtsSivTagLength,
             sealedLength - kNtsSivTagLength, again.data());
    if (!std::equal(again.begin(), again.end(), sealed)) return 0;
    std::copy(again.begin() + kNtsSivTagLength, again.end(), plain);
    return 1;
}

// The extension fields (offset, length) of bytes[at, end) to the first that does not fit.
std::vector<std::pair<std::size_t, std::size_t>> Fields(const Bytes& bytes, std::size_t at,
                                                        std::size_t end, bool* fit) {
    std::vector<std::pair<std::size_t, std::size_t>> fields;
    for (std::size_t length = 0; at < end; at += length) {
        length = end - at < 4 ? 0 : Read16(&bytes[at + 2]);
        *fit = length >= 4 && length % 4 == 0 && length <= end - at;
        if (!*fit) break;
        fields.emplace_back(at, length);
    }
    return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const unsigned flags = input.ConsumeIntegral<std::uint8_t>();
    const int placeholders = input.ConsumeIntegralInRange(0, 7);
    const Bytes cookie = input.ConsumeBytes<unsigned char>(
        input.ConsumeIntegralInRange<std::size_t>(1, kNtsMostCookieLength));
    std::vector<Bytes> cookies(input.ConsumeIntegralInRange<std::size_t>(0, kNtsMostCookies), {9});
    const std::vector<Bytes> kept = cookies;
    Bytes reply = input.ConsumeRemainingBytes<unsigned char>();

    NtsBackend backend{};
    backend.version = kNtsBackendVersion;
    backend.sivSeal = &FakeSeal;
    backend.sivOpen = &FakeOpen;
    // The request: header, uid, the cookie, placeholders as long, and the authenticator
    // last: the lengths, the nonce and the tag over all before it.
    Bytes expected(kSntpPacketSize, 0x23);
    const Bytes request =
        BuildNtsRequest(backend, expected.data(), kUid, cookie, placeholders, kC2s, kNonce.data());
    std::vector<Bytes> fields = {kUidField, Field(0x0204, cookie)};
    fields.insert(fields.end(), std::size_t(placeholders), Field(0x0304, Bytes(cookie.size())));
    for (const Bytes& field : fields) expected.insert(expected.end(), field.begin(), field.end());
    Bytes sealing = {0, kNtsNonceLength, 0, kNtsSivTagLength};
    sealing.insert(sealing.end(), kNonce.begin(), kNonce.end());
    sealing.resize(4 + kNtsNonceLength + kNtsSivTagLength);
    FakeSeal(kC2s, expected.data(), int(expected.size()), kNonce.data(), kNtsNonceLength, nullptr,
             0, &sealing[4 + kNtsNonceLength]);
    const Bytes authenticator = Field(0x0404, sealing);
    expected.insert(expected.end(), authenticator.begin(), authenticator.end());
    FUZZ_CHECK(request == expected);

    // A server that answers us: our uid in its uid fields, a true tag on what it seals.
    // Ours: a field of our uid before the authenticator; plain: what that seals, when it
    // verifies.
    bool fit = true, ours = false, authenticated = false, verified = false;
    Bytes plain;
    for (auto [at, length] : Fields(reply, kSntpPacketSize, reply.size(), &fit)) {
        unsigned char* p = &reply[at];
        if (Read16(p) == 0x0104 && length == 36 && (flags & 1))
            std::copy_n(kUid, kNtsUidLength, p + 4);
        ours = ours || std::equal(kUidField.begin(), kUidField.end(), p, p + length);
        if (Read16(p) != 0x0404) continue;
        authenticated = true;
        const std::size_t nonce = length < 8 ? 0 : Read16(p + 4);
        const std::size_t sealed = length < 8 ? 0 : Read16(p + 6);
        if (sealed < kNtsSivTagLength || 8 + Padded(nonce) + Padded(sealed) > length) break;
        unsigned char* tag = p + 8 + Padded(nonce);
        if (flags & 2) {
            FakeSeal(kS2c, reply.data(), int(at), p + 8, int(nonce), tag + kNtsSivTagLength,
                     int(sealed - kNtsSivTagLength), tag);
        }
        plain.resize(sealed - kNtsSivTagLength);
        verified = FakeOpen(kS2c, reply.data(), int(at), p + 8, int(nonce), tag, int(sealed),
                            plain.data()) == 1;
        break;
    }

    const NtsReplyCheck check =
        CheckNtsReply(backend, reply.data(), reply.size(), kUid, kS2c, &cookies);
    FUZZ_CHECK(cookies.size() <= kNtsMostCookies &&
               std::equal(kept.begin(), kept.end(), cookies.begin()));
    if (check != NtsReplyCheck::kAuthentic) FUZZ_CHECK(cookies == kept);
    if (check == NtsReplyCheck::kAuthentic) FUZZ_CHECK(ours && verified);
    if (check == NtsReplyCheck::kNak) {
        FUZZ_CHECK(ours && reply[1] == 0 && std::memcmp(&reply[12], "NTSN", 4) == 0 &&
                   !authenticated);
    }
    if (!verified || !ours) return 0;
    // A reply of ours that verified is taken whenever its sealed fields fit, each sealed
    // cookie of 1 to 1024 bytes in turn while fewer than 8 are kept.
    std::vector<Bytes> fresh;
    for (auto [at, length] : Fields(plain, 0, plain.size(), &(fit = true))) {
        if (Read16(&plain[at]) == 0x0204 && length > 4 && length - 4 <= kNtsMostCookieLength) {
            fresh.emplace_back(&plain[at + 4], &plain[at] + length);
        }
    }
    FUZZ_CHECK(fit == (check == NtsReplyCheck::kAuthentic));
    fresh.resize(std::min(fresh.size(), kNtsMostCookies - kept.size()));
    const auto added = cookies.begin() + static_cast<std::ptrdiff_t>(kept.size());
    FUZZ_CHECK(!fit || std::equal(fresh.begin(), fresh.end(), added, cookies.end()));
    return 0;
}
