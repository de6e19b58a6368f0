#include "server/natives/CoreNatives.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/Clock.h"
#include "server/console/Console.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/natives/ScriptFormat.h"
#include "server/runtime/ScriptArgs.h"
#include "server/runtime/ScriptIdentity.h"
#include "server/runtime/ScriptTimers.h"

namespace velt {

namespace {

std::string TextArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    return text;
}

// ---- printing and formatting ------------------------------------------------------------------

cell n_print(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    LogPrintf("%s", TextArg(vm, params[1]).c_str());
    return 0;
}

cell n_printf(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 1)) return 0;
    LogPrintf("%s", FormatScriptString(vm, params, 1, nullptr));
    return 0;
}

// format(output[], size, const format[], ...)
cell n_format(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, 3)) return 0;
    const char* text = FormatScriptString(vm, params, 3, nullptr);
    const cell size = params[2];
    if (size < 1) return 1;
    // Only the cells actually written must lie inside the script: the text, cut to size - 1
    // characters, and its terminator.
    const size_t length = std::min<size_t>(std::strlen(text), static_cast<size_t>(size) - 1);
    cell* dest = ScriptCellAddress(vm, static_cast<ucell>(params[1]), static_cast<int32_t>(length + 1));
    if (dest == nullptr) return 0;
    vm_SetString(dest, text, 0, 0, length + 1);
    return 1;
}

// ---- timers and the clock ---------------------------------------------------------------------

std::string TimerName(VmInstance* vm, cell address) {
    char name[kTimerNameMax + 1];
    ReadScriptString(vm, address, name, sizeof name);
    return name;
}

