#pragma once

// What the script hosts need of the rest of the server: the player pool's connected test and chat
// broadcast, the script timers, the database natives and the plugins, and the filterscript host
// (the gamemode host walks the filterscripts for OnGameModeInit and OnGameModeExit). The game
// server implements it; every method has a harmless default so tests and the bot program override
// only what they use.

#include <cstddef>
#include <cstdint>

#include "server/hosts/PluginHooks.h"
#include "server/vm/vm.h"

namespace velt {

class FilterScripts;

class ScriptHostEnv {
public:
    virtual ~ScriptHostEnv() = default;

    // A player id below 1000 whose slot is in use.
    virtual bool IsPlayerConnected(int32_t /*playerid*/) { return false; }
    // The gamemode's chat line after a non-zero OnPlayerText: to every player, or to those within
    // the chat radius when that limit is on. `text` holds `length` bytes plus a terminator.
    virtual void BroadcastChat(int32_t /*playerid*/, const char* /*text*/, size_t /*length*/) {}
    // Drops every pending timer of the script.
    virtual void RemoveScriptTimers(VmInstance* /*inst*/) {}
    // The script database natives: registered after the server's natives, cleaned up per script.
    virtual void RegisterDatabaseNatives(VmInstance* /*inst*/) {}
    virtual void DatabaseNativesCleanup(VmInstance* /*inst*/) {}
    virtual ScriptPluginHooks& Plugins() { return NoScriptPluginHooks(); }
    // The filterscript host, or null while there is none.
    virtual FilterScripts* GetFilterScripts() { return nullptr; }
    // A filterscript host made with this environment comes and goes (it tells its environment
    // from its constructor and destructor).
    virtual void FilterScriptsCreated(FilterScripts* /*host*/) {}
    virtual void FilterScriptsDestroyed(FilterScripts* /*host*/) {}
};

}  // namespace velt

namespace velt {

// The registrations of every script load, in their fixed order: the machine's core, float, string,
// file and time libraries, the server's natives, the database natives, then each plugin's VmLoad.
// Natives still unbound after all of them are named in the log, under the script's `file`.
void BindScriptNatives(VmInstance* inst, ScriptHostEnv& env, const char* file);

// The order in which an unloaded script's per-script clean-ups run after its release.
enum class ScriptCleanupOrder : uint8_t {
    DatabaseFirst,  // gamemode: database natives, then time, file, string, float, core
    DatabaseLast,   // filterscript: time, file, string, float, core, then database natives
};

// Releases an unloaded script: plugins' VmUnload while the script is still intact, FreeScript, the
// clean-ups in the given order, then `deleteInstance` (the instance's owner frees the record).
// Runs at once, or once the script's last run has returned when it is running now.
void ReleaseUnloadedScript(VmInstance* inst, ScriptHostEnv& env, ScriptCleanupOrder order,
                           void (*deleteInstance)(VmInstance*));

}  // namespace velt
