// The natives of a player's checkpoint and race checkpoint, his map icons, one player's marker and
// name tag as another sees them, and the world-wide display settings. Checkpoints live in the
// player's record, where his position updates find him entering and leaving them; the display
// settings reach players in the game settings they get at join, so a change shows to those who
// join later (the stunt bonus alone is also sent at once).

#include "net/BitStream.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeIds.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// Icon slots a client keeps: the low byte of the argument names one of 0..99.
constexpr uint8_t kMapIconSlots = 100;

bool MapIconArg(cell value, uint8_t& icon) {
    icon = static_cast<uint8_t>(value & 0xFF);
    return icon < kMapIconSlots;
}

// ---- checkpoints ----------------------------------------------------------------------------

// SetPlayerCheckpoint(player, Float:x, Float:y, Float:z, Float:size)
cell n_SetPlayerCheckpoint(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 5);
    if (player == nullptr) return 0;
    player->SetCheckpoint(CellToFloat(params[2]), CellToFloat(params[3]), CellToFloat(params[4]),
                          CellToFloat(params[5]));
    return 1;
}

// DisablePlayerCheckpoint(player)
cell n_DisablePlayerCheckpoint(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    player->ToggleCheckpoint(false);
    return 1;
}

// IsPlayerInCheckpoint(player)
cell n_IsPlayerInCheckpoint(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr && player->IsInCheckpoint() ? 1 : 0;
}

// SetPlayerRaceCheckpoint(player, type, Float:x, Float:y, Float:z, Float:nextx, Float:nexty,
//                         Float:nextz, Float:size)
cell n_SetPlayerRaceCheckpoint(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 9);
    if (player == nullptr) return 0;
    player->SetRaceCheckpoint(static_cast<uint8_t>(params[2] & 0xFF), CellToFloat(params[3]),
                              CellToFloat(params[4]), CellToFloat(params[5]), CellToFloat(params[6]),
                              CellToFloat(params[7]), CellToFloat(params[8]), CellToFloat(params[9]));
    return 1;
}

// DisablePlayerRaceCheckpoint(player)
cell n_DisablePlayerRaceCheckpoint(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    player->ToggleRaceCheckpoint(false);
    return 1;
}

// IsPlayerInRaceCheckpoint(player)
cell n_IsPlayerInRaceCheckpoint(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr && player->IsInRaceCheckpoint() ? 1 : 0;
}

// ---- map icons, markers, name tags ------------------------------------------------------------

// SetPlayerMapIcon(player, icon, Float:x, Float:y, Float:z, type, colour, style): the client
// keeps the icon; the server does not.
cell n_SetPlayerMapIcon(VmInstance* vm, const cell* params) {
    uint8_t icon = 0;
    if (!HasNativeArgs(vm, params, 8) || !MapIconArg(params[2], icon) ||
        NativeConnectedPlayer(params[1]) == nullptr)
        return 0;
    BitStream bs;
    bs.Write(icon);
    for (int arg = 3; arg <= 5; ++arg) bs.Write(CellToFloat(params[arg]));
    bs.Write(static_cast<uint8_t>(params[6] & 0xFF));
    bs.Write(static_cast<uint32_t>(params[7]));
    bs.Write(static_cast<uint8_t>(params[8] & 0xFF));
    SendToPlayer(RPC_MapIconSet, bs, params[1]);
    return 1;
}

// RemovePlayerMapIcon(player, icon)
cell n_RemovePlayerMapIcon(VmInstance* vm, const cell* params) {
    uint8_t icon = 0;
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr ||
        !MapIconArg(params[2], icon))
        return 0;
    BitStream bs;
    bs.Write(icon);
    SendToPlayer(RPC_MapIconRemove, bs, params[1]);
    return 1;
}

// SetPlayerMarkerForPlayer(player, showplayer, colour): only how the one player sees the other;
// the other's own colour stays as it is.
cell n_SetPlayerMarkerForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr ||
        NativeConnectedPlayer(params[2]) == nullptr)
        return 0;
    BitStream bs;
    bs.Write(NativeId(params[2]));
    bs.Write(static_cast<uint32_t>(params[3]));
    SendToPlayer(RPC_PlayerColorSet, bs, params[1]);
    return 1;
}

// ShowPlayerNameTagForPlayer(player, showplayer, show)
cell n_ShowPlayerNameTagForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || NativeConnectedPlayer(params[1]) == nullptr ||
        NativeConnectedPlayer(params[2]) == nullptr)
        return 0;
    BitStream bs;
    bs.Write(NativeId(params[2]));
    bs.Write(static_cast<uint8_t>(params[3] & 0xFF));
    SendToPlayer(RPC_NameTagShow, bs, params[1]);
    return 1;
}

