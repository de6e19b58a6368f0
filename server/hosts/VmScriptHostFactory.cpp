#include "server/hosts/VmScriptHostFactory.h"

#include <algorithm>

#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/PluginApi.h"
#include "server/hosts/FilterScriptHost.h"
#include "server/hosts/GameModeHost.h"
#include "server/natives/DatabaseNatives.h"
#include "server/natives/ScriptHttpRequests.h"
#include "server/runtime/ScriptTimers.h"
#include "server/vm/ScriptLoader.h"

namespace velt {

bool GameServerScriptEnv::IsPlayerConnected(int32_t playerid) {
    if (TheGameServer == nullptr || playerid < 0 || playerid >= kMaxPlayerId) return false;
    PlayerPool* pool = TheGameServer->GetPlayerPool();
    return pool != nullptr && pool->IsConnected(static_cast<uint16_t>(playerid));
}

void GameServerScriptEnv::BroadcastChat(int32_t playerid, const char* text, size_t length) {
    if (!IsPlayerConnected(playerid) || text == nullptr) return;
    Player* player = TheGameServer->GetPlayerPool()->GetAt(static_cast<uint16_t>(playerid));
    if (player == nullptr) return;
    player->BroadcastChat(text, static_cast<uint8_t>(std::min<size_t>(length, 255)));
}

void GameServerScriptEnv::RemoveScriptTimers(VmInstance* inst) {
    if (TheGameServer == nullptr) return;
    if (auto* timers = dynamic_cast<VmScriptTimers*>(TheGameServer->GetScriptTimers()))
        timers->RemoveScriptTimers(inst);
}

void GameServerScriptEnv::RegisterDatabaseNatives(VmInstance* inst) { velt::RegisterDatabaseNatives(inst); }

void GameServerScriptEnv::DatabaseNativesCleanup(VmInstance* inst) { velt::DatabaseNativesCleanup(inst); }

VmScriptHostFactory::VmScriptHostFactory() { SetScriptLogFunction(&LogPrintf); }

namespace {

void* DatabaseForHandle(uint32_t handle) { return DatabaseConnectionForHandle(handle); }
void* DatabaseResultForPlugin(uint32_t handle) { return DatabaseResultForHandle(handle); }

}  // namespace

void VmScriptHostFactory::SetPlugins(ScriptPluginHooks* plugins) {
    env_.SetPlugins(plugins);
    if (plugins == nullptr) return;
    plugin::HandleLookupFn connection = &DatabaseForHandle;
    plugin::HandleLookupFn result = &DatabaseResultForPlugin;
    plugins->ProvideDataWord(plugin::kDataDatabaseForHandle, reinterpret_cast<void*>(connection));
    plugins->ProvideDataWord(plugin::kDataDatabaseResultForHandle, reinterpret_cast<void*>(result));
}

std::unique_ptr<GameMode> VmScriptHostFactory::CreateGameMode() { return std::make_unique<VmGameMode>(env_); }

std::unique_ptr<FilterScripts> VmScriptHostFactory::CreateFilterScripts() {
    return std::make_unique<VmFilterScripts>(env_);
}

std::unique_ptr<ScriptTimers> VmScriptHostFactory::CreateScriptTimers() {
    // Timers run their publics only while the server has a gamemode host.
    return std::make_unique<VmScriptTimers>(
        [] { return TheGameServer != nullptr && TheGameServer->GetGameMode() != nullptr; });
}

std::unique_ptr<HttpRequestPool> VmScriptHostFactory::CreateHttpRequestPool() {
    return std::make_unique<ScriptHttpRequests>();
}

}  // namespace velt
