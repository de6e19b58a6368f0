#include "server/protocol/ClassSpawnDeath.h"

#include "net/BitStream.h"
#include "net/NetServerInterface.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/RpcCall.h"

namespace velt {

void RpcClassRequest(RpcCallParams* params) {
    uint16_t id = kNoPlayer;
    Player* player = RpcRunningSender(params, false, id);
    BitStream bs;
    if (player == nullptr || !OpenRpcPayload(params, bs)) return;
    int32_t requested = 0;
    if (!bs.Read(requested) || uint32_t(requested) > kMaxRequestableClass) return;
    GameServer& server = *TheGameServer;
    const uint32_t index = uint32_t(requested);
    player->SetClassIndex(index);
    if (const SpawnInfo* spawn = server.GetPlayerClass(index)) player->SetSpawnInfo(*spawn);

    // Every filterscript hears of the choice; only the gamemode decides.
    const CallbackOutcome choice = RaiseCallback(
        server, {.loadedGameModeOnly = true}, [&] { return StillConnected(server, id); },
        [&](auto& side) { return side.OnPlayerRequestClass(id, requested); });
    if (choice.secondSkipped || !StillConnected(server, id)) return;
    const int32_t answer = choice.gameModeRan ? choice.result : 1;

    BitStream reply;
    reply.Write(uint8_t(answer));
    // The record as it stands now: a script may have set it while the request ran.
    WriteSpawnInfo(reply, player->GetSpawnInfo());
    SendRpcAnswer(server, id, RPC_ClassRequest, reply);
}

void RpcSpawnRequest(RpcCallParams* params) {
    uint16_t id = kNoPlayer;
    Player* player = RpcRunningSender(params, true, id);
    if (player == nullptr) return;
    GameServer& server = *TheGameServer;
    // A filterscript's 0 refuses at once; else the gamemode decides, when one is loaded.
    const CallbackOutcome request = RaiseCallback(
        server, {.stop = CallbackStop::AtZero, .initial = 1, .loadedGameModeOnly = true},
        [&] { return StillConnected(server, id); },
        [&](auto& side) { return side.OnPlayerRequestSpawn(id); });
    if (!StillConnected(server, id)) return;
    const int32_t answer = request.result;
    if (answer != 0) player->SetSpawnAllowed(true);
    BitStream reply;
    reply.Write(uint8_t(answer != 0 ? 1 : 0));
    SendRpcAnswer(server, id, RPC_SpawnRequest, reply);
}

void RpcPlayerSpawned(RpcCallParams* params) {
    uint16_t id = kNoPlayer;
    Player* player = RpcRunningSender(params, false, id);
    if (player == nullptr || !player->HasSpawnInfo() || player->GetClassIndex() > kMaxPlayerClasses) return;
    GameServer& server = *TheGameServer;
    PlayerPool* pool = server.GetPlayerPool();
    if (!pool->IsBot(id) && !player->IsSpawnAllowed()) {
        // A client that spawns without leave is cheating its way past the scripts.
        if (NetServerInterface* net = server.GetNetServer()) {
            char ip[PlayerID::kStringSize];
            PlayerID address = net->GetPlayerIDFromIndex(id);
            if (address != UNASSIGNED_PLAYER_ID)
                net->AddToBanList(address.ToString(false, ip, sizeof ip), kUnallowedSpawnBanMs);
        }
        server.KickPlayer(id);
        return;
    }
    player->Spawn();
    if (!StillConnected(server, id)) return;
    RaiseCallback(
        server, {}, [&] { return StillConnected(server, id); },
        [&](auto& side) { return side.OnPlayerSpawn(id); });
}

void RpcDeathReport(RpcCallParams* params) {
    uint16_t id = kNoPlayer;
    Player* player = RpcRunningSender(params, false, id);
    BitStream bs;
    if (player == nullptr || !OpenRpcPayload(params, bs)) return;
    uint8_t reason = 0;
    uint16_t killer = kNoPlayer;
    if (!bs.Read(reason) || !bs.Read(killer)) return;
    // A killer who is no player is no killer, for the log line and for the scripts alike.
    PlayerPool* pool = TheGameServer->GetPlayerPool();
    if (killer >= kMaxPlayers || !pool->IsConnected(killer)) killer = kNoPlayer;
    player->Die(reason, killer);
}

}  // namespace velt
