// World natives: the weather and gravity of everyone or the weather one player sees, explosions,
// a player's wanted level and fighting style, vehicle friendly fire; the degree-based math
// helpers; and the natives of features the server no longer has, which only log that.

#include <cmath>

#include "net/BitStream.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/PlayerPool.h"
#include "server/natives/NativeArgs.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// Degrees from radians with the single-precision pi the scripts' own float library uses, so
// results match theirs.
constexpr long double kDegreesPerRadian = 180.0L / static_cast<long double>(3.1415927f);

PlayerPool* Pool() { return TheGameServer != nullptr ? TheGameServer->GetPlayerPool() : nullptr; }

// ---- weather, gravity, explosions -------------------------------------------------------------

cell n_SetWeather(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->SetWeather(static_cast<uint8_t>(params[1] & 0xFF));
    return 1;
}

// SetPlayerWeather(player, weather): that player's sky only; nothing is kept.
cell n_SetPlayerWeather(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2) || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint8_t>(params[2] & 0xFF));
    TheGameServer->SendRpcToPlayer(RPC_WeatherSet, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

cell n_SetGravity(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->SetGravity(CellToFloat(params[1]));
    return 1;
}

// x, y, z, type, radius from params[first] on.
void WriteExplosion(BitStream& bs, const cell* params, int first) {
    const Vector3 at = VectorArg(params, first);
    bs.Write(at.x);
    bs.Write(at.y);
    bs.Write(at.z);
    bs.Write(static_cast<int32_t>(params[first + 3]));
    bs.Write(CellToFloat(params[first + 4]));
}

// CreateExplosion(Float:x, Float:y, Float:z, type, Float:radius)
cell n_CreateExplosion(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 5)) return 0;
    BitStream bs;
    WriteExplosion(bs, params, 1);
    TheGameServer->SendRpcToAll(RPC_ExplosionCreate, &bs, kNoPlayer, RpcChannel::World);
    return 1;
}

// CreateExplosionForPlayer(player, Float:x, Float:y, Float:z, type, Float:radius): 1 even when
// nobody is there to see it.
cell n_CreateExplosionForPlayer(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 6)) return 0;
    BitStream bs;
    WriteExplosion(bs, params, 2);
    TheGameServer->SendRpcToPlayer(RPC_ExplosionCreate, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

// ---- wanted level and fighting style ----------------------------------------------------------

// The record of a player id below 1000, connected or not yet freed.
Player* PlayerRecord(cell value) {
    PlayerPool* pool = Pool();
    const uint16_t id = NativeId(value);
    if (pool == nullptr || id >= kMaxPlayers) return nullptr;
    Player* player = pool->GetAt(id);
    return player != nullptr && !player->IsRetired() ? player : nullptr;
}

cell n_SetPlayerWantedLevel(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 2) ? PlayerRecord(params[1]) : nullptr;
    if (player == nullptr) return 0;
    const auto level = static_cast<uint8_t>(params[2] & 0xFF);
    player->SetWantedLevel(level);
    BitStream bs;
    bs.Write(level);
    TheGameServer->SendRpcToPlayer(RPC_WantedLevelSet, &bs, NativeId(params[1]), RpcChannel::World);
    return 1;
}

cell n_GetPlayerWantedLevel(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? PlayerRecord(params[1]) : nullptr;
    return player != nullptr ? player->GetWantedLevel() : 0;
}

constexpr int8_t kFightingStyles[] = {4, 5, 6, 7, 15, 16};
constexpr uint8_t kDefaultFightingStyle = 4;

// SetPlayerFightingStyle(player, style): 0 only for a style the game does not have.
cell n_SetPlayerFightingStyle(VmInstance* vm, const cell* params) {
    if (Pool() == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    const auto style = static_cast<int8_t>(params[2] & 0xFF);
    bool known = false;
    for (int8_t s : kFightingStyles) known = known || s == style;
    if (!known) return 0;
    Player* player = NativeConnectedPlayer(params[1]);
    if (player == nullptr) return 1;
    const uint16_t id = NativeId(params[1]);
    player->SetFightingStyle(static_cast<uint8_t>(style));
    BitStream bs;
    bs.Write(id);
    bs.Write(static_cast<uint8_t>(style));
    TheGameServer->SendRpcToPlayersStreamingPlayer(RPC_FightingStyleSet, &bs, id, RpcChannel::World);
    TheGameServer->SendRpcToPlayer(RPC_FightingStyleSet, &bs, id, RpcChannel::World);
    return 1;
}

cell n_GetPlayerFightingStyle(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 1) ? NativeConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? player->GetFightingStyle() : kDefaultFightingStyle;
}

// Told to each player who joins from now on.
cell n_EnableVehicleFriendlyFire(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    TheGameServer->world.vehicleFriendlyFire = 1;
    return 1;
}

// ---- math -------------------------------------------------------------------------------------

cell n_VectorSize(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const long double x = CellToFloat(params[1]);
    const long double y = CellToFloat(params[2]);
    const long double z = CellToFloat(params[3]);
    return FloatToCell(static_cast<float>(std::sqrt(x * x + y * y + z * z)));
}

template <long double (*Function)(long double)>
cell n_DegreesOf(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    const long double value = CellToFloat(params[1]);
    return FloatToCell(static_cast<float>(Function(value) * kDegreesPerRadian));
}

long double Asin(long double v) { return std::asin(v); }
long double Acos(long double v) { return std::acos(v); }
long double Atan(long double v) { return std::atan(v); }

// atan2(Float:y, Float:x)
cell n_atan2(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 2)) return 0;
    const long double y = CellToFloat(params[1]);
    const long double x = CellToFloat(params[2]);
    return FloatToCell(static_cast<float>(std::atan2(y, x) * kDegreesPerRadian));
}

// ---- removed features -------------------------------------------------------------------------

cell n_EnableTirePopping(VmInstance*, const cell*) {
    LogPrintf("EnableTirePopping() function is removed.");
    return 1;
}

cell n_SetDisabledWeapons(VmInstance*, const cell*) {
    LogPrintf("[warning] SetDisabledWeapons() : function is deprecated. Check weapon in OnPlayerUpdate.");
    return 1;
}

cell n_EnableZoneNames(VmInstance*, const cell*) {
    LogPrintf("[warning] EnableZoneNames() is removed since 0.3");
    return 1;
}

const VmNativeEntry kWorldNatives[] = {
    {"SetWeather", n_SetWeather},
    {"SetPlayerWeather", n_SetPlayerWeather},
    {"SetGravity", n_SetGravity},
    {"CreateExplosion", n_CreateExplosion},
    {"CreateExplosionForPlayer", n_CreateExplosionForPlayer},
    {"SetPlayerWantedLevel", n_SetPlayerWantedLevel},
    {"GetPlayerWantedLevel", n_GetPlayerWantedLevel},
    {"SetPlayerFightingStyle", n_SetPlayerFightingStyle},
    {"GetPlayerFightingStyle", n_GetPlayerFightingStyle},
    {"EnableVehicleFriendlyFire", n_EnableVehicleFriendlyFire},
    {"VectorSize", n_VectorSize},
    {"asin", n_DegreesOf<Asin>},
    {"acos", n_DegreesOf<Acos>},
    {"atan", n_DegreesOf<Atan>},
    {"atan2", n_atan2},
    {"EnableTirePopping", n_EnableTirePopping},
    {"SetDisabledWeapons", n_SetDisabledWeapons},
    {"EnableZoneNames", n_EnableZoneNames},
};

}  // namespace

ScriptNativeRows WorldNatives() { return kWorldNatives; }

}  // namespace velt
