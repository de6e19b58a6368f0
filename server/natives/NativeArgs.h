#pragma once

// Arguments that natives of every family read the same way. An id is the low 16 bits of its cell,
// taken unsigned: id 65536 + n acts on n.

#include <cstdint>

#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/shared/VectorMath.h"
#include "server/vm/vm.h"

namespace velt {

inline uint16_t IdArg(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }

// The player of the id argument when connected, else null (also while there is no player pool).
inline Player* ConnectedPlayer(cell value) {
    PlayerPool* pool = TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr;
    const uint16_t id = IdArg(value);
    if (pool == nullptr || id >= kMaxPlayers || !pool->IsConnected(id)) return nullptr;
    return pool->GetAt(id);
}

// Three float arguments from params[first] on: a position, a rotation, an offset.
inline Vector3 VectorArg(const cell* params, int first) {
    return {CellToFloat(params[first]), CellToFloat(params[first + 1]), CellToFloat(params[first + 2])};
}

}  // namespace velt
