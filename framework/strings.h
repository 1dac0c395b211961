// Texts of the string table, loaded by number.
#pragma once

#include "framework/cstring.h"

// String table entries that the program loads.
constexpr unsigned IDS_SOCKET_INIT_FAILED = 111;
constexpr unsigned IDS_HOST_NOT_FOUND = 112;
constexpr unsigned IDS_NO_SERVER_NAME = 114;
constexpr unsigned IDS_ALREADY_RUNNING = 115;
constexpr unsigned IDS_EDITOR_FILE = 121;
constexpr unsigned IDS_AUTO_EXIT = 125;
constexpr unsigned IDS_ESC_CANCELS = 126;
constexpr unsigned IDS_TITLE = 132;
constexpr unsigned IDS_VERSION = 135;
constexpr unsigned IDS_CREDIT = 136;
constexpr unsigned IDS_FOOTER = 138;
constexpr unsigned IDS_EDITOR_LINE_TOO_LONG = 140;
constexpr unsigned IDS_EDITOR_NOT_STARTED = 141;
constexpr unsigned IDS_ABOUTBOX = 511;

// The text of the entry (code page 932), or an empty text when there is none. On
// Windows it comes from the program's resources; the native build knows only the
// entries its portable code uses.
CString LoadAppString(unsigned id);
