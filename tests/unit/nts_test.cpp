// Authenticated time against the harness's NTS servers: chronyd with a certificate
// from the harness's test root (nts.tavrino.test; wrong-name.tavrino.test reaches it
// under a name the certificate lacks), chronyd with an untrusted certificate and
// with one not valid until 2099, and a relay in front of the first that alters its
// replies (flip: one byte of the transmit time; strip: the authenticator cut off) or
// drops them while a file says so and counts the key establishments it passes on
// (lossy). Natively OpenSSL trusts the test root through SSL_CERT_FILE; under Wine the
// root joins the prefix's machine root store and the DLL built beside the programs
// does the cryptography, as on a user's PC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/nts_client.h"
#include "tests/support/fake_clock.h"
#include "tests/support/nts_support.h"

namespace {

const char kRunThroughHarness[] = " (the NTS servers are started by scripts/sandbox)";

#ifdef _WIN32
const char kLossy[] = "lossy-win.tavrino.test";
const char kLossyAddress[] = "127.0.0.33";
#else
const char kLossy[] = "lossy.tavrino.test";
const char kLossyAddress[] = "127.0.0.32";
#endif

class Nts : public ::testing::Test {
  protected:
    Nts() { m_clock.FollowRealClock(0); }

    static void SetUpTestSuite() { ASSERT_TRUE(TrustTestRoot()) << kRunThroughHarness; }

    static ServerQuery Query(const char* server, int samples = 1) {
        ServerQuery query;
        query.server = server;
        query.protocol = kProtocolSntp;
        query.timeOut = 2;
        query.samples = samples;
        query.nts = true;
        return query;
    }

    CNtsClient m_client{&TestNtsBackend};
    ScopedContext m_seams{CurrentContext().With(&m_client)};
    FakeClock m_clock;
};

// The key establishments that the lossy relay has passed on to the server.
int KeyEstablishmentsSeen() {
    std::ifstream count(HarnessPath("TAVRINO_NTS_RELAY", std::string(kLossyAddress) + ".ke"));
    int seen = 0;
    return count >> seen ? seen : 0;
}

void DropReplies(bool drop) {
    const std::string flag = HarnessPath("TAVRINO_NTS_RELAY", std::string(kLossyAddress) + ".drop");
    if (drop) {
        std::ofstream(flag) << "drop\n";
    } else {
        std::remove(flag.c_str());
    }
}

}  // namespace

TEST_F(Nts, CheckAndAdjustAreAuthenticatedAndSetTheClock) {
    m_clock.FollowRealClock(3600LL * 1000000);  // the PC an hour ahead
    const CommandOutcome check = CheckServerTime(Query("nts.tavrino.test", 4));
    ASSERT_TRUE(check.success) << check.statusText.GetString() << " " << check.errorText.GetString()
                               << kRunThroughHarness;
    EXPECT_TRUE(check.authenticated);
    EXPECT_TRUE(m_clock.systemTimesSet.empty());

    const CommandOutcome adjust = AdjustPcClock(Query("nts.tavrino.test"));
    ASSERT_TRUE(adjust.success) << adjust.statusText.GetString();
    ASSERT_EQ(m_clock.systemTimesSet.size(), 1u);
    // Set back to the server's time, which is this machine's: within the hour's minute.
    const SYSTEMTIME& set = m_clock.systemTimesSet[0];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    EXPECT_EQ(set.wHour, utc.tm_hour);
    EXPECT_NEAR(set.wMinute, utc.tm_min, 1);
}

TEST_F(Nts, CookiesAreKeptUntilUsedUpThenANewKeyEstablishment) {
    DropReplies(false);
    const int before = KeyEstablishmentsSeen();
    const CommandOutcome first = CheckServerTime(Query(kLossy));
    ASSERT_TRUE(first.success) << first.statusText.GetString() << kRunThroughHarness;
    ASSERT_TRUE(CheckServerTime(Query(kLossy, 4)).success);
    EXPECT_EQ(KeyEstablishmentsSeen(), before + 1) << "the second query kept the cookies";

    // Eight requests whose replies never come spend the eight cookies kept.
    DropReplies(true);
    const CommandOutcome lost = CheckServerTime(Query(kLossy, 8));
    DropReplies(false);
    EXPECT_EQ(lost.statusText, "ERROR (TimeOut)");
    const CommandOutcome renewed = CheckServerTime(Query(kLossy));
    EXPECT_TRUE(renewed.success) << renewed.statusText.GetString();
    EXPECT_EQ(KeyEstablishmentsSeen(), before + 2);
}

TEST_F(Nts, EachFailureSaysWhatWentWrongAndNeverSetsTheClock) {
    const struct {
        const char* server;
        const char* status;
        const char* errorText;  // null: any
    } kCases[] = {
        {"flip.tavrino.test", "ERROR (NTS:Auth)", nullptr},   // a forged time
        {"strip.tavrino.test", "ERROR (NTS:Auth)", nullptr},  // no authenticator
        {"untrusted.tavrino.test", "ERROR (NTS:Untrusted)", nullptr},
        {"wrong-name.tavrino.test", "ERROR (NTS:NameMismatch)", nullptr},
        {"future.tavrino.test", "ERROR (NTS:CertTime)", nullptr},
        {"127.0.0.9", "ERROR (NTS-KE:Connect)", "10061"},  // TCP 4460 closed
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.server);
        const CommandOutcome out = AdjustPcClock(Query(c.server));
        EXPECT_FALSE(out.success);
        EXPECT_EQ(out.statusText, c.status) << out.errorText.GetString();
        if (c.errorText) {
            EXPECT_EQ(out.errorText, c.errorText);
        }
    }
    // Without the cryptography (the DLL missing) nothing is asked at all.
    CNtsClient without([]() -> const NtsBackend* { return nullptr; });
    ScopedContext none(CurrentContext().With(&without));
    EXPECT_EQ(AdjustPcClock(Query("nts.tavrino.test")).statusText, "ERROR (NTS:Unavailable)");
    EXPECT_TRUE(m_clock.systemTimesSet.empty());
    EXPECT_TRUE(m_clock.localTimesSet.empty());
}
