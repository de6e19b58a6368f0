#include "npc/net/netgame/NetGameRpc.h"

#include <cstring>

#include "common/LittleEndian.h"
#include "net/BitStream.h"
#include "net/NetClientInterface.h"
#include "npc/net/netgame/NetGame.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

constexpr size_t kSpawnInfoBytes = 50;
constexpr size_t kSpawnInfoPositionOffset = 10;
constexpr size_t kSpawnInfoAngleOffset = 22;
constexpr size_t kVehicleBlockBytes = 40;
constexpr size_t kGameInitOpaqueBytes = 212;
constexpr size_t kMaxPlayerNameBytes = 24;

// The game the handlers act on; null once it has ended (nothing more is to be done then).
NetGame* Game() {
    NetGame* game = TheNetGame();
    return game != nullptr && !game->Ended() ? game : nullptr;
}

// A reader over exactly the call's bits, so a call cut short inside its last byte is refused
// instead of reading the padding.
class Payload {
public:
    explicit Payload(const RpcCallParams* params)
        : bs_(params != nullptr ? static_cast<const uint8_t*>(params->payload) : nullptr,
              params != nullptr && params->payload != nullptr ? (params->payloadBits + 7u) / 8u : 0u, false) {
        if (params != nullptr && params->payload != nullptr) bs_.SetWriteCursor(int32_t(params->payloadBits));
    }
    template <class T>
    bool Read(T& value) {
        return ok_ = ok_ && bs_.Read(value);
    }
    bool ReadBits(bool& bit) { return ok_ = ok_ && bs_.Read(bit); }
    bool ReadBytes(void* out, size_t count) {
        return ok_ = ok_ && bs_.ReadBytes(static_cast<uint8_t*>(out), int32_t(count));
    }
    bool Ok() const { return ok_; }

private:
    BitStream bs_;
    bool ok_ = true;
};

void RpcIgnore(RpcCallParams*) {}

// ---- core set ---------------------------------------------------------------------------------

void RpcPlayerJoined(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    uint32_t unused = 0;
    uint8_t isNpc = 0, length = 0;
    if (!in.Read(id) || !in.Read(unused) || !in.Read(isNpc) || !in.Read(length)) return;
    if (length > kMaxPlayerNameBytes) return;
    char name[kMaxPlayerNameBytes + 1] = {};
    if (!in.ReadBytes(name, length)) return;
    game->Players().Add(id, name);
}

void RpcPlayerLeft(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    uint8_t reason = 0;
    if (!in.Read(id) || !in.Read(reason)) return;
    game->Players().Remove(id);
}

void RpcGameInit(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    bool flag = false;
    uint32_t word = 0;
    uint16_t ownId = 0;
    uint8_t hour = 0, weather = 0, nameLength = 0;
    float gravity = 0.0f;
    char name[kNpcServerNameMax + 1] = {};
    uint8_t opaque[kGameInitOpaqueBytes];
    for (int i = 0; i < 4; ++i) in.ReadBits(flag);
    in.Read(word);
    in.ReadBits(flag);
    in.Read(word);
    for (int i = 0; i < 3; ++i) in.ReadBits(flag);
    in.Read(word);
    in.Read(ownId);
    in.ReadBits(flag);
    in.Read(word);
    in.Read(hour);
    in.Read(weather);
    in.Read(gravity);
    in.ReadBits(flag);
    in.Read(word);
    in.ReadBits(flag);
    for (int i = 0; i < 5; ++i) in.Read(word);
    in.Read(nameLength);
    in.ReadBytes(name, nameLength);
    in.ReadBytes(opaque, sizeof opaque);
    in.Read(word);
    // A GameInit cut short is dropped whole: nothing of it is applied.
    if (!in.Ok()) return;

    game->Players().SetOwnId(ownId);
    NpcGameSettings& settings = game->Settings();
    settings.worldHour = hour;
    settings.weather = weather;
    settings.gravity = gravity;
    if (nameLength != 0) std::memcpy(settings.serverName, name, sizeof settings.serverName);
    game->SetState(NpcConnectionState::InGame);
    game->Mode().OnNPCConnect(ownId);
    if (Game() == nullptr) return;
    BitStream request;
    request.Write(uint32_t(0));
    game->SendRpc(RPC_ClassRequest, request, RELIABILITY_RELIABLE);
}

