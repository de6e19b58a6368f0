#include "server/natives/PlayerPositionNatives.h"

#include <cstdint>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeArgs.h"
#include "server/natives/NativeIds.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// What a vehicle velocity message asks the driver's client to change.
constexpr uint8_t kLinearVelocity = 0;
constexpr uint8_t kAngularVelocity = 1;
constexpr cell kNoSeat = -1;
// Surfing ids of the on-foot record: vehicles below, global objects (id + 2000) from here on.
constexpr uint16_t kSurfObjectBase = 2000;
constexpr uint16_t kSurfObjectEnd = 4000;

Vehicle* VehicleArg(VmInstance* vm, const cell* params, int32_t args) {
    VehiclePool* vehicles = TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr;
    if (vehicles == nullptr || !HasNativeArgs(vm, params, args)) return nullptr;
    return vehicles->Get(NativeId(params[1]));
}

bool InVehicle(const Player& player) {
    return player.GetState() == PLAYER_STATE_DRIVER || player.GetState() == PLAYER_STATE_PASSENGER;
}

// ---- setters that only tell the client ----------------------------------------------------------

// name(player, Float:x, Float:y, Float:z): the three floats to the player.
template <uint8_t Rpc>
cell n_SendVector(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 4) == nullptr) return 0;
    BitStream bs;
    WriteFloats(bs, VectorArg(params, 2));
    SendToPlayer(Rpc, bs, params[1]);
    return 1;
}

// name(player, Float:value): one float to the player.
template <uint8_t Rpc>
cell n_SendFloat(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 2) == nullptr) return 0;
    BitStream bs;
    bs.Write(CellToFloat(params[2]));
    SendToPlayer(Rpc, bs, params[1]);
    return 1;
}

// name(player, value): the value's low byte to the player.
template <uint8_t Rpc>
cell n_SendByte(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 2) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint8_t>(params[2] & 0xFF));
    SendToPlayer(Rpc, bs, params[1]);
    return 1;
}

// SetPlayerWorldBounds(player, Float:x_max, Float:x_min, Float:y_max, Float:y_min)
cell n_SetPlayerWorldBounds(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 5) == nullptr) return 0;
    BitStream bs;
    for (int i = 2; i <= 5; ++i) bs.Write(CellToFloat(params[i]));
    SendToPlayer(RPC_PlayerWorldBoundsSet, bs, params[1]);
    return 1;
}

cell n_RemovePlayerFromVehicle(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 1) == nullptr) return 0;
    SendToPlayer(RPC_RemoveFromVehicle, BitStream(), params[1]);
    return 1;
}

// TogglePlayerControllable(player, toggle): the server keeps whether he may move (his relayed
// keys are blanked while not); the client gets the byte as the script gave it.
cell n_TogglePlayerControllable(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 2);
    if (player == nullptr) return 0;
    player->SetControllable(params[2] != 0);
    BitStream bs;
    bs.Write(static_cast<uint8_t>(params[2] & 0xFF));
    SendToPlayer(RPC_PlayerControllableToggle, bs, params[1]);
    return 1;
}

// ---- what the player's records told -------------------------------------------------------------

// GetPlayerPos(player, &Float:x, &Float:y, &Float:z)
cell n_GetPlayerPos(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 4);
    if (player == nullptr) return 0;
    SetVectorRefs(vm, params + 2, player->GetPosition());
    return 1;
}

// GetPlayerLastShotVectors(player, &Float:ox, &Float:oy, &Float:oz, &Float:hx, &Float:hy, &Float:hz)
cell n_GetPlayerLastShotVectors(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 7);
    if (player == nullptr) return 0;
    SetVectorRefs(vm, params + 2, player->GetLastShot().origin);
    SetVectorRefs(vm, params + 5, player->GetLastShot().hitPosition);
    return 1;
}

// name(player, &Float:value)
template <float (Player::*Get)() const>
cell n_GetFloat(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 2);
    if (player == nullptr) return 0;
    SetFloatRef(vm, params[2], (player->*Get)());
    return 1;
}

// GetPlayerVelocity(player, &Float:x, &Float:y, &Float:z): only the on-foot record carries one;
// a script asking about anybody else still finds zeros in its variables.
cell n_GetPlayerVelocity(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4)) return 0;
    const Player* player = NativeConnectedPlayer(params[1]);
    const bool onFoot = player != nullptr && player->GetState() == PLAYER_STATE_ONFOOT;
    SetVectorRefs(vm, params + 2, onFoot ? player->GetOnFootVelocity() : Vector3{});
    return onFoot ? 1 : 0;
}

