// The vehicle natives: creating, destroying, moving, repairing, tuning and querying vehicles,
// trailers, the per-vehicle parameter bytes and the damage state. Each checks its ids, then acts
// on the vehicle pool or one vehicle, which tell the players that have the vehicle streamed in.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "net/BitStream.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"
#include "server/vm/vmlib_common.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// What AddStaticVehicle gives a vehicle: two minutes unused, then it respawns.
constexpr int32_t kStaticRespawnDelayMs = 120000;
constexpr int32_t kNeverRespawn = -1;
constexpr uint16_t kCarriagesPerTrain = 3;

uint16_t IdArg(cell value) { return static_cast<uint16_t>(static_cast<ucell>(value) & 0xFFFFu); }

VehiclePool* Vehicles() { return TheGameServer != nullptr ? TheGameServer->GetVehiclePool() : nullptr; }

// The vehicle of the id argument when it exists (and the call has `args` arguments), else null.
Vehicle* VehicleArg(VmInstance* vm, const cell* params, int32_t args, int index = 1) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || !HasNativeArgs(vm, params, args)) return nullptr;
    return vehicles->Get(IdArg(params[index]));
}

Player* ConnectedPlayer(cell value) {
    PlayerPool* pool = TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr;
    const uint16_t id = IdArg(value);
    return pool != nullptr && pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
}

Vector3 VectorArgs(const cell* args) {
    return {CellToFloat(args[0]), CellToFloat(args[1]), CellToFloat(args[2])};
}

// Scripts give the respawn delay in seconds, -1 for never; a delay too long for the millisecond
// counter is as good as never running out.
int32_t RespawnDelayMs(cell seconds) {
    if (seconds == -1) return kNeverRespawn;
    const int64_t ms = int64_t(seconds) * 1000;
    if (ms > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (ms < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(ms);
}

uint16_t NewVehicle(const cell* params, int32_t respawnDelay) {
    return Vehicles()->New(params[1], VectorArgs(params + 2), CellToFloat(params[5]), params[6], params[7],
                           respawnDelay);
}

// An optional ninth argument switches the siren on.
void ApplySirenArg(VmInstance* vm, const cell* params, uint16_t id) {
    if (vmlib::ArgCount(vm, params) < 9 || params[9] == 0 || id == 0 || id == kNoVehicle) return;
    if (Vehicle* vehicle = Vehicles()->Get(id)) vehicle->EnableSiren();
}

// An engine brings its carriages, at its own place, whether or not the engine itself fitted.
void AddTrainCarriages(const cell* params) {
    const int32_t model = params[1];
    if (!IsTrainEngine(model)) return;
    const int32_t carriage = model == 538 ? 570 : 569;
    for (uint16_t i = 0; i < kCarriagesPerTrain; ++i)
        Vehicles()->New(carriage, VectorArgs(params + 2), CellToFloat(params[5]), params[6], params[7],
                        kNeverRespawn);
}

void SendToStreamers(uint8_t rpcId, const BitStream& bs, uint16_t vehicle) {
    TheGameServer->SendRpcToPlayersStreamingVehicle(rpcId, &bs, vehicle, kNoPlayer, RpcChannel::World);
}

// ---- creating and destroying ------------------------------------------------------------------

// CreateVehicle(model, Float:x, Float:y, Float:z, Float:angle, colour1, colour2, respawn_delay
//               [, addsiren])
cell n_CreateVehicle(VmInstance* vm, const cell* params) {
    if (Vehicles() == nullptr || !HasNativeArgs(vm, params, 8)) return kNoVehicle;
    if (IsTrainEngine(params[1])) {
        LogPrintf("Only create trains with AddStaticVehicle/Ex");
        return 0;
    }
    const uint16_t id = NewVehicle(params, RespawnDelayMs(params[8]));
    ApplySirenArg(vm, params, id);
    return id;
}

// AddStaticVehicle(model, Float:x, Float:y, Float:z, Float:angle, colour1, colour2)
cell n_AddStaticVehicle(VmInstance* vm, const cell* params) {
    if (Vehicles() == nullptr || !HasNativeArgs(vm, params, 7)) return kNoVehicle;
    const uint16_t id = NewVehicle(params, kStaticRespawnDelayMs);
    AddTrainCarriages(params);
    return id;
}

// AddStaticVehicleEx(model, Float:x, Float:y, Float:z, Float:angle, colour1, colour2,
//                    respawn_delay [, addsiren])
cell n_AddStaticVehicleEx(VmInstance* vm, const cell* params) {
    if (Vehicles() == nullptr || !HasNativeArgs(vm, params, 8)) return kNoVehicle;
    const uint16_t id = NewVehicle(params, RespawnDelayMs(params[8]));
    ApplySirenArg(vm, params, id);
    AddTrainCarriages(params);
    return id;
}

cell n_DestroyVehicle(VmInstance* vm, const cell* params) {
    if (VehicleArg(vm, params, 1) == nullptr) return 0;
    return Vehicles()->Delete(IdArg(params[1]));
}

cell n_IsValidVehicle(VmInstance* vm, const cell* params) {
    return VehicleArg(vm, params, 1) != nullptr ? 1 : 0;
}

// ---- place --------------------------------------------------------------------------------------

// GetVehiclePos(vehicle, &Float:x, &Float:y, &Float:z)
cell n_GetVehiclePos(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 4);
    if (vehicle == nullptr) return 0;
    SetVectorRefs(vm, params + 2, vehicle->GetPosition());
    return 1;
}

// SetVehiclePos(vehicle, Float:x, Float:y, Float:z): every player who sees it is told; its driver
// also keeps his client's older positions from streaming the old place.
cell n_SetVehiclePos(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 4);
    PlayerPool* pool = TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr;
    if (vehicle == nullptr || pool == nullptr) return 0;
    const uint16_t id = IdArg(params[1]);
    const Vector3 position = VectorArgs(params + 2);
    vehicle->SetPosition(position);
    for (int32_t i = 0; i <= pool->GetUpperIndex(); ++i) {
        const uint16_t player = uint16_t(i);
        Player* p = pool->IsConnected(player) ? pool->GetAt(player) : nullptr;
        if (p == nullptr || !p->IsVehicleStreamedIn(id)) continue;
        vehicle->SendPosition(player, position);
        if (vehicle->GetDriver() == player) p->SetServerPosition(position.x, position.y, position.z);
    }
    return 1;
}

