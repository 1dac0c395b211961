// Texts of the program's string table, loaded by number. The numbers are the
// program's own (res/string_ids.h).
#pragma once

#include "framework/cstring.h"

// The text of the entry (code page 932), or an empty text when there is none. On
// Windows it comes from the program's resources; the native build knows only the
// entries its portable code uses.
CString LoadAppString(unsigned id);
