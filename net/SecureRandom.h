#pragma once
// Random bytes for secrets (keys, link keys, handshake randoms) from the kernel's generator. The
// transport's twister is seeded from the clock and its output can be reconstructed, so it never
// supplies anything an eavesdropper must not guess.

#include <cstddef>
#include <cstdint>

namespace velt {

// Fills out with length bytes; blocks only until the kernel's pool is first initialised.
void SecureRandomBytes(uint8_t* out, size_t length);

}  // namespace velt