// GetVehicleZAngle(vehicle, &Float:angle), GetVehicleHealth(vehicle, &Float:health)
template <float (Vehicle::*Get)() const>
cell n_VehicleFloat(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    SetFloatRef(vm, params[2], (vehicle->*Get)());
    return 1;
}

// GetVehicleRotationQuat(vehicle, &Float:w, &Float:x, &Float:y, &Float:z)
cell n_GetVehicleRotationQuat(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 5);
    if (vehicle == nullptr) return 0;
    const Quaternion q = Matrix4ToQuaternion(vehicle->GetMatrix());
    SetFloatRef(vm, params[2], q.w);
    SetFloatRef(vm, params[3], q.x);
    SetFloatRef(vm, params[4], q.y);
    SetFloatRef(vm, params[5], q.z);
    return 1;
}

// SetVehicleZAngle(vehicle, Float:angle): only a driving client can turn it; nothing is stored.
cell n_SetVehicleZAngle(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    const uint16_t driver = vehicle->FindDriver();
    if (driver == kNoPlayer) return 1;
    BitStream bs;
    bs.Write(IdArg(params[1]));
    bs.Write(CellToFloat(params[2]));
    TheGameServer->SendRpcToPlayer(RPC_VehicleZAngleSet, &bs, driver, RpcChannel::World);
    return 1;
}

cell n_SetVehicleToRespawn(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 1);
    if (vehicle == nullptr) return 0;
    vehicle->Respawn();
    return 1;
}

// LinkVehicleToInterior(vehicle, interior)
cell n_LinkVehicleToInterior(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    vehicle->SetInterior(params[2]);
    BitStream bs;
    bs.Write(IdArg(params[1]));
    bs.Write(uint8_t(params[2]));
    SendToStreamers(RPC_VehicleInteriorLink, bs, IdArg(params[1]));
    return 1;
}

