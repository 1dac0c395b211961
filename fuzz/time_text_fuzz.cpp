// The readers of texts: the time text (ParseTimeText, MonthFromName, the history's
// TimeTextToSeconds), atoi's and sscanf's readings of numbers (AtoiSaturating,
// ScanIntegers) and the C runtime's time conversions. The input is the text itself;
// its first eight bytes also give an instant whose text must read back the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/time_text.h"
#include "framework/atoi.h"
#include "framework/crt_time.h"
#include "framework/scan.h"
#include "fuzz/fuzz_support.h"
#include "logging/history_log.h"
#include "ui/status_texts.h"

namespace {

// The last second whose local time (UTC+9) the runtime still reads: 3000-12-31 23:59:59.
constexpr long long kLastLocalSecond = 32535215999LL - 9 * 3600;

// No digit run long enough to overflow an int, and no hexadecimal: there sscanf's
// reading is defined and ScanIntegers must agree with it.
bool SscanfIsDefinedFor(const std::string& text) {
    int run = 0;
    for (char ch : text) {
        if (ch == 'x' || ch == 'X') return false;
        run = ch >= '0' && ch <= '9' ? run + 1 : 0;
        if (run > 9) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FixZoneAsStartUpDoes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.c_str();  // as far as a C string goes
    const CString counted(bytes.data(), static_cast<int>(size));

    SYSTEMTIME parsed{};
    FUZZ_CHECK(ParseTimeText(counted, &parsed) == 1);
    FUZZ_CHECK(parsed.wMonth <= 12 && parsed.wDayOfWeek == 0 && parsed.wMilliseconds == 0);
    const int month = MonthFromName(text.c_str());
    FUZZ_CHECK(month >= 0 && month <= 12 && (month == 0 || text.size() == 3));

    const long long seconds = TimeTextToSeconds(counted);
    FUZZ_CHECK(seconds == -1 || (seconds >= 0 && seconds <= 32535215999LL));

    const long long atoi = AtoiSaturating(bytes);
    FUZZ_CHECK(atoi > -10000000000LL && atoi < 10000000000LL);
    if (SscanfIsDefinedFor(text)) {
        FUZZ_CHECK(atoi == std::strtoll(text.c_str(), nullptr, 10));
        int ours[5] = {-1, -2, -3, -4, -5}, theirs[5] = {-1, -2, -3, -4, -5};
        const int read = ScanIntegers(text.c_str(), ",:,:", ours, 5);
        const int count = std::sscanf(text.c_str(), "%i,%i:%i,%i:%i", &theirs[0], &theirs[1],
                                      &theirs[2], &theirs[3], &theirs[4]);
        FUZZ_CHECK(read == (count < 0 ? 0 : count));
        FUZZ_CHECK(std::memcmp(ours, theirs, sizeof ours) == 0);
    }
    int many[4] = {0, 0, 0, 0};
    FUZZ_CHECK(ScanIntegers(counted, ",,,", many, 4) <= 4);

    // An instant's text reads back as that instant, the fields as the runtime's.
    std::uint64_t raw = 0;
    std::memcpy(&raw, bytes.data(), size < 8 ? size : 8);
    const long long instant =
        static_cast<long long>(raw % static_cast<std::uint64_t>(kLastLocalSecond + 1));
    const CString shown = FormatServerTime(instant);
    FUZZ_CHECK(shown.GetLength() == 24);
    FUZZ_CHECK(TimeTextToSeconds(shown) == instant);
    std::tm local{};
    FUZZ_CHECK(LocalTm(instant, &local));
    FUZZ_CHECK(ParseTimeText(shown, &parsed) == 1);
    FUZZ_CHECK(parsed.wYear == local.tm_year + 1900 && parsed.wMonth == local.tm_mon + 1 &&
               parsed.wDay == local.tm_mday && parsed.wHour == local.tm_hour &&
               parsed.wMinute == local.tm_min && parsed.wSecond == local.tm_sec);

    // Any 64-bit time, as a broken clock could give: converted or refused, never more.
    const long long any = static_cast<long long>(raw);
    std::tm utc{};
    if (!UtcTm(any, &utc)) FUZZ_CHECK(utc.tm_year == 0 && utc.tm_mday == 0);
    FormatServerTime(any);
    ClockDisplayText(any, static_cast<int>(raw >> 60) - 4);
    return 0;
}
