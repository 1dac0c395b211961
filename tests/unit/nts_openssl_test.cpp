// The OpenSSL backend of authenticated time, natively: AES-SIV against RFC 5297 and a
// tampered message, the ClientHello a session sends, and the kinds of certificate
// failure. A handshake with a real server is the integration tests' (chronyd).
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

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

const Bytes kKey = FromHex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

TEST(NtsSiv, MatchesRfc5297DeterministicVectorAndAnEmptyPlaintext) {
    const NtsBackend* backend = TavrinoNtsBackend();
    ASSERT_EQ(backend->version, static_cast<unsigned>(kNtsBackendVersion));
    struct Vector {
        const char* name;
        Bytes associated, nonce, plain, sealed;
    };
    const Vector vectors[] = {
        // RFC 5297, Appendix A.1: one associated-data component, no nonce.
        {"A.1",
         FromHex("101112131415161718191a1b1c1d1e1f2021222324252627"),
         {},
         FromHex("112233445566778899aabbccddee"),
         FromHex("85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c")},
        // A client's authenticator: nothing to encrypt, the tag over header and nonce
        // alone (S2V computed apart from this program, with another CMAC).
        {"empty",
         FromText("NTP header and extension fields"),
         FromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
         {},
         FromHex("6347655faa7163b915d6a1f2318f154f")},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        Bytes sealed(v.plain.size() + kNtsSivTagLength);
        ASSERT_EQ(backend->sivSeal(kKey.data(), v.associated.data(),
                                   static_cast<int>(v.associated.size()), v.nonce.data(),
                                   static_cast<int>(v.nonce.size()), v.plain.data(),
                                   static_cast<int>(v.plain.size()), sealed.data()),
                  1);
        EXPECT_EQ(sealed, v.sealed);
        Bytes plain(v.plain.size() + 1, 0xee);
        ASSERT_EQ(backend->sivOpen(kKey.data(), v.associated.data(),
                                   static_cast<int>(v.associated.size()), v.nonce.data(),
                                   static_cast<int>(v.nonce.size()), v.sealed.data(),
                                   static_cast<int>(v.sealed.size()), plain.data()),
                  1);
        EXPECT_EQ(Bytes(plain.begin(), plain.end() - 1), v.plain);
    }
}

TEST(NtsSiv, OpensOnlyWhatWasSealedWithTheSameDataAndNonce) {
    const NtsBackend* backend = TavrinoNtsBackend();
    const Bytes associated = FromText("header, unique identifier, cookie");
    const Bytes nonce = FromHex("000102030405060708090a0b0c0d0e0f");
    enum Part { kNothing, kTag, kCiphertext, kAssociated, kNonce, kNoNonce };
    struct Case {
        const char* name;
        Part flipped;
        size_t plainLength;
        int opens;
    };
    const Case cases[] = {
        {"untouched", kNothing, 24, 1},
        {"tag bit", kTag, 24, 0},
        {"ciphertext bit", kCiphertext, 24, 0},
        {"associated bit", kAssociated, 24, 0},
        {"nonce bit", kNonce, 24, 0},
        {"nonce left out", kNoNonce, 24, 0},
        {"empty untouched", kNothing, 0, 1},
        {"empty tag bit", kTag, 0, 0},
        {"empty associated bit", kAssociated, 0, 0},
        {"empty nonce bit", kNonce, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes plain(c.plainLength);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * 7);
        Bytes sealed(plain.size() + kNtsSivTagLength);
        ASSERT_EQ(
            backend->sivSeal(kKey.data(), associated.data(), static_cast<int>(associated.size()),
                             nonce.data(), static_cast<int>(nonce.size()), plain.data(),
                             static_cast<int>(plain.size()), sealed.data()),
            1);
        Bytes a = associated;
        Bytes n = nonce;
        switch (c.flipped) {
            case kTag: sealed[5] ^= 0x10; break;
            case kCiphertext: sealed[kNtsSivTagLength + 3] ^= 0x01; break;
            case kAssociated: a.back() ^= 0x80; break;
            case kNonce: n.front() ^= 0x01; break;
            case kNoNonce: n.clear(); break;
            case kNothing: break;
        }
        Bytes opened(plain.size() + 1, 0xee);
        EXPECT_EQ(backend->sivOpen(kKey.data(), a.data(), static_cast<int>(a.size()), n.data(),
                                   static_cast<int>(n.size()), sealed.data(),
                                   static_cast<int>(sealed.size()), opened.data()),
                  c.opens);
        // What did not verify is not handed out.
        const Bytes expected = c.opens ? plain : Bytes(plain.size(), 0);
        EXPECT_EQ(Bytes(opened.begin(), opened.end() - 1), expected);
    }
}

