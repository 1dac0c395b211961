// Whether a user-started query may go out now. A query must not make Windows dial a
// modem connection by itself; the automatic-dialling settings for Internet access and
// the active dial-up connections decide.
#pragma once

#include "framework/win_types.h"

// One automatic-dialling value ("EnableAutodial" or "NoNetAutodial") as the registry
// gave it.
struct AutodialValue {
    enum State { kAbsent, kPresent, kUnreadable };
    State state = kAbsent;
    DWORD number = 0;  // meaningful when present

    static AutodialValue Absent() { return {kAbsent, 0}; }
    static AutodialValue Present(DWORD number) { return {kPresent, number}; }
    static AutodialValue Unreadable() { return {kUnreadable, 0}; }
};

// The classifications of the settings.
constexpr int kAutodialNotTrusted = -1;  // values we cannot read or do not know
constexpr int kAutodialNever = 0;        // Windows will not dial on its own for a query
constexpr int kAutodialAlways = 1;       // Windows dials whenever a program needs the network

// A value's data as it is read: up to 4 bytes as a little-endian number, shorter data
// zero-extended, whatever the registry type; longer data is unreadable.
AutodialValue AutodialValueFromData(const unsigned char* data, DWORD length);

// Classifies the pair. An absent value (or key, given as two absent values) counts as
// 0: Windows does not dial automatically then, and current systems usually have
// neither value. Otherwise 0/0 and 1/1 are kAutodialNever, 1/0 is kAutodialAlways, and
// everything else, unreadable values included, is kAutodialNotTrusted.
int ClassifyAutodial(AutodialValue enableAutodial, AutodialValue noNetAutodial);

// Whether a query may start: always when Windows will not dial, only with an active
// dial-up connection when it always dials, never when the settings are not trusted.
bool DialupAllowsQuery(int classification, bool connectionActive);
