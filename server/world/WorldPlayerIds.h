#pragma once

// The player ids (0..999) the world pools keep per-player state for. The pools sit below the
// player records in the build and cannot include them; the players' own limit is checked against
// this one where both are known.

#include <cstdint>

namespace velt {

inline constexpr uint16_t kWorldPlayerIds = 1000;

}  // namespace velt
