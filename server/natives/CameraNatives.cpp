#include "server/natives/CameraNatives.h"

#include <cstdint>

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/natives/NativeArgs.h"
#include "server/natives/NativeIds.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

// How the camera gets to a new view: at once, or by a smooth move (anything else a script gives).
constexpr uint8_t kCameraMove = 1;
constexpr uint8_t kCameraCut = 2;
constexpr uint8_t kZoomBits = 0x3F;

uint8_t CutStyle(cell value) {
    const int8_t style = static_cast<int8_t>(value & 0xFF);
    return style == kCameraMove || style == kCameraCut ? static_cast<uint8_t>(style) : kCameraCut;
}

ObjectPool* Objects() { return TheGameServer != nullptr ? TheGameServer->GetObjectPool() : nullptr; }

// ---- setters ------------------------------------------------------------------------------------

// SetPlayerCameraPos(player, Float:x, Float:y, Float:z)
cell n_SetPlayerCameraPos(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 4) == nullptr) return 0;
    BitStream bs;
    WriteFloats(bs, VectorArg(params, 2));
    SendToPlayer(RPC_CameraPosSet, bs, params[1]);
    return 1;
}

// SetPlayerCameraLookAt(player, Float:x, Float:y, Float:z, cut)
cell n_SetPlayerCameraLookAt(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 5) == nullptr) return 0;
    BitStream bs;
    WriteFloats(bs, VectorArg(params, 2));
    bs.Write(CutStyle(params[5]));
    SendToPlayer(RPC_CameraLookAtSet, bs, params[1]);
    return 1;
}

cell n_SetCameraBehindPlayer(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 1) == nullptr) return 0;
    SendToPlayer(RPC_CameraBehindSet, BitStream(), params[1]);
    return 1;
}

// AttachCameraToObject(player, object): a global object only.
cell n_AttachCameraToObject(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (objects == nullptr || PlayerArg(vm, params, 2) == nullptr) return 0;
    const uint16_t object = NativeId(params[2]);
    if (object >= kMaxObjects || !objects->Exists(object)) return 0;
    BitStream bs;
    bs.Write(object);
    SendToPlayer(RPC_CameraAttachToObject, bs, params[1]);
    return 1;
}

// AttachCameraToPlayerObject(player, playerobject): one of the player's own objects.
cell n_AttachCameraToPlayerObject(VmInstance* vm, const cell* params) {
    ObjectPool* objects = Objects();
    if (objects == nullptr || PlayerArg(vm, params, 2) == nullptr) return 0;
    const uint16_t object = NativeId(params[2]);
    if (object >= kMaxObjects || !objects->PlayerObjectExists(NativeId(params[1]), object)) return 0;
    BitStream bs;
    bs.Write(object);
    SendToPlayer(RPC_CameraAttachToObject, bs, params[1]);
    return 1;
}

// InterpolateCameraPos / InterpolateCameraLookAt(player, Float:from_x, Float:from_y, Float:from_z,
// Float:to_x, Float:to_y, Float:to_z, time, cut): one message for both, a leading bit telling
// whether the camera or the point it looks at moves.
template <bool Position>
cell n_InterpolateCamera(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 9) == nullptr) return 0;
    BitStream bs;
    bs.Write(Position);
    WriteFloats(bs, VectorArg(params, 2));
    WriteFloats(bs, VectorArg(params, 5));
    bs.Write(static_cast<uint32_t>(params[8]));
    bs.Write(CutStyle(params[9]));
    SendToPlayer(RPC_CameraInterpolate, bs, params[1]);
    return 1;
}

// EnablePlayerCameraTarget(player, enable)
cell n_EnablePlayerCameraTarget(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 2);
    if (player == nullptr) return 0;
    player->EnableCameraTarget(params[2] != 0);
    return 1;
}

// ---- what the client's aim record says ----------------------------------------------------------

// GetPlayerCameraPos(player, &Float:x, &Float:y, &Float:z)
cell n_GetPlayerCameraPos(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 4);
    if (player == nullptr) return 0;
    SetVectorRefs(vm, params + 2, player->GetAimSync().cameraPosition);
    return 1;
}

// GetPlayerCameraFrontVector(player, &Float:x, &Float:y, &Float:z)
cell n_GetPlayerCameraFrontVector(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 4);
    if (player == nullptr) return 0;
    SetVectorRefs(vm, params + 2, player->GetAimSync().cameraFront);
    return 1;
}

cell n_GetPlayerCameraMode(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetAimSync().cameraMode : -1;
}

// The aspect byte spans ratios 1.0 to 2.0.
cell n_GetPlayerCameraAspectRatio(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    return FloatToCell(static_cast<float>(player->GetAimSync().aspectRatio) / 255.0f + 1.0f);
}

// Six bits of zoom span the field of view from 35 to 70 degrees.
cell n_GetPlayerCameraZoom(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    const float zoom = static_cast<float>(player->GetAimSync().cameraZoom & kZoomBits);
    return FloatToCell(zoom / 63.0f * 35.0f + 35.0f);
}

// name(player): one of the four ids the camera points at, 0xFFFF when none or on failure.
template <uint16_t (Player::*Get)() const>
cell n_GetCameraTarget(VmInstance* vm, const cell* params) {
    const Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? (player->*Get)() : kNoPlayer;
}

const VmNativeEntry kCameraNatives[] = {
    {"SetPlayerCameraLookAt", n_SetPlayerCameraLookAt},
    {"SetPlayerCameraPos", n_SetPlayerCameraPos},
    {"SetCameraBehindPlayer", n_SetCameraBehindPlayer},
    {"GetPlayerCameraMode", n_GetPlayerCameraMode},
    {"GetPlayerCameraAspectRatio", n_GetPlayerCameraAspectRatio},
    {"GetPlayerCameraZoom", n_GetPlayerCameraZoom},
    {"GetPlayerCameraPos", n_GetPlayerCameraPos},
    {"GetPlayerCameraFrontVector", n_GetPlayerCameraFrontVector},
    {"EnablePlayerCameraTarget", n_EnablePlayerCameraTarget},
    {"GetPlayerCameraTargetObject", n_GetCameraTarget<&Player::GetCameraTargetObject>},
    {"GetPlayerCameraTargetVehicle", n_GetCameraTarget<&Player::GetCameraTargetVehicle>},
    {"GetPlayerCameraTargetPlayer", n_GetCameraTarget<&Player::GetCameraTargetPlayer>},
    {"GetPlayerCameraTargetActor", n_GetCameraTarget<&Player::GetCameraTargetActor>},
    {"AttachCameraToObject", n_AttachCameraToObject},
    {"AttachCameraToPlayerObject", n_AttachCameraToPlayerObject},
    {"InterpolateCameraPos", n_InterpolateCamera<true>},
    {"InterpolateCameraLookAt", n_InterpolateCamera<false>},
};

}  // namespace

ScriptNativeRows CameraNatives() { return kCameraNatives; }

}  // namespace velt
