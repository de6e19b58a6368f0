#include "server/NativesPlayerSpawn.h"

#include "net/BitStream.h"
#include "server/GameServer.h"
#include "server/GameServerRpc.h"
#include "server/Player.h"
#include "server/PlayerPool.h"
#include "server/WorldPools.h"
#include "server/vm/vmlib_common.h"

namespace velt {

namespace {

// Natives send on the world and game-state channel.
constexpr uint8_t kNativeChannel = 2;
// The spawn request's value that makes a client spawn at once.
constexpr uint32_t kSpawnNow = 2;

bool HasArgs(VmInstance* vm, const cell* params, int32_t count) {
    return vmlib::argCount(vm, params) >= count;
}

uint16_t IdArg(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }

PlayerPool* Pool() { return TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr; }

// The player of the id argument when connected, else null.
Player* ConnectedPlayer(cell value) {
    PlayerPool* pool = Pool();
    const uint16_t id = IdArg(value);
    if (pool == nullptr || id >= kMaxPlayers || !pool->IsConnected(id)) return nullptr;
    return pool->GetAt(id);
}

// The spawn record the class and spawn-info natives build from their arguments x, y, z, angle,
// weapon1, ammo1, weapon2, ammo2, weapon3, ammo3, starting at params[first].
SpawnInfo SpawnFromArgs(const cell* params, int first, uint8_t team, int32_t skin) {
    SpawnInfo info;
    info.team = team;
    info.skin = skin;
    info.customSkin = 0;
    info.position = {CellToFloat(params[first]), CellToFloat(params[first + 1]),
                     CellToFloat(params[first + 2])};
    info.facingAngle = CellToFloat(params[first + 3]);
    for (int i = 0; i < 3; ++i) {
        info.weapons[i] = params[first + 4 + 2 * i];
        info.ammo[i] = params[first + 5 + 2 * i];
    }
    return info;
}

// ---- classes ----------------------------------------------------------------------------------

// AddPlayerClass(skin, Float:x, Float:y, Float:z, Float:angle, weapon1, ammo1, weapon2, ammo2,
//                weapon3, ammo3)
cell n_AddPlayerClass(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasArgs(vm, params, 11)) return 0;
    return static_cast<cell>(TheGameServer->AddPlayerClass(SpawnFromArgs(params, 2, 255, params[1])));
}

// AddPlayerClassEx(team, skin, Float:x, ...): the same with a team (its low byte).
cell n_AddPlayerClassEx(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasArgs(vm, params, 12)) return 0;
    const uint8_t team = static_cast<uint8_t>(params[1] & 0xFF);
    return static_cast<cell>(TheGameServer->AddPlayerClass(SpawnFromArgs(params, 3, team, params[2])));
}

// SetSpawnInfo(player, team, skin, Float:x, Float:y, Float:z, Float:angle, weapon1, ammo1,
//              weapon2, ammo2, weapon3, ammo3): where and as what the player spawns next, and
// leave to spawn. Skins above 20000 would name custom models, which this server does not load
// yet: the skin is kept as given.
cell n_SetSpawnInfo(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 13) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const SpawnInfo info = SpawnFromArgs(params, 4, static_cast<uint8_t>(params[2] & 0xFF), params[3]);
    player->SetSpawnInfo(info);
    player->SetSpawnAllowed(true);
    BitStream bs;
    WriteSpawnInfo(bs, info);
    TheGameServer->SendRpcToPlayer(RPC_SpawnInfoSet, &bs, IdArg(params[1]), kNativeChannel);
    return 1;
}

// SpawnPlayer(player): gives the player leave to spawn and tells its client to spawn now.
cell n_SpawnPlayer(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetSpawnAllowed(true);
    BitStream bs;
    bs.Write(static_cast<uint32_t>(kSpawnNow));
    TheGameServer->SendRpcToPlayer(RPC_SpawnRequest, &bs, IdArg(params[1]), kNativeChannel);
    return 1;
}

cell n_ForceClassSelection(VmInstance* vm, const cell* params) {
    if (!HasArgs(vm, params, 1) || ConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    TheGameServer->SendRpcToPlayer(RPC_ClassSelectionForce, &bs, IdArg(params[1]), kNativeChannel);
    return 1;
}

// ---- team, skin, colour, world ----------------------------------------------------------------

cell n_GetPlayerTeam(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? static_cast<cell>(player->GetSpawnInfo().team) : -1;
}

cell n_GetPlayerSkin(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? player->GetSpawnInfo().skin : 0;
}

cell n_GetPlayerColor(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? static_cast<cell>(player->GetColor()) : 0;
}

cell n_SetPlayerColor(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 2) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetColor(static_cast<uint32_t>(params[2]));
    return 1;
}

