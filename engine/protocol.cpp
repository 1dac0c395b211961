#include "engine/protocol.h"

namespace {

const char* const kNames[] = {"SNTP", "time", "daytime"};

}  // namespace

const char* ProtocolName(Protocol protocol) {
    const int index = static_cast<int>(protocol);
    return index >= 0 && index < 3 ? kNames[index] : "";
}

Protocol ProtocolFromName(const CString& name) {
    for (Protocol protocol : kProtocols) {
        if (name == ProtocolName(protocol)) return protocol;
    }
    return kProtocolTime;
}

Protocol ProtocolAt(int index) {
    return index >= 0 && index < 3 ? kProtocols[index] : kProtocolTime;
}