// ---- health, damage, tuning, plate --------------------------------------------------------------

cell n_RepairVehicle(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 1);
    if (vehicle == nullptr) return 0;
    vehicle->Repair();
    return 1;
}

// SetVehicleHealth(vehicle, Float:health)
cell n_SetVehicleHealth(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    vehicle->SetHealth(CellToFloat(params[2]));
    return 1;
}

// GetVehicleDamageStatus(vehicle, &panels, &doors, &lights, &tires)
cell n_GetVehicleDamageStatus(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 5);
    if (vehicle == nullptr) return 0;
    const VehicleDamage& damage = vehicle->GetDamage();
    SetScriptCell(vm, params[2], damage.panels);
    SetScriptCell(vm, params[3], damage.doors);
    SetScriptCell(vm, params[4], damage.lights);
    SetScriptCell(vm, params[5], damage.tyres);
    return 1;
}

// UpdateVehicleDamageStatus(vehicle, panels, doors, lights, tires)
cell n_UpdateVehicleDamageStatus(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 5);
    if (vehicle == nullptr) return 0;
    vehicle->UpdateDamageStatus(kNoPlayer, {params[2], params[3], uint8_t(params[4]), uint8_t(params[5])});
    return 1;
}

// AddVehicleComponent(vehicle, component): 1 for an existing vehicle, whether or not it fits.
cell n_AddVehicleComponent(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    vehicle->AddComponent(kNoPlayer, IdArg(params[2]));
    return 1;
}

cell n_RemoveVehicleComponent(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    vehicle->RemoveComponent(kNoPlayer, IdArg(params[2]));
    return 1;
}

// ChangeVehicleColor(vehicle, colour1, colour2)
cell n_ChangeVehicleColor(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 3);
    if (vehicle == nullptr) return 0;
    vehicle->ChangeColor(kNoPlayer, params[2] & 0xFF, params[3] & 0xFF);
    return 1;
}

// ChangeVehiclePaintjob(vehicle, paintjob): 1 whenever there is a vehicle pool.
cell n_ChangeVehiclePaintjob(VmInstance* vm, const cell* params) {
    if (Vehicles() == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    if (Vehicle* vehicle = Vehicles()->Get(IdArg(params[1])))
        vehicle->ChangePaintjob(kNoPlayer, uint8_t(params[2] & 0xFF));
    return 1;
}

// SetVehicleNumberPlate(vehicle, const plate[]): an empty plate clears it (and answers 0).
cell n_SetVehicleNumberPlate(VmInstance* vm, const cell* params) {
    Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    std::string plate;
    ReadScriptString(vm, params[2], plate);
    if (plate.empty()) {
        vehicle->SetNumberPlate(nullptr);
        return 0;
    }
    vehicle->SetNumberPlate(plate.c_str());
    return 1;
}

cell n_GetVehicleModel(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 1);
    return vehicle != nullptr ? vehicle->GetModel() : 0;
}

// GetVehicleModelInfo(model, kind, &Float:x, &Float:y, &Float:z)
cell n_GetVehicleModelInfo(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 5)) return 0;
    const std::optional<Vector3> info = VehicleModelInfo(params[1], params[2]);
    if (!info) return 0;
    SetVectorRefs(vm, params + 3, *info);
    return 1;
}

// GetVehicleComponentInSlot(vehicle, slot)
cell n_GetVehicleComponentInSlot(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 2);
    if (vehicle == nullptr) return 0;
    return vehicle->GetComponentInSlot(params[2] & 0xFF);
}

// GetVehicleComponentType(component): the slot 0..13, -1 for no component.
cell n_GetVehicleComponentType(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return -1;
    return ComponentSlot(IdArg(params[1]));
}

// ---- parameters ---------------------------------------------------------------------------------

