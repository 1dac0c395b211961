// The C runtime's atoi reading of a text, without its undefined overflow.
#pragma once

#include <string>

// Leading white space, an optional sign, then the digits up to the first other
// character; 0 when there are none. The magnitude stops growing at 10^9, far beyond
// any field the program reads and far below overflow.
long long AtoiSaturating(const std::string& text);
