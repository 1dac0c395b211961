// The key establishment's answer as the session reads it: the parser runs again over
// everything received each time TLS hands over more, so it meets the answer cut after
// any read. The input is the answer, then (from its end, as FuzzedDataProvider takes
// numbers) up to 32 places where a read ended; the answer is also cut after each whole
// record and one byte short of its end. Each prefix is parsed from a buffer of exactly
// its length. An input that asks for all 32 also sends that answer without an end.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/nts_records.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::string kKeServer = "nts.example";

unsigned Read16(const unsigned char* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

// What a session may keep: a bounded list of cookies and a name and port it can ask.
void CheckSession(const NtsSession& session, const std::vector<unsigned char>& answer) {
    FUZZ_CHECK(session.cookies.size() <= kNtsMostCookies);
    for (const std::vector<unsigned char>& cookie : session.cookies) {
        FUZZ_CHECK(!cookie.empty() && cookie.size() <= kNtsMostCookieLength);
        FUZZ_CHECK(std::search(answer.begin(), answer.end(), cookie.begin(), cookie.end()) !=
                   answer.end());
    }
    const std::string& name = session.ntpServer;
    FUZZ_CHECK(!name.empty() && name.size() <= 255);
    for (char ch : name) FUZZ_CHECK(ch > 0x20 && ch < 0x7F);
    FUZZ_CHECK(session.ntpPort != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::size_t> cuts(input.ConsumeIntegralInRange<std::size_t>(0, 32));
    for (std::size_t& cut : cuts) cut = input.ConsumeIntegral<std::uint16_t>();
    const std::vector<unsigned char> answer = input.ConsumeRemainingBytes<unsigned char>();
    if (cuts.size() == 32) {
        // A server that never stops: past the most an answer may take, it is malformed
        // whatever it began with.
        std::vector<unsigned char> endless(answer);
        endless.resize(kNtsKeMostResponse + 1);
        NtsSession session;
        int error = -1;
        FUZZ_CHECK(ParseNtsKeResponse(endless.data(), endless.size(), kKeServer, &session,
                                      &error) == NtsKeParse::kMalformed);
    }
    for (std::size_t& cut : cuts) cut %= answer.size() + 1;
    for (std::size_t at = 0; at + 4 <= answer.size();) {
        at += 4 + Read16(answer.data() + at + 2);
        if (at <= answer.size()) cuts.push_back(at);
    }
    cuts.push_back(answer.size());
    if (!answer.empty()) cuts.push_back(answer.size() - 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    bool decided = false;  // a shorter prefix already gave a final answer
    NtsKeParse first = NtsKeParse::kNeedMore;
    for (std::size_t length : cuts) {
        const std::vector<unsigned char> prefix(
            answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(length));
        NtsSession session;
        session.ntpServer = "untouched";
        session.ntpPort = 7;
        session.cookies.assign(2, {1});
        int error = -1;  // as the session passes it
        const NtsKeParse parsed =
            ParseNtsKeResponse(prefix.data(), prefix.size(), kKeServer, &session, &error);
        if (parsed == NtsKeParse::kComplete) {
            // Complete only at its end-of-message record, and only when nothing follows.
            FUZZ_CHECK(!decided && length >= 4);
            FUZZ_CHECK((Read16(prefix.data() + length - 4) & 0x7FFF) == 0);
            FUZZ_CHECK(Read16(prefix.data() + length - 2) == 0);
            CheckSession(session, prefix);
        } else {
            // Nothing of an answer that was not taken reaches the session.
            FUZZ_CHECK(session.ntpServer == "untouched" && session.ntpPort == 7);
            FUZZ_CHECK(session.cookies.size() == 2);
        }
        if (parsed == NtsKeParse::kRefused) FUZZ_CHECK(error >= -1 && error <= 0xFFFF);
        if (parsed == NtsKeParse::kNeedMore) {
            // More bytes never take back a final answer.
            FUZZ_CHECK(!decided && length <= kNtsKeMostResponse);
        } else if (decided) {
            // Whatever follows a final answer cannot turn it into another but malformed:
            // a refusal stays one (its critical record is in every longer prefix), and
            // bytes after an end of message are not the server's answer.
            FUZZ_CHECK(parsed == NtsKeParse::kMalformed ||
                       (parsed == NtsKeParse::kRefused && first == NtsKeParse::kRefused));
        } else {
            decided = true;
            first = parsed;
        }
        if (first == NtsKeParse::kMalformed) FUZZ_CHECK(parsed == NtsKeParse::kMalformed);
    }
    return 0;
}