// Replaces `count` parameter bytes from `first` with the low bytes of the arguments after the id.
cell SetParamBytes(VmInstance* vm, const cell* params, int first, int count) {
    Vehicle* vehicle = VehicleArg(vm, params, 1 + count);
    if (vehicle == nullptr) return 0;
    VehicleParams bytes = vehicle->GetParams();
    for (int i = 0; i < count; ++i) bytes[first + i] = static_cast<int8_t>(params[2 + i] & 0xFF);
    vehicle->SetParams(bytes);
    return 1;
}

// Writes `count` parameter bytes from `first`, sign-extended (-1 stays -1), to the references.
cell GetParamBytes(VmInstance* vm, const cell* params, int first, int count) {
    const Vehicle* vehicle = VehicleArg(vm, params, 1 + count);
    if (vehicle == nullptr) return 0;
    for (int i = 0; i < count; ++i) SetScriptCell(vm, params[2 + i], vehicle->GetParams()[first + i]);
    return 1;
}

cell n_SetVehicleParamsEx(VmInstance* vm, const cell* params) {
    return SetParamBytes(vm, params, VEHICLE_PARAM_ENGINE, 7);
}
cell n_GetVehicleParamsEx(VmInstance* vm, const cell* params) {
    return GetParamBytes(vm, params, VEHICLE_PARAM_ENGINE, 7);
}
cell n_SetVehicleParamsCarDoors(VmInstance* vm, const cell* params) {
    return SetParamBytes(vm, params, VEHICLE_PARAM_CAR_DOORS, 4);
}
cell n_GetVehicleParamsCarDoors(VmInstance* vm, const cell* params) {
    return GetParamBytes(vm, params, VEHICLE_PARAM_CAR_DOORS, 4);
}
cell n_SetVehicleParamsCarWindows(VmInstance* vm, const cell* params) {
    return SetParamBytes(vm, params, VEHICLE_PARAM_CAR_WINDOWS, 4);
}
cell n_GetVehicleParamsCarWindows(VmInstance* vm, const cell* params) {
    return GetParamBytes(vm, params, VEHICLE_PARAM_CAR_WINDOWS, 4);
}

cell n_GetVehicleParamsSirenState(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 1);
    return vehicle != nullptr ? vehicle->GetParams()[VEHICLE_PARAM_SIREN] : 0;
}

// SetVehicleParamsForPlayer(vehicle, player, objective, doorslocked): for that player only,
// and not kept.
cell n_SetVehicleParamsForPlayer(VmInstance* vm, const cell* params) {
    if (VehicleArg(vm, params, 4) == nullptr || ConnectedPlayer(params[2]) == nullptr) return 0;
    BitStream bs;
    bs.Write(IdArg(params[1]));
    bs.Write(uint8_t(params[3]));
    bs.Write(uint8_t(params[4]));
    TheGameServer->SendRpcToPlayer(RPC_VehicleParamsSet, &bs, IdArg(params[2]), RpcChannel::World);
    return 1;
}

// Engines and lights stay off until the scripts switch them on; joining clients are told.
cell n_ManualVehicleEngineAndLights(VmInstance*, const cell*) {
    if (TheGameServer != nullptr) TheGameServer->world.manualVehicleEngineAndLights = 1;
    return 1;
}

// ---- trailers -----------------------------------------------------------------------------------

// AttachTrailerToVehicle(trailer, vehicle): the clients hitch it; the link itself is learnt from
// the driver's synchronisation.
cell n_AttachTrailerToVehicle(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    const uint16_t trailer = IdArg(params[1]), vehicle = IdArg(params[2]);
    if (vehicles->Exists(trailer) && vehicles->Exists(vehicle)) {
        BitStream bs;
        bs.Write(trailer);
        bs.Write(vehicle);
        SendToStreamers(RPC_TrailerAttach, bs, trailer);
    }
    return 1;
}

// DetachTrailerFromVehicle(vehicle)
cell n_DetachTrailerFromVehicle(VmInstance* vm, const cell* params) {
    VehiclePool* vehicles = Vehicles();
    if (vehicles == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const uint16_t vehicle = IdArg(params[1]);
    if (vehicles->Exists(vehicle)) {
        BitStream bs;
        bs.Write(vehicle);
        SendToStreamers(RPC_TrailerDetach, bs, vehicle);
    }
    return 1;
}

cell n_IsTrailerAttachedToVehicle(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 1);
    return vehicle != nullptr && vehicle->GetTrailer() != 0 && vehicle->GetTrailer() != kNoVehicle ? 1 : 0;
}

