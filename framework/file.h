// Files by their full path. Paths are wide (UTF-16 on Windows) from the module's
// own name to every file the program opens, so that any folder name works whatever
// the system's code page; the texts inside the files are the program's own bytes.
#pragma once

#include <string>

#include "framework/owner.h"

// Opens the file for appending in binary mode, creating it when missing; an invalid
// owner when it cannot be opened.
ScopedFile OpenForAppend(const std::wstring& path);

// The path up to and including its last dot, then tail; tail alone when the path has
// no dot (the file then lands in the working directory).
std::wstring ReplaceAfterLastDot(const std::wstring& path, const wchar_t* tail);
