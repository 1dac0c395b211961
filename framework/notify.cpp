#include "framework/notify.h"

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include "framework/win_types.h"
#endif

namespace {
void WriteToStderr(const CString& text) { std::fprintf(stderr, "%s\n", text.GetString()); }

void PlatformBeep(unsigned frequency, unsigned milliseconds) {
#ifdef _WIN32
    ::Beep(frequency, milliseconds);
#else
    (void)frequency;
    (void)milliseconds;
#endif
}

std::atomic<MessageSink> boundSink{nullptr};
std::atomic<BeepSink> boundBeep{nullptr};
}  // namespace

void ShowMessage(const CString& text) {
    MessageSink sink = boundSink.load();
    (sink ? sink : WriteToStderr)(text);
}

MessageSink BindMessageSink(MessageSink sink) { return boundSink.exchange(sink); }

void PlayBeep(unsigned frequency, unsigned milliseconds) {
    BeepSink sink = boundBeep.load();
    (sink ? sink : PlatformBeep)(frequency, milliseconds);
}

BeepSink BindBeepSink(BeepSink sink) { return boundBeep.exchange(sink); }
