#pragma once

// The pickups of the world.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <cstdint>

namespace velt {

inline constexpr uint16_t kMaxPickups = 4096;

class PickupPool {
public:
    void HideForPlayer(uint16_t /*pickupId*/, uint16_t /*playerId*/) {}
};

}  // namespace velt
