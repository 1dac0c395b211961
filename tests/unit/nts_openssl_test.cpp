// The OpenSSL backend without a server; a real handshake is the integration tests' (chronyd).
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <string>
#include <vector>

#include "nts/nts_openssl.h"
#include "nts/trust.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}
Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }
const Bytes kKey = FromHex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

// Seals, or opens, into an output with a byte to spare that must stay untouched.
Bytes Siv(bool seal, const Bytes& a, const Bytes& n, const Bytes& in, int expected) {
    Bytes out(seal ? in.size() + kNtsSivTagLength + 1 : in.size() - kNtsSivTagLength + 1, 0xee);
    EXPECT_EQ((seal ? TavrinoNtsBackend()->sivSeal : TavrinoNtsBackend()->sivOpen)(
                  kKey.data(), a.data(), static_cast<int>(a.size()), n.data(),
                  static_cast<int>(n.size()), in.data(), static_cast<int>(in.size()), out.data()),
              expected);
    EXPECT_EQ(out.back(), 0xee);
    return Bytes(out.begin(), out.end() - 1);
}

TEST(NtsSiv, MatchesKnownVectorsAndOpensOnlyWhatWasSealedWithTheSameDataAndNonce) {
    ASSERT_EQ(TavrinoNtsBackend()->version, static_cast<unsigned>(kNtsBackendVersion));
    const struct { const char* name; Bytes associated, nonce, plain, sealed; } vectors[] = {
        {"RFC 5297 A.1", FromHex("101112131415161718191a1b1c1d1e1f2021222324252627"), {},
         FromHex("112233445566778899aabbccddee"),
         FromHex("85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c")},
        {"an authenticator: the tag alone, S2V computed apart with another CMAC",
         FromText("NTP header and extension fields"), FromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
         {}, FromHex("6347655faa7163b915d6a1f2318f154f")},
        {"round trip of a block and more", FromText("header, unique identifier, cookie"),
         FromHex("000102030405060708090a0b0c0d0e0f"), FromText("twenty-four bytes of it."), {}},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        const Bytes sealed = Siv(true, v.associated, v.nonce, v.plain, 1);
        EXPECT_EQ(sealed, v.sealed.empty() ? sealed : v.sealed);
        EXPECT_EQ(Siv(false, v.associated, v.nonce, sealed, 1), v.plain);
        for (int flip = 0; flip < 5; ++flip) {
            SCOPED_TRACE(flip);
            Bytes s = sealed, a = v.associated, n = v.nonce;
            if (flip == 0) s[5] ^= 0x10;                         // the tag
            if (flip == 1) s.back() ^= 0x01;                     // the ciphertext, or the tag
            if (flip == 2) a.back() ^= 0x80;
            if (flip == 3) n.resize(n.empty() ? 1 : 0);          // a nonce added or left out
            if (flip == 4) (n.empty() ? a : n).front() ^= 0x01;  // the nonce where there is one
            EXPECT_EQ(Siv(false, a, n, s, 0), Bytes(v.plain.size(), 0));  // nothing unverified out
        }
    }
}

// TLS 1.3 only, ALPN ntske/1, SNI only for host names; bytes that are no TLS end it.
TEST(NtsTls, ClientHelloOffersOnlyTls13AndNtskeAndNamesHostsOnly) {
    const NtsBackend* backend = TavrinoNtsBackend();
    EXPECT_EQ(backend->tlsOpen(""), nullptr);
    EXPECT_EQ(backend->tlsOpen(nullptr), nullptr);
    const auto contains = [](const Bytes& h, const Bytes& b) {
        return std::search(h.begin(), h.end(), b.begin(), b.end()) != h.end(); };
    for (const auto& [server, sni] : {std::pair<const char*, bool>{"nts.example.jp", true},
                                      {"192.0.2.7", false}, {"2001:db8::1", false}}) {
        SCOPED_TRACE(server);
        NtsTls* tls = backend->tlsOpen(server);
        ASSERT_NE(tls, nullptr);
        EXPECT_EQ(backend->tlsHandshake(tls), 0);
        Bytes hello(4096);
        hello.resize(static_cast<size_t>(backend->tlsTakeOutput(tls, hello.data(), 4096)));
        ASSERT_GT(hello.size(), 5u);
        EXPECT_EQ(hello[0], 0x16);                                    // a handshake record
        EXPECT_TRUE(contains(hello, FromHex("002b0003020304")));      // supported_versions: 1.3
        EXPECT_TRUE(contains(hello, FromHex("0010000a0008076e74736b652f31")));  // ALPN ntske/1
        EXPECT_EQ(contains(hello, FromText(server)), sni);
        EXPECT_EQ(backend->tlsTakeOutput(tls, hello.data(), 1), 0);  // all taken
        const Bytes noise = FromText("HTTP/1.1 400 Bad Request\r\n\r\n");
        ASSERT_EQ(backend->tlsPutInput(tls, noise.data(), static_cast<int>(noise.size())), 1);
        EXPECT_EQ(backend->tlsHandshake(tls), -1);
        char detail[128] = "unset";
        unsigned char key[32];
        EXPECT_EQ(backend->tlsFailure(tls, detail, sizeof(detail)), kNtsTlsProtocol);
        EXPECT_STRNE(detail, "unset");
        EXPECT_EQ(backend->tlsExport(tls, "EXPORTER-network-time-security", key, 0, key, 32), 0);
        backend->tlsClose(tls);
    }
}

TEST(NtsTrust, VerifyResultsMapToTheirKind) {
    const std::pair<long, NtsTlsFailure> cases[] = {
        {X509_V_OK, kNtsTlsOk}, {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, kNtsTlsUntrusted},
        {X509_V_ERR_HOSTNAME_MISMATCH, kNtsTlsNameMismatch},
        {X509_V_ERR_IP_ADDRESS_MISMATCH, kNtsTlsNameMismatch},
        {X509_V_ERR_CERT_HAS_EXPIRED, kNtsTlsCertTime},
        {X509_V_ERR_CERT_NOT_YET_VALID, kNtsTlsCertTime}};
    for (const auto& [result, failure] : cases)
        EXPECT_EQ(TrustFailureOfVerifyResult(result), failure) << result;
}

}  // namespace
