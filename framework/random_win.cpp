#include <windows.h>

#include <bcrypt.h>

#include "framework/random.h"

bool FillRandom(void* buffer, std::size_t size) {
    if (size > 0xFFFFFFFFu) return false;
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
