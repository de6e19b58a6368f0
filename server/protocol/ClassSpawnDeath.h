#pragma once

// A player's way from class selection to the world and out of it again: choosing a class, asking
// to spawn, spawning, and dying.

#include <cstdint>

#include "net/NetworkTypes.h"

namespace velt {

// Class indexes a client may ask for (the class table holds 319).
inline constexpr uint32_t kMaxRequestableClass = 318;
// A spawn nobody allowed is answered with a ban of this length, and a kick.
inline constexpr uint32_t kUnallowedSpawnBanMs = 600000;

// RPC ClassRequest: i32 class index; answered with u8 result and the 50-byte spawn record.
void RpcClassRequest(RpcCallParams* params);
// RPC SpawnRequest: empty; answered with u8 0 or 1.
void RpcSpawnRequest(RpcCallParams* params);
// RPC PlayerSpawned: empty.
void RpcPlayerSpawned(RpcCallParams* params);
// RPC DeathReport: u8 reason, u16 killer.
void RpcDeathReport(RpcCallParams* params);

}  // namespace velt
