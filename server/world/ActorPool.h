#pragma once

// The actors of the world, ids 0 to 999.
//
// Its entries and messages arrive with their own work; until then the pool keeps only the
// bookkeeping its callers already ask about and answers everything else the way an empty pool
// would, so every caller can already be written the way it will stay.

#include <array>
#include <cstdint>

#include "server/shared/VectorMath.h"

namespace velt {

inline constexpr uint16_t kMaxActors = 1000;

class ActorPool {
public:
    // Takes the lowest free id of 0..999; 0xFFFF when every id is taken. Only the pool's own
    // bookkeeping (use, highest id) is kept so far.
    uint16_t Create(int32_t /*skin*/, const Vector3& /*position*/, float /*facingAngle*/) {
        for (uint16_t id = 0; id < kMaxActors; ++id) {
            if (used_[id]) continue;
            used_[id] = true;
            if (id > highestId_) highestId_ = id;
            return id;
        }
        return 0xFFFF;
    }
    bool Exists(uint16_t actorId) const { return actorId < kMaxActors && used_[actorId]; }
    // Highest used id, 0 when none is used.
    uint16_t GetUpperIndex() const { return highestId_; }
    // The stream-in and stream-out messages of one actor to one player.
    void ShowForPlayer(uint16_t /*actorId*/, uint16_t /*playerId*/) {}
    void HideForPlayer(uint16_t /*actorId*/, uint16_t /*playerId*/) {}

private:
    std::array<bool, kMaxActors> used_{};
    uint16_t highestId_ = 0;
};

}  // namespace velt
