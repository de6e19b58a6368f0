#include "server/natives/PlayerSpawnNatives.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// The spawn request's value that makes a client spawn at once.
constexpr uint32_t kSpawnNow = 2;

uint16_t IdArg(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }

PlayerPool* Pool() { return TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr; }

VehiclePool* Vehicles() { return TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr; }
ActorPool* Actors() { return TheGameServer != nullptr ? TheGameServer->GetActorPool() : nullptr; }

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
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 11)) return 0;
    return static_cast<cell>(TheGameServer->AddPlayerClass(SpawnFromArgs(params, 2, 255, params[1])));
}

// AddPlayerClassEx(team, skin, Float:x, ...): the same with a team (its low byte).
cell n_AddPlayerClassEx(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 12)) return 0;
    const uint8_t team = static_cast<uint8_t>(params[1] & 0xFF);
    return static_cast<cell>(TheGameServer->AddPlayerClass(SpawnFromArgs(params, 3, team, params[2])));
}

// SetSpawnInfo(player, team, skin, Float:x, Float:y, Float:z, Float:angle, weapon1, ammo1,
//              weapon2, ammo2, weapon3, ammo3): where and as what the player spawns next, and
// leave to spawn. Skins above 20000 would name custom models, which this server does not load
// yet: the skin is kept as given.
cell n_SetSpawnInfo(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 13) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const SpawnInfo info = SpawnFromArgs(params, 4, static_cast<uint8_t>(params[2] & 0xFF), params[3]);
    player->SetSpawnInfo(info);
    player->SetSpawnAllowed(true);
    BitStream bs;
    WriteSpawnInfo(bs, info);
    TheGameServer->SendRpcToPlayer(RPC_SpawnInfoSet, &bs, IdArg(params[1]), RpcChannel::World);
    return 1;
}

// SpawnPlayer(player): gives the player leave to spawn and tells its client to spawn now.
cell n_SpawnPlayer(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetSpawnAllowed(true);
    BitStream bs;
    bs.Write(static_cast<uint32_t>(kSpawnNow));
    TheGameServer->SendRpcToPlayer(RPC_SpawnRequest, &bs, IdArg(params[1]), RpcChannel::World);
    return 1;
}

cell n_ForceClassSelection(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || ConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    TheGameServer->SendRpcToPlayer(RPC_ClassSelectionForce, &bs, IdArg(params[1]), RpcChannel::World);
    return 1;
}

// ---- team, skin, colour, world ----------------------------------------------------------------

cell n_GetPlayerTeam(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? static_cast<cell>(player->GetSpawnInfo().team) : -1;
}

cell n_GetPlayerSkin(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? player->GetSpawnInfo().skin : 0;
}

// GetPlayerCustomSkin(player): the custom model he wears, 0 for none.
cell n_GetPlayerCustomSkin(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? player->GetSpawnInfo().customSkin : 0;
}

// SetPlayerTeam(player, team): the low byte of the team, told to everybody.
cell n_SetPlayerTeam(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const uint8_t team = static_cast<uint8_t>(params[2] & 0xFF);
    player->SetTeam(team);
    BitStream bs;
    bs.Write(IdArg(params[1]));
    bs.Write(team);
    TheGameServer->SendRpcToAll(RPC_PlayerTeamSet, &bs, kNoPlayer, RpcChannel::World);
    return 1;
}

// SetPlayerSkin(player, skin): stored at once; the clients only hear of it once the player has
// spawn information, since a skin before that is only what his first spawn will use. Skins above
// 20000 stay as given, as with SetSpawnInfo.
cell n_SetPlayerSkin(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const uint16_t id = IdArg(params[1]);
    player->SetSkin(params[2], 0);
    if (!player->HasSpawnInfo()) return 1;
    BitStream skin;
    skin.Write(id);
    skin.Write(player->GetSpawnInfo().skin);
    skin.Write(player->GetSpawnInfo().customSkin);
    TheGameServer->SendRpcToPlayersStreamingPlayer(RPC_PlayerSkinSet, &skin, id, RpcChannel::World);
    TheGameServer->SendRpcToPlayer(RPC_PlayerSkinSet, &skin, id, RpcChannel::World);
    BitStream record;
    WriteSpawnInfo(record, player->GetSpawnInfo());
    TheGameServer->SendRpcToPlayer(RPC_SpawnInfoSet, &record, id, RpcChannel::World);
    return 1;
}

