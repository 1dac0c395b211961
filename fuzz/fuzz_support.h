// What the fuzz targets share: the process state start-up fixes, the query runner over
// the fake socket layer, the seams bound to quiet fakes, and the status texts a user
// may be shown.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "engine/query_runner.h"
#include "framework/context.h"
#include "fuzz/fake_net.h"

// The C runtime's zone at UTC+9, as the program's start-up fixes it.
inline void FixZoneAsStartUpDoes() {
    setenv("TZ", "JST-9", 1);
    tzset();
}

// The exchange on this thread over the fake layer, given up as the query dialog gives
// it up; the request shows no socket once it has ended.
inline void RunOverFakeNet(QueryRequest& request) {
    fakenet::WatchAbandon(&request.abandoned);
    RunExchangeSynchronously(request);
    fakenet::WatchAbandon(nullptr);
    FUZZ_CHECK(request.socket == 0);
    FUZZ_CHECK(request.result == 0 || request.result == 1);
}

inline void IgnoreMessage(const CString&) {}
inline void IgnoreBeep(unsigned, unsigned) {}

// The query seams of a target: the runner above, no boxes, no beeps.
inline Context QuerySeams() {
    return CurrentContext()
        .With(&RunOverFakeNet)
        .With(static_cast<MessageSink>(&IgnoreMessage))
        .With(static_cast<BeepSink>(&IgnoreBeep));
}

// "OK", or "ERROR (" and a word the guide explains, and ")".
inline bool IsKnownStatus(const CString& status) {
    static const char* const kWords[] = {"Socket",
                                         "Connect",
                                         "Send",
                                         "SendPacket",
                                         "Select",
                                         "TimeOut",
                                         "Recv",
                                         "RecvPacket",
                                         "SNTP:IncorrectPacket",
                                         "HostNotFound",
                                         "TIME:IncorrectPacket",
                                         "SNTP: Bad Response",
                                         "SNTP: Server Throughput",
                                         "SNTP: ReferenceTimestamp",
                                         "localtime-set"};
    const std::string text(status.GetString(), static_cast<std::size_t>(status.GetLength()));
    if (text == "OK") return true;
    for (const char* word : kWords) {
        if (text == std::string("ERROR (") + word + ")") return true;
    }
    // A kiss-o'-death shows up to four printable characters of its code.
    const std::string kiss = "ERROR (SNTP: Kiss-o'-Death ";
    if (text.compare(0, kiss.size(), kiss) != 0 || text.back() != ')') return false;
    const std::string code = text.substr(kiss.size(), text.size() - kiss.size() - 1);
    if (code.size() > 4) return false;
    for (char ch : code) {
        if (ch < 0x20 || ch > 0x7E) return false;
    }
    return true;
}
