#pragma once

// RPC ids of the game (one name per id, shared by everything that sends or handles them), the
// table of ids the server answers with their handlers, and the few helpers every handler uses to
// read its call safely.

#include <cstddef>
#include <cstdint>

#include "net/BitStream.h"
#include "net/NetworkTypes.h"

namespace velt {

class NetServerInterface;

enum RpcId : uint8_t {
    RPC_PlayerNameSet = 11,
    RPC_PlayerPosSet = 12,
    RPC_PlayerPosFindZ = 13,
    RPC_PlayerHealthSet = 14,
    RPC_PlayerControllableToggle = 15,
    RPC_PlayerSoundPlay = 16,
    RPC_PlayerWorldBoundsSet = 17,
    RPC_PlayerMoneyGive = 18,
    RPC_PlayerFacingAngleSet = 19,
    RPC_PlayerMoneyReset = 20,
    RPC_PlayerWeaponsReset = 21,
    RPC_PlayerWeaponGive = 22,
    RPC_PlayerClick = 23,
    RPC_VehicleParamsExSet = 24,
    RPC_PlayerJoin = 25,
    RPC_VehicleEnter = 26,
    RPC_ObjectSelect = 27,
    RPC_ObjectEditCancel = 28,
    RPC_PlayerTimeSet = 29,
    RPC_PlayerClockToggle = 30,
    RPC_ScriptCash = 31,
    RPC_PlayerStreamIn = 32,
    RPC_ShopNameSet = 33,
    RPC_SkillLevelSet = 34,
    RPC_DrunkLevelSet = 35,
    RPC_TextLabelCreate = 36,
    RPC_CheckpointDisable = 37,
    RPC_RaceCheckpointSet = 38,
    RPC_RaceCheckpointDisable = 39,
    RPC_GameModeRestart = 40,
    RPC_AudioStreamPlay = 41,
    RPC_AudioStreamStop = 42,
    RPC_BuildingRemove = 43,
    RPC_ObjectCreate = 44,
    RPC_ObjectPosSet = 45,
    RPC_ObjectRotSet = 46,
    RPC_ObjectDestroy = 47,
    RPC_PlayerVirtualWorldSet = 48,
    RPC_CommandText = 50,
    RPC_PlayerSpawned = 52,
    RPC_DeathReport = 53,
    RPC_NpcJoin = 54,
    RPC_DeathMessage = 55,
    RPC_MapIconSet = 56,
    RPC_VehicleComponentRemove = 57,
    RPC_TextLabelDelete = 58,
    RPC_ChatBubbleSet = 59,
    RPC_DialogShow = 61,
    RPC_DialogResponse = 62,
    RPC_PickupDestroy = 63,
    RPC_VehicleInteriorLink = 65,
    RPC_PlayerArmourSet = 66,
    RPC_ArmedWeaponSet = 67,
    RPC_SpawnInfoSet = 68,
    RPC_PlayerTeamSet = 69,
    RPC_PutInVehicle = 70,
    RPC_RemoveFromVehicle = 71,
    RPC_PlayerColorSet = 72,
    RPC_GameTextShow = 73,
    RPC_ClassSelectionForce = 74,
    RPC_ObjectAttachToPlayer = 75,
    RPC_MenuInit = 76,
    RPC_MenuShow = 77,
    RPC_MenuHide = 78,
    RPC_ExplosionCreate = 79,
    RPC_NameTagShow = 80,
    RPC_CameraAttachToObject = 81,
    RPC_CameraInterpolate = 82,
    RPC_TextDrawSelect = 83,
    RPC_ObjectMaterialSet = 84,
    RPC_GangZoneFlashStop = 85,
    RPC_AnimationApply = 86,
    RPC_AnimationClear = 87,
    RPC_SpecialActionSet = 88,
    RPC_FightingStyleSet = 89,
    RPC_PlayerVelocitySet = 90,
    RPC_VehicleVelocitySet = 91,
    RPC_ClientMessage = 93,
    RPC_WorldTimeSet = 94,
    RPC_PickupCreate = 95,
    RPC_VehicleModEvent = 96,
    RPC_ValueRelayRequest = 97,
    // No other message claims this id; the clients read it as the server's clock.
    RPC_ServerTick = 98,
    RPC_ObjectMove = 99,
    RPC_ChatText = 101,
    RPC_NetStats = 102,
    RPC_StuntBonusEnable = 104,
    RPC_TextDrawStringSet = 105,
    RPC_VehicleDamageStatus = 106,
    RPC_CheckpointSet = 107,
    RPC_GangZoneShow = 108,
    RPC_CrimeReportPlay = 112,
    RPC_AttachedObjectSet = 113,
    RPC_PlayerDamage = 115,
    RPC_AttachedObjectEdit = 116,
    RPC_ObjectEdit = 117,
    RPC_InteriorChange = 118,
    RPC_MapClick = 119,
    RPC_GangZoneHide = 120,
    RPC_GangZoneFlash = 121,
    RPC_ObjectStop = 122,
    RPC_NumberPlateSet = 123,
    RPC_SpectatingToggle = 124,
    RPC_SpectatePlayer = 126,
    RPC_SpectateVehicle = 127,
    RPC_ClassRequest = 128,
    RPC_SpawnRequest = 129,
    RPC_ConnectionRejected = 130,
    RPC_PickupPickedUp = 131,
    RPC_MenuRowSelect = 132,
    RPC_WantedLevelSet = 133,
    RPC_TextDrawShow = 134,
    RPC_TextDrawHide = 135,
    RPC_VehicleDestroyed = 136,
    RPC_PlayerJoined = 137,
    RPC_PlayerLeft = 138,
    RPC_GameInit = 139,
    RPC_MenuExit = 140,
    RPC_MapIconRemove = 144,
    RPC_PlayerAmmoSet = 145,
    RPC_GravitySet = 146,
    RPC_VehicleHealthSet = 147,
    RPC_TrailerAttach = 148,
    RPC_TrailerDetach = 149,
    RPC_ValueRelayBroadcast = 151,
    RPC_WeatherSet = 152,
    RPC_PlayerSkinSet = 153,
    RPC_VehicleExit = 154,
    RPC_ScoresPingsUpdate = 155,
    RPC_PlayerInteriorSet = 156,
    RPC_CameraPosSet = 157,
    RPC_CameraLookAtSet = 158,
    RPC_VehiclePosSet = 159,
    RPC_VehicleZAngleSet = 160,
    RPC_VehicleParamsSet = 161,
    RPC_CameraBehindSet = 162,
    RPC_PlayerStreamOut = 163,
    RPC_VehicleStreamIn = 164,
    RPC_VehicleStreamOut = 165,
    RPC_PlayerDeath = 166,
    RPC_RemoteVehicleCollisionsDisable = 167,
    RPC_CameraTargetUpdate = 168,
    RPC_ObjectNoCameraColSet = 169,
    RPC_CameraTargetEnable = 170,
    RPC_ActorAnimationApply = 173,
    RPC_ActorAnimationClear = 174,
    RPC_ActorFacingAngleSet = 175,
    RPC_ActorPosSet = 176,
    RPC_ActorDamage = 177,
    RPC_ActorHealthSet = 178,
    RPC_CustomModelAdd = 179,
    RPC_ModelFileRequest = 181,
    RPC_TextureFileRequest = 182,
    RPC_FileTransferMessage = 183,
    RPC_DownloadFinished = 184,
};

// One RPC the server answers. A handler whose work has not landed yet is null: its id is listed
// (so the order and the count stay fixed) but not registered, and such calls are dropped by the
// transport as calls to an unregistered id.
struct ServerRpcEntry {
    uint8_t id;
    RpcHandler handler;
};

inline constexpr size_t kServerRpcCount = 34;
// In registration order.
extern const ServerRpcEntry kServerRpcs[kServerRpcCount];

// Stores the transport in the handlers' global, then registers every entry with a handler.
void RegisterServerRpcs(NetServerInterface* server);
// Unregisters every id of the table, then clears the global.
void UnregisterServerRpcs(NetServerInterface* server);
// The transport the handlers answer through; null outside the game server's lifetime.
NetServerInterface* RpcServer();

// A handler's view of its call: a stream over the payload that reads in place and holds exactly
// the payload's bits, so a read past the arguments fails instead of reading the padding of the
// last byte. False (stream untouched) when the call carries no payload.
[[nodiscard]] bool OpenRpcPayload(const RpcCallParams* params, BitStream& out);

// The sender's player id (its connection slot), or 0xFFFF when the sender holds none or the slot
// is beyond the player ids.
uint16_t RpcSenderId(const RpcCallParams* params);

class GameMode;
class GameServer;

// The sender's player id when that slot is connected in the player pool, else 0xFFFF. With
// requireValid the slot must also be a valid sender: a bot, or a client whose connection the
// transport still holds.
uint16_t RpcConnectedSender(const RpcCallParams* params, bool requireValid);

// The answer to a client's own request (class and spawn requests, the restart a late joiner is
// told): reliable on channel 0, to one connected player.
void SendRpcAnswer(GameServer& server, uint16_t player, uint8_t rpcId, const BitStream& bs);

// The gamemode, when one is loaded. Without one (the intermission, a gamemode that failed to
// load) the handlers decide as if no gamemode had a say.
GameMode* LoadedGameMode(GameServer& server);

}  // namespace velt
