// The bytes of NTS: the key establishment's records as a server may send them, and
// requests and replies sealed with the real cryptography, the server's side played
// by the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/nts_records.h"
#include "tests/support/nts_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

Bytes Record(unsigned type, const Bytes& body) {
    Bytes out;
    Put16(out, type);
    Put16(out, static_cast<unsigned>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kNtpV4 = Record(0x8001, {0, 0});
const Bytes kSivCmac = Record(0x0004, {0, 15});
const Bytes kEnd = Record(0x8000, {});
Bytes Cookie(unsigned char fill) { return Record(5, Bytes(100, fill)); }

// An extension field of an NTP packet, its body padded to whole words.
Bytes Field(unsigned type, const Bytes& body) {
    Bytes out;
    Put16(out, type);
    Put16(out, static_cast<unsigned>(4 + (body.size() + 3) / 4 * 4));
    out.insert(out.end(), body.begin(), body.end());
    out.resize(out.size() + (4 - body.size() % 4) % 4, 0);
    return out;
}

}  // namespace

TEST(NtsRecords, TheRequestAndTheExporterContextAreAsServersExpect) {
    EXPECT_EQ(BuildNtsKeRequest(),
              (Bytes{0x80, 1, 0, 2, 0, 0, 0x80, 4, 0, 2, 0, 15, 0x80, 0, 0, 0}));
    EXPECT_EQ(NtsExporterContext(false), (Bytes{0, 0, 0, 15, 0}));
    EXPECT_EQ(NtsExporterContext(true), (Bytes{0, 0, 0, 15, 1}));
}

TEST(NtsRecords, ServerAnswers) {
    Bytes nineCookies;
    for (unsigned char i = 0; i < 9; ++i) nineCookies = Join({nineCookies, Cookie(i)});
    const Bytes named = Join({Record(6, {'n', 't', 'p', '.', 'e', 'x'}), Record(7, {0x04, 0xD2})});
    const struct {
        const char* what;
        Bytes answer;
        NtsKeParse expected;
        std::size_t cookies;
        const char* server;
        unsigned port;
        int error;
    } kCases[] = {
        {"all", Join({kNtpV4, kSivCmac, nineCookies, named, kEnd}), NtsKeParse::kComplete, 8,
         "ntp.ex", 1234, 0},
        {"least", Join({kNtpV4, kSivCmac, Cookie(1), kEnd}), NtsKeParse::kComplete, 1, "ke.ex", 123,
         0},
        {"unknown, not critical", Join({kNtpV4, kSivCmac, Cookie(1), Record(0x55, {1}), kEnd}),
         NtsKeParse::kComplete, 1, "ke.ex", 123, 0},
        {"error record", Join({Record(0x8002, {0, 1}), kEnd}), NtsKeParse::kRefused, 0, "", 0, 1},
        {"other AEAD", Join({kNtpV4, Record(4, {0, 16}), Cookie(1), kEnd}), NtsKeParse::kRefused, 0,
         "", 0, -1},
        {"no protocol", Join({Record(0x8001, {}), kSivCmac, kEnd}), NtsKeParse::kRefused, 0, "", 0,
         -1},
        {"unknown, critical", Join({kNtpV4, kSivCmac, Cookie(1), Record(0x8055, {1}), kEnd}),
         NtsKeParse::kRefused, 0, "", 0, -1},
        {"after the end", Join({kNtpV4, kSivCmac, Cookie(1), kEnd, {0}}), NtsKeParse::kMalformed, 0,
         "", 0, 0},
        {"empty cookie", Join({kNtpV4, kSivCmac, Record(5, {}), kEnd}), NtsKeParse::kMalformed, 0,
         "", 0, 0},
        {"port 0", Join({kNtpV4, kSivCmac, Cookie(1), Record(7, {0, 0}), kEnd}),
         NtsKeParse::kMalformed, 0, "", 0, 0},
        {"server with a space", Join({kNtpV4, kSivCmac, Cookie(1), Record(6, {'a', ' '}), kEnd}),
         NtsKeParse::kMalformed, 0, "", 0, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        NtsSession session;
        int error = 0;
        ASSERT_EQ(ParseNtsKeResponse(c.answer.data(), c.answer.size(), "ke.ex", &session, &error),
                  c.expected);
        if (c.expected == NtsKeParse::kRefused) {
            EXPECT_EQ(error, c.error);
        }
        if (c.expected != NtsKeParse::kComplete) continue;
        EXPECT_EQ(session.cookies.size(), c.cookies);
        EXPECT_EQ(session.cookies[0].size(), 100u);
        EXPECT_EQ(session.ntpServer, c.server);
        EXPECT_EQ(session.ntpPort, c.port);
        // Every beginning of the answer waits for more, as it comes over TLS in pieces.
        for (std::size_t cut = 0; cut < c.answer.size(); ++cut) {
            ASSERT_EQ(ParseNtsKeResponse(c.answer.data(), cut, "ke.ex", &session, &error),
                      NtsKeParse::kNeedMore)
                << cut;
        }
    }
}

TEST(NtsRecords, ARequestVerifiesAtTheServerAndOnlyAnAuthenticReplyCounts) {
    const NtsBackend* backend = TestNtsBackend();
    ASSERT_TRUE(backend);
    unsigned char c2s[32], s2c[32], uid[32], nonce[16], header[48] = {0x23};
    for (int i = 0; i < 32; ++i) {
        c2s[i] = static_cast<unsigned char>(i);
        s2c[i] = static_cast<unsigned char>(100 + i);
        uid[i] = static_cast<unsigned char>(200 + i);
    }
    for (int i = 0; i < 16; ++i) nonce[i] = static_cast<unsigned char>(50 + i);

    // The server's side: the authenticator, last, seals nothing under the client's key
    // with everything before it as associated data.
    const Bytes cookie(100, 7);
    const Bytes request = BuildNtsRequest(*backend, header, uid, cookie, 2, c2s, nonce);
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
        Bytes body;
        Put16(body, 16);
        Put16(body, static_cast<unsigned>(sealed.size()));
        body.insert(body.end(), nonce, nonce + 16);
        body.insert(body.end(), sealed.begin(), sealed.end());
        return Join({packet, Field(0x0404, body)});
    };
    const Bytes authentic = reply(uid, s2c);
    Bytes nak = Join({Bytes(48, 0), Field(0x0104, Bytes(uid, uid + 32))});
    nak[0] = 0x24;
    nak[12] = 'N', nak[13] = 'T', nak[14] = 'S', nak[15] = 'N';
    unsigned char otherUid[32] = {1};
    auto flipped = [&](std::size_t at) {
        Bytes copy = authentic;
        copy[at] ^= 1;
        return copy;
    };
    const struct {
        const char* what;
        Bytes packet;
        NtsReplyCheck expected;
    } kCases[] = {
        {"authentic", authentic, NtsReplyCheck::kAuthentic},
        {"a time altered", flipped(47), NtsReplyCheck::kFailed},
        {"the sealed cookies altered", flipped(authentic.size() - 1), NtsReplyCheck::kFailed},
        {"the authenticator cut off", Bytes(authentic.begin(), authentic.begin() + 84),
         NtsReplyCheck::kFailed},
        {"sealed under the client's key", reply(uid, c2s), NtsReplyCheck::kFailed},
        {"another request's", reply(otherUid, s2c), NtsReplyCheck::kForeign},
        {"the server's refusal", nak, NtsReplyCheck::kNak},
        {"the header alone", Bytes(authentic.begin(), authentic.begin() + 48),
         NtsReplyCheck::kFailed},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> cookies(7, Bytes(4, 9));
        EXPECT_EQ(CheckNtsReply(*backend, c.packet.data(), c.packet.size(), uid, s2c, &cookies),
                  c.expected);
        // Only an authentic reply's cookies are taken, and never more than eight kept.
        ASSERT_EQ(cookies.size(), c.expected == NtsReplyCheck::kAuthentic ? 8u : 7u);
        if (c.expected == NtsReplyCheck::kAuthentic) {
            EXPECT_EQ(cookies.back(), Bytes(100, 1));
        }
    }
}
