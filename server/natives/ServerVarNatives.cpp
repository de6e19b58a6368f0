#include "server/natives/ServerVarNatives.h"

#include <string>

namespace velt {

ServerVarTable& ServerVars() {
    static ServerVarTable table;
    return table;
}

namespace {

// The name argument; false (the native returns 0) when it is empty or unreadable.
bool NameArg(VmInstance* vm, cell address, std::string& name) {
    return ReadScriptString(vm, address, name) && !name.empty();
}

cell n_SetSVarInt(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 2) || !NameArg(vm, params[1], name)) return 0;
    return ServerVars().SetInt(name, params[2], false);
}

cell n_SetSVarString(VmInstance* vm, const cell* params) {
    std::string name;
    std::string value;
    if (!HasNativeArgs(vm, params, 2) || !NameArg(vm, params[1], name)) return 0;
    ReadScriptString(vm, params[2], value);
    return ServerVars().SetString(name, value, false);
}

cell n_SetSVarFloat(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 2) || !NameArg(vm, params[1], name)) return 0;
    return ServerVars().SetFloat(name, CellToFloat(params[2]), false);
}

cell n_GetSVarInt(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 1) || !NameArg(vm, params[1], name)) return 0;
    return ServerVars().GetInt(name);
}

// GetSVarString(name[], dest[], size): the destination is left as it was unless the variable
// holds a text.
cell n_GetSVarString(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 3) || !NameArg(vm, params[1], name)) return 0;
    const char* text = ServerVars().GetString(name);
    if (text == nullptr) return 0;
    return SetScriptString(vm, params[2], text, params[3]);
}

cell n_GetSVarFloat(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 1) || !NameArg(vm, params[1], name)) return 0;
    return FloatToCell(ServerVars().GetFloat(name));
}

cell n_DeleteSVar(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 1) || !NameArg(vm, params[1], name)) return 0;
    return ServerVars().Delete(name);
}

cell n_GetSVarType(VmInstance* vm, const cell* params) {
    std::string name;
    if (!HasNativeArgs(vm, params, 1) || !NameArg(vm, params[1], name)) return 0;
    return ServerVars().GetType(name);
}

// GetSVarNameAtIndex(index, dest[], size): a free row writes the empty text.
cell n_GetSVarNameAtIndex(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const PlayerVarEntry* row = ServerVars().GetAt(params[1]);
    if (row == nullptr) {
        SetScriptString(vm, params[2], "", params[3]);
        return 0;
    }
    return SetScriptString(vm, params[2], row->name, params[3]);
}

cell n_GetSVarsUpperIndex(VmInstance*, const cell*) { return ServerVars().UpperIndex(); }

const VmNativeEntry kServerVarNatives[] = {
    {"SetSVarInt", n_SetSVarInt},
    {"SetSVarString", n_SetSVarString},
    {"SetSVarFloat", n_SetSVarFloat},
    {"GetSVarInt", n_GetSVarInt},
    {"GetSVarString", n_GetSVarString},
    {"GetSVarFloat", n_GetSVarFloat},
    {"DeleteSVar", n_DeleteSVar},
    {"GetSVarType", n_GetSVarType},
    {"GetSVarNameAtIndex", n_GetSVarNameAtIndex},
    {"GetSVarsUpperIndex", n_GetSVarsUpperIndex},
};

}  // namespace

ScriptNativeRows ServerVarNatives() { return kServerVarNatives; }

}  // namespace velt
