#include "server/natives/ObjectNatives.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "net/BitStream.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeArgs.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

constexpr int32_t kMaxMaterialNameArg = 32;
constexpr int32_t kMaxMaterialTextArg = 2048;

// The signed 16-bit id of an attachment target: -1 detaches.
int16_t TargetArg(cell value) { return static_cast<int16_t>(NativeId(value)); }

ObjectPool* Objects() { return TheGameServer != nullptr ? TheGameServer->GetObjectPool() : nullptr; }
PlayerPool* Players() { return TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr; }

WorldObject* GlobalObject(cell object) {
    ObjectPool* objects = Objects();
    return objects != nullptr ? objects->Get(NativeId(object)) : nullptr;
}

// A connected player's own object.
WorldObject* PlayerObject(cell player, cell object) {
    ObjectPool* objects = Objects();
    if (objects == nullptr || NativeConnectedPlayer(player) == nullptr) return nullptr;
    return objects->GetPlayerObject(NativeId(player), NativeId(object));
}

// Writes the three floats through the reference arguments params[first..first + 2]; nothing is
// written unless all three addresses are good.
bool StoreVectorArg(VmInstance* vm, const cell* params, int first, const Vector3& v) {
    cell* out[3];
    for (int i = 0; i < 3; ++i) {
        out[i] = ScriptCellAddress(vm, static_cast<ucell>(params[first + i]), 1);
        if (out[i] == nullptr) return false;
    }
    StoreScriptCell(out[0], 0, FloatToCell(v.x));
    StoreScriptCell(out[1], 0, FloatToCell(v.y));
    StoreScriptCell(out[2], 0, FloatToCell(v.z));
    return true;
}

// The text argument when its length lies within min..max characters.
std::optional<std::string> BoundedTextArg(VmInstance* vm, cell address, int32_t min, int32_t max) {
    const int32_t length = ScriptStringLength(vm, address);
    std::string text;
    if (length < min || length > max || !ReadScriptString(vm, address, text)) return std::nullopt;
    return text;
}

// Clients index a table of 16 with it.
std::optional<uint8_t> MaterialIndexArg(cell value) {
    if (value < 0 || value > kMaxMaterialIndex) return std::nullopt;
    return static_cast<uint8_t>(value);
}

uint8_t LowByte(cell value) { return static_cast<uint8_t>(value & 0xFF); }

// A travel time in whole milliseconds, truncated toward zero; a time beyond the cell's range gives
// its largest value rather than whatever the conversion would make of it.
cell TravelMilliseconds(float seconds) {
    const float ms = seconds * 1000.0f;
    if (!(ms >= 0.0f)) return 0;
    return ms >= 2147483648.0f ? INT32_MAX : static_cast<cell>(ms);
}

// Who hears of a change: every player (global objects) or the owner (per-player objects).
class Audience {
public:
    static Audience Everyone() { return Audience(true, 0); }
    static Audience Owner(cell player) { return Audience(false, NativeId(player)); }
    void Send(uint8_t rpcId, const BitStream& bs) const {
        if (everyone_)
            TheGameServer->SendRpcToAll(rpcId, &bs, kNoPlayer, RpcChannel::World);
        else
            TheGameServer->SendRpcToPlayer(rpcId, &bs, player_, RpcChannel::World);
    }

private:
    Audience(bool everyone, uint16_t player) : everyone_(everyone), player_(player) {}
    bool everyone_;
    uint16_t player_;
};

// The short object messages: the object's id, then any floats.
void SendObjectMessage(const Audience& to, uint8_t rpcId, uint16_t object,
                       std::initializer_list<float> floats = {}) {
    BitStream bs;
    bs.Write(object);
    for (float f : floats) bs.Write(f);
    to.Send(rpcId, bs);
}

// A change only the create message carries: the object is described anew to every player.
void RecreateForAll(const WorldObject& object) {
    BitStream bs;
    object.WriteCreate(bs);
    Audience::Everyone().Send(RPC_ObjectCreate, bs);
}

