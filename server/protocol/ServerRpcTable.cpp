#include "server/protocol/ServerRpcTable.h"

#include "net/NetServerInterface.h"
#include "server/console/Log.h"
#include "server/protocol/ChatCommands.h"
#include "server/protocol/ClassSpawnDeath.h"
#include "server/protocol/DownloadHandlers.h"
#include "server/protocol/InGameRcon.h"
#include "server/protocol/JoinHandlers.h"
#include "server/protocol/MenuTextDrawReports.h"
#include "server/protocol/ObjectEditing.h"
#include "server/protocol/PlayerReports.h"
#include "server/protocol/QueryResponder.h"
#include "server/protocol/RpcCall.h"
#include "server/protocol/VehicleHandlers.h"
#include "server/protocol/WorldReports.h"

namespace velt {

// The report and editing handlers come with their own work; the ids and their order are
// fixed here.
const ServerRpcEntry kServerRpcs[kServerRpcCount] = {
    {RPC_NetStats, RpcNetStats},
    {RPC_InteriorChange, RpcInteriorChange},
    {RPC_VehicleModEvent, RpcVehicleModEvent},
    {RPC_ScriptCash, RpcScriptCash},
    {RPC_MapClick, RpcMapClick},
    {RPC_VehicleDestroyed, RpcVehicleDestroyed},
    {RPC_ValueRelayRequest, RpcValueRelay},
    {RPC_PickupPickedUp, RpcPickupPickedUp},
    {RPC_MenuRowSelect, RpcMenuRowSelect},
    {RPC_MenuExit, RpcMenuExit},
    {RPC_DialogResponse, RpcDialogResponse},
    {RPC_PlayerClick, RpcPlayerClick},
    {RPC_PlayerJoin, RpcPlayerJoin},
    {RPC_NpcJoin, RpcNpcJoin},
    {RPC_ChatText, RpcChatText},
    {RPC_ClassRequest, RpcClassRequest},
    {RPC_SpawnRequest, RpcSpawnRequest},
    {RPC_PlayerSpawned, RpcPlayerSpawned},
    {RPC_DeathReport, RpcDeathReport},
    {RPC_VehicleDamageStatus, RpcVehicleDamageStatus},
    {RPC_VehicleEnter, RpcVehicleEnter},
    {RPC_VehicleExit, RpcVehicleExit},
    {RPC_CommandText, RpcCommandText},
    {RPC_ScoresPingsUpdate, RpcScoresPings},
    {RPC_AttachedObjectEdit, RpcAttachedObjectEdit},
    {RPC_ObjectEdit, RpcObjectEdit},
    {RPC_ObjectSelect, RpcObjectSelect},
    {RPC_TextDrawSelect, RpcTextDrawSelect},
    {RPC_CameraTargetUpdate, RpcCameraTarget},
    {RPC_PlayerDamage, RpcPlayerDamage},
    {RPC_ActorDamage, RpcActorDamage},
    {RPC_ModelFileRequest, RpcModelFileRequest},
    {RPC_TextureFileRequest, RpcTextureFileRequest},
    {RPC_DownloadFinished, RpcDownloadFinished},
};

void RegisterServerRpcs(NetServerInterface* server) {
    SetRpcServer(server);
    // The log mirrors the lines of a remote command back to whoever sent it: an in-game admin, or
    // the query port's remote console.
    SetLogSinks(&InGameRconLogEcho, &QueryResponder::RconReply);
    if (server == nullptr) return;
    for (const ServerRpcEntry& entry : kServerRpcs) {
        if (entry.handler != nullptr) server->RegisterRpc(&entry.id, entry.handler);
    }
}

void UnregisterServerRpcs(NetServerInterface* server) {
    if (server != nullptr) {
        for (const ServerRpcEntry& entry : kServerRpcs) server->UnregisterRpc(&entry.id);
    }
    SetRpcServer(nullptr);
    SetLogSinks(nullptr, nullptr);
}

}  // namespace velt
