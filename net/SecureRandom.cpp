#include "net/SecureRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace velt {

void SecureRandomBytes(uint8_t* out, size_t length) {
    while (length != 0) {
        const ssize_t got = getrandom(out, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // Without the kernel's generator there is nothing safe to make secrets from.
            std::abort();
        }
        out += got;
        length -= size_t(got);
    }
}

}  // namespace velt
