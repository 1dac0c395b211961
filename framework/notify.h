// The notification seam: plain OK message boxes and beeps raised by the program go
// through here, so that tests can see them and the program can show them.
#pragma once

#include "framework/cstring.h"

using MessageSink = void (*)(const CString& text);
using BeepSink = void (*)(unsigned frequency, unsigned milliseconds);

// Shows text in a plain OK box (through the bound sink).
void ShowMessage(const CString& text);

// Binds the sink (nullptr restores the default) and returns the previous one.
// The default writes the text to the standard error stream; the program binds its
// real message box at start-up.
MessageSink BindMessageSink(MessageSink sink);

// Sounds a beep (through the bound sink).
void PlayBeep(unsigned frequency, unsigned milliseconds);

// Binds the beep sink (nullptr restores the default) and returns the previous one.
// The default is the platform's beep on Windows and silence elsewhere.
BeepSink BindBeepSink(BeepSink sink);
