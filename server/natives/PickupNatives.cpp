#include "server/natives/PickupNatives.h"

#include "server/game/GameServer.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

PickupPool* Pickups() { return TheGameServer != nullptr ? TheGameServer->GetPickupPool() : nullptr; }

// (model, type, Float:x, Float:y, Float:z, virtualWorld) into the pool: the new id, or kNoPickup.
int32_t CreateFromArgs(PickupPool& pickups, const cell* params) {
    const Vector3 position{CellToFloat(params[3]), CellToFloat(params[4]), CellToFloat(params[5])};
    return pickups.Create(params[1], params[2], position, params[6]);
}

// CreatePickup(model, type, Float:x, Float:y, Float:z, virtualWorld): the id, -1 when full, 0
// without a pool.
cell n_CreatePickup(VmInstance* vm, const cell* params) {
    PickupPool* pickups = Pickups();
    if (pickups == nullptr || !HasNativeArgs(vm, params, 6)) return 0;
    return CreateFromArgs(*pickups, params);
}

// AddStaticPickup(model, type, Float:x, Float:y, Float:z, virtualWorld): 1 when created.
cell n_AddStaticPickup(VmInstance* vm, const cell* params) {
    PickupPool* pickups = Pickups();
    if (pickups == nullptr || !HasNativeArgs(vm, params, 6)) return 0;
    return CreateFromArgs(*pickups, params) != kNoPickup ? 1 : 0;
}

// DestroyPickup(pickup)
cell n_DestroyPickup(VmInstance* vm, const cell* params) {
    PickupPool* pickups = Pickups();
    if (pickups == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    return pickups->Destroy(params[1]);
}

const VmNativeEntry kPickupNatives[] = {
    {"AddStaticPickup", n_AddStaticPickup},
    {"CreatePickup", n_CreatePickup},
    {"DestroyPickup", n_DestroyPickup},
};

}  // namespace

ScriptNativeRows PickupNatives() { return kPickupNatives; }

}  // namespace velt
