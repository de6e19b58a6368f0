#include "server/natives/AttachedObjectNatives.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeArgs.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldObject.h"

namespace velt {

namespace {

// SetPlayerAttachedObject(player, index, model, bone, Float:x, Float:y, Float:z, Float:rx, Float:ry,
//                         Float:rz, Float:sx, Float:sy, Float:sz, colour1, colour2): a slot outside
// 0..9 changes nothing and still gives 1.
cell n_SetPlayerAttachedObject(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 15) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    AttachedObjectSlot slot;
    slot.model = params[3];
    slot.bone = params[4];
    slot.offset = VectorArg(params, 5);
    slot.rotation = VectorArg(params, 8);
    slot.scale = VectorArg(params, 11);
    slot.colour1 = SwapRedAndBlue(static_cast<uint32_t>(params[14]));
    slot.colour2 = SwapRedAndBlue(static_cast<uint32_t>(params[15]));
    player->SetAttachedObject(params[2], slot);
    return 1;
}

cell n_RemovePlayerAttachedObject(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    player->RemoveAttachedObject(params[2]);
    return 1;
}

cell n_IsPlayerAttachedObjectSlotUsed(VmInstance* vm, const cell* params) {
    const Player* player = HasNativeArgs(vm, params, 2) ? NativeConnectedPlayer(params[1]) : nullptr;
    return player != nullptr && player->IsAttachedObjectSlotUsed(params[2]) ? 1 : 0;
}

// EditAttachedObject(player, index): the editor opens only on a used slot, but the result is 1
// for a free one too.
cell n_EditAttachedObject(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    if (!player->IsAttachedObjectSlotUsed(params[2])) return 1;
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    TheGameServer->SendRpcToPlayer(RPC_AttachedObjectEdit, &bs, NativeId(params[1]), RpcChannel::World);
    player->SetEditingAttachedObject();
    return 1;
}

// RemoveBuildingForPlayer(player, model, Float:x, Float:y, Float:z, Float:radius): always 0.
cell n_RemoveBuildingForPlayer(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 6) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<int32_t>(params[2]));
    for (int i = 3; i <= 6; ++i) bs.Write(CellToFloat(params[i]));
    TheGameServer->SendRpcToPlayer(RPC_BuildingRemove, &bs, NativeId(params[1]), RpcChannel::World);
    return 0;
}

const VmNativeEntry kAttachedObjectNatives[] = {
    {"SetPlayerAttachedObject", n_SetPlayerAttachedObject},
    {"RemovePlayerAttachedObject", n_RemovePlayerAttachedObject},
    {"IsPlayerAttachedObjectSlotUsed", n_IsPlayerAttachedObjectSlotUsed},
    {"EditAttachedObject", n_EditAttachedObject},
    {"RemoveBuildingForPlayer", n_RemoveBuildingForPlayer},
};

}  // namespace

ScriptNativeRows AttachedObjectNatives() { return kAttachedObjectNatives; }

}  // namespace velt