cell n_SetPlayerVirtualWorld(VmInstance* vm, const cell* params) {
    if (!HasArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    Pool()->SetVirtualWorld(IdArg(params[1]), params[2]);
    return 1;
}

cell n_GetPlayerVirtualWorld(VmInstance* vm, const cell* params) {
    if (!HasArgs(vm, params, 1) || ConnectedPlayer(params[1]) == nullptr) return 0;
    return Pool()->GetVirtualWorld(IdArg(params[1]));
}

// ---- identity texts and state -----------------------------------------------------------------

// name(player, out[], size): the text into the script's array, cut to its size.
template <const char* (PlayerPool::*Text)(uint16_t) const>
cell n_PlayerText(VmInstance* vm, const cell* params) {
    if (!HasArgs(vm, params, 3) || ConnectedPlayer(params[1]) == nullptr) return 0;
    return SetScriptString(vm, params[2], (Pool()->*Text)(IdArg(params[1])), params[3]);
}

cell n_IsPlayerConnected(VmInstance* vm, const cell* params) {
    return HasArgs(vm, params, 1) && ConnectedPlayer(params[1]) != nullptr ? 1 : 0;
}

cell n_GetPlayerState(VmInstance* vm, const cell* params) {
    Player* player = HasArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? player->GetState() : 0;
}

// ---- pools and streaming ----------------------------------------------------------------------

cell n_GetPlayerPoolSize(VmInstance*, const cell*) {
    PlayerPool* pool = Pool();
    return pool != nullptr ? pool->GetUpperIndex() : -1;
}

cell n_GetVehiclePoolSize(VmInstance*, const cell*) {
    VehiclePool* vehicles = TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr;
    return vehicles != nullptr ? vehicles->GetUpperIndex() : -1;
}

// IsPlayerStreamedIn(player, forplayer)
cell n_IsPlayerStreamedIn(VmInstance* vm, const cell* params) {
    if (!HasArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    Player* viewer = ConnectedPlayer(params[2]);
    return viewer != nullptr && viewer->IsPlayerStreamedIn(IdArg(params[1])) ? 1 : 0;
}

// IsVehicleStreamedIn(vehicle, forplayer)
cell n_IsVehicleStreamedIn(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr;
    if (vehicles == nullptr || !HasArgs(vm, params, 2)) return 0;
    const uint16_t vehicle = IdArg(params[1]);
    if (vehicle >= kMaxVehicles || !vehicles->Exists(vehicle)) return 0;
    Player* viewer = ConnectedPlayer(params[2]);
    return viewer != nullptr && viewer->IsVehicleStreamedIn(vehicle) ? 1 : 0;
}

const VmNativeEntry kPlayerSpawnNatives[] = {
    {"gpci", n_PlayerText<&PlayerPool::GetSerial>},
    {"GetPlayerPoolSize", n_GetPlayerPoolSize},
    {"GetVehiclePoolSize", n_GetVehiclePoolSize},
    {"AddPlayerClass", n_AddPlayerClass},
    {"AddPlayerClassEx", n_AddPlayerClassEx},
    {"GetPlayerVersion", n_PlayerText<&PlayerPool::GetVersion>},
    {"GetPlayerTeam", n_GetPlayerTeam},
    {"GetPlayerSkin", n_GetPlayerSkin},
    {"SetPlayerColor", n_SetPlayerColor},
    {"GetPlayerColor", n_GetPlayerColor},
    {"GetPlayerName", n_PlayerText<&PlayerPool::GetName>},
    {"IsPlayerConnected", n_IsPlayerConnected},
    {"GetPlayerState", n_GetPlayerState},
    {"ForceClassSelection", n_ForceClassSelection},
    {"SetSpawnInfo", n_SetSpawnInfo},
    {"SpawnPlayer", n_SpawnPlayer},
    {"IsPlayerStreamedIn", n_IsPlayerStreamedIn},
    {"IsVehicleStreamedIn", n_IsVehicleStreamedIn},
    {"SetPlayerVirtualWorld", n_SetPlayerVirtualWorld},
    {"GetPlayerVirtualWorld", n_GetPlayerVirtualWorld},
};

}  // namespace

ScriptNativeRows PlayerSpawnNatives() { return kPlayerSpawnNatives; }

}  // namespace velt
