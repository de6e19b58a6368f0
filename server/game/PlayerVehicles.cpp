// The vehicle step of a player's streaming pass, and streaming one vehicle in for him.

#include <algorithm>
#include <vector>

#include "server/console/ConsoleVariables.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/game/Streaming.h"

namespace velt {

void Player::StreamInVehicle(uint16_t vehicle, bool checkDistance) {
    if (retired_ || vehicle >= kMaxVehicles || streamedVehicles_[vehicle]) return;
    if (streamedVehicleCount_ > kMaxStreamedVehicles || downloading_) return;
    VehiclePool* vehicles = server_.GetVehiclePool();
    Vehicle* v = vehicles != nullptr ? vehicles->Get(vehicle) : nullptr;
    if (v == nullptr) return;
    if (checkDistance) {
        const float range = server_.Settings().streamDistance;
        const Vector3& at = v->GetPosition();
        if (!(SquaredDistance2D(position_.x, position_.y, at.x, at.y) <= range * range)) return;
    }
    v->SpawnForPlayer(id_);
    streamedVehicles_[vehicle] = true;
    NoteStreamedVehicle(vehicle, true);
    ++streamedVehicleCount_;
    RaiseCallback(
        server_, {}, [this] { return !retired_; },
        [&](auto& side) { return side.OnVehicleStreamIn(vehicle, id_); });
}

void Player::StreamVehicles() {
    const float range = server_.Settings().streamDistance;
    const float rangeSquared = range * range;
    // The vehicles near him and those he holds, in id order (see StreamPlayers).
    std::vector<uint16_t> ids(streamedVehicleList_);
    server_.VehicleGrid().Candidates(position_.x, position_.y, range, ids);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (const uint16_t id : ids) {
        if (id == 0) continue;
        // The stream callbacks run scripts, which may kick this player or delete vehicles.
        VehiclePool* vehicles = server_.GetVehiclePool();
        PlayerPool* pool = server_.GetPlayerPool();
        if (retired_ || vehicles == nullptr || pool == nullptr || id > vehicles->GetUpperIndex()) return;
        const Vehicle* v = vehicles->Get(id);
        const bool considered = v != nullptr && vehicles->GetVirtualWorld(id) == pool->GetVirtualWorld(id_) &&
                                !IsTrainCarriage(v->GetModel());
        if (considered) {
            const Vector3& at = v->GetPosition();
            if (SquaredDistance2D(position_.x, position_.y, at.x, at.y) <= rangeSquared) {
                if (!streamedVehicles_[id]) StreamInVehicle(id, false);
                continue;
            }
            // The vehicle he sits in stays, however far it went.
            if (id == vehicleId_) continue;
        }
        if (streamedVehicles_[id]) StreamOutVehicle(id);
    }
}

}  // namespace velt
