#include <sys/random.h>

#include <cerrno>

#include "framework/random.h"

bool FillRandom(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t filled = 0;
    // getrandom gives at most 32 MiB a call and may be interrupted; a few rounds do.
    for (int round = 0; round < 16 && filled < size; ++round) {
        const ssize_t got = getrandom(bytes + filled, size - filled, 0);
        if (got < 0 && errno != EINTR) return false;
        if (got > 0) filled += static_cast<std::size_t>(got);
    }
    return filled == size;
}