void RpcChatText(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t player = 0;
    uint8_t length = 0;
    char text[256] = {};
    if (!in.Read(player) || !in.Read(length) || !in.ReadBytes(text, length)) return;
    game->Mode().OnPlayerText(player, text);
}

void RpcClassRequest(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint8_t allowed = 0;
    uint8_t spawn[kSpawnInfoBytes];
    if (!in.Read(allowed) || !in.ReadBytes(spawn, sizeof spawn)) return;
    NpcOwnState& self = game->Self();
    self.onFoot.health = 100;
    self.onFoot.armour = 100;
    self.onFoot.weaponId = 0;  // the weapon byte's two key bits stay
    self.onFoot.specialAction = 0;
    self.onFoot.position = {ReadF32(spawn + kSpawnInfoPositionOffset),
                            ReadF32(spawn + kSpawnInfoPositionOffset + 4),
                            ReadF32(spawn + kSpawnInfoPositionOffset + 8)};
    self.SetFacing(ReadF32(spawn + kSpawnInfoAngleOffset));
    if (allowed != 0) game->SendRpc(RPC_SpawnRequest, BitStream(), RELIABILITY_RELIABLE);
}

void RpcSpawnRequest(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint8_t allowed = 0;
    if (!in.Read(allowed) || allowed == 0) return;
    game->Mode().OnNPCSpawn();
    if (Game() == nullptr) return;
    game->SetSpawned();
    game->SendRpc(RPC_PlayerSpawned, BitStream(), RELIABILITY_RELIABLE_SEQUENCED);
}

void RpcPlayerStreamIn(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    if (!in.Read(id) || !game->Players().IsConnected(id)) return;
    game->Players().SetStreamedIn(id, true);
    game->Mode().OnPlayerStreamIn(id);
}

void RpcPlayerStreamOut(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    if (!in.Read(id) || !game->Players().IsConnected(id)) return;
    game->Players().SetStreamedIn(id, false);
    game->Mode().OnPlayerStreamOut(id);
}

void RpcPlayerDeath(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    if (!in.Read(id) || !game->Players().IsConnected(id)) return;
    game->Mode().OnPlayerDeath(id);
}

void RpcVehicleStreamIn(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint8_t block[kVehicleBlockBytes];
    if (!in.ReadBytes(block, sizeof block)) return;
    const uint16_t id = ReadU16(block);
    game->Vehicles().Add(id);
    game->Mode().OnVehicleStreamIn(id);
}

void RpcVehicleStreamOut(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t id = 0;
    if (!in.Read(id)) return;
    game->Vehicles().Remove(id);
    game->Mode().OnVehicleStreamOut(id);
}

void RpcClientMessage(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint32_t color = 0, length = 0;
    if (!in.Read(color) || !in.Read(length) || length > kNpcMaxClientMessage) return;
    char text[kNpcMaxClientMessage + 1];
    if (!in.ReadBytes(text, length)) return;
    text[length] = '\0';
    game->Mode().OnClientMessage(int32_t(color), text);
}

void RpcNetStats(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint8_t stats[kNpcNetStatsBytes];
    if (!in.ReadBytes(stats, sizeof stats)) return;
    std::memcpy(game->NetStats(), stats, sizeof stats);
}

void RpcGameModeRestart(RpcCallParams*) {
    if (NetGame* game = Game()) game->Reset();
}

void RpcConnectionRejected(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    // The reason is not needed: any refusal ends the bot, also one that arrives without it.
    Payload in(params);
    uint8_t reason = 0;
    (void)in.Read(reason);
    game->Client()->Disconnect(500, 0);
    game->Exit(1);
}

// ---- scripting set ----------------------------------------------------------------------------

void RpcPlayerPosSet(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    Vector3 p;
    if (!in.Read(p.x) || !in.Read(p.y) || !in.Read(p.z)) return;
    game->Self().onFoot.position = p;
}

void RpcPlayerFacingAngleSet(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    float angle = 0.0f;
    if (!in.Read(angle)) return;
    game->Self().SetFacing(angle);
}

