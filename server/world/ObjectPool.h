#pragma once

// The objects of the world, ids 1 to 1999, and each player's own objects.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <cstdint>

namespace velt {

inline constexpr uint16_t kMaxObjects = 2000;  // ids 1..1999

class ObjectPool {
public:
    // Moving objects.
    void Process(float /*elapsedSeconds*/) {}
    bool Exists(uint16_t /*objectId*/) const { return false; }
    // Every global object to a player whose gamemode restarted.
    void SendAllToPlayer(uint16_t /*playerId*/) {}
    // A leaving player's own objects, ids 0..1999.
    void DestroyAllPlayerObjects(uint16_t /*playerId*/) {}
};

}  // namespace velt