// SetTimer(const funcname[], interval, repeating)
cell n_SetTimer(VmInstance* vm, const cell* params) {
    VmScriptTimers* timers = CurrentScriptTimers();
    if (timers == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    return timers->CreateTimer(TimerName(vm, params[1]).c_str(), params[2], params[3] != 0, vm);
}

// SetTimerEx(const funcname[], interval, repeating, const format[], ...)
cell n_SetTimerEx(VmInstance* vm, const cell* params) {
    if (!CheckScriptParamCount(vm, params, kSetTimerExMinArgs, kSetTimerExMaxArgs)) return 0;
    VmScriptTimers* timers = CurrentScriptTimers();
    if (timers == nullptr || !HasNativeArgs(vm, params, kSetTimerExMinArgs)) return 0;
    return timers->CreateTimerEx(TimerName(vm, params[1]).c_str(), params[2], params[3] != 0, params, vm);
}

cell n_KillTimer(VmInstance* vm, const cell* params) {
    VmScriptTimers* timers = CurrentScriptTimers();
    if (timers == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    timers->KillTimer(params[1]);
    return 1;
}

cell n_GetTickCount(VmInstance*, const cell*) {
    const uint32_t now = TheGameServer != nullptr ? TheGameServer->GetTickMs() : GetTimeMs();
    return static_cast<cell>(now);
}

cell n_GetMaxPlayers(VmInstance*, const cell*) {
    return ServerConsole != nullptr ? ServerConsole->GetIntVariable("maxplayers") : 0;
}

// ---- world settings ---------------------------------------------------------------------------

cell n_LimitGlobalChatRadius(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.limitGlobalChatRadius = 1;
    TheGameServer->world.globalChatRadius = CellToFloat(params[1]);
    return 1;
}

cell n_LimitPlayerMarkerRadius(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.limitPlayerMarkerRadius = 1;
    TheGameServer->world.playerMarkerRadius = CellToFloat(params[1]);
    return 1;
}

cell n_SetDeathDropAmount(VmInstance* vm, const cell* params) {
    if (TheGameServer == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    TheGameServer->world.deathDropAmount = params[1];
    return 1;
}

cell n_GetGravity(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    return FloatToCell(TheGameServer->world.gravity);
}

// The team count is decided by the gamemode's own classes; the native is kept for old scripts.
cell n_SetTeamCount(VmInstance*, const cell*) { return 0; }

// ---- gamemode and console ---------------------------------------------------------------------

cell n_GameModeExit(VmInstance*, const cell*) {
    if (TheGameServer == nullptr) return 0;
    if (TheGameServer->SetNextGameMode(nullptr) != 0) {
        // Ended by the main loop once the current pass is over: the script that asked is still
        // running and must not be torn down under its own feet.
        GameModeChangePending.store(1);
        return 0;
    }
    LogPrintf("The gamemode finished and I couldn't start another script.");
    // Nothing of the game may run on without a gamemode. Flush and close what is open, then end
    // at once: destructors of a half-running server (its network thread included) are not run.
    std::fflush(nullptr);
    CloseLogFile();
    std::_Exit(1);
}

cell n_SetGameModeText(VmInstance* vm, const cell* params) {
    if (ServerConsole == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    ServerConsole->SetStringVariable("gamemodetext", TextArg(vm, params[1]).c_str());
    return 0;
}

cell n_SendRconCommand(VmInstance* vm, const cell* params) {
    if (ServerConsole == nullptr || !HasNativeArgs(vm, params, 1)) return 0;
    const std::string line = TextArg(vm, params[1]);
    if (!line.empty()) ServerConsole->Execute(line.c_str());
    return 1;
}

// ---- calling publics across scripts -----------------------------------------------------------

// Runs public `name` in `target` with the copied arguments; false when the script is gone, has no
// such public or its stack cannot take the arguments.
bool RunWithArgs(const ScriptRef& target, const char* name, const ScriptArgList& args, cell& result) {
    if (!IsScriptAlive(target)) return false;
    VmInstance* vm = target.instance;
    int index = -1;
    if (vm_LookupPublic(vm, name, &index) != VM_ERR_NONE) return false;
    ScriptArgFrame frame;
    if (!PushScriptArgs(vm, args, frame)) return false;
    ExecScript(vm, &result, index);
    if (IsScriptAlive(target)) ReleaseScriptArgs(vm, frame);
    return true;
}

// CallRemoteFunction / CallLocalFunction(const function[], const format[], ...)
cell CallFunction(VmInstance* vm, const cell* params, bool remote) {
    if (!CheckScriptParamCount(vm, params, kCallFunctionMinArgs, kCallFunctionMaxArgs)) return 0;
    if (!HasNativeArgs(vm, params, kCallFunctionMinArgs)) return 0;
    const std::string name = TextArg(vm, params[1]);
    if (name.empty()) return 0;
    // Read everything from the caller now: the publics that run may unload it.
    const ScriptArgList args = CopyScriptArgs(vm, params, 2);

    cell result = 0;
    if (!remote) {
        const ScriptRef self = LiveScriptRef(vm);
        return RunWithArgs(self, name.c_str(), args, result) ? result : 0;
    }
    ScriptRef scripts[kMaxLiveScripts];
    const size_t count = LiveScriptsInOrder(scripts, kMaxLiveScripts);
    for (size_t i = 0; i < count; ++i) {
        ScriptKind kind = ScriptKind::Other;
        // Every public run before may have loaded or unloaded scripts: each is checked afresh.
        if (!LiveScriptInfo(scripts[i].instance, &kind, nullptr)) continue;
        if (kind != ScriptKind::GameMode && kind != ScriptKind::FilterScript) continue;
        cell r = result;
        if (RunWithArgs(scripts[i], name.c_str(), args, r)) result = r;
    }
    return result;
}

cell n_CallRemoteFunction(VmInstance* vm, const cell* params) { return CallFunction(vm, params, true); }
cell n_CallLocalFunction(VmInstance* vm, const cell* params) { return CallFunction(vm, params, false); }

const VmNativeEntry kCoreNatives[] = {
    {"print", n_print},
    {"printf", n_printf},
    {"format", n_format},
    {"SetTimer", n_SetTimer},
    {"KillTimer", n_KillTimer},
    {"GetTickCount", n_GetTickCount},
    {"GetMaxPlayers", n_GetMaxPlayers},
    {"SetTimerEx", n_SetTimerEx},
    {"LimitGlobalChatRadius", n_LimitGlobalChatRadius},
    {"LimitPlayerMarkerRadius", n_LimitPlayerMarkerRadius},
    {"CallRemoteFunction", n_CallRemoteFunction},
    {"CallLocalFunction", n_CallLocalFunction},
    {"GameModeExit", n_GameModeExit},
    {"SetGameModeText", n_SetGameModeText},
    {"SetTeamCount", n_SetTeamCount},
    {"SendRconCommand", n_SendRconCommand},
    {"SetDeathDropAmount", n_SetDeathDropAmount},
    {"GetGravity", n_GetGravity},
};

}  // namespace

VmScriptTimers* CurrentScriptTimers() {
    if (TheGameServer == nullptr) return nullptr;
    return dynamic_cast<VmScriptTimers*>(TheGameServer->GetScriptTimers());
}

ScriptNativeRows CoreNatives() { return kCoreNatives; }

}  // namespace velt
