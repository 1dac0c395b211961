// The three ways of asking a server for the time, and their names: the profile
// stores a protocol by its name, the history writes it, the editor lists it.
#pragma once

#include "framework/cstring.h"

// Of int, so that any number a caller casts is a value and can be refused.
enum Protocol : int { kProtocolSntp = 0, kProtocolTime = 1, kProtocolDaytime = 2 };

// The protocols in the order of their values.
constexpr Protocol kProtocols[] = {kProtocolSntp, kProtocolTime, kProtocolDaytime};

// "SNTP", "time" or "daytime"; an empty name for a value that is none of the three.
const char* ProtocolName(Protocol protocol);

// The protocol whose name is exactly name (letter case counts), or TIME for any
// other text.
Protocol ProtocolFromName(const CString& name);

// The protocol of a list position (0 to 2), or TIME for a position outside the list.
Protocol ProtocolAt(int index);
