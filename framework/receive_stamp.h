// The arrival time of a datagram as the system stamped it when it came in, rather
// than the moment the program gets round to reading it: on an idle processor the
// wake-up after a wait lags the arrival by some microseconds, which an SNTP offset
// would otherwise carry as error. The stamp is handed over as an age, measured on the
// system's own clock, so that the caller can subtract it from whichever clock it reads
// (a test's fake one included) right after the receive.
#pragma once

#include "framework/net_compat.h"

// Asks the system to stamp each datagram that s receives from now on; call it before
// a datagram can arrive. false where the system cannot (Windows before build 20348,
// Wine): the receives then work as before, without an age.
bool RequestReceiveStamps(SOCKET s);

// net::RecvFrom (sender ignored), with the datagram's age: the microseconds from the
// system's stamp of its arrival to the moment this call returns, read from the clock
// that stamped it. *ageMicroseconds is -1 when there is no stamp, when the receive
// failed, and when the stamp makes no sense (in the future, or older than
// kMaxReceiveAgeMicroseconds). Same return and errors as net::RecvFrom: the length,
// or SOCKET_ERROR with net::LastError set (WSAEMSGSIZE for a datagram longer than length).
int RecvFromStamped(SOCKET s, void* buffer, int length, long long* ageMicroseconds);

// No reply waits this long in the queue of a query that is still listening: an older
// stamp is a clock that stepped, not a datagram's age.
constexpr long long kMaxReceiveAgeMicroseconds = 10LL * 1000 * 1000;
