// The natives of a player's score, money and drunk level. The server keeps all three per slot:
// the score only scripts change (clients learn it from the score-and-ping answers), the money and
// the drunk level as the client's statistics report last gave them, the money also moved by the
// scripts between two reports.
//
// Player ids are the low 16 bits of their cell; a bad id or a player who is not connected gives
// 0 at once, without a log line.

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeIds.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// The pool when params[1] names a connected player and the call has `args` arguments, else null.
PlayerPool* PoolWith(VmInstance* vm, const cell* params, int32_t args) {
    if (!HasNativeArgs(vm, params, args) || NativeConnectedPlayer(params[1]) == nullptr) return nullptr;
    return TheGameServer->GetPlayerPool();
}

// SetPlayerScore(player, score): nothing is sent.
cell n_SetPlayerScore(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 2);
    if (pool == nullptr) return 0;
    pool->SetScore(NativeId(params[1]), params[2]);
    return 1;
}

cell n_GetPlayerScore(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 1);
    return pool != nullptr ? pool->GetScore(NativeId(params[1])) : 0;
}

// GivePlayerMoney(player, amount): a negative amount takes money away.
cell n_GivePlayerMoney(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 2);
    if (pool == nullptr) return 0;
    pool->GiveMoney(NativeId(params[1]), params[2]);
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    SendToPlayer(RPC_PlayerMoneyGive, bs, params[1]);
    return 1;
}

cell n_GetPlayerMoney(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 1);
    return pool != nullptr ? pool->GetMoney(NativeId(params[1])) : 0;
}

cell n_ResetPlayerMoney(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 1);
    if (pool == nullptr) return 0;
    pool->SetMoney(NativeId(params[1]), 0);
    SendToPlayer(RPC_PlayerMoneyReset, BitStream(), params[1]);
    return 1;
}

cell n_GetPlayerDrunkLevel(VmInstance* vm, const cell* params) {
    PlayerPool* pool = PoolWith(vm, params, 1);
    return pool != nullptr ? pool->GetDrunkLevel(NativeId(params[1])) : 0;
}

// SetPlayerDrunkLevel(player, level): only sent; the level reads back once the client reports it.
cell n_SetPlayerDrunkLevel(VmInstance* vm, const cell* params) {
    if (PoolWith(vm, params, 2) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    SendToPlayer(RPC_DrunkLevelSet, bs, params[1]);
    return 1;
}

const VmNativeEntry kPlayerScoreNatives[] = {
    {"SetPlayerScore", n_SetPlayerScore},           {"GetPlayerScore", n_GetPlayerScore},
    {"GivePlayerMoney", n_GivePlayerMoney},         {"GetPlayerMoney", n_GetPlayerMoney},
    {"ResetPlayerMoney", n_ResetPlayerMoney},       {"GetPlayerDrunkLevel", n_GetPlayerDrunkLevel},
    {"SetPlayerDrunkLevel", n_SetPlayerDrunkLevel},
};

}  // namespace

ScriptNativeRows PlayerScoreNatives() { return kPlayerScoreNatives; }

}  // namespace velt
