#include "server/game/Streaming.h"

#include <algorithm>
#include <vector>

#include "server/console/ConsoleVariables.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"

namespace velt {

// The pass runs its steps in a fixed order: map markers, vehicles, players, global labels,
// pickups, actors.
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
    // Labels follow the players just streamed, so they come after them.
    StreamLabels();
    StreamPickups();
    StreamActors();
}

void Player::StreamPlayers() {
    const float range = server_.Settings().streamDistance;
    const float rangeSquared = range * range;
    // Only the players near him and those he holds can change: the rest stay out. They are taken
    // in id order, as a walk over every id would meet them, so the messages and callbacks come in
    // the same order.
    std::vector<uint16_t> ids(streamedPlayerList_);
    server_.PlayerGrid().Candidates(position_.x, position_.y, range, ids);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (const uint16_t other : ids) {
        // The stream callbacks run scripts, which may kick either player or end the pools' use.
        PlayerPool* pool = server_.GetPlayerPool();
        if (retired_ || pool == nullptr || other > pool->GetUpperIndex()) return;
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

void Player::StreamLabels() {
    for (uint16_t label = 0; label < kMaxLabels && !retired_; ++label) {
        // A label that does not exist and that he does not hold has nothing to change; most of
        // the ids are such, every pass of every player.
        const TextLabelPool* labels = server_.GetTextLabelPool();
        if (!streamedLabels_[label] && (labels == nullptr || !labels->IsUsed(label))) continue;
        UpdateLabelStreaming(label);
    }
}

void Player::UpdateLabelStreaming(uint16_t label) {
    TextLabelPool* labels = server_.GetTextLabelPool();
    PlayerPool* pool = server_.GetPlayerPool();
    const TextLabel* record = labels != nullptr ? labels->Get(label) : nullptr;
    bool shown = false;
    if (record != nullptr && pool != nullptr) {
        // An attached label's position is an offset: it goes where its player or vehicle goes.
        if (record->attachedPlayer != kLabelNotAttached) {
            shown = IsPlayerStreamedIn(record->attachedPlayer);
        } else if (record->attachedVehicle != kLabelNotAttached) {
            shown = IsVehicleStreamedIn(record->attachedVehicle);
        } else {
            const Vector3& at = record->position;
            shown =
                record->virtualWorld == pool->GetVirtualWorld(id_) &&
                GetSquaredDistanceFromPoint(at.x, at.y, at.z) <= record->drawDistance * record->drawDistance;
        }
    }
    if (shown)
        StreamInLabel(label);
    else
        StreamOutLabel(label);
}

void Player::StreamPickups() {
    for (int32_t i = 0; i < kMaxPickups && !retired_; ++i) {
        PickupPool* pickups = server_.GetPickupPool();
        if (pickups == nullptr || i > pickups->GetUpperIndex()) return;
        UpdatePickupStreaming(uint16_t(i));
    }
}

void Player::UpdatePickupStreaming(uint16_t pickup) {
    PickupPool* pickups = server_.GetPickupPool();
    PlayerPool* pool = server_.GetPlayerPool();
    bool near = false;
    if (pickups != nullptr && pool != nullptr && pickups->IsUsed(pickup)) {
        const int32_t world = pickups->GetVirtualWorld(pickup);
        const Vector3& at = pickups->GetRow(pickup).position;
        const float range = server_.Settings().streamDistance;
        near = (world == kEveryWorld || world == pool->GetVirtualWorld(id_)) &&
               GetSquaredDistance2DFromPoint(at.x, at.y) <= range * range;
    }
    if (near)
        StreamInPickup(pickup);
    else
        StreamOutPickup(pickup);
}

void Player::StreamActors() {
    for (int32_t i = 0; i < kMaxActors && !retired_; ++i) {
        // The stream callbacks run scripts, which may create and destroy actors.
        ActorPool* actors = server_.GetActorPool();
        if (actors == nullptr || i > actors->GetUpperIndex()) return;
        UpdateActorStreaming(uint16_t(i));
    }
}

void Player::UpdateActorStreaming(uint16_t actor) {
    ActorPool* actors = server_.GetActorPool();
    PlayerPool* pool = server_.GetPlayerPool();
    const Actor* record = actors != nullptr ? actors->GetAt(actor) : nullptr;
    bool near = false;
    if (record != nullptr && pool != nullptr) {
        const float range = server_.Settings().streamDistance;
        near = actors->GetVirtualWorld(actor) == pool->GetVirtualWorld(id_) &&
               record->GetSquaredDistance2DFromPoint(position_.x, position_.y) <= range * range;
    }
    if (near)
        StreamInActor(actor);
    else
        StreamOutActor(actor);
}

}  // namespace velt
