// An SNTP check or adjustment from the request to the clock: the whole exchange over
// the fake layer with a reply datagram of any length, then the originate test, the
// conversion, the reply's tests and the setting of the fake clock.
#include <cmath>
#include <cstring>

#include "engine/check_adjust.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"

namespace {

bool InRange(const SYSTEMTIME& t) {
    return t.wYear >= 1970 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDayOfWeek <= 6 && t.wDay >= 1 &&
           t.wDay <= 31 && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 60 &&
           t.wMilliseconds <= 999;
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

    CString serverText = "untouched", pcText, status, error;
    double offset = NAN;
    fakenet::Begin(&input);
    const int ok = adjust ? AdjustSntp("time.example", timeout, 1, referenceCheck, referenceHours,
                                       serverText, pcText, status, error)
                          : CheckSntp("time.example", timeout, 1, referenceCheck, referenceHours,
                                      &serverText, &pcText, &offset, status, error);
    fakenet::End();
    const fakenet::Record& record = fakenet::Current();

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
    if (ok || tested || !clock.systemTimesSet.empty()) {
        // Only a whole reply of our own request reaches the tests: 48 bytes echoing
        // our transmit time.
        FUZZ_CHECK(record.received.size() == 48 && record.sent.size() == 48);
        FUZZ_CHECK(std::memcmp(record.received.data() + 24, record.sent.data() + 40, 8) == 0);
    }
    if (ok) {
        // A server that measured nothing (stratum 0) is never believed.
        FUZZ_CHECK(record.received[1] != 0);
        FUZZ_CHECK(serverText.GetLength() == 24);  // Www Mmm DD HH:MM:SS YYYY
        if (adjust) {
            FUZZ_CHECK(clock.systemTimesSet.size() == 1 && InRange(clock.systemTimesSet[0]));
        } else {
            FUZZ_CHECK(std::isfinite(offset) && clock.systemTimesSet.empty());
        }
    }
    return 0;
}
