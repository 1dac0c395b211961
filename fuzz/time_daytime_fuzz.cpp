// TIME and DAYTIME from the connection to the clock: the exchange over the fake layer
// with the answer in stream pieces of any length (0 to 512 bytes in all), then the
// reading of the 4-byte value or the DAYTIME line, and the setting of the fake clock.
#include <cstring>
#include <string>

#include "engine/check_adjust.h"
#include "engine/sntp.h"
#include "engine/time_text.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FixZoneAsStartUpDoes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FakeClock clock;
    ScopedContext seams(QuerySeams());
    // Whatever a broken clock may report as local time: the PC's text shows it all the same.
    SYSTEMTIME local{};
    for (WORD* field : {&local.wYear, &local.wMonth, &local.wDayOfWeek, &local.wDay, &local.wHour,
                        &local.wMinute, &local.wSecond}) {
        *field = input.ConsumeIntegral<WORD>();
    }
    clock.SetLocal(local);
    clock.RefuseSetting(input.ConsumeBool());
    const Protocol protocol = input.ConsumeBool() ? kProtocolDaytime : kProtocolTime;
    const bool adjust = input.ConsumeBool();
    static const int kTimeouts[] = {3, 0, 1, 60, -1};
    const int timeout = kTimeouts[input.ConsumeIntegralInRange(0, 4)];

    CString serverText = "untouched", pcText = "untouched", status;
    int code = -7;
    std::uint32_t seconds = 7;
    fakenet::Begin(&input);
    const int ok = adjust ? AdjustTimeOrDaytime(protocol, "time.example", timeout, 0, serverText,
                                                pcText, status, code)
                          : QueryTimeOrDaytime(protocol, "time.example", timeout, 0, serverText,
                                               status, code, &seconds);
    fakenet::End();
    const std::string& got = fakenet::Current().received;
    // The connects and the answer within the time-out, a wait's slice at most beyond it.
    FUZZ_CHECK(fakenet::Current().elapsedMs <= (timeout > 0 ? timeout : 0) * 1000LL + 200);

    FUZZ_CHECK(IsKnownStatus(status));
    FUZZ_CHECK((ok == 1) == (status == "OK"));
    FUZZ_CHECK(adjust ? !pcText.IsEmpty() : pcText == "untouched");
    FUZZ_CHECK(clock.systemTimesSet.size() + clock.localTimesSet.size() <= 1);
    if (protocol == kProtocolTime) {
        FUZZ_CHECK(got.size() <= 4 && clock.localTimesSet.empty());
        // A value cut short (the server closed, or fell silent part way) never passes.
        if (got.size() < 4) FUZZ_CHECK(!ok && clock.systemTimesSet.empty());
        if (status == "ERROR (TIME:IncorrectPacket)") {
            FUZZ_CHECK(serverText.IsEmpty() && code == 0 && clock.systemTimesSet.empty());
        }
        if (ok) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(got.data());
            FUZZ_CHECK(ReadBigEndian32(bytes) >= kNtpTo1970 && serverText.GetLength() == 24);
            FUZZ_CHECK(adjust ? clock.systemTimesSet.size() == 1
                              : seconds == ReadBigEndian32(bytes) - kNtpTo1970);
        }
    } else {
        FUZZ_CHECK(got.size() <= 512 && clock.systemTimesSet.empty());
        if (ok) {
            // The reply's first line, without its line end: no NUL, no line feed.
            const std::string line(serverText.GetString(),
                                   static_cast<std::size_t>(serverText.GetLength()));
            FUZZ_CHECK(line.find('\0') == std::string::npos &&
                       line.find('\n') == std::string::npos);
            FUZZ_CHECK(line.empty() || line.back() != '\r');
            FUZZ_CHECK(got.compare(0, line.size(), line) == 0);
            const std::size_t end = got.find_first_not_of('\r', line.size());
            FUZZ_CHECK(line.empty() || (end != std::string::npos && got[end] == '\n'));
            FUZZ_CHECK(!adjust || clock.localTimesSet.size() == 1);
        }
    }
    if (!ok && !adjust) FUZZ_CHECK(serverText == "untouched" || serverText.IsEmpty());
    return 0;
}