void RpcPutInVehicle(RpcCallParams* params) {
    NetGame* game = Game();
    if (game == nullptr) return;
    Payload in(params);
    uint16_t vehicle = 0;
    uint8_t seat = 0;
    if (!in.Read(vehicle) || !in.Read(seat)) return;
    // A 16-bit field: 0xFFFF is "no vehicle".
    game->Self().vehicleId = int16_t(vehicle);
    game->Self().seat = seat;
    game->Mode().OnNPCEnterVehicle(vehicle, seat);
}

void RpcRemoveFromVehicle(RpcCallParams*) {
    NetGame* game = Game();
    if (game == nullptr) return;
    game->Self().vehicleId = kNpcNoVehicle;
    game->Self().seat = 0;
    game->Mode().OnNPCExitVehicle();
}

void RpcSpawnInfoSet(RpcCallParams* params) {
    Payload in(params);
    uint8_t spawn[kSpawnInfoBytes];
    (void)in.ReadBytes(spawn, sizeof spawn);
}

void RpcGameTextShow(RpcCallParams* params) {
    Payload in(params);
    int32_t style = 0, time = 0;
    uint32_t length = 0;
    if (!in.Read(style) || !in.Read(time) || !in.Read(length) || length > kNpcMaxGameText) return;
    char text[kNpcMaxGameText];
    (void)in.ReadBytes(text, length);
}

}  // namespace

const NpcRpcEntry kNpcCoreRpcs[] = {
    {RPC_VehicleEnter, RpcIgnore},
    {RPC_VehicleExit, RpcIgnore},
    {RPC_CheckpointSet, RpcIgnore},
    {RPC_CheckpointDisable, RpcIgnore},
    {RPC_RaceCheckpointSet, RpcIgnore},
    {RPC_RaceCheckpointDisable, RpcIgnore},
    {RPC_ScoresPingsUpdate, RpcIgnore},
    {RPC_NetStats, RpcNetStats},
    {RPC_GameModeRestart, RpcGameModeRestart},
    {RPC_ConnectionRejected, RpcConnectionRejected},
    {RPC_ClientMessage, RpcClientMessage},
    {RPC_WorldTimeSet, RpcIgnore},
    {RPC_PickupCreate, RpcIgnore},
    {RPC_PickupDestroy, RpcIgnore},
    {RPC_ValueRelayBroadcast, RpcIgnore},
    {RPC_VehicleModEvent, RpcIgnore},
    {RPC_WeatherSet, RpcIgnore},
    {RPC_PlayerTimeSet, RpcIgnore},
    {RPC_PlayerClockToggle, RpcIgnore},
    {RPC_PlayerJoined, RpcPlayerJoined},
    {RPC_PlayerLeft, RpcPlayerLeft},
    {RPC_GameInit, RpcGameInit},
    {RPC_ChatText, RpcChatText},
    {RPC_ClassRequest, RpcClassRequest},
    {RPC_SpawnRequest, RpcSpawnRequest},
    {RPC_PlayerStreamIn, RpcPlayerStreamIn},
    {RPC_PlayerDeath, RpcPlayerDeath},
    {RPC_PlayerStreamOut, RpcPlayerStreamOut},
    {RPC_VehicleStreamIn, RpcVehicleStreamIn},
    {RPC_VehicleStreamOut, RpcVehicleStreamOut},
};

