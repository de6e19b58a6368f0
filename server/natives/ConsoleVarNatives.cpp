// The natives that read the server's console variables. Each behaviour answers to two names, the
// console's and the older server-variable one. A missing variable, one of another type or an
// empty name reads as empty, 0 or false.

#include <string>

#include "server/console/Console.h"
#include "server/game/GameServer.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

const Console* TheConsole() {
    return TheGameServer != nullptr ? &TheGameServer->GetConsole() : ServerConsole;
}

// The variable name of a call, empty for a bad address.
std::string NameArg(VmInstance* vm, cell address) {
    std::string name;
    ReadScriptString(vm, address, name);
    return name;
}

// (const name[], buffer[], size): the characters written.
cell n_GetConsoleVarAsString(VmInstance* vm, const cell* params) {
    const Console* console = TheConsole();
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const std::string name = NameArg(vm, params[1]);
    const char* value =
        console != nullptr && !name.empty() ? console->GetStringVariable(name.c_str()) : nullptr;
    return SetScriptString(vm, params[2], value != nullptr ? value : "", params[3]);
}

cell n_GetConsoleVarAsInt(VmInstance* vm, const cell* params) {
    const Console* console = TheConsole();
    if (console == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const std::string name = NameArg(vm, params[1]);
    return name.empty() ? 0 : console->GetIntVariable(name.c_str());
}

cell n_GetConsoleVarAsBool(VmInstance* vm, const cell* params) {
    const Console* console = TheConsole();
    if (console == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const std::string name = NameArg(vm, params[1]);
    return name.empty() ? 0 : console->GetBoolVariable(name.c_str());
}

const VmNativeEntry kConsoleVarNatives[] = {
    {"GetConsoleVarAsString", n_GetConsoleVarAsString}, {"GetServerVarAsString", n_GetConsoleVarAsString},
    {"GetConsoleVarAsInt", n_GetConsoleVarAsInt},       {"GetServerVarAsInt", n_GetConsoleVarAsInt},
    {"GetConsoleVarAsBool", n_GetConsoleVarAsBool},     {"GetServerVarAsBool", n_GetConsoleVarAsBool},
};

}  // namespace

ScriptNativeRows ConsoleVarNatives() { return kConsoleVarNatives; }

}  // namespace velt
