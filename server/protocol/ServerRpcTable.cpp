#include "server/protocol/ServerRpcTable.h"

#include "net/NetServerInterface.h"
#include "server/console/Log.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/ScriptServices.h"
#include "server/protocol/ChatCommands.h"
#include "server/protocol/ClassSpawnDeath.h"
#include "server/protocol/InGameRcon.h"
#include "server/protocol/JoinHandlers.h"

namespace velt {

namespace {

NetServerInterface* g_rpcServer = nullptr;

constexpr uint16_t kMaxPlayerSlots = 1000;

}  // namespace

// The vehicle, report and editing handlers come with their own work; the ids and their order are
// fixed here.
const ServerRpcEntry kServerRpcs[kServerRpcCount] = {
    {RPC_NetStats, nullptr},
    {RPC_InteriorChange, nullptr},
    {RPC_VehicleModEvent, nullptr},
    {RPC_ScriptCash, nullptr},
    {RPC_MapClick, nullptr},
    {RPC_VehicleDestroyed, nullptr},
    {RPC_ValueRelayRequest, nullptr},
    {RPC_PickupPickedUp, nullptr},
    {RPC_MenuRowSelect, nullptr},
    {RPC_MenuExit, nullptr},
    {RPC_DialogResponse, RpcDialogResponse},
    {RPC_PlayerClick, nullptr},
    {RPC_PlayerJoin, RpcPlayerJoin},
    {RPC_NpcJoin, RpcNpcJoin},
    {RPC_ChatText, RpcChatText},
    {RPC_ClassRequest, RpcClassRequest},
    {RPC_SpawnRequest, RpcSpawnRequest},
    {RPC_PlayerSpawned, RpcPlayerSpawned},
    {RPC_DeathReport, RpcDeathReport},
    {RPC_VehicleDamageStatus, nullptr},
    {RPC_VehicleEnter, nullptr},
    {RPC_VehicleExit, nullptr},
    {RPC_CommandText, RpcCommandText},
    {RPC_ScoresPingsUpdate, nullptr},
    {RPC_AttachedObjectEdit, nullptr},
    {RPC_ObjectEdit, nullptr},
    {RPC_ObjectSelect, nullptr},
    {RPC_TextDrawSelect, nullptr},
    {RPC_CameraTargetUpdate, nullptr},
    {RPC_PlayerDamage, nullptr},
    {RPC_ActorDamage, nullptr},
    {RPC_ModelFileRequest, nullptr},
    {RPC_TextureFileRequest, nullptr},
    {RPC_DownloadFinished, nullptr},
};

void RegisterServerRpcs(NetServerInterface* server) {
    g_rpcServer = server;
    // The log mirrors the lines of an in-game admin's command back to him. The logger takes both
    // of its echo sinks in one call: whoever installs the query port's sink must pass this one
    // along (InGameRconLogEcho).
    SetLogSinks(&InGameRconLogEcho, nullptr);
    if (server == nullptr) return;
    for (const ServerRpcEntry& entry : kServerRpcs) {
        if (entry.handler != nullptr) server->RegisterRpc(&entry.id, entry.handler);
    }
}

void UnregisterServerRpcs(NetServerInterface* server) {
    if (server != nullptr) {
        for (const ServerRpcEntry& entry : kServerRpcs) server->UnregisterRpc(&entry.id);
    }
    g_rpcServer = nullptr;
    SetLogSinks(nullptr, nullptr);
}

NetServerInterface* RpcServer() { return g_rpcServer; }

bool OpenRpcPayload(const RpcCallParams* params, BitStream& out) {
    if (params == nullptr || params->payload == nullptr || params->payloadBits == 0) return false;
    uint32_t bytes = (params->payloadBits + 7u) / 8u;
    if (bytes > BitStream::kMaxBytes) return false;
    out.SetData(params->payload, bytes);
    // The stream ends at the last argument bit, not at the end of the last byte.
    out.SetWriteCursor(int32_t(params->payloadBits));
    out.SetReadOffset(0);
    return true;
}

uint16_t RpcSenderId(const RpcCallParams* params) {
    if (params == nullptr || g_rpcServer == nullptr) return 0xFFFF;
    int32_t index = g_rpcServer->GetIndexFromPlayerID(params->sender);
    if (index < 0 || index >= kMaxPlayerSlots) return 0xFFFF;
    return uint16_t(index);
}

uint16_t RpcConnectedSender(const RpcCallParams* params, bool requireValid) {
    uint16_t id = RpcSenderId(params);
    GameServer* server = TheGameServer;
    PlayerPool* pool = server != nullptr ? server->GetPlayerPool() : nullptr;
    if (id == kNoPlayer || pool == nullptr || !pool->IsConnected(id)) return kNoPlayer;
    if (requireValid && !pool->IsReady(id)) return kNoPlayer;
    return id;
}

void SendRpcAnswer(GameServer& server, uint16_t player, uint8_t rpcId, const BitStream& bs) {
    NetServerInterface* net = server.GetNetServer();
    PlayerPool* pool = server.GetPlayerPool();
    if (net == nullptr || pool == nullptr || !pool->IsConnected(player)) return;
    net->Rpc(&rpcId, &bs, HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, 0, net->GetPlayerIDFromIndex(player),
             false, false);
}

GameMode* LoadedGameMode(GameServer& server) {
    GameMode* gm = server.GetGameMode();
    return gm != nullptr && gm->IsLoaded() ? gm : nullptr;
}

}  // namespace velt