cell n_GetPlayerColor(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? static_cast<cell>(player->GetColor()) : 0;
}

cell n_SetPlayerColor(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetColor(static_cast<uint32_t>(params[2]));
    return 1;
}

cell n_SetPlayerVirtualWorld(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    Pool()->SetVirtualWorld(IdArg(params[1]), params[2]);
    return 1;
}

cell n_GetPlayerVirtualWorld(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || ConnectedPlayer(params[1]) == nullptr) return 0;
    return Pool()->GetVirtualWorld(IdArg(params[1]));
}

// SetVehicleVirtualWorld(vehicle, world)
cell n_SetVehicleVirtualWorld(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || !HasNativeArgs(vm, params, 2) || !vehicles->Exists(IdArg(params[1]))) return 0;
    vehicles->SetVirtualWorld(IdArg(params[1]), params[2]);
    return 1;
}

cell n_GetVehicleVirtualWorld(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || !HasNativeArgs(vm, params, 1) || !vehicles->Exists(IdArg(params[1]))) return 0;
    return vehicles->GetVirtualWorld(IdArg(params[1]));
}

// ---- spectating -------------------------------------------------------------------------------

// TogglePlayerSpectating(player, toggle): the client switches; the server forgets what the player
// watched either way.
cell n_TogglePlayerSpectating(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? ConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->SetSpectating(SPECTATE_MODE_NONE, -1);
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    TheGameServer->SendRpcToPlayer(RPC_SpectatingToggle, &bs, IdArg(params[1]), RpcChannel::World);
    return 1;
}

// The spectator moves to what he watches, at once for streaming and as a position the server set,
// so that his own next records cannot drag him away before his client has followed. Streaming and
// the state change run scripts, which may kick him: false when he is gone.
bool MoveSpectator(uint16_t id, Player* player, const Vector3& where) {
    player->UpdatePosition(where.x, where.y, where.z, true);
    if (ConnectedPlayer(id) != player) return false;
    player->SetServerPosition(where.x, where.y, where.z);
    player->SetState(PLAYER_STATE_SPECTATING);
    return ConnectedPlayer(id) == player;
}

// PlayerSpectateVehicle(player, vehicle, mode)
cell n_PlayerSpectateVehicle(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    Player* player = ConnectedPlayer(params[1]);
    VehiclePool* vehicles = Vehicles();
    const uint16_t vehicle = IdArg(params[2]);
    Vector3 where;
    if (player == nullptr || vehicles == nullptr || !vehicles->GetPosition(vehicle, where)) return 0;
    const uint16_t id = IdArg(params[1]);
    player->SetSpectating(SPECTATE_MODE_VEHICLE, vehicle);
    if (!MoveSpectator(id, player, where)) return 1;
    BitStream bs;
    bs.Write(vehicle);
    bs.Write(static_cast<uint8_t>(params[3] & 0xFF));
    TheGameServer->SendRpcToPlayer(RPC_SpectateVehicle, &bs, id, RpcChannel::World);
    return 1;
}

