// What the streaming passes and the vehicle audiences read instead of walking every id: the
// player's place in the grid and the lists of what he has streamed in.

#include <algorithm>

#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"

namespace velt {

namespace {

void NoteInSortedList(std::vector<uint16_t>& list, uint16_t id, bool present) {
    auto at = std::lower_bound(list.begin(), list.end(), id);
    const bool listed = at != list.end() && *at == id;
    if (present && !listed)
        list.insert(at, id);
    else if (!present && listed)
        list.erase(at);
}

}  // namespace

void Player::UpdateGridEntry() {
    if (retired_ || id_ >= kMaxPlayers) return;
    if (state_ == PLAYER_STATE_PASSENGER)
        server_.PlayerGrid().PlaceEverywhere(id_);
    else
        server_.PlayerGrid().Place(id_, position_.x, position_.y);
}

void Player::NoteStreamedPlayer(uint16_t other, bool streamed) {
    NoteInSortedList(streamedPlayerList_, other, streamed);
}

void Player::NoteStreamedVehicle(uint16_t vehicle, bool streamed) {
    NoteInSortedList(streamedVehicleList_, vehicle, streamed);
    // A record that left was taken out of the audiences already; its id may be a newcomer's.
    if (retired_ || id_ >= kMaxPlayers) return;
    if (streamed)
        server_.VehicleStreamers().Add(vehicle, id_);
    else
        server_.VehicleStreamers().Remove(vehicle, id_);
}

void Player::ForgetStreamedPlayers() {
    PlayerPool* pool = server_.GetPlayerPool();
    for (uint16_t other : streamedPlayerList_) {
        Player* target = pool != nullptr ? pool->GetAt(other) : nullptr;
        if (target != nullptr && target != this) target->NoteStreamer(id_, false);
    }
    streamedPlayerList_.clear();
}

void Player::ForgetStreamedVehicles() {
    if (!retired_ && id_ < kMaxPlayers) {
        for (uint16_t vehicle : streamedVehicleList_) server_.VehicleStreamers().Remove(vehicle, id_);
    }
    streamedVehicleList_.clear();
}

void Player::LeaveStreamingIndexes() {
    if (id_ >= kMaxPlayers) return;
    server_.PlayerGrid().Remove(id_);
    if (PlayerPool* pool = server_.GetPlayerPool()) {
        for (uint16_t other : streamedPlayerList_) {
            if (Player* target = pool->GetAt(other); target != nullptr && target != this)
                target->NoteStreamer(id_, false);
        }
    }
    // The marks stay readable on the record; only the audiences forget him.
    for (uint16_t vehicle : streamedVehicleList_) server_.VehicleStreamers().Remove(vehicle, id_);
}

}  // namespace velt
