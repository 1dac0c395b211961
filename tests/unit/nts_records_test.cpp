// NTS's bytes as servers send them, sealed with the real cryptography; the test is the server.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/nts_records.h"
#include "tests/support/nts_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Join(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

// A record of the key establishment: type, length of the body (plus extra), body.
Bytes Record(unsigned type, const Bytes& body, std::size_t extra = 0) {
    const std::size_t n = body.size() + extra;
    return Join({{static_cast<unsigned char>(type >> 8), static_cast<unsigned char>(type),
                  static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)}, body});
}

// An extension field of an NTP packet: its length counts its header, its body padded to words.
Bytes Field(unsigned type, Bytes body) {
    body.resize((body.size() + 3) / 4 * 4, 0);
    return Record(type, body, 4);
}

const Bytes kNtpV4 = Record(0x8001, {0, 0});
const Bytes kSivCmac = Record(0x0004, {0, 15});
const Bytes kEnd = Record(0x8000, {});
Bytes Cookie(unsigned char fill) { return Record(5, Bytes(100, fill)); }

}  // namespace

TEST(NtsRecords, TheRequestAndTheExporterContextAreAsServersExpect) {
    EXPECT_EQ(BuildNtsKeRequest(),
              (Bytes{0x80, 1, 0, 2, 0, 0, 0x80, 4, 0, 2, 0, 15, 0x80, 0, 0, 0}));
    EXPECT_EQ(NtsExporterContext(false), (Bytes{0, 0, 0, 15, 0}));
    EXPECT_EQ(NtsExporterContext(true), (Bytes{0, 0, 0, 15, 1}));
}

TEST(NtsRecords, ServerAnswers) {
    using P = NtsKeParse;
    Bytes nineCookies;
    for (unsigned char i = 0; i < 9; ++i) nineCookies = Join({nineCookies, Cookie(i)});
    const Bytes least = Join({kNtpV4, kSivCmac, Cookie(1)});
    const struct {
        const char* what; Bytes answer; NtsKeParse expected;
        int error = 0;  // when refused: the error record's code, -1 for none
        std::size_t cookies = 1; const char* server = "ke.ex"; unsigned port = 123;  // complete
    } kCases[] = {
        {"all", Join({kNtpV4, kSivCmac, nineCookies, Record(6, {'n', 't', 'p', '.', 'e', 'x'}),
                      Record(7, {0x04, 0xD2}), kEnd}), P::kComplete, 0, 8, "ntp.ex", 1234},
        {"least", Join({least, kEnd}), P::kComplete},
        {"unknown, not critical", Join({least, Record(0x55, {1}), kEnd}), P::kComplete},
        {"error record", Join({Record(0x8002, {0, 1}), kEnd}), P::kRefused, 1},
        {"other AEAD", Join({kNtpV4, Record(4, {0, 16}), Cookie(1), kEnd}), P::kRefused, -1},
        {"no protocol", Join({Record(0x8001, {}), kSivCmac, kEnd}), P::kRefused, -1},
        {"unknown, critical", Join({least, Record(0x8055, {1}), kEnd}), P::kRefused, -1},
        {"after the end", Join({least, kEnd, {0}}), P::kMalformed},
        {"empty cookie", Join({kNtpV4, kSivCmac, Record(5, {}), kEnd}), P::kMalformed},
        {"port 0", Join({least, Record(7, {0, 0}), kEnd}), P::kMalformed},
        {"server with a space", Join({least, Record(6, {'a', ' '}), kEnd}), P::kMalformed},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        NtsSession session;
        int error = 0;
        ASSERT_EQ(ParseNtsKeResponse(c.answer.data(), c.answer.size(), "ke.ex", &session, &error),
                  c.expected);
        if (c.expected == P::kRefused) { EXPECT_EQ(error, c.error); }
        if (c.expected != P::kComplete) continue;
        EXPECT_EQ(session.cookies.size(), c.cookies);
        EXPECT_EQ(session.cookies[0].size(), 100u);
        EXPECT_EQ(session.ntpServer, c.server);
        EXPECT_EQ(session.ntpPort, c.port);
        // Every beginning of the answer waits for more, as it comes over TLS in pieces.
        for (std::size_t cut = 0; cut < c.answer.size(); ++cut)
            ASSERT_EQ(ParseNtsKeResponse(c.answer.data(), cut, "ke.ex", &session, &error),
                      P::kNeedMore) << cut;
    }
}