// ---- world display settings (sent to players at join) ---------------------------------------

// ShowPlayerMarkers(mode): any mode is stored; the clients decide what it means.
cell n_ShowPlayerMarkers(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.playerMarkerMode = static_cast<uint32_t>(params[1]);
    return 1;
}

// ShowNameTags(show)
cell n_ShowNameTags(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.showNameTags = params[1] != 0 ? 1 : 0;
    return 1;
}

// SetNameTagDrawDistance(Float:distance)
cell n_SetNameTagDrawDistance(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.nameTagDrawDistance = CellToFloat(params[1]);
    return 1;
}

// DisableNameTagLOS()
cell n_DisableNameTagLOS(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    TheGameServer->world.nameTagLineOfSight = 0;
    return 1;
}

// AllowInteriorWeapons(allow)
cell n_AllowInteriorWeapons(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.allowInteriorWeapons = params[1] != 0 ? 1 : 0;
    return 1;
}

// UsePlayerPedAnims()
cell n_UsePlayerPedAnims(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    TheGameServer->world.usePlayerPedAnims = 1;
    return 1;
}

// DisableInteriorEnterExits()
cell n_DisableInteriorEnterExits(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    TheGameServer->world.disableInteriorEnterExits = 1;
    return 1;
}

// Only exactly 1 switches the bonus on.
bool StuntBonusArg(cell value) { return value == 1; }

// EnableStuntBonusForAll(enable): stored for those who join later and told to everyone now.
cell n_EnableStuntBonusForAll(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const bool on = StuntBonusArg(params[1]);
    TheGameServer->world.stuntBonus = on ? 1 : 0;
    BitStream bs;
    bs.Write(on);
    TheGameServer->SendRpcToAll(RPC_StuntBonusEnable, &bs, kNoPlayer, RpcChannel::World);
    return 1;
}

// EnableStuntBonusForPlayer(player, enable): this player only, and nothing kept.
cell n_EnableStuntBonusForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    bs.Write(StuntBonusArg(params[2]));
    SendToPlayer(RPC_StuntBonusEnable, bs, params[1]);
    return 1;
}

// Teleporting on a map click is the scripts' own business now (OnPlayerClickMap); these only say
// so, on every call, to whoever still uses them.
cell n_AllowPlayerTeleport(VmInstance*, const cell*) {
    LogPrintf("AllowPlayerTeleport() : function is deprecated. Please see OnPlayerClickMap()");
    return 1;
}

cell n_AllowAdminTeleport(VmInstance*, const cell*) {
    LogPrintf("AllowAdminTeleport() : function is deprecated. Please see OnPlayerClickMap()");
    return 1;
}

}  // namespace

static const VmNativeEntry kCheckpointNatives[] = {
    {"SetPlayerCheckpoint", n_SetPlayerCheckpoint},
    {"DisablePlayerCheckpoint", n_DisablePlayerCheckpoint},
    {"IsPlayerInCheckpoint", n_IsPlayerInCheckpoint},
    {"SetPlayerRaceCheckpoint", n_SetPlayerRaceCheckpoint},
    {"DisablePlayerRaceCheckpoint", n_DisablePlayerRaceCheckpoint},
    {"IsPlayerInRaceCheckpoint", n_IsPlayerInRaceCheckpoint},
    {"SetPlayerMapIcon", n_SetPlayerMapIcon},
    {"RemovePlayerMapIcon", n_RemovePlayerMapIcon},
    {"SetPlayerMarkerForPlayer", n_SetPlayerMarkerForPlayer},
    {"ShowPlayerMarkers", n_ShowPlayerMarkers},
    {"ShowNameTags", n_ShowNameTags},
    {"ShowPlayerNameTagForPlayer", n_ShowPlayerNameTagForPlayer},
    {"SetNameTagDrawDistance", n_SetNameTagDrawDistance},
    {"DisableNameTagLOS", n_DisableNameTagLOS},
    {"AllowInteriorWeapons", n_AllowInteriorWeapons},
    {"UsePlayerPedAnims", n_UsePlayerPedAnims},
    {"DisableInteriorEnterExits", n_DisableInteriorEnterExits},
    {"EnableStuntBonusForAll", n_EnableStuntBonusForAll},
    {"EnableStuntBonusForPlayer", n_EnableStuntBonusForPlayer},
    {"AllowPlayerTeleport", n_AllowPlayerTeleport},
    {"AllowAdminTeleport", n_AllowAdminTeleport},
};

ScriptNativeRows CheckpointNatives() { return kCheckpointNatives; }

}  // namespace velt
