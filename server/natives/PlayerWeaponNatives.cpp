// The natives of a player's weapons: what he carries and holds as his client last reported it,
// the weapons and ammunition scripts give, set or take away (sent, not stored: the client's next
// report says what he has), whom he aims at, weapon names and weapon skills.
//
// Player ids are the low 16 bits of their cell; a bad id or a player who is not connected gives
// the native's failure value at once, without a log line.

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/game/Player.h"
#include "server/game/WeaponNames.h"
#include "server/natives/NativeIds.h"
#include "server/natives/PlayerNativeArgs.h"
#include "server/natives/ScriptNatives.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

constexpr cell kHighestNamedWeapon = 54;

// Clients count ammunition in 16 bits; scripts see the count signed.
cell AmmoCell(int32_t ammo) { return static_cast<int16_t>(static_cast<uint16_t>(ammo)); }

// GetPlayerAmmo(player): the ammunition of the slot of the weapon he holds.
cell n_GetPlayerAmmo(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    const int slot = Player::GetWeaponSlot(player->GetArmedWeapon());
    return slot >= 0 ? AmmoCell(player->GetAmmo(slot)) : 0;
}

// SetPlayerAmmo(player, weapon, ammo)
cell n_SetPlayerAmmo(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 3) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint8_t>(params[2]));
    bs.Write(static_cast<uint16_t>(params[3]));
    SendToPlayer(RPC_PlayerAmmoSet, bs, params[1]);
    return 1;
}

// GetPlayerWeaponData(player, slot, &weapon, &ammo): slot is read as its low byte.
cell n_GetPlayerWeaponData(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 4);
    const int slot = static_cast<uint8_t>(params[2]);
    if (player == nullptr || slot >= kWeaponSlots) return 0;
    const bool wrote = SetScriptCell(vm, params[3], player->GetWeapon(slot)) &&
                       SetScriptCell(vm, params[4], AmmoCell(player->GetAmmo(slot)));
    return wrote ? 1 : 0;
}

cell n_ResetPlayerWeapons(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 1) == nullptr) return 0;
    SendToPlayer(RPC_PlayerWeaponsReset, BitStream(), params[1]);
    return 1;
}

// GivePlayerWeapon(player, weapon, ammo)
cell n_GivePlayerWeapon(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 3) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    bs.Write(static_cast<uint32_t>(params[3]));
    SendToPlayer(RPC_PlayerWeaponGive, bs, params[1]);
    return 1;
}

// SetPlayerArmedWeapon(player, weapon)
cell n_SetPlayerArmedWeapon(VmInstance* vm, const cell* params) {
    if (PlayerArg(vm, params, 2) == nullptr) return 0;
    BitStream bs;
    bs.Write(static_cast<uint32_t>(params[2]));
    SendToPlayer(RPC_ArmedWeaponSet, bs, params[1]);
    return 1;
}

// GetPlayerWeapon(player): the weapon of his last on-foot record.
cell n_GetPlayerWeapon(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetOnFootSync().weaponId & 0x3F : -1;
}

// GetPlayerWeaponState(player): from his aim record, and only while he is on foot.
cell n_GetPlayerWeaponState(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    if (player == nullptr) return 0;
    if (player->GetState() != PLAYER_STATE_ONFOOT) return -1;
    return player->GetAimSync().weaponState & 0x03;
}

cell n_GetPlayerTargetPlayer(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetTargetPlayer() : kNoPlayer;
}

cell n_GetPlayerTargetActor(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 1);
    return player != nullptr ? player->GetTargetActor() : kNoActor;
}

// GetWeaponName(weapon, name[], size): a negative weapon passes the limit test and has no name,
// so it writes the empty text.
cell n_GetWeaponName(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3) || params[1] > kHighestNamedWeapon) return 0;
    return SetScriptString(vm, params[2], GetWeaponName(static_cast<uint32_t>(params[1])), params[3]);
}

// SetPlayerSkillLevel(player, skill, level): a skill outside 0..10 changes nothing and still
// answers 1.
cell n_SetPlayerSkillLevel(VmInstance* vm, const cell* params) {
    Player* player = PlayerArg(vm, params, 3);
    if (player == nullptr) return 0;
    player->SetSkillLevel(params[2], static_cast<uint16_t>(params[3]));
    return 1;
}

const VmNativeEntry kPlayerWeaponNatives[] = {
    {"ResetPlayerWeapons", n_ResetPlayerWeapons},
    {"GivePlayerWeapon", n_GivePlayerWeapon},
    {"SetPlayerArmedWeapon", n_SetPlayerArmedWeapon},
    {"GetPlayerWeapon", n_GetPlayerWeapon},
    {"GetPlayerAmmo", n_GetPlayerAmmo},
    {"SetPlayerAmmo", n_SetPlayerAmmo},
    {"GetPlayerTargetPlayer", n_GetPlayerTargetPlayer},
    {"GetPlayerTargetActor", n_GetPlayerTargetActor},
    {"GetPlayerWeaponData", n_GetPlayerWeaponData},
    {"GetPlayerWeaponState", n_GetPlayerWeaponState},
    {"GetWeaponName", n_GetWeaponName},
    {"SetPlayerSkillLevel", n_SetPlayerSkillLevel},
};

}  // namespace

ScriptNativeRows PlayerWeaponNatives() { return kPlayerWeaponNatives; }

}  // namespace velt