cell n_GetVehicleTrailer(VmInstance* vm, const cell* params) {
    const Vehicle* vehicle = VehicleArg(vm, params, 1);
    return vehicle != nullptr ? vehicle->GetTrailer() : 0;
}

// DisableRemoteVehicleCollisions(player, disable)
cell n_DisableRemoteVehicleCollisions(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || ConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    bs.Write(params[2] != 0);
    TheGameServer->SendRpcToPlayer(RPC_RemoteVehicleCollisionsDisable, &bs, IdArg(params[1]),
                                   RpcChannel::World);
    return 1;
}

const VmNativeEntry kVehicleNatives[] = {
    {"IsValidVehicle", n_IsValidVehicle},
    {"CreateVehicle", n_CreateVehicle},
    {"DestroyVehicle", n_DestroyVehicle},
    {"GetVehiclePos", n_GetVehiclePos},
    {"SetVehiclePos", n_SetVehiclePos},
    {"GetVehicleZAngle", n_VehicleFloat<&Vehicle::GetZAngle>},
    {"GetVehicleRotationQuat", n_GetVehicleRotationQuat},
    {"SetVehicleZAngle", n_SetVehicleZAngle},
    {"SetVehicleParamsForPlayer", n_SetVehicleParamsForPlayer},
    {"ManualVehicleEngineAndLights", n_ManualVehicleEngineAndLights},
    {"SetVehicleParamsEx", n_SetVehicleParamsEx},
    {"GetVehicleParamsEx", n_GetVehicleParamsEx},
    {"SetVehicleParamsCarDoors", n_SetVehicleParamsCarDoors},
    {"GetVehicleParamsCarDoors", n_GetVehicleParamsCarDoors},
    {"SetVehicleParamsCarWindows", n_SetVehicleParamsCarWindows},
    {"GetVehicleParamsCarWindows", n_GetVehicleParamsCarWindows},
    {"SetVehicleToRespawn", n_SetVehicleToRespawn},
    {"GetVehicleModelInfo", n_GetVehicleModelInfo},
    {"RepairVehicle", n_RepairVehicle},
    {"AddVehicleComponent", n_AddVehicleComponent},
    {"RemoveVehicleComponent", n_RemoveVehicleComponent},
    {"ChangeVehicleColor", n_ChangeVehicleColor},
    {"ChangeVehiclePaintjob", n_ChangeVehiclePaintjob},
    {"LinkVehicleToInterior", n_LinkVehicleToInterior},
    {"SetVehicleHealth", n_SetVehicleHealth},
    {"GetVehicleHealth", n_VehicleFloat<&Vehicle::GetHealth>},
    {"AttachTrailerToVehicle", n_AttachTrailerToVehicle},
    {"DetachTrailerFromVehicle", n_DetachTrailerFromVehicle},
    {"IsTrailerAttachedToVehicle", n_IsTrailerAttachedToVehicle},
    {"GetVehicleTrailer", n_GetVehicleTrailer},
    {"SetVehicleNumberPlate", n_SetVehicleNumberPlate},
    {"GetVehicleModel", n_GetVehicleModel},
    {"GetVehicleParamsSirenState", n_GetVehicleParamsSirenState},
    {"GetVehicleComponentInSlot", n_GetVehicleComponentInSlot},
    {"GetVehicleComponentType", n_GetVehicleComponentType},
    {"GetVehicleDamageStatus", n_GetVehicleDamageStatus},
    {"UpdateVehicleDamageStatus", n_UpdateVehicleDamageStatus},
    {"AddStaticVehicle", n_AddStaticVehicle},
    {"AddStaticVehicleEx", n_AddStaticVehicleEx},
    {"DisableRemoteVehicleCollisions", n_DisableRemoteVehicleCollisions},
};

}  // namespace

ScriptNativeRows VehicleNatives() { return kVehicleNatives; }

}  // namespace velt