// Stops a move under way, telling the audience, and starts the new one: its time in ms, 0 (and
// nothing sent) for a move that cannot be made. The move message carries where the object stands
// now, the target, the speed and the rotation.
cell StartMove(WorldObject& object, const Vector3& target, float speed, const Vector3& rotation,
               const Audience& to) {
    ObjectPool* objects = Objects();
    if (!object.TravelTime(target, speed)) return 0;
    if (objects->Stop(object)) SendObjectMessage(to, RPC_ObjectStop, object.GetId());
    const Vector3& from = object.GetPosition();
    SendObjectMessage(
        to, RPC_ObjectMove, object.GetId(),
        {from.x, from.y, from.z, target.x, target.y, target.z, speed, rotation.x, rotation.y, rotation.z});
    return TravelMilliseconds(objects->Move(object, target, speed, rotation).value_or(0.0f));
}

// The vehicle an object may be attached to: -1 (detach) or one that exists.
bool IsAttachableVehicle(int16_t vehicle) {
    if (vehicle == kNotAttached) return true;
    VehiclePool* vehicles = TheGameServer->GetVehiclePool();
    return vehicles != nullptr && vehicle > 0 && vehicles->Exists(static_cast<uint16_t>(vehicle));
}

// The global object another may be attached to: -1 (detach), or an existing one that is neither
// the object itself nor attached, through a chain of objects, to it. Clients follow the chain.
bool IsAttachableObject(const WorldObject& object, int16_t target) {
    if (target == kNotAttached) return true;
    ObjectPool* objects = Objects();
    const WorldObject* link = target > 0 ? objects->Get(static_cast<uint16_t>(target)) : nullptr;
    if (link == nullptr) return false;
    for (uint16_t hops = 0; link != nullptr && hops < kMaxObjects; ++hops) {
        if (link == &object) return false;
        const int16_t next = link->GetAttachment().object;
        link = next > 0 ? objects->Get(static_cast<uint16_t>(next)) : nullptr;
    }
    return true;
}

// ---- global objects ---------------------------------------------------------------------------

// CreateObject(model, Float:x, Float:y, Float:z, Float:rx, Float:ry, Float:rz, Float:drawdistance)
cell n_CreateObject(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (!HasNativeArgs(vm, params, 8) || objects == nullptr || Players() == nullptr) return 0;
    const uint16_t id =
        objects->Create(params[1], VectorArg(params, 2), VectorArg(params, 5), CellToFloat(params[8]));
    if (id == kNoObject) return kNoObject;
    RecreateForAll(*objects->Get(id));
    return id;
}

cell n_DestroyObject(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || GlobalObject(params[1]) == nullptr) return 0;
    const uint16_t id = NativeId(params[1]);
    Objects()->Destroy(id);
    SendObjectMessage(Audience::Everyone(), RPC_ObjectDestroy, id);
    return 1;
}

cell n_IsValidObject(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 1) && GlobalObject(params[1]) != nullptr ? 1 : 0;
}

cell n_GetObjectModel(VmInstance* vm, const cell* params) {
    const WorldObject* object = HasNativeArgs(vm, params, 1) ? GlobalObject(params[1]) : nullptr;
    return object != nullptr ? object->GetModel() : -1;
}

// SetObjectPos / SetObjectRot(object, Float:x, Float:y, Float:z): 1 whenever there is a pool.
template <void (WorldObject::*Set)(const Vector3&), uint8_t RpcId>
cell n_SetObjectVector(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 4) || Objects() == nullptr) return 0;
    if (WorldObject* object = GlobalObject(params[1])) {
        const Vector3 v = VectorArg(params, 2);
        (object->*Set)(v);
        SendObjectMessage(Audience::Everyone(), RpcId, object->GetId(), {v.x, v.y, v.z});
    }
    return 1;
}

// GetObjectPos / GetObjectRot(object, &Float:x, &Float:y, &Float:z)
template <const Vector3& (WorldObject::*Get)() const>
cell n_GetObjectVector(VmInstance* vm, const cell* params) {
    const WorldObject* object = HasNativeArgs(vm, params, 4) ? GlobalObject(params[1]) : nullptr;
    return object != nullptr && StoreVectorArg(vm, params, 2, (object->*Get)()) ? 1 : 0;
}

cell n_SetObjectNoCameraCol(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 1) ? GlobalObject(params[1]) : nullptr;
    if (object == nullptr || Players() == nullptr) return 0;
    object->SetNoCameraCollision();
    RecreateForAll(*object);
    return 1;
}

