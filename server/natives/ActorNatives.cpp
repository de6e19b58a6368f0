#include "server/natives/ActorNatives.h"

#include "net/BitStream.h"
#include "server/natives/NativeIds.h"
#include "server/shared/GameRpc.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

ActorPool* Actors() { return TheGameServer != nullptr ? TheGameServer->GetActorPool() : nullptr; }

// The actor the first argument names, when the call has `count` arguments; else null.
Actor* ActorArg(VmInstance* vm, const cell* params, int32_t count) {
    ActorPool* actors = HasNativeArgs(vm, params, count) ? Actors() : nullptr;
    return actors != nullptr ? actors->GetAt(NativeId(params[1])) : nullptr;
}

// CreateActor(skin, Float:x, Float:y, Float:z, Float:facingAngle)
cell n_CreateActor(VmInstance* vm, const cell* params) {
    ActorPool* actors = Actors();
    if (actors == nullptr || !HasNativeArgs(vm, params, 5)) return kNoActor;
    const Vector3 position{CellToFloat(params[2]), CellToFloat(params[3]), CellToFloat(params[4])};
    return actors->Create(params[1], position, CellToFloat(params[5]));
}

// DestroyActor(actor)
cell n_DestroyActor(VmInstance* vm, const cell* params) {
    if (ActorArg(vm, params, 1) == nullptr) return 0;
    return Actors()->Destroy(NativeId(params[1]));
}

cell n_IsValidActor(VmInstance* vm, const cell* params) { return ActorArg(vm, params, 1) != nullptr ? 1 : 0; }

// SetActorPos(actor, Float:x, Float:y, Float:z)
cell n_SetActorPos(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 4);
    if (actor == nullptr || TheGameServer->GetPlayerPool() == nullptr) return 0;
    actor->SetPosition({CellToFloat(params[2]), CellToFloat(params[3]), CellToFloat(params[4])});
    BitStream bs;
    bs.Write(actor->GetId());
    bs.Write(actor->GetPosition().x);
    bs.Write(actor->GetPosition().y);
    bs.Write(actor->GetPosition().z);
    SendRpcToActorStreamers(*TheGameServer, actor->GetId(), RPC_ActorPosSet, bs);
    return 1;
}

// GetActorPos(actor, &Float:x, &Float:y, &Float:z): nothing is written unless all three
// references are good.
cell n_GetActorPos(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 4);
    if (actor == nullptr) return 0;
    cell* x = ScriptCellAddress(vm, static_cast<ucell>(params[2]));
    cell* y = ScriptCellAddress(vm, static_cast<ucell>(params[3]));
    cell* z = ScriptCellAddress(vm, static_cast<ucell>(params[4]));
    if (x == nullptr || y == nullptr || z == nullptr) return 0;
    StoreScriptCell(x, 0, FloatToCell(actor->GetPosition().x));
    StoreScriptCell(y, 0, FloatToCell(actor->GetPosition().y));
    StoreScriptCell(z, 0, FloatToCell(actor->GetPosition().z));
    return 1;
}

// SetActorFacingAngle(actor, Float:angle)
cell n_SetActorFacingAngle(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 2);
    if (actor == nullptr || TheGameServer->GetPlayerPool() == nullptr) return 0;
    actor->SetFacingAngle(CellToFloat(params[2]));
    BitStream bs;
    bs.Write(actor->GetId());
    bs.Write(actor->GetFacingAngle());
    SendRpcToActorStreamers(*TheGameServer, actor->GetId(), RPC_ActorFacingAngleSet, bs);
    return 1;
}

// GetActorFacingAngle(actor, &Float:angle)
cell n_GetActorFacingAngle(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 2);
    return actor != nullptr && SetScriptCell(vm, params[2], FloatToCell(actor->GetFacingAngle())) ? 1 : 0;
}

// SetActorVirtualWorld(actor, world): the players' next streaming passes apply it.
cell n_SetActorVirtualWorld(VmInstance* vm, const cell* params) {
    if (ActorArg(vm, params, 2) == nullptr) return 0;
    Actors()->SetVirtualWorld(NativeId(params[1]), params[2]);
    return 1;
}

cell n_GetActorVirtualWorld(VmInstance* vm, const cell* params) {
    if (ActorArg(vm, params, 1) == nullptr) return 0;
    return Actors()->GetVirtualWorld(NativeId(params[1]));
}

// ApplyActorAnimation(actor, library[], name[], Float:delta, loop, lockX, lockY, freeze, time)
cell n_ApplyActorAnimation(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 9);
    if (actor == nullptr) return 0;
    // Read cut to the 64 characters an actor keeps.
    char library[kMaxActorAnimationName + 1] = {};
    char name[kMaxActorAnimationName + 1] = {};
    if (ReadScriptString(vm, params[2], library, sizeof library) == 0 ||
        ReadScriptString(vm, params[3], name, sizeof name) == 0)
        return 0;
    actor->ApplyAnimation(library, name, CellToFloat(params[4]), params[5] != 0, params[6] != 0,
                          params[7] != 0, params[8] != 0, params[9]);
    return 1;
}

cell n_ClearActorAnimations(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 1);
    if (actor == nullptr) return 0;
    actor->ClearAnimations();
    return 1;
}

// GetActorHealth(actor, &Float:health)
cell n_GetActorHealth(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 2);
    return actor != nullptr && SetScriptCell(vm, params[2], FloatToCell(actor->GetHealth())) ? 1 : 0;
}

// SetActorHealth(actor, Float:health)
cell n_SetActorHealth(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 2);
    if (actor == nullptr) return 0;
    actor->SetHealth(CellToFloat(params[2]));
    return 1;
}

// SetActorInvulnerable(actor, invulnerable): clients learn it at the next stream-in.
cell n_SetActorInvulnerable(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 2);
    if (actor == nullptr) return 0;
    actor->SetInvulnerable(params[2] != 0);
    return 1;
}

cell n_IsActorInvulnerable(VmInstance* vm, const cell* params) {
    Actor* actor = ActorArg(vm, params, 1);
    return actor != nullptr && actor->IsInvulnerable() ? 1 : 0;
}

const VmNativeEntry kActorNatives[] = {
    {"CreateActor", n_CreateActor},
    {"DestroyActor", n_DestroyActor},
    {"SetActorPos", n_SetActorPos},
    {"GetActorPos", n_GetActorPos},
    {"SetActorVirtualWorld", n_SetActorVirtualWorld},
    {"GetActorVirtualWorld", n_GetActorVirtualWorld},
    {"ApplyActorAnimation", n_ApplyActorAnimation},
    {"ClearActorAnimations", n_ClearActorAnimations},
    {"SetActorFacingAngle", n_SetActorFacingAngle},
    {"GetActorFacingAngle", n_GetActorFacingAngle},
    {"GetActorHealth", n_GetActorHealth},
    {"SetActorHealth", n_SetActorHealth},
    {"IsValidActor", n_IsValidActor},
    {"SetActorInvulnerable", n_SetActorInvulnerable},
    {"IsActorInvulnerable", n_IsActorInvulnerable},
};

}  // namespace

ScriptNativeRows ActorNatives() { return kActorNatives; }

}  // namespace velt
