// Random bytes from the system's generator, for values that a stranger must not guess.
#pragma once

#include <cstddef>

// Fills buffer with size random bytes; false when the system gave none, and the
// buffer is then left as it was.
bool FillRandom(void* buffer, std::size_t size);