TEST(NtsRecords, ARequestVerifiesAtTheServerAndOnlyAnAuthenticReplyCounts) {
    using R = NtsReplyCheck;
    const NtsBackend* backend = TestNtsBackend();
    ASSERT_TRUE(backend);
    unsigned char c2s[32], s2c[32], uid[32], otherUid[32] = {1}, nonce[16], header[48] = {0x23};
    std::iota(c2s, c2s + 32, 0);
    std::iota(s2c, s2c + 32, 100);
    std::iota(uid, uid + 32, 200);
    std::iota(nonce, nonce + 16, 50);

    // At the server: the authenticator, last, seals nothing, the rest its associated data.
    const Bytes request = BuildNtsRequest(*backend, header, uid, Bytes(100, 7), 2, c2s, nonce);
    ASSERT_EQ(request.size(), 48u + 36 + 3 * 104 + 40);
    const std::size_t authenticator = request.size() - 40;
    EXPECT_EQ(Bytes(request.begin() + authenticator, request.begin() + authenticator + 8),
              (Bytes{0x04, 0x04, 0, 40, 0, 16, 0, 16}));
    unsigned char nothing[1];
    EXPECT_EQ(backend->sivOpen(c2s, request.data(), static_cast<int>(authenticator),
                               request.data() + authenticator + 8, 16,
                               request.data() + authenticator + 24, 16, nothing),
              1);

    // The server's reply: its header, our uid, and two new cookies sealed under s2c.
    const Bytes fresh = Join({Field(0x0204, Bytes(100, 1)), Field(0x0204, Bytes(100, 2))});
    auto reply = [&](const unsigned char* withUid, const unsigned char* key) {
        Bytes packet = Join({Bytes(48, 0x24), Field(0x0104, Bytes(withUid, withUid + 32))});
        Bytes sealed(fresh.size() + 16);
        EXPECT_EQ(backend->sivSeal(key, packet.data(), static_cast<int>(packet.size()), nonce, 16,
                                   fresh.data(), static_cast<int>(fresh.size()), sealed.data()),
                  1);
        const Bytes lengths = {0, 16, 0, static_cast<unsigned char>(sealed.size())};
        return Join({packet, Field(0x0404, Join({lengths, Bytes(nonce, nonce + 16), sealed}))});
    };
    const Bytes authentic = reply(uid, s2c);
    const Bytes nak = Join({{0x24}, Bytes(11, 0), {'N', 'T', 'S', 'N'}, Bytes(32, 0),
                            Field(0x0104, Bytes(uid, uid + 32))});
    const auto flipped = [&](std::size_t at) {
        Bytes copy = authentic;
        copy[at] ^= 1;
        return copy;
    };
    const struct { const char* what; Bytes packet; NtsReplyCheck expected; } kCases[] = {
        {"authentic", authentic, R::kAuthentic},
        {"a time altered", flipped(47), R::kFailed},
        {"the sealed cookies altered", flipped(authentic.size() - 1), R::kFailed},
        {"the authenticator cut off", Bytes(authentic.begin(), authentic.begin() + 84), R::kFailed},
        {"sealed under the client's key", reply(uid, c2s), R::kFailed},
        {"another request's", reply(otherUid, s2c), R::kForeign},
        {"the server's refusal", nak, R::kNak},
        {"the header alone", Bytes(authentic.begin(), authentic.begin() + 48), R::kFailed},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> cookies(7, Bytes(4, 9));
        EXPECT_EQ(CheckNtsReply(*backend, c.packet.data(), c.packet.size(), uid, s2c, &cookies),
                  c.expected);
        // Only an authentic reply's cookies are taken, and never more than eight kept.
        ASSERT_EQ(cookies.size(), c.expected == R::kAuthentic ? 8u : 7u);
        if (c.expected == R::kAuthentic) { EXPECT_EQ(cookies.back(), Bytes(100, 1)); }
    }
}