// MoveObject(object, Float:x, Float:y, Float:z, Float:speed, Float:rx, Float:ry, Float:rz): the
// travel time in ms. The rotation goes out as the script gave it.
cell n_MoveObject(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 8) ? GlobalObject(params[1]) : nullptr;
    if (object == nullptr) return 0;
    return StartMove(*object, VectorArg(params, 2), CellToFloat(params[5]), VectorArg(params, 6),
                     Audience::Everyone());
}

cell n_StopObject(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 1) ? GlobalObject(params[1]) : nullptr;
    if (object == nullptr || !Objects()->Stop(*object)) return 0;
    SendObjectMessage(Audience::Everyone(), RPC_ObjectStop, object->GetId());
    return 1;
}

cell n_IsObjectMoving(VmInstance* vm, const cell* params) {
    const WorldObject* object = HasNativeArgs(vm, params, 1) ? GlobalObject(params[1]) : nullptr;
    return object != nullptr && object->IsMoving() ? 1 : 0;
}

// AttachObjectToVehicle(object, vehicle, Float:x, Float:y, Float:z, Float:rx, Float:ry, Float:rz)
cell n_AttachObjectToVehicle(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 8) ? GlobalObject(params[1]) : nullptr;
    const int16_t vehicle = TargetArg(params[2]);
    if (object == nullptr || Players() == nullptr || !IsAttachableVehicle(vehicle)) return 0;
    object->AttachToVehicle(vehicle, VectorArg(params, 3), VectorArg(params, 6));
    RecreateForAll(*object);
    return 1;
}

// AttachObjectToObject(object, attachtoid, Float:x, Float:y, Float:z, Float:rx, Float:ry, Float:rz,
//                      syncrotation)
cell n_AttachObjectToObject(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 9) ? GlobalObject(params[1]) : nullptr;
    if (object == nullptr || Players() == nullptr) return 0;
    const int16_t target = TargetArg(params[2]);
    if (!IsAttachableObject(*object, target)) return 0;
    object->AttachToObject(target, VectorArg(params, 3), VectorArg(params, 6), LowByte(params[9]));
    RecreateForAll(*object);
    return 1;
}

// AttachObjectToPlayer(object, player, Float:x, Float:y, Float:z, Float:rx, Float:ry, Float:rz): the
// clients are told, nothing is stored, and the result is 0 even then.
cell n_AttachObjectToPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 8)) return 0;
    const WorldObject* object = GlobalObject(params[1]);
    if (object == nullptr || NativeConnectedPlayer(params[2]) == nullptr) return 0;
    const uint16_t player = NativeId(params[2]);
    BitStream bs;
    bs.Write(object->GetId());
    bs.Write(player);
    for (int i = 3; i <= 8; ++i) bs.Write(CellToFloat(params[i]));
    TheGameServer->SendRpcToPlayersStreamingPlayer(RPC_ObjectAttachToPlayer, &bs, player, RpcChannel::World);
    Audience::Owner(params[2]).Send(RPC_ObjectAttachToPlayer, bs);
    return 0;
}

// The texture material of params[first..first + 4]: index, model, library name, texture name,
// colour (given as 0xAARRGGBB).
std::optional<ObjectMaterial> TextureArgs(VmInstance* vm, const cell* params, int first) {
    const std::optional<uint8_t> index = MaterialIndexArg(params[first]);
    const std::optional<std::string> library = BoundedTextArg(vm, params[first + 2], 1, kMaxMaterialNameArg);
    const std::optional<std::string> texture = BoundedTextArg(vm, params[first + 3], 1, kMaxMaterialNameArg);
    if (!index || !library || !texture) return std::nullopt;
    ObjectMaterial material;
    material.kind = MaterialKind::Texture;
    material.index = *index;
    material.model = static_cast<int16_t>(NativeId(params[first + 1]));
    material.libraryName = *library;
    material.textureName = *texture;
    material.colour = SwapRedAndBlue(static_cast<uint32_t>(params[first + 4]));
    return material;
}

