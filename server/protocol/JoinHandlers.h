#pragma once

// Joining: a connection that finished the transport's handshake becomes a player only through one
// of these join calls. Each checks the protocol version, the answer to the server's challenge, the
// check byte and the requested name, and either refuses with one reason byte and a kick or admits
// the connection into the player pool and hands it the world.

#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

class GameServer;

inline constexpr uint32_t kProtocolVersion = 4061;

// Reasons a join is refused (the one byte of ConnectionRejected).
enum JoinRejectReason : uint8_t {
    JOIN_REJECT_VERSION = 1,  // wrong version or challenge answer
    JOIN_REJECT_NAME = 2,     // bad or taken name
    JOIN_REJECT_CHECK = 3,    // wrong check byte
    JOIN_REJECT_NO_SLOT = 4,  // no valid connection, slot out of range, or no room for bots
};

inline constexpr size_t kMinNameLength = 3;
inline constexpr size_t kMaxClientNameLength = 20;
inline constexpr size_t kMaxBotNameLength = 24;
inline constexpr size_t kMaxClientVersionLength = 24;

// Game clients (RPC PlayerJoin).
void RpcPlayerJoin(RpcCallParams* params);
// The bot program (RPC NpcJoin).
void RpcNpcJoin(RpcCallParams* params);

// What a newly admitted player is sent: the objects, GameInit and the players already there; a
// player who joins during the intermission is also told the gamemode restarts.
void InitPlayerWorld(GameServer& server, uint16_t player);

}  // namespace velt