// GetPlayerKeys(player, &keys, &updown, &leftright): only states that send keys have any.
cell n_GetPlayerKeys(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 4);
    if (player == nullptr) return 0;
    const uint8_t state = player->GetState();
    if (state != PLAYER_STATE_ONFOOT && !InVehicle(*player) && state != PLAYER_STATE_SPECTATING) return 0;
    SetScriptCell(vm, params[2], static_cast<cell>(player->GetKeyState()));
    SetScriptCell(vm, params[3], player->GetUpDownKeys());
    SetScriptCell(vm, params[4], player->GetLeftRightKeys());
    return 1;
}

cell n_GetPlayerInterior(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetInterior() : 0;
}

cell n_GetPlayerSpecialAction(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr || player->GetState() != PLAYER_STATE_ONFOOT) return 0;
    return player->GetOnFootSync().specialAction;
}

// GetPlayerSurfingVehicleID(player), GetPlayerSurfingObjectID(player): what an on-foot player
// stands on, 0xFFFF for nothing of that kind.
cell n_GetPlayerSurfingVehicleID(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr || player->GetState() != PLAYER_STATE_ONFOOT) return kNoVehicle;
    const uint16_t surfing = player->GetOnFootSync().surfingId;
    return surfing >= 1 && surfing < kSurfObjectBase ? surfing : kNoVehicle;
}

cell n_GetPlayerSurfingObjectID(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr || player->GetState() != PLAYER_STATE_ONFOOT) return kNoObject;
    const uint16_t surfing = player->GetOnFootSync().surfingId;
    return surfing >= kSurfObjectBase && surfing < kSurfObjectEnd ? surfing - kSurfObjectBase : kNoObject;
}

// ---- distances ----------------------------------------------------------------------------------

// IsPlayerInRangeOfPoint(player, Float:range, Float:x, Float:y, Float:z): the point on the sphere
// counts as inside. The squares are taken in long double, so that a boundary point is not lost or
// won by the float rounding of each square.
cell n_IsPlayerInRangeOfPoint(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 5);
    if (player == nullptr) return 0;
    const long double range = CellToFloat(params[2]);
    const Vector3& at = player->GetPosition();
    const long double dx = static_cast<long double>(at.x) - CellToFloat(params[3]);
    const long double dy = static_cast<long double>(at.y) - CellToFloat(params[4]);
    const long double dz = static_cast<long double>(at.z) - CellToFloat(params[5]);
    return range * range >= dx * dx + dy * dy + dz * dz ? 1 : 0;
}

// GetPlayerDistanceFromPoint(player, Float:x, Float:y, Float:z)
cell n_GetPlayerDistanceFromPoint(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 4);
    if (player == nullptr) return FloatToCell(0.0f);
    const Vector3 point = VectorArg(params, 2);
    return FloatToCell(player->GetDistanceFromPoint(point.x, point.y, point.z));
}

// GetVehicleDistanceFromPoint(vehicle, Float:x, Float:y, Float:z)
cell n_GetVehicleDistanceFromPoint(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 4);
    return FloatToCell(vehicle != nullptr ? vehicle->GetDistanceFromPoint(VectorArg(params, 2)) : 0.0f);
}

// ---- vehicles and seats -------------------------------------------------------------------------

// PutPlayerInVehicle(player, vehicle, seat). Streaming the vehicle in and moving the player there
// raise callbacks, whose scripts may kick him or destroy the vehicle: the command goes out only
// when both are still there, else the native says he was not put in.
cell n_PutPlayerInVehicle(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const uint16_t id = NativeId(params[1]);
    const uint16_t vehicleId = NativeId(params[2]);
    Player* player = NativeConnectedPlayer(params[1]);
    VehiclePool* vehicles = TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr;
    if (player == nullptr || vehicles == nullptr || !vehicles->Exists(vehicleId)) return 0;
    const uint8_t seat = static_cast<uint8_t>(params[3] & 0xFF);
    BitStream bs;
    bs.Write(vehicleId);
    bs.Write(seat);

    const auto stillThere = [&] {
        vehicles = TheGameServer->GetVehiclePool();
        return NativeConnectedPlayer(params[1]) == player && !player->IsRetired() && vehicles != nullptr &&
               vehicles->Exists(vehicleId);
    };
    // The client must know the vehicle before it is told to sit in it, however far away it is;
    // one it cannot be shown (while downloading, or with too many around him) it cannot enter.
    player->StreamInVehicle(vehicleId, false);
    if (!stillThere() || !player->IsVehicleStreamedIn(vehicleId)) return 0;
    if (seat == 0) vehicles->Get(vehicleId)->SetDriver(id);
    player->SetVehicleId(vehicleId);
    const Vector3 where = vehicles->Get(vehicleId)->GetPosition();
    player->UpdatePosition(where.x, where.y, where.z, true);
    if (!stillThere()) return 0;
    player->SetServerPosition(where.x, where.y, where.z);
    SendToPlayer(RPC_PutInVehicle, bs, params[1]);
    return 1;
}