// The text material of params[first..first + 8]: text, index, material size, font face, font size,
// bold, font colour, background colour, alignment. Small values are their low 8 bits.
std::optional<ObjectMaterial> TextArgs(VmInstance* vm, const cell* params, int first) {
    std::optional<std::string> text = BoundedTextArg(vm, params[first], 1, kMaxMaterialTextArg);
    const std::optional<uint8_t> index = MaterialIndexArg(params[first + 1]);
    std::optional<std::string> font = BoundedTextArg(vm, params[first + 3], 1, kMaxMaterialNameArg);
    if (!text || !index || !font) return std::nullopt;
    ObjectMaterial material;
    material.kind = MaterialKind::Text;
    material.index = *index;
    material.text = std::move(*text);
    material.materialSize = LowByte(params[first + 2]);
    material.fontFace = std::move(*font);
    material.fontSize = LowByte(params[first + 4]);
    material.bold = LowByte(params[first + 5]);
    material.fontColour = static_cast<uint32_t>(params[first + 6]);
    material.backgroundColour = static_cast<uint32_t>(params[first + 7]);
    material.alignment = LowByte(params[first + 8]);
    return material;
}

// SetObjectMaterial(object, materialindex, modelid, txdname[], texturename[], materialcolor)
cell n_SetObjectMaterial(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 6)) return 0;
    const std::optional<ObjectMaterial> m = TextureArgs(vm, params, 2);
    WorldObject* object = GlobalObject(params[1]);
    if (!m || object == nullptr ||
        !object->SetMaterial(m->index, m->model, m->libraryName, m->textureName, m->colour))
        return 0;
    RecreateForAll(*object);
    return 1;
}

// SetObjectMaterialText(object, text[], materialindex, materialsize, fontface[], fontsize, bold,
//                       fontcolor, backcolor, textalignment)
cell n_SetObjectMaterialText(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 10)) return 0;
    const std::optional<ObjectMaterial> m = TextArgs(vm, params, 2);
    WorldObject* object = GlobalObject(params[1]);
    if (!m || object == nullptr ||
        !object->SetMaterialText(m->index, m->text, m->materialSize, m->fontFace, m->fontSize, m->bold,
                                 m->fontColour, m->backgroundColour, m->alignment))
        return 0;
    RecreateForAll(*object);
    return 1;
}

// SetObjectsDefaultCameraCol(disable): for objects created from now on.
cell n_SetObjectsDefaultCameraCol(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || TheGameServer == nullptr) return 0;
    TheGameServer->world.objectsDefaultCameraCollision = params[1] != 0 ? 1 : 0;
    return 1;
}

// ---- per-player objects -----------------------------------------------------------------------

// CreatePlayerObject(player, model, Float:x, Float:y, Float:z, Float:rx, Float:ry, Float:rz,
//                    Float:drawdistance)
cell n_CreatePlayerObject(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (!HasNativeArgs(vm, params, 9) || objects == nullptr || NativeConnectedPlayer(params[1]) == nullptr)
        return 0;
    const uint16_t player = NativeId(params[1]);
    const uint16_t id = objects->CreatePlayerObject(player, params[2], VectorArg(params, 3),
                                                    VectorArg(params, 6), CellToFloat(params[9]));
    if (id == kNoObject) return kNoObject;
    objects->SendCreateToPlayer(*objects->GetPlayerObject(player, id), player);
    return id;
}

// 1 whenever the player is connected, whether or not the object existed.
cell n_DestroyPlayerObject(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (!HasNativeArgs(vm, params, 2) || objects == nullptr || NativeConnectedPlayer(params[1]) == nullptr)
        return 0;
    const uint16_t id = NativeId(params[2]);
    if (objects->DestroyPlayerObject(NativeId(params[1]), id) == 1)
        SendObjectMessage(Audience::Owner(params[1]), RPC_ObjectDestroy, id);
    return 1;
}

cell n_IsValidPlayerObject(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 2) && PlayerObject(params[1], params[2]) != nullptr ? 1 : 0;
}

// The model; -1 for a missing object of a connected player, 0 for a bad player.
cell n_GetPlayerObjectModel(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || Objects() == nullptr || NativeConnectedPlayer(params[1]) == nullptr)
        return 0;
    const WorldObject* object = PlayerObject(params[1], params[2]);
    return object != nullptr ? object->GetModel() : -1;
}

// SetPlayerObjectPos / SetPlayerObjectRot(player, object, Float:x, Float:y, Float:z)
template <void (WorldObject::*Set)(const Vector3&), uint8_t RpcId>
cell n_SetPlayerObjectVector(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 5) ? PlayerObject(params[1], params[2]) : nullptr;
    if (object == nullptr) return 0;
    const Vector3 v = VectorArg(params, 3);
    SendObjectMessage(Audience::Owner(params[1]), RpcId, object->GetId(), {v.x, v.y, v.z});
    (object->*Set)(v);
    return 1;
}

