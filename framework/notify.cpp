#include "framework/notify.h"

#include <atomic>
#include <cstdio>

namespace {
void WriteToStderr(const CString& text) { std::fprintf(stderr, "%s\n", text.GetString()); }

std::atomic<MessageSink> boundSink{nullptr};
}  // namespace

void ShowMessage(const CString& text) {
    MessageSink sink = boundSink.load();
    (sink ? sink : WriteToStderr)(text);
}

MessageSink BindMessageSink(MessageSink sink) { return boundSink.exchange(sink); }
