#include "server/natives/GangZoneNatives.h"

#include "server/natives/WorldNativeArgs.h"
#include "server/world/GangZonePool.h"

namespace velt {

namespace {

GangZonePool* Zones() { return TheGameServer != nullptr ? TheGameServer->GetGangZonePool() : nullptr; }

// The pool when the id argument names one of its zones, else null.
GangZonePool* PoolWith(cell zone) {
    GangZonePool* pool = Zones();
    return pool != nullptr && pool->Exists(NativeId(zone)) ? pool : nullptr;
}

// GangZoneCreate(Float:minx, Float:miny, Float:maxx, Float:maxy): the id; -1 when full or without
// a pool.
cell n_GangZoneCreate(VmInstance* vm, const cell* params) {
    GangZonePool* pool = Zones();
    if (pool == nullptr || !HasNativeArgs(vm, params, 4)) return -1;
    const uint16_t id = pool->Create(
        {CellToFloat(params[1]), CellToFloat(params[2]), CellToFloat(params[3]), CellToFloat(params[4])});
    return id != kNoGangZone ? id : -1;
}

cell n_GangZoneDestroy(VmInstance* vm, const cell* params) {
    GangZonePool* pool = HasNativeArgs(vm, params, 1) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    pool->Destroy(NativeId(params[1]));
    return 1;
}

// (player, zone, colour): show and flash for one player.
template <void (GangZonePool::*act)(uint16_t player, uint16_t id, uint32_t colour)>
cell n_ZoneColourForPlayer(VmInstance* vm, const cell* params) {
    GangZonePool* pool = HasNativeArgs(vm, params, 3) ? PoolWith(params[2]) : nullptr;
    if (pool == nullptr || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    (pool->*act)(NativeId(params[1]), NativeId(params[2]), ucell(params[3]));
    return 1;
}

// (zone, colour): show and flash for all.
template <void (GangZonePool::*act)(uint16_t id, uint32_t colour)>
cell n_ZoneColourForAll(VmInstance* vm, const cell* params) {
    GangZonePool* pool = HasNativeArgs(vm, params, 2) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    (pool->*act)(NativeId(params[1]), ucell(params[2]));
    return 1;
}

// (player, zone): hide and stop flashing for one player.
template <void (GangZonePool::*act)(uint16_t player, uint16_t id)>
cell n_ZoneForPlayer(VmInstance* vm, const cell* params) {
    GangZonePool* pool = HasNativeArgs(vm, params, 2) ? PoolWith(params[2]) : nullptr;
    if (pool == nullptr || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    (pool->*act)(NativeId(params[1]), NativeId(params[2]));
    return 1;
}

// (zone): hide and stop flashing for all.
template <void (GangZonePool::*act)(uint16_t id)>
cell n_ZoneForAll(VmInstance* vm, const cell* params) {
    GangZonePool* pool = HasNativeArgs(vm, params, 1) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    (pool->*act)(NativeId(params[1]));
    return 1;
}

const VmNativeEntry kGangZoneNatives[] = {
    {"GangZoneCreate", n_GangZoneCreate},
    {"GangZoneDestroy", n_GangZoneDestroy},
    {"GangZoneShowForPlayer", n_ZoneColourForPlayer<&GangZonePool::ShowForPlayer>},
    {"GangZoneShowForAll", n_ZoneColourForAll<&GangZonePool::ShowForAll>},
    {"GangZoneHideForPlayer", n_ZoneForPlayer<&GangZonePool::HideForPlayer>},
    {"GangZoneHideForAll", n_ZoneForAll<&GangZonePool::HideForAll>},
    {"GangZoneFlashForPlayer", n_ZoneColourForPlayer<&GangZonePool::FlashForPlayer>},
    {"GangZoneFlashForAll", n_ZoneColourForAll<&GangZonePool::FlashForAll>},
    {"GangZoneStopFlashForPlayer", n_ZoneForPlayer<&GangZonePool::StopFlashForPlayer>},
    {"GangZoneStopFlashForAll", n_ZoneForAll<&GangZonePool::StopFlashForAll>},
};

}  // namespace

ScriptNativeRows GangZoneNatives() { return kGangZoneNatives; }

}  // namespace velt
