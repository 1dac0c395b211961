// Plain OK message boxes and beeps raised by the program go through the context's
// sinks (framework/context.h), so that tests can see them and the program can show
// them. A message box is shown only on the user-interface thread.
#pragma once

#include "framework/context.h"
#include "framework/cstring.h"

// Shows text in a plain OK box; without a bound sink, writes it to standard error.
void ShowMessage(const CString& text);

// Sounds a beep; without a bound sink, the platform's beep (none natively).
void PlayBeep(unsigned frequency, unsigned milliseconds);
