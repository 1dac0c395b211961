// The settings editor's command line. The main window starts the editor as
//
//     "<folder>\Quillet.exe" -profile="<profile path>" -geohwnd=<decimal handle> xyz
//
// The text stays wide from GetCommandLineW on, so that the path keeps every character
// of its folders whatever the system's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct EditorCommandLine {
    std::wstring profile;          // -profile=; empty when not given
    std::uint64_t mainWindow = 0;  // -geohwnd= as 64 bits (a negative one in two's
                                   // complement); 0 when missing or not a number
};

// The command line after the program's name.
std::wstring CommandLineTail(const std::wstring& line);

// The switches among the words of the tail. A word runs to the next blank outside
// double quotes, which it loses; a value may thus be quoted whole or in part.
// Switch names match in any letter case; unknown words are ignored, and of a switch
// given twice the last counts.
EditorCommandLine ParseEditorCommandLine(const std::wstring& tail);

// The handle as a window handle of pointerBytes bytes takes it: 32-bit Windows keeps
// the low half of a number that fits it (a negative one sign-extended); 0 when it
// does not fit.
std::uint64_t HandleForPointerSize(std::uint64_t handle, std::size_t pointerBytes);
