#pragma once

// Short reports and requests of a client about its own player: the score and ping table, the
// transport's totals for an in-game admin, its interior, cash, clicks on the map and on other
// players, a value it asks to be relayed to everyone, what its camera aims at, and damage it
// gave or took. Every field is read before anything is used; a short payload is dropped.

#include "net/NetworkTypes.h"

namespace velt {

// RPC ScoresPingsUpdate, empty: answered with the table of ids, scores and pings and the number
// of distinct addresses, at most once per 2000 ms per slot.
void RpcScoresPings(RpcCallParams* params);
// RPC NetStats, empty: the totals over all connections, to an in-game admin only.
void RpcNetStats(RpcCallParams* params);
// RPC InteriorChange: u8 interior.
void RpcInteriorChange(RpcCallParams* params);
// RPC ScriptCash: i32 amount, i32 source.
void RpcScriptCash(RpcCallParams* params);
// RPC MapClick: f32 x, y, z.
void RpcMapClick(RpcCallParams* params);
// RPC ValueRelayRequest: u16 value, sent back to every player.
void RpcValueRelay(RpcCallParams* params);
// RPC PlayerClick: u16 clicked player, u8 source.
void RpcPlayerClick(RpcCallParams* params);
// RPC CameraTargetUpdate: u16 object, vehicle, player, actor.
void RpcCameraTarget(RpcCallParams* params);
// RPC PlayerDamage: bit taken, u16 other player, f32 amount, i32 weapon, i32 body part.
void RpcPlayerDamage(RpcCallParams* params);

}  // namespace velt
