// What ends the program when an exception escapes everything: abort, as the C++ runtime's
// own handler does after printing the exception's type. A program without a console
// has nowhere to print, and the runtime's handler would bring in its name demangler
// (some 37 KB of the executable) for that print alone. Linked into each executable
// directly, so that it is found before the runtime's own.
#include <cstdlib>

namespace __gnu_cxx {

// NOLINTBEGIN(bugprone-reserved-identifier): the runtime's own name, which this replaces
void __verbose_terminate_handler();

void __verbose_terminate_handler() { std::abort(); }
// NOLINTEND(bugprone-reserved-identifier)

}  // namespace __gnu_cxx
