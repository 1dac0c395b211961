// The dial-up check on Windows: the automatic-dialling settings from the registry and
// the active dial-up (RAS) connections. It only reads; it never dials, hangs up or
// changes a setting.
#pragma once

#include "framework/context.h"
#include "framework/win_types.h"

#include <ras.h>

// 1 when a user-started query may start now; 0 when it may not, after the message box
// "ﾀﾞｲｱﾙｱｯﾌﾟに接続されていません。" (not connected to dial-up).
int CheckDialupConnection();

// The current user's automatic-dialling settings for Internet access, classified:
// kAutodialNever, kAutodialAlways or kAutodialNotTrusted (logging/dialup.h).
int ReadAutodialSetting();

// The handle of an active dial-up connection, or 0 when there is none or the
// connections cannot be listed.
HRASCONN FindDialupConnection();

// FindDialupConnection asks the context's enumeration (framework/context.h),
// RasEnumConnectionsA by default: dial-up connections cannot be made where the tests
// run, so tests bind their own.
