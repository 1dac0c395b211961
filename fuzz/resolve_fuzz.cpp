// The addresses a name resolves to, through the exchange: lists of one to eight IPv4
// and IPv6 addresses in any mix, or a resolver's failure, for each protocol, with each
// attempt's outcome from the input. The addresses are tried in the resolver's order,
// several at a time, each on a socket of its family, none left while the time-out
// lasts; the buffer takes no byte beyond the receive length.
#include <algorithm>
#include <cstring>

#include "engine/exchange.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FakeClock clock;
    clock.SetUtc(input.ConsumeIntegral<std::uint32_t>(), 0);
    static const int kTimeouts[] = {3, 0, 1, 60, -1};
    const int timeout = kTimeouts[input.ConsumeIntegralInRange(0, 4)];
    const auto protocol = static_cast<Protocol>(input.ConsumeIntegralInRange(0, 2));
    constexpr unsigned char kUntouched = 0xA5;
    unsigned char buffer[kDaytimeReplySize + 16];
    std::memset(buffer, kUntouched, sizeof buffer);
    TimeStamp arrival{1, 2};
    CString status = "unset";
    int code = -7;

    QueryRequest request;
    request.protocol = protocol;
    request.server = "time.example";
    request.timeout = timeout;
    request.buffer = buffer;
    request.bufferSize = protocol == kProtocolSntp   ? kSntpPacketSize
                         : protocol == kProtocolTime ? kTimeReplySize
                                                     : kDaytimeReplySize;
    request.receiveTime = protocol == kProtocolSntp ? &arrival : nullptr;
    request.statusText = &status;
    request.errorCode = &code;
    fakenet::Begin(&input);
    fakenet::WatchAbandon(&request.abandoned);
    const int result = ExchangeWithServer(&request);
    fakenet::End();
    const fakenet::Record& record = fakenet::Current();

    FUZZ_CHECK(request.socket == 0);
    FUZZ_CHECK(IsKnownStatus("ERROR (" + status + ")") || status == "OK");
    FUZZ_CHECK((result == 1) == (status == "OK"));
    if (result == 1) FUZZ_CHECK(code == -7);  // a success reports no error
    // No byte beyond the receive length; for DAYTIME none beyond what arrived; a TIME
    // value that came whole, or zeros.
    const std::string& got = record.received;
    const std::size_t mine = protocol == kProtocolDaytime && result == 1
                                 ? got.size()
                                 : static_cast<std::size_t>(request.bufferSize);
    for (std::size_t at = mine; at < sizeof buffer; ++at) FUZZ_CHECK(buffer[at] == kUntouched);
    if (protocol == kProtocolTime && result == 1) {
        const bool whole = got.size() == 4;
        for (int at = 0; at < 4; ++at) {
            FUZZ_CHECK(buffer[at] == (whole ? static_cast<unsigned char>(got[at]) : 0));
        }
    }
    // Each socket was for the next address of the list, in the resolver's order, and
    // each address reached was the one its socket was for.
    FUZZ_CHECK(record.families.size() <= record.listed.size());
    for (std::size_t i = 0; i < record.families.size(); ++i) {
        FUZZ_CHECK(record.families[i] == record.listedFamilies[i]);
    }
    std::size_t next = 0;
    for (const sockaddr* address : record.reached) {
        while (next < record.listed.size() && record.listed[next] != address) ++next;
        FUZZ_CHECK(next < record.families.size());
        ++next;
    }
    if (status == "HostNotFound") FUZZ_CHECK(record.families.empty() && code >= 10000);
    // No address is left untried while the time-out lasts, and a failure of every
    // address is the last one's. The first SNTP request leaves whatever the time-out;
    // a connect does not start once it has passed.
    const bool attempts =
        status == "Socket" || status == "Connect" || status == "Send" || status == "SendPacket";
    if (attempts && !request.abandoned) {
        FUZZ_CHECK(record.families.size() == record.listed.size() ||
                   record.elapsedMs >= timeout * 1000LL);
        if (protocol == kProtocolSntp) FUZZ_CHECK(!record.families.empty());
    }
    // The exchange ends within its time-out, the last wait's slice at most beyond it.
    FUZZ_CHECK(record.elapsedMs <= std::max(timeout, 0) * 1000LL + 200);
    // A reply is taken only when it answers the request of its own socket.
    if (protocol == kProtocolSntp && result == 1) {
        FUZZ_CHECK(std::any_of(
            record.replies.begin(), record.replies.end(),
            [&record](const fakenet::Datagram& reply) { return fakenet::EchoesOwnRequest(record, reply); }));
    }
    return 0;
}
