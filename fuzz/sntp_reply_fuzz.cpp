// An SNTP check or adjustment from the request to the clock: the whole exchange over
// the fake layer, a burst of one to eight requests included, with reply datagrams of
// any length and stamps of any age, then the originate test, the choice among the
// samples, the conversion, the reply's tests and the setting of the fake clock.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "engine/check_adjust.h"
#include "engine/query_request.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"

namespace {

bool InRange(const SYSTEMTIME& t) {
    return t.wYear >= 1970 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDayOfWeek <= 6 && t.wDay >= 1 &&
           t.wDay <= 31 && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 60 &&
           t.wMilliseconds <= 999;
}

// The server's clock: the PC's, at the scale the client reads NTP times.
std::uint32_t PcClockAsNtp() {
    TimeStamp now{};
    ReadPcClock(&now);
    unsigned char field[8];
    WriteNtpTimeStamp(field, now);
    return ReadBigEndian32(field);
}

// The requests of a run, as the burst and the race must send them: at most samples to
// an address, a quarter second apart; none to another address once one has answered;
// new transmit bits each time; none after the query's countdown.
void CheckRequests(const fakenet::Record& record, int samples, long long countdownMs) {
    constexpr long long kSlackMs = 100;  // the real time between the clock's readings
    std::map<const sockaddr*, std::vector<long long>> times;
    const sockaddr* answered = nullptr;
    std::size_t replies = 0;
    for (std::size_t i = 0; i < record.sent.size(); ++i) {
        const fakenet::Datagram& request = record.sent[i];
        // Replies read before this request left.
        for (; replies < record.replies.size() && record.replies[replies].order < request.order &&
               !answered;
             ++replies) {
            const fakenet::Datagram& reply = record.replies[replies];
            if (!fakenet::EchoesOwnRequest(record, reply)) continue;
            for (const fakenet::Datagram& own : record.sent) {
                if (own.socket == reply.socket) answered = own.address;
            }
        }
        if (answered) FUZZ_CHECK(request.address == answered);
        std::vector<long long>& sentTo = times[request.address];
        if (!sentTo.empty()) FUZZ_CHECK(request.atMs - sentTo.back() >= 250 - kSlackMs);
        sentTo.push_back(request.atMs);
        FUZZ_CHECK(static_cast<int>(sentTo.size()) <= samples);
        if (i > 0) FUZZ_CHECK(request.atMs <= countdownMs + kSlackMs);
        FUZZ_CHECK(request.bytes.size() == 48);
        for (std::size_t j = 0; j < i; ++j) {
            FUZZ_CHECK(std::memcmp(record.sent[j].bytes.data() + 40, request.bytes.data() + 40,
                                   8) != 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FixZoneAsStartUpDoes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FakeClock clock;
    ScopedContext seams(QuerySeams());
    // The PC clock anywhere from 1970 to 2106, running on by up to two seconds a reading.
    clock.SetUtc(input.ConsumeIntegral<std::uint32_t>(), input.ConsumeIntegralInRange(0u, 999999u));
    clock.StepEachRead(input.ConsumeIntegralInRange<std::int64_t>(0, 2000000));
    clock.RefuseSetting(input.ConsumeBool());
    const bool adjust = input.ConsumeBool();
    const int referenceCheck = input.ConsumeBool() ? 1 : 0;
    const int referenceHours = input.ConsumeIntegralInRange(1, 24);  // as the settings keep it
    static const int kTimeouts[] = {3, 0, 1, 60, -1};
    const int timeout = kTimeouts[input.ConsumeIntegralInRange(0, 4)];
    const int samples = input.ConsumeIntegralInRange(1, 8);
    QueryRequest shape;
    shape.timeout = timeout;
    shape.samples = samples;
    const long long countdownMs = std::max({0, timeout, shape.CountdownSeconds()}) * 1000LL;

    CString serverText = "untouched", pcText, status, error;
    double offset = NAN;
    fakenet::Begin(&input, &PcClockAsNtp);
    int ok = 0;
    if (!adjust) {
        ok = CheckSntp("time.example", timeout, 1, referenceCheck, referenceHours, &serverText,
                       &pcText, &offset, status, error, samples);
    } else if (samples == 1) {
        ok = AdjustSntp("time.example", timeout, 1, referenceCheck, referenceHours, serverText,
                        pcText, status, error);
    } else {
        // A burst's adjustment, as the window's and the service's commands make it.
        ok = CheckSntp("time.example", timeout, 1, referenceCheck, referenceHours, nullptr,
                       &pcText, &offset, status, error, samples) &&
             SetClockByOffset(offset, serverText, status, error);
    }
    fakenet::End();
    const fakenet::Record& record = fakenet::Current();

    CheckRequests(record, samples, countdownMs);
    // The whole query within its countdown, the last wait's slice at most beyond it.
    FUZZ_CHECK(record.elapsedMs <= countdownMs + 100 + 100);

    FUZZ_CHECK(IsKnownStatus(status));
    FUZZ_CHECK((ok == 1) == (status == "OK"));
    // The user compares the two times, so the PC's is shown whatever the query did.
    FUZZ_CHECK(!pcText.IsEmpty());
    FUZZ_CHECK(clock.localTimesSet.empty());
    if (!ok) {
        FUZZ_CHECK(serverText == "untouched");
        FUZZ_CHECK(adjust ? clock.systemTimesSet.size() <= 1 : clock.systemTimesSet.empty());
        // Only a clock that refused has been asked to change after a failure.
        FUZZ_CHECK(clock.systemTimesSet.empty() || status == "ERROR (localtime-set)");
    }
    const bool tested = std::strncmp(status, "ERROR (SNTP: ", 13) == 0;
    const auto genuine = [&record](const fakenet::Datagram& reply) {
        return fakenet::EchoesOwnRequest(record, reply);
    };
    const auto genuineCount = std::count_if(record.replies.begin(), record.replies.end(), genuine);
    if (ok || tested || !clock.systemTimesSet.empty()) {
        // Only a whole reply to the request of its own socket reaches the tests.
        FUZZ_CHECK(genuineCount > 0);
    }
    // A failure of the exchange itself, but for a burst given up part way: no reply
    // was ever taken.
    if (!ok && !tested && status != kClockRefused && status != "ERROR (Socket)") {
        FUZZ_CHECK(genuineCount == 0);
    }
    if (ok) {
        // A server that measured nothing (stratum 0) is never believed.
        FUZZ_CHECK(std::any_of(record.replies.begin(), record.replies.end(),
                               [&](const fakenet::Datagram& reply) {
                                   return genuine(reply) && reply.bytes[1] != 0;
                               }));
        FUZZ_CHECK(serverText.GetLength() == 24);  // Www Mmm DD HH:MM:SS YYYY
        if (adjust) {
            FUZZ_CHECK(clock.systemTimesSet.size() == 1 && InRange(clock.systemTimesSet[0]));
        } else {
            FUZZ_CHECK(std::isfinite(offset) && clock.systemTimesSet.empty());
        }
    }
    return 0;
}
