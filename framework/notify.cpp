#include "framework/notify.h"

#include <cstdio>

#ifdef _WIN32
#include "framework/win_types.h"
#endif

namespace {
// A message that standard error does not take has nowhere else to go.
void WriteToStderr(const CString& text) {
    static_cast<void>(std::fprintf(stderr, "%s\n", text.GetString()));
}

void PlatformBeep(unsigned frequency, unsigned milliseconds) {
#ifdef _WIN32
    ::Beep(frequency, milliseconds);
#else
    (void)frequency;
    (void)milliseconds;
#endif
}
}  // namespace

void ShowMessage(const CString& text) {
    MessageSink sink = CurrentContext().showMessage;
    (sink ? sink : WriteToStderr)(text);
}

void PlayBeep(unsigned frequency, unsigned milliseconds) {
    BeepSink sink = CurrentContext().beep;
    (sink ? sink : PlatformBeep)(frequency, milliseconds);
}
