#pragma once

// What the game server core needs of the script hosts: the gamemode host, the filterscript host,
// the script timers and the scripts' HTTP requests. The core holds these interfaces only; the
// virtual-machine hosts and the stand-in (ScriptServicesStandIn.h) implement them. Their
// dispatcher methods are expanded from the callback list (server/runtime/ScriptCallbacks.h).

#include <cstdint>
#include <memory>

#include "server/runtime/ScriptCallbacks.h"

namespace velt {

class ScriptPluginHooks;
class ScriptTimers;

class FilterScripts {
public:
    virtual ~FilterScripts() = default;

    // Loads "filterscripts/<name>.vmb" into the lowest free slot and runs its OnFilterScriptInit.
    // False when the slots are full, the name is loaded already or the file does not load.
    virtual bool LoadFilterScript(const char* name) = 0;
    // 1 when a script of that exact name was loaded and is now unloaded, else 0.
    virtual int UnloadFilterScript(const char* name) = 0;
    // A plugin's image in memory, loaded like a file script; 1 on success.
    virtual int LoadFilterScriptFromMemory(const char* name, const void* image) = 0;
    // Runs a public without arguments in every filterscript defining it; stops with 0 at the first
    // 0, else the last result (0 when none defines it).
    virtual int32_t CallPublic(const char* name) = 0;

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) virtual int32_t name params = 0;
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
};

// VELT_IF_GAMEMODE_SIDE_##gmKind(...) keeps its argument only for rows that have a gamemode
// dispatcher (all but the two the gamemode host runs itself), so hosts can expand their gamemode
// methods from the same list.
#define VELT_IF_GAMEMODE_SIDE_None(...)
#define VELT_IF_GAMEMODE_SIDE_Plain(...) __VA_ARGS__
#define VELT_IF_GAMEMODE_SIDE_PlayerTest(...) __VA_ARGS__
#define VELT_IF_GAMEMODE_SIDE_IgnoreResult(...) __VA_ARGS__
#define VELT_IF_GAMEMODE_SIDE_Chat(...) __VA_ARGS__

class GameMode {
public:
    virtual ~GameMode() = default;

    // Loads the gamemode at the path the rotation chose and runs its OnGameModeInit, then the
    // filterscripts'. The caller does not use the result.
    virtual int Load(const char* path) = 0;
    virtual bool IsLoaded() const = 0;
    // Per main-loop pass: counts a sleeping script down and resumes it.
    virtual void Process(float elapsedSeconds) = 0;
    // Runs a public without arguments; 0 when nothing is loaded or the public is missing.
    virtual int32_t CallPublic(const char* name) = 0;

#define VELT_X(name, params, args, fsInit, fsRule, gmInit, gmKind) \
    VELT_IF_GAMEMODE_SIDE_##gmKind(virtual int32_t name params = 0;)
    VELT_SCRIPT_CALLBACKS(VELT_X)
#undef VELT_X
};

class HttpRequestPool {
public:
    virtual ~HttpRequestPool() = default;
    // Per main-loop pass: hands every finished request to its script callback, then frees it.
    virtual void Process() = 0;
};

// How the game server creates the hosts it owns (it creates and deletes the gamemode host at
// every gamemode change).
class ScriptHostFactory {
public:
    virtual ~ScriptHostFactory() = default;
    virtual std::unique_ptr<GameMode> CreateGameMode() = 0;
    virtual std::unique_ptr<FilterScripts> CreateFilterScripts() = 0;
    virtual std::unique_ptr<ScriptTimers> CreateScriptTimers() = 0;
    virtual std::unique_ptr<HttpRequestPool> CreateHttpRequestPool() = 0;
    // The plugins the hosts tell of every script load and release; null for none. Hosts without
    // a machine have nothing to tell.
    virtual void SetPlugins(ScriptPluginHooks* /*plugins*/) {}
};

}  // namespace velt