const NpcRpcEntry kNpcScriptingRpcs[] = {
    {RPC_SpawnInfoSet, RpcSpawnInfoSet},
    {RPC_PlayerTeamSet, RpcIgnore},
    {RPC_PlayerSkinSet, RpcIgnore},
    {RPC_PlayerNameSet, RpcIgnore},
    {RPC_PlayerPosSet, RpcPlayerPosSet},
    {RPC_PlayerPosFindZ, RpcIgnore},
    {RPC_PlayerHealthSet, RpcIgnore},
    {RPC_PutInVehicle, RpcPutInVehicle},
    {RPC_RemoveFromVehicle, RpcRemoveFromVehicle},
    {RPC_PlayerColorSet, RpcIgnore},
    {RPC_GameTextShow, RpcGameTextShow},
    {RPC_PlayerInteriorSet, RpcIgnore},
    {RPC_CameraPosSet, RpcIgnore},
    {RPC_CameraLookAtSet, RpcIgnore},
    {RPC_VehiclePosSet, RpcIgnore},
    {RPC_VehicleZAngleSet, RpcIgnore},
    {RPC_VehicleParamsSet, RpcIgnore},
    {RPC_CameraBehindSet, RpcIgnore},
    {RPC_PlayerControllableToggle, RpcIgnore},
    {RPC_PlayerSoundPlay, RpcIgnore},
    {RPC_PlayerWorldBoundsSet, RpcIgnore},
    {RPC_PlayerMoneyGive, RpcIgnore},
    {RPC_PlayerFacingAngleSet, RpcPlayerFacingAngleSet},
    {RPC_PlayerMoneyReset, RpcIgnore},
    {RPC_PlayerWeaponsReset, RpcIgnore},
    {RPC_PlayerWeaponGive, RpcIgnore},
    {64, RpcIgnore},
    {RPC_VehicleInteriorLink, RpcIgnore},
    {RPC_PlayerArmourSet, RpcIgnore},
    {RPC_DeathMessage, RpcIgnore},
    {RPC_MapIconSet, RpcIgnore},
    {RPC_MapIconRemove, RpcIgnore},
    {RPC_PlayerAmmoSet, RpcIgnore},
    {RPC_GravitySet, RpcIgnore},
    {RPC_VehicleHealthSet, RpcIgnore},
    {RPC_TrailerAttach, RpcIgnore},
    {RPC_TrailerDetach, RpcIgnore},
    {RPC_ObjectCreate, RpcIgnore},
    {RPC_ObjectPosSet, RpcIgnore},
    {RPC_ObjectRotSet, RpcIgnore},
    {RPC_ObjectDestroy, RpcIgnore},
    {RPC_PlayerVirtualWorldSet, RpcIgnore},
    {49, RpcIgnore},
    {RPC_ExplosionCreate, RpcIgnore},
    {RPC_NameTagShow, RpcIgnore},
    {RPC_ObjectMove, RpcIgnore},
    {RPC_ObjectStop, RpcIgnore},
    {RPC_NumberPlateSet, RpcIgnore},
    {RPC_SpectatingToggle, RpcIgnore},
    {125, RpcIgnore},
    {RPC_SpectatePlayer, RpcIgnore},
    {RPC_SpectateVehicle, RpcIgnore},
    {RPC_VehicleComponentRemove, RpcIgnore},
    {RPC_ClassSelectionForce, RpcIgnore},
    {RPC_ObjectAttachToPlayer, RpcIgnore},
    {RPC_MenuInit, RpcIgnore},
    {RPC_MenuShow, RpcIgnore},
    {RPC_MenuHide, RpcIgnore},
    {RPC_WantedLevelSet, RpcIgnore},
    {RPC_TextDrawShow, RpcIgnore},
    {RPC_TextDrawHide, RpcIgnore},
    {RPC_GangZoneShow, RpcIgnore},
    {RPC_GangZoneHide, RpcIgnore},
    {RPC_GangZoneFlash, RpcIgnore},
    {RPC_GangZoneFlashStop, RpcIgnore},
    {RPC_AnimationApply, RpcIgnore},
    {RPC_AnimationClear, RpcIgnore},
    {RPC_SpecialActionSet, RpcIgnore},
};

void RegisterNpcCoreRpcs(NetClientInterface* client) {
    for (const NpcRpcEntry& e : kNpcCoreRpcs) client->RegisterRpc(&e.id, e.handler);
}

void RegisterNpcScriptingRpcs(NetClientInterface* client) {
    for (const NpcRpcEntry& e : kNpcScriptingRpcs) client->RegisterRpc(&e.id, e.handler);
}

void UnregisterNpcCoreRpcs(NetClientInterface* client) {
    for (const NpcRpcEntry& e : kNpcCoreRpcs) client->UnregisterRpc(&e.id);
}

void UnregisterNpcScriptingRpcs(NetClientInterface* client) {
    for (const NpcRpcEntry& e : kNpcScriptingRpcs) client->UnregisterRpc(&e.id);
}

}  // namespace velt
