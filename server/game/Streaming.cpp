#include "server/game/Streaming.h"

#include "server/console/ConsoleVariables.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"

namespace velt {

// The pass runs its steps in a fixed order: map markers, vehicles, players, global labels,
// pickups, actors. The label, pickup and actor steps come with their pools.
void Player::StreamingPass() {
    if (retired_) return;
    if (server_.GetVehiclePool() == nullptr || server_.GetPlayerPool() == nullptr ||
        server_.GetTextLabelPool() == nullptr || server_.GetPickupPool() == nullptr)
        return;
    SendMapMarkers();
    if (retired_) return;
    StreamVehicles();
    if (retired_) return;
    StreamPlayers();
}

void Player::StreamPlayers() {
    const float range = server_.Settings().streamDistance;
    const float rangeSquared = range * range;
    for (int32_t i = 0;; ++i) {
        // The stream callbacks run scripts, which may kick either player or end the pools' use.
        PlayerPool* pool = server_.GetPlayerPool();
        if (retired_ || pool == nullptr || i > pool->GetUpperIndex()) return;
        const uint16_t other = uint16_t(i);
        if (other == id_) continue;
        Player* target = pool->IsConnected(other) ? pool->GetAt(other) : nullptr;
        const uint8_t state = target != nullptr ? target->GetState() : uint8_t(PLAYER_STATE_NONE);
        if (state != PLAYER_STATE_NONE && state != PLAYER_STATE_SPECTATING &&
            pool->GetVirtualWorld(other) == pool->GetVirtualWorld(id_)) {
            Vector3 where = target->GetPosition();
            if (state == PLAYER_STATE_PASSENGER) {
                // A passenger is where his vehicle is; without it there is nothing to measure, and
                // what he is to this player stays as it was until he syncs again.
                VehiclePool* vehicles = server_.GetVehiclePool();
                if (vehicles == nullptr || !vehicles->GetPosition(target->GetVehicleId(), where)) continue;
            }
            if (SquaredDistance2D(position_.x, position_.y, where.x, where.y) <= rangeSquared) {
                if (!streamedPlayers_[other]) StreamInPlayer(other);
                continue;
            }
        }
        if (streamedPlayers_[other]) StreamOutPlayer(other);
    }
}

}  // namespace velt