// IsPlayerInVehicle(player, vehicle)
cell n_IsPlayerInVehicle(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 2);
    return player != nullptr && InVehicle(*player) && player->GetVehicleId() == NativeId(params[2]) ? 1 : 0;
}

cell n_IsPlayerInAnyVehicle(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr && InVehicle(*player) ? 1 : 0;
}

cell n_GetPlayerVehicleID(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetVehicleId() : 0;
}

cell n_GetPlayerVehicleSeat(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr && InVehicle(*player) ? player->GetSeat() : kNoSeat;
}

// GetVehicleVelocity(vehicle, &Float:x, &Float:y, &Float:z)
cell n_GetVehicleVelocity(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 4);
    if (vehicle == nullptr) return 0;
    SetVectorRefs(vm, params + 2, vehicle->GetVelocity());
    return 1;
}

// SetVehicleVelocity / SetVehicleAngularVelocity(vehicle, Float:x, Float:y, Float:z): only the
// driving client moves the vehicle, so an empty one cannot be pushed.
template <uint8_t Kind>
cell n_SetVehicleVelocity(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 4);
    const uint16_t driver = vehicle != nullptr ? vehicle->FindDriver() : kNoPlayer;
    if (driver == kNoPlayer) return 0;
    BitStream bs;
    bs.Write(Kind);
    WriteFloats(bs, VectorArg(params, 2));
    TheGameServer->SendRpcToPlayer(RPC_VehicleVelocitySet, &bs, driver, RpcChannel::World);
    return 1;
}

const VmNativeEntry kPlayerPositionNatives[] = {
    {"SetPlayerWorldBounds", n_SetPlayerWorldBounds},
    {"GetPlayerPos", n_GetPlayerPos},
    {"SetPlayerPos", n_SendVector<RPC_PlayerPosSet>},
    {"SetPlayerPosFindZ", n_SendVector<RPC_PlayerPosFindZ>},
    {"GetPlayerLastShotVectors", n_GetPlayerLastShotVectors},
    {"GetPlayerHealth", n_GetFloat<&Player::GetHealth>},
    {"SetPlayerHealth", n_SendFloat<RPC_PlayerHealthSet>},
    {"GetPlayerArmour", n_GetFloat<&Player::GetArmour>},
    {"SetPlayerArmour", n_SendFloat<RPC_PlayerArmourSet>},
    {"GetPlayerFacingAngle", n_GetFloat<&Player::GetFacingAngle>},
    {"SetPlayerFacingAngle", n_SendFloat<RPC_PlayerFacingAngleSet>},
    {"IsPlayerInRangeOfPoint", n_IsPlayerInRangeOfPoint},
    {"GetPlayerDistanceFromPoint", n_GetPlayerDistanceFromPoint},
    {"GetVehicleDistanceFromPoint", n_GetVehicleDistanceFromPoint},
    {"PutPlayerInVehicle", n_PutPlayerInVehicle},
    {"RemovePlayerFromVehicle", n_RemovePlayerFromVehicle},
    {"IsPlayerInVehicle", n_IsPlayerInVehicle},
    {"IsPlayerInAnyVehicle", n_IsPlayerInAnyVehicle},
    {"GetPlayerVehicleID", n_GetPlayerVehicleID},
    {"GetPlayerVehicleSeat", n_GetPlayerVehicleSeat},
    {"GetPlayerSurfingVehicleID", n_GetPlayerSurfingVehicleID},
    {"GetPlayerSurfingObjectID", n_GetPlayerSurfingObjectID},
    {"SetPlayerInterior", n_SendByte<RPC_PlayerInteriorSet>},
    {"GetPlayerInterior", n_GetPlayerInterior},
    {"SetPlayerSpecialAction", n_SendByte<RPC_SpecialActionSet>},
    {"GetPlayerSpecialAction", n_GetPlayerSpecialAction},
    {"GetPlayerVelocity", n_GetPlayerVelocity},
    {"SetPlayerVelocity", n_SendVector<RPC_PlayerVelocitySet>},
    {"GetVehicleVelocity", n_GetVehicleVelocity},
    {"SetVehicleVelocity", n_SetVehicleVelocity<kLinearVelocity>},
    {"SetVehicleAngularVelocity", n_SetVehicleVelocity<kAngularVelocity>},
    {"GetPlayerKeys", n_GetPlayerKeys},
    {"TogglePlayerControllable", n_TogglePlayerControllable},
};

}  // namespace

ScriptNativeRows PlayerPositionNatives() { return kPlayerPositionNatives; }

}  // namespace velt
