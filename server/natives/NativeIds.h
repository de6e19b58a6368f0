#pragma once

// How the natives of the world's entities read the ids among their arguments: an id is the low 16
// bits of its cell, taken unsigned, so id 65536 + n acts on n.

#include <cstdint>

#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/vm/vm.h"

namespace velt {

inline uint16_t NativeId(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }

// The player an id argument names when he is connected and has a record, else null.
inline Player* NativeConnectedPlayer(cell value) {
    PlayerPool* pool = TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr;
    const uint16_t id = NativeId(value);
    return pool != nullptr && pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
}

// One of the own pools (Player::GetLabelPool, GetTextDrawPool) of the player an id argument names
// when he is connected, else null.
template <class Pool>
Pool* NativePlayerPool(cell player, Pool* (Player::*pool)()) {
    Player* owner = NativeConnectedPlayer(player);
    return owner != nullptr ? (owner->*pool)() : nullptr;
}

// The same when the entry argument also names an entry of it in use.
template <class Pool>
Pool* NativePlayerPoolWith(cell player, Pool* (Player::*pool)(), cell entry) {
    Pool* own = NativePlayerPool(player, pool);
    return own != nullptr && own->Exists(NativeId(entry)) ? own : nullptr;
}

}  // namespace velt
