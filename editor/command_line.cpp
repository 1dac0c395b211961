#include "editor/command_line.h"

#include <vector>

namespace {

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

std::vector<std::wstring> Words(const std::wstring& text) {
    std::vector<std::wstring> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsBlank(text[at])) ++at;
        if (at == text.size()) break;
        std::wstring word;
        bool quoted = false;
        for (; at < text.size() && (quoted || !IsBlank(text[at])); ++at) {
            if (text[at] == L'"') {
                quoted = !quoted;
            } else {
                word += text[at];
            }
        }
        words.push_back(word);
    }
    return words;
}

// The rest of the word after "-name=" (any letter case), or false.
bool SwitchValue(const std::wstring& word, const wchar_t* name, std::wstring* value) {
    if (word.empty() || word[0] != L'-') return false;
    size_t at = 1;
    for (; *name; ++name, ++at) {
        if (at >= word.size()) return false;
        wchar_t ch = word[at];
        if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
        if (ch != *name) return false;
    }
    if (at >= word.size() || word[at] != L'=') return false;
    *value = word.substr(at + 1);
    return true;
}

// A decimal number of 64 bits, signed or not; 0 for anything else.
std::uint64_t HandleNumber(const std::wstring& text) {
    const bool negative = !text.empty() && text[0] == L'-';
    const size_t first = negative ? 1 : 0;
    if (text.size() == first) return 0;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : UINT64_MAX;
    std::uint64_t value = 0;
    for (size_t at = first; at < text.size(); ++at) {
        const wchar_t ch = text[at];
        if (ch < L'0' || ch > L'9') return 0;
        const std::uint64_t digit = static_cast<std::uint64_t>(ch - L'0');
        if (value > (limit - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return negative ? ~value + 1 : value;
}

}  // namespace

std::wstring CommandLineTail(const std::wstring& line) {
    size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        at = line.find(L'"', 1);
        at = at == std::wstring::npos ? line.size() : at + 1;
    } else {
        while (at < line.size() && !IsBlank(line[at])) ++at;
    }
    while (at < line.size() && IsBlank(line[at])) ++at;
    return line.substr(at);
}

EditorCommandLine ParseEditorCommandLine(const std::wstring& tail) {
    EditorCommandLine parsed;
    for (const std::wstring& word : Words(tail)) {
        std::wstring value;
        if (SwitchValue(word, L"profile", &value)) {
            parsed.profile = value;
        } else if (SwitchValue(word, L"geohwnd", &value)) {
            parsed.mainWindow = HandleNumber(value);
        }
    }
    return parsed;
}

std::uint64_t HandleForPointerSize(std::uint64_t handle, std::size_t pointerBytes) {
    if (pointerBytes >= 8) return handle;
    const std::uint64_t low = handle & 0xFFFFFFFFu;
    const std::uint64_t signExtended = (low & 0x80000000u) ? low | 0xFFFFFFFF00000000u : low;
    return handle == low || handle == signExtended ? low : 0;
}