// GetPlayerObjectPos / GetPlayerObjectRot(player, object, &Float:x, &Float:y, &Float:z)
template <const Vector3& (WorldObject::*Get)() const>
cell n_GetPlayerObjectVector(VmInstance* vm, const cell* params) {
    const WorldObject* object = HasNativeArgs(vm, params, 5) ? PlayerObject(params[1], params[2]) : nullptr;
    return object != nullptr && StoreVectorArg(vm, params, 3, (object->*Get)()) ? 1 : 0;
}

cell n_SetPlayerObjectNoCameraCol(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 2) ? PlayerObject(params[1], params[2]) : nullptr;
    if (object == nullptr) return 0;
    object->SetNoCameraCollision();
    SendObjectMessage(Audience::Owner(params[1]), RPC_ObjectNoCameraColSet, object->GetId());
    return 1;
}

// MovePlayerObject(player, object, Float:x, Float:y, Float:z, Float:speed, Float:rx, Float:ry,
//                  Float:rz): a rotation component below -999 becomes the object's own, both in the
// message and in the move.
cell n_MovePlayerObject(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 9) ? PlayerObject(params[1], params[2]) : nullptr;
    if (object == nullptr) return 0;
    Vector3 rotation = VectorArg(params, 7);
    const Vector3& current = object->GetRotation();
    if (rotation.x < kKeepRotation) rotation.x = current.x;
    if (rotation.y < kKeepRotation) rotation.y = current.y;
    if (rotation.z < kKeepRotation) rotation.z = current.z;
    return StartMove(*object, VectorArg(params, 3), CellToFloat(params[6]), rotation,
                     Audience::Owner(params[1]));
}

cell n_StopPlayerObject(VmInstance* vm, const cell* params) {
    WorldObject* object = HasNativeArgs(vm, params, 2) ? PlayerObject(params[1], params[2]) : nullptr;
    if (object == nullptr || !Objects()->Stop(*object)) return 0;
    SendObjectMessage(Audience::Owner(params[1]), RPC_ObjectStop, object->GetId());
    return 1;
}

cell n_IsPlayerObjectMoving(VmInstance* vm, const cell* params) {
    const WorldObject* object = HasNativeArgs(vm, params, 2) ? PlayerObject(params[1], params[2]) : nullptr;
    return object != nullptr && object->IsMoving() ? 1 : 0;
}

// AttachPlayerObjectToVehicle(player, object, vehicle, Float:x, Float:y, Float:z, Float:rx, Float:ry,
//                             Float:rz): the player's connection is not asked for, only his object.
cell n_AttachPlayerObjectToVehicle(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (!HasNativeArgs(vm, params, 9) || objects == nullptr) return 0;
    const uint16_t player = NativeId(params[1]);
    WorldObject* object = objects->GetPlayerObject(player, NativeId(params[2]));
    const int16_t vehicle = TargetArg(params[3]);
    if (object == nullptr || !IsAttachableVehicle(vehicle)) return 0;
    object->AttachToVehicle(vehicle, VectorArg(params, 4), VectorArg(params, 7));
    objects->SendCreateToPlayer(*object, player);
    return 1;
}

cell n_AttachPlayerObjectToPlayer(VmInstance*, const cell*) {
    LogPrintf("AttachPlayerObjectToPlayer : removed in 0.3. I can only attach global objects.");
    return 0;
}

// The material message of a per-player object; the material is not stored.
void SendPlayerMaterial(cell player, uint16_t object, const ObjectMaterial& material) {
    BitStream bs;
    bs.Write(object);
    WriteObjectMaterial(bs, material);
    Audience::Owner(player).Send(RPC_ObjectMaterialSet, bs);
}

// SetPlayerObjectMaterial(player, object, materialindex, modelid, txdname[], texturename[],
//                         materialcolor)
cell n_SetPlayerObjectMaterial(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 7)) return 0;
    const std::optional<ObjectMaterial> material = TextureArgs(vm, params, 3);
    const WorldObject* object = PlayerObject(params[1], params[2]);
    if (!material || object == nullptr) return 0;
    SendPlayerMaterial(params[1], object->GetId(), *material);
    return 1;
}

