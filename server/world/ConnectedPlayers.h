#pragma once

// The walk over the players that the world pools make to reach the players who see one of their
// entities.

#include <cstdint>

#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"

namespace velt {

// Calls act(id, player) for every connected player with a record, ids 0 up to the player pool's
// highest. The pool is looked up again before each player: act may raise callbacks, and the
// scripts they run may let players go.
template <class Act>
void ForEachConnectedPlayer(GameServer& server, Act&& act) {
    for (int32_t i = 0; i < kMaxPlayers; ++i) {
        PlayerPool* pool = server.GetPlayerPool();
        if (pool == nullptr || i > pool->GetUpperIndex()) return;
        const uint16_t id = uint16_t(i);
        Player* player = pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
        if (player != nullptr) act(id, *player);
    }
}

}  // namespace velt