// PlayerSpectatePlayer(player, target, mode)
cell n_PlayerSpectatePlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    Player* player = ConnectedPlayer(params[1]);
    Player* target = ConnectedPlayer(params[2]);
    if (player == nullptr || target == nullptr) return 0;
    const uint16_t id = IdArg(params[1]);
    const uint16_t targetId = IdArg(params[2]);
    player->SetSpectating(SPECTATE_MODE_PLAYER, targetId);
    if (!MoveSpectator(id, player, target->GetPosition())) return 1;
    BitStream bs;
    bs.Write(targetId);
    bs.Write(static_cast<uint8_t>(params[3] & 0xFF));
    TheGameServer->SendRpcToPlayer(RPC_SpectatePlayer, &bs, id, RpcChannel::World);
    return 1;
}

// ---- identity texts and state -----------------------------------------------------------------

// SetPlayerName(player, const name[]): 1 renamed; 0 not connected, empty or taken; -1 a name no
// join would accept for its characters or length.
cell n_SetPlayerName(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    const int32_t length = ScriptStringLength(vm, params[2]);
    if (length < 1) return 0;
    // Anything longer than a name is refused unread.
    if (static_cast<size_t>(length) > kMaxPlayerName) return -1;
    char name[kMaxPlayerName + 1];
    ReadScriptString(vm, params[2], name, sizeof name);
    return Pool()->SetName(IdArg(params[1]), name);
}

// name(player, out[], size): the text into the script's array, cut to its size.
template <const char* (PlayerPool::*Text)(uint16_t) const>
cell n_PlayerText(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || ConnectedPlayer(params[1]) == nullptr) return 0;
    return SetScriptString(vm, params[2], (Pool()->*Text)(IdArg(params[1])), params[3]);
}

cell n_IsPlayerConnected(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 1) && ConnectedPlayer(params[1]) != nullptr ? 1 : 0;
}

cell n_GetPlayerState(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? ConnectedPlayer(params[1]) : nullptr;
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
    if (!HasNativeArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    Player* viewer = ConnectedPlayer(params[2]);
    return viewer != nullptr && viewer->IsPlayerStreamedIn(IdArg(params[1])) ? 1 : 0;
}

// IsVehicleStreamedIn(vehicle, forplayer)
cell n_IsVehicleStreamedIn(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr;
    if (vehicles == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    const uint16_t vehicle = IdArg(params[1]);
    if (vehicle >= kMaxVehicles || !vehicles->Exists(vehicle)) return 0;
    Player* viewer = ConnectedPlayer(params[2]);
    return viewer != nullptr && viewer->IsVehicleStreamedIn(vehicle) ? 1 : 0;
}

cell n_GetActorPoolSize(VmInstance*, const cell*) {
    ActorPool* actors = Actors();
    return actors != nullptr ? actors->GetUpperIndex() : -1;
}

// IsActorStreamedIn(actor, forplayer)
cell n_IsActorStreamedIn(VmInstance* vm, const cell* params) {
    ActorPool* actors = Actors();
    if (actors == nullptr || !HasNativeArgs(vm, params, 2) || !actors->Exists(IdArg(params[1]))) return 0;
    Player* viewer = ConnectedPlayer(params[2]);
    return viewer != nullptr && viewer->IsActorStreamedIn(IdArg(params[1])) ? 1 : 0;
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
    {"GetPlayerCustomSkin", n_GetPlayerCustomSkin},
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
    {"GetActorPoolSize", n_GetActorPoolSize},
    {"SetPlayerTeam", n_SetPlayerTeam},
    {"SetPlayerName", n_SetPlayerName},
    {"SetPlayerSkin", n_SetPlayerSkin},
    {"IsActorStreamedIn", n_IsActorStreamedIn},
    {"TogglePlayerSpectating", n_TogglePlayerSpectating},
    {"PlayerSpectateVehicle", n_PlayerSpectateVehicle},
    {"PlayerSpectatePlayer", n_PlayerSpectatePlayer},
    {"SetVehicleVirtualWorld", n_SetVehicleVirtualWorld},
    {"GetVehicleVirtualWorld", n_GetVehicleVirtualWorld},
};

}  // namespace

ScriptNativeRows PlayerSpawnNatives() { return kPlayerSpawnNatives; }

}  // namespace velt
