// The per-player variable natives: named integers, floats and texts that any script (gamemode or
// filterscript) keeps on a connected player, shared between all of them and dropped when he
// leaves. The rules (upper-cased names of at most 40 characters, 800 rows, read-only rows) are
// those of the player's variable table.
//
// Player ids are the low 16 bits of their cell; a bad id, a player who is not connected or an
// empty name gives 0 (0.0 for GetPVarFloat) at once, without a log line.

#include <string>

#include "server/game/Player.h"
#include "server/natives/NativeIds.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

// The player's variables when params[1] names a connected player and the call has `args`
// arguments, else null.
PlayerVars* VarsOf(VmInstance* vm, const cell* params, int32_t args) {
    Player* player = HasNativeArgs(vm, params, args) ? NativeConnectedPlayer(params[1]) : nullptr;
    return player != nullptr ? &player->Variables() : nullptr;
}

// The same, also requiring a name at params[2] that is not empty.
PlayerVars* VarsAndName(VmInstance* vm, const cell* params, int32_t args, std::string& name) {
    PlayerVars* vars = VarsOf(vm, params, args);
    return vars != nullptr && ReadScriptString(vm, params[2], name) && !name.empty() ? vars : nullptr;
}

cell n_SetPVarInt(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 3, name);
    return vars != nullptr ? vars->SetInt(name, params[3], false) : 0;
}

// SetPVarString(player, name[], value[]): an empty value is stored as the empty text.
cell n_SetPVarString(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 3, name);
    if (vars == nullptr) return 0;
    std::string value;
    ReadScriptString(vm, params[3], value);
    return vars->SetString(name, value, false);
}

cell n_SetPVarFloat(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 3, name);
    return vars != nullptr ? vars->SetFloat(name, CellToFloat(params[3]), false) : 0;
}

cell n_GetPVarInt(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 2, name);
    return vars != nullptr ? vars->GetInt(name) : 0;
}

cell n_GetPVarFloat(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 2, name);
    return FloatToCell(vars != nullptr ? vars->GetFloat(name) : 0.0f);
}

// GetPVarString(player, name[], dest[], size): dest is left as it was unless the variable holds a
// text.
cell n_GetPVarString(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 4, name);
    const char* text = vars != nullptr ? vars->GetString(name) : nullptr;
    return text != nullptr ? SetScriptString(vm, params[3], text, params[4]) : 0;
}

cell n_DeletePVar(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 2, name);
    return vars != nullptr ? vars->Delete(name) : 0;
}

cell n_GetPVarType(VmInstance* vm, const cell* params) {
    std::string name;
    PlayerVars* vars = VarsAndName(vm, params, 2, name);
    return vars != nullptr ? vars->GetType(name) : PLAYER_VARTYPE_NONE;
}

// GetPVarNameAtIndex(player, index, dest[], size): a free row writes the empty text.
cell n_GetPVarNameAtIndex(VmInstance* vm, const cell* params) {
    PlayerVars* vars = VarsOf(vm, params, 4);
    if (vars == nullptr) return 0;
    const PlayerVarEntry* row = vars->GetAt(params[2]);
    if (row == nullptr) {
        SetScriptString(vm, params[3], "", params[4]);
        return 0;
    }
    return SetScriptString(vm, params[3], row->name, params[4]);
}

cell n_GetPVarsUpperIndex(VmInstance* vm, const cell* params) {
    PlayerVars* vars = VarsOf(vm, params, 1);
    return vars != nullptr ? vars->UpperIndex() : 0;
}

const VmNativeEntry kPlayerVarNatives[] = {
    {"SetPVarInt", n_SetPVarInt},
    {"SetPVarString", n_SetPVarString},
    {"SetPVarFloat", n_SetPVarFloat},
    {"GetPVarInt", n_GetPVarInt},
    {"GetPVarString", n_GetPVarString},
    {"GetPVarFloat", n_GetPVarFloat},
    {"DeletePVar", n_DeletePVar},
    {"GetPVarType", n_GetPVarType},
    {"GetPVarNameAtIndex", n_GetPVarNameAtIndex},
    {"GetPVarsUpperIndex", n_GetPVarsUpperIndex},
};

}  // namespace

ScriptNativeRows PlayerVarNatives() { return kPlayerVarNatives; }

}  // namespace velt
