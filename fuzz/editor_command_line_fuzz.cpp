// The settings editor's command line: any wide text (UTF-16 units, as Windows hands it
// over) cut after the program's name and scanned for its switches; and the line the
// main window builds, which must give back the profile path and the window handle it
// was built from, whatever the path holds.
#include <string>

#include "editor/command_line.h"
#include "fuzz/fuzz_support.h"

namespace {

std::wstring Units(FuzzedDataProvider& input, std::size_t most) {
    std::wstring text;
    while (text.size() < most && input.remaining_bytes() >= 2) {
        text += static_cast<wchar_t>(input.ConsumeIntegral<std::uint16_t>());
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint64_t handle = input.ConsumeIntegral<std::uint64_t>();
    // A handle with its top bit set may come written as a negative number.
    const bool negative = input.ConsumeBool() && (handle >> 63) != 0;
    std::wstring path = Units(input, 300);
    const std::wstring line = Units(input, 4000);

    // Any line: the tail is what follows the name and its blanks; no switch keeps a quote.
    const std::wstring tail = CommandLineTail(line);
    FUZZ_CHECK(tail.size() <= line.size() &&
               line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
    FUZZ_CHECK(tail.empty() || (tail[0] != L' ' && tail[0] != L'\t'));
    const EditorCommandLine any = ParseEditorCommandLine(tail);
    FUZZ_CHECK(any.profile.find(L'"') == std::wstring::npos);

    // The main window's line: a path has no quote, so it quotes the whole of it.
    for (wchar_t& ch : path) ch = ch == L'"' ? L'_' : ch;
    const std::wstring number =
        negative ? L"-" + std::to_wstring(0 - handle) : std::to_wstring(handle);
    const std::wstring built = L"\"C:\\Program Files\\Tavrino\\Quillet.exe\" -profile=\"" + path +
                               L"\" -geohwnd=" + number + L" xyz";
    const EditorCommandLine parsed = ParseEditorCommandLine(CommandLineTail(built));
    FUZZ_CHECK(parsed.profile == path);
    FUZZ_CHECK(parsed.mainWindow == handle);

    // On 32-bit Windows a handle that fits keeps its low half; one that does not, none.
    const std::uint64_t narrow = HandleForPointerSize(handle, 4);
    FUZZ_CHECK(narrow <= 0xFFFFFFFFu && HandleForPointerSize(handle, 8) == handle);
    if (narrow != 0) {
        const std::uint64_t extended =
            (narrow & 0x80000000u) ? narrow | 0xFFFFFFFF00000000u : narrow;
        FUZZ_CHECK(handle == narrow || handle == extended);
    }
    return 0;
}