// SetPlayerObjectMaterialText(player, object, text[], materialindex, materialsize, fontface[],
//                             fontsize, bold, fontcolor, backcolor, textalignment)
cell n_SetPlayerObjectMaterialText(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 11)) return 0;
    const std::optional<ObjectMaterial> material = TextArgs(vm, params, 3);
    const WorldObject* object = PlayerObject(params[1], params[2]);
    if (!material || object == nullptr) return 0;
    SendPlayerMaterial(params[1], object->GetId(), *material);
    return 1;
}

// ---- editing and selection --------------------------------------------------------------------

// The editor for a global object (EditObject) or one of the player's own (EditPlayerObject); 1
// whenever the player is connected.
template <bool PlayerObjects>
cell n_EditObject(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const WorldObject* object = PlayerObjects ? PlayerObject(params[1], params[2]) : GlobalObject(params[2]);
    if (object == nullptr) return 1;
    BitStream bs;
    bs.Write(PlayerObjects);
    bs.Write(object->GetId());
    Audience::Owner(params[1]).Send(RPC_ObjectEdit, bs);
    player->SetEditingObject();
    return 1;
}

cell n_SelectObject(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    Audience::Owner(params[1]).Send(RPC_ObjectSelect, BitStream());
    player->SetEditingObject();
    return 1;
}

cell n_CancelEdit(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    Audience::Owner(params[1]).Send(RPC_ObjectEditCancel, BitStream());
    return 1;
}

const VmNativeEntry kObjectNatives[] = {
    {"CreateObject", n_CreateObject},
    {"AttachObjectToVehicle", n_AttachObjectToVehicle},
    {"AttachPlayerObjectToVehicle", n_AttachPlayerObjectToVehicle},
    {"AttachObjectToObject", n_AttachObjectToObject},
    {"SetObjectPos", n_SetObjectVector<&WorldObject::SetPosition, RPC_ObjectPosSet>},
    {"SetObjectRot", n_SetObjectVector<&WorldObject::SetRotation, RPC_ObjectRotSet>},
    {"GetObjectPos", n_GetObjectVector<&WorldObject::GetPosition>},
    {"GetObjectRot", n_GetObjectVector<&WorldObject::GetRotation>},
    {"GetObjectModel", n_GetObjectModel},
    {"SetObjectNoCameraCol", n_SetObjectNoCameraCol},
    {"IsValidObject", n_IsValidObject},
    {"DestroyObject", n_DestroyObject},
    {"IsObjectMoving", n_IsObjectMoving},
    {"MoveObject", n_MoveObject},
    {"StopObject", n_StopObject},
    {"EditObject", n_EditObject<false>},
    {"EditPlayerObject", n_EditObject<true>},
    {"SelectObject", n_SelectObject},
    {"CancelEdit", n_CancelEdit},
    {"SetObjectMaterial", n_SetObjectMaterial},
    {"SetObjectMaterialText", n_SetObjectMaterialText},
    {"CreatePlayerObject", n_CreatePlayerObject},
    {"SetPlayerObjectPos", n_SetPlayerObjectVector<&WorldObject::SetPosition, RPC_ObjectPosSet>},
    {"SetPlayerObjectRot", n_SetPlayerObjectVector<&WorldObject::SetRotation, RPC_ObjectRotSet>},
    {"GetPlayerObjectPos", n_GetPlayerObjectVector<&WorldObject::GetPosition>},
    {"GetPlayerObjectRot", n_GetPlayerObjectVector<&WorldObject::GetRotation>},
    {"GetPlayerObjectModel", n_GetPlayerObjectModel},
    {"SetPlayerObjectNoCameraCol", n_SetPlayerObjectNoCameraCol},
    {"IsValidPlayerObject", n_IsValidPlayerObject},
    {"DestroyPlayerObject", n_DestroyPlayerObject},
    {"IsPlayerObjectMoving", n_IsPlayerObjectMoving},
    {"MovePlayerObject", n_MovePlayerObject},
    {"StopPlayerObject", n_StopPlayerObject},
    {"SetPlayerObjectMaterial", n_SetPlayerObjectMaterial},
    {"SetPlayerObjectMaterialText", n_SetPlayerObjectMaterialText},
    {"AttachObjectToPlayer", n_AttachObjectToPlayer},
    {"AttachPlayerObjectToPlayer", n_AttachPlayerObjectToPlayer},
    {"SetObjectsDefaultCameraCol", n_SetObjectsDefaultCameraCol},
};

}  // namespace

ScriptNativeRows ObjectNatives() { return kObjectNatives; }

}  // namespace velt
