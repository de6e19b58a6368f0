#include "server/protocol/DownloadHandlers.h"

#include "net/BitStream.h"
#include "server/game/ArtworkList.h"
#include "server/game/FileDownload.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/protocol/RpcCall.h"
#include "server/world/WorldPools.h"

namespace velt {

namespace {

void FileRequest(RpcCallParams* params, uint8_t kind) {
    GameServer* server = TheGameServer;
    ArtworkList* artwork = server != nullptr ? server->GetArtworkList() : nullptr;
    if (artwork == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, true);
    BitStream bs;
    uint32_t crc = 0;
    if (id == kNoPlayer || !OpenRpcPayload(params, bs) || !bs.Read(crc)) return;
    artwork->HandleDownloadRequest(id, kind, crc);
}

}  // namespace

void RpcModelFileRequest(RpcCallParams* params) { FileRequest(params, DOWNLOAD_MODEL_FILE); }

void RpcTextureFileRequest(RpcCallParams* params) { FileRequest(params, DOWNLOAD_TEXTURE_FILE); }

void RpcDownloadFinished(RpcCallParams* params) {
    GameServer* server = TheGameServer;
    if (server == nullptr) return;
    const uint16_t id = RpcConnectedSender(params, true);
    if (id == kNoPlayer) return;
    PlayerPool* pool = server->GetPlayerPool();
    Player* player = pool->GetAt(id);
    if (player == nullptr) return;
    // Between gamemodes there is no object pool; the restart sends every player the objects of
    // the next gamemode anyway.
    ObjectPool* objects = server->GetObjectPool();
    if (!player->HaveGlobalObjectsBeenSent() && objects != nullptr) {
        objects->SendAllToPlayer(id);
        player->SetGlobalObjectsSent(true);
    }
    const int32_t world = pool->GetVirtualWorld(id);
    RaiseCallback(
        *server, {}, [&] { return StillConnected(*server, id); },
        [&](auto& side) { return side.OnPlayerFinishedDownloading(id, world); });
    if (!StillConnected(*server, id)) return;
    BitStream ack;
    ack.Write(true);
    server->SendRpcToPlayer(RPC_DownloadFinishedAck, &ack, id, RpcChannel::World);
    if (Player* still = pool->GetAt(id)) still->SetDownloading(false);
}

}  // namespace velt