// What a session sends first, without any server: TLS 1.3 only, ALPN ntske/1, and the
// name as SNI only when it is a host name; bytes that are no TLS end it as a protocol
// failure.
TEST(NtsTls, ClientHelloOffersOnlyTls13AndNtskeAndNamesHostsOnly) {
    const NtsBackend* backend = TavrinoNtsBackend();
    EXPECT_EQ(backend->tlsOpen(""), nullptr);
    EXPECT_EQ(backend->tlsOpen(nullptr), nullptr);
    const Bytes tls13Only = FromHex("002b0003020304");  // supported_versions: 0x0304
    const Bytes alpn = FromHex("0010000a0008076e74736b652f31");
    const struct {
        const char* server;
        bool sni;
    } servers[] = {{"nts.example.jp", true}, {"192.0.2.7", false}, {"2001:db8::1", false}};
    for (const auto& s : servers) {
        SCOPED_TRACE(s.server);
        NtsTls* tls = backend->tlsOpen(s.server);
        ASSERT_NE(tls, nullptr);
        EXPECT_EQ(backend->tlsHandshake(tls), 0);
        Bytes hello(4096);
        hello.resize(static_cast<size_t>(
            backend->tlsTakeOutput(tls, hello.data(), static_cast<int>(hello.size()))));
        ASSERT_GT(hello.size(), 5u);
        EXPECT_EQ(hello[0], 0x16);  // a handshake record
        EXPECT_TRUE(Contains(hello, tls13Only));
        EXPECT_TRUE(Contains(hello, alpn));
        EXPECT_EQ(Contains(hello, FromText(s.server)), s.sni);
        EXPECT_EQ(backend->tlsTakeOutput(tls, hello.data(), 1), 0);  // all taken

        const Bytes noise = FromText("HTTP/1.1 400 Bad Request\r\n\r\n");
        ASSERT_EQ(backend->tlsPutInput(tls, noise.data(), static_cast<int>(noise.size())), 1);
        EXPECT_EQ(backend->tlsHandshake(tls), -1);
        char detail[128] = "unset";
        EXPECT_EQ(backend->tlsFailure(tls, detail, sizeof(detail)), kNtsTlsProtocol);
        EXPECT_STRNE(detail, "unset");
        unsigned char key[32];
        EXPECT_EQ(backend->tlsExport(tls, "EXPORTER-network-time-security", key, 0, key, 32), 0);
        backend->tlsClose(tls);
    }
}

TEST(NtsTrust, VerifyResultsMapToTheirKind) {
    const struct {
        long result;
        NtsTlsFailure failure;
    } cases[] = {
        {X509_V_OK, kNtsTlsOk},
        {X509_V_ERR_HOSTNAME_MISMATCH, kNtsTlsNameMismatch},
        {X509_V_ERR_IP_ADDRESS_MISMATCH, kNtsTlsNameMismatch},
        {X509_V_ERR_CERT_HAS_EXPIRED, kNtsTlsCertTime},
        {X509_V_ERR_CERT_NOT_YET_VALID, kNtsTlsCertTime},
        {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, kNtsTlsUntrusted},
        {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, kNtsTlsUntrusted},
        {X509_V_ERR_CERT_SIGNATURE_FAILURE, kNtsTlsUntrusted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrustFailureOfVerifyResult(c.result), c.failure) << c.result;
}

}  // namespace
