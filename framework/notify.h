// The notification seam: plain OK message boxes raised by the portable core go
// through here, so that tests can see them and the program can show them.
#pragma once

#include "framework/cstring.h"

using MessageSink = void (*)(const CString& text);

// Shows text in a plain OK box (through the bound sink).
void ShowMessage(const CString& text);

// Binds the sink (nullptr restores the default) and returns the previous one.
// The default writes the text to the standard error stream; the program binds its
// real message box at start-up.
MessageSink BindMessageSink(MessageSink sink);
