#pragma once

// The script hosts of the production server: the virtual-machine gamemode and filterscript hosts
// and the script timers, wired to the running game server (TheGameServer) for the player pool,
// the chat broadcast, the timers and the filterscript walk. The program hands one of these to
// RunServer in place of the stand-in.

#include <memory>

#include "server/game/ScriptServices.h"
#include "server/hosts/ScriptHostEnv.h"

namespace velt {

// What the hosts ask of the server, answered from TheGameServer (nothing while it is absent). The
// filterscript host is the one this environment made: the gamemode's exit during the server's
// teardown, when TheGameServer is already cleared, still reaches the filterscripts.
class GameServerScriptEnv : public ScriptHostEnv {
public:
    bool IsPlayerConnected(int32_t playerid) override;
    void BroadcastChat(int32_t playerid, const char* text, size_t length) override;
    void RemoveScriptTimers(VmInstance* inst) override;
    void RegisterDatabaseNatives(VmInstance* inst) override;
    void DatabaseNativesCleanup(VmInstance* inst) override;
    FilterScripts* GetFilterScripts() override { return filterScripts_; }
    ScriptPluginHooks& Plugins() override { return plugins_ != nullptr ? *plugins_ : NoScriptPluginHooks(); }
    void SetPlugins(ScriptPluginHooks* plugins) { plugins_ = plugins; }
    void FilterScriptsCreated(FilterScripts* host) override { filterScripts_ = host; }
    void FilterScriptsDestroyed(FilterScripts* host) override {
        if (filterScripts_ == host) filterScripts_ = nullptr;
    }

private:
    FilterScripts* filterScripts_ = nullptr;
    ScriptPluginHooks* plugins_ = nullptr;
};

class VmScriptHostFactory : public ScriptHostFactory {
public:
    // Sends the scripts' runtime-error lines to the server log.
    VmScriptHostFactory();

    std::unique_ptr<GameMode> CreateGameMode() override;
    std::unique_ptr<FilterScripts> CreateFilterScripts() override;
    std::unique_ptr<ScriptTimers> CreateScriptTimers() override;
    std::unique_ptr<HttpRequestPool> CreateHttpRequestPool() override;
    // Also gives the plugins the database handle lookups of their data table.
    void SetPlugins(ScriptPluginHooks* plugins) override;

    ScriptHostEnv& Env() { return env_; }

private:
    GameServerScriptEnv env_;
};

}  // namespace velt
