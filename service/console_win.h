// The service's console commands write Japanese: through the console's own wide
// function when standard output is a console, so that it reads right whatever the
// console's code page; redirected to a file or a pipe, in the console's output code
// page (the OEM code page without a console), as the programs that read it expect.
#pragma once

#include <string>

void ConsoleLine(const std::wstring& text);
