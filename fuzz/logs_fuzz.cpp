// The history and the packet trace as they reach the disk: one history record with
// the texts a query leaves (time texts, a DAYTIME line, status and error texts, the
// profile's server name), and one trace record of a converted reply, each written to
// a fresh file in a temporary folder and read back.
#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/time_text.h"
#include "framework/crt_time.h"
#include "fuzz/fuzz_support.h"
#include "logging/event_log.h"
#include "logging/history_log.h"
#include "tests/support/temp_dir.h"

namespace {

// One folder for the whole run, removed when it ends.
TempDir& Folder() {
    static TempDir folder;
    return folder;
}

// A text as the program could hand it on: no line feed (a DAYTIME line ends before it,
// a profile value has none), though a carriage return may come; a NUL ends it.
CString OneLine(FuzzedDataProvider& input) {
    std::string text = input.ConsumeRandomLengthString(80);
    for (char& ch : text) ch = ch == '\n' ? ' ' : ch;
    return CString(text.c_str());
}

// An instant's text in the zone offset seconds east of UTC, as the PC shows its time.
CString TextInZone(long long seconds, int offset) {
    std::tm fields{};
    UtcTm(seconds + offset, &fields);
    return FormatTm("%a %b %d %H:%M:%S %Y", fields);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FixZoneAsStartUpDoes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ScopedContext seams(QuerySeams());
    const std::string history = Folder().File("Tavrino.log");
    const std::string trace = Folder().File("Tavrino.sntp.log");
    std::remove(history.c_str());
    std::remove(trace.c_str());

    // Either two instants of an SNTP or TIME record, the PC's in its own zone, or any texts.
    const bool instants = input.ConsumeBool();
    const long long pc = input.ConsumeIntegral<std::uint32_t>();
    const long long server = input.ConsumeIntegral<std::uint32_t>();
    const int zone = input.ConsumeIntegralInRange(-48, 56) * 900;
    const CString pcText = instants ? TextInZone(pc, zone) : OneLine(input);
    const CString serverText = instants ? FormatServerTime(server) : OneLine(input);
    const CString name = OneLine(input), detail = OneLine(input);
    const auto protocol = static_cast<Protocol>(input.ConsumeIntegralInRange(-1, 3));
    FUZZ_CHECK(WriteHistoryRecord(Wide(history), pcText, name, protocol,
                                  input.ConsumeIntegral<int>(), detail, serverText,
                                  instants ? &zone : nullptr) == 1);
    const std::string line = ReadFileBytes(history);
    // One record, one line, ending in exactly one CR LF.
    FUZZ_CHECK(line.size() >= 4 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    FUZZ_CHECK(line.find('\n') == line.size() - 1 && line.find('\r') == line.size() - 2);
    std::string pcWritten = pcText.GetString();  // a carriage return inside is a blank
    std::replace(pcWritten.begin(), pcWritten.end(), '\r', ' ');
    FUZZ_CHECK(line.compare(0, pcWritten.size(), pcWritten) == 0);
    const std::string difference =
        line.substr(line.rfind(", ") + 2, line.size() - line.rfind(", ") - 4);
    if (instants) {
        // Two instants compare whatever the PC's zone.
        FUZZ_CHECK(difference == (pc >= server ? "+" : "") + std::to_string(pc - server));
    } else {
        FUZZ_CHECK(difference == "x" ||
                   ((difference[0] == '+' || difference[0] == '-') &&
                    difference.find_first_not_of("0123456789", 1) == std::string::npos));
    }

    // The trace: the server's name, the four timestamps and the arrival, a line each.
    unsigned char reply[48];
    for (unsigned char& byte : reply) byte = input.ConsumeIntegral<unsigned char>();
    const TimeStamp arrival{input.ConsumeIntegral<std::uint32_t>(),
                            input.ConsumeIntegral<std::uint32_t>()};
    const CString host = OneLine(input);
    FUZZ_CHECK(WriteSntpLog(Wide(trace), host, reply, arrival) == 1);
    const std::string record = ReadFileBytes(trace);
    std::size_t at = 0;
    for (int lineNumber = 0; lineNumber < 6; ++lineNumber) {
        const std::size_t end = record.find("\r\n", at);
        FUZZ_CHECK(end != std::string::npos);
        // Www Mmm DD YYYY HH:MM:SS.uuuuuu, whatever the microseconds field held.
        if (lineNumber > 0) FUZZ_CHECK(end - at == 31 && record[at + 24] == '.');
        at = end + 2;
    }
    FUZZ_CHECK(at == record.size());
    return 0;
}
