#pragma once

#include <cstdint>

namespace velt {

// The process-wide Mersenne Twister (MT19937) of the transport. Its values need to be
// unpredictable, not reproducible across threads; both the main thread and the network thread
// draw from it, so every call is serialised by a lock inside.
//
// Seeding differs from the reference generator: the seed is made odd, state[0] = seed | 1 and each
// following word is the previous one times 69069 (mod 2^32). A generator that was never seeded
// seeds itself with 4357 on its first draw.
void TwisterSeed(uint32_t seed);
uint32_t TwisterNext();
// The next draw times 2^-32, rounded to single precision: 0 to 1, both ends included (the
// largest draws round up to 1.0f).
float TwisterUniform();

}  // namespace velt
