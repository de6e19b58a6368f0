#include "net/ConstantTime.h"

namespace velt {

bool ConstantTimeEquals(const void* attempt, size_t attemptLength, const void* secret, size_t secretLength) {
    const auto* a = static_cast<const volatile uint8_t*>(attempt);
    const auto* s = static_cast<const volatile uint8_t*>(secret);
    // Every byte of the attempt is compared with a byte of the secret (taken round again when
    // the attempt is longer): no branch on the content, nor on where the two part.
    uint32_t difference = attemptLength == secretLength ? 0u : 1u;
    if (secretLength == 0) return attemptLength == 0;
    for (size_t i = 0; i < attemptLength; ++i) difference |= uint32_t(a[i] ^ s[i % secretLength]);
    return difference == 0;
}

}  // namespace velt
