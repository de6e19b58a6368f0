#pragma once
// Comparing a secret with what a remote system sent, in a time that tells it nothing about how
// much of its guess was right.

#include <cstddef>
#include <cstdint>

namespace velt {

// True when the attempt equals the secret byte for byte and in length. The time taken follows
// the attempt's length alone (which its sender knows anyway), never the first differing byte or
// the secret's length.
bool ConstantTimeEquals(const void* attempt, size_t attemptLength, const void* secret, size_t secretLength);

}  // namespace velt
