#include "server/protocol/RpcCall.h"

#include "net/NetServerInterface.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"

namespace velt {

namespace {

NetServerInterface* g_rpcServer = nullptr;

constexpr uint16_t kMaxPlayerSlots = 1000;

}  // namespace

NetServerInterface* RpcServer() { return g_rpcServer; }

void SetRpcServer(NetServerInterface* server) { g_rpcServer = server; }

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
    net->Slots().RpcToSlot(
        rpcId, &bs, player,
        Delivery{HIGH_PRIORITY_LEVEL, RELIABILITY_RELIABLE, ChannelNumber(RpcChannel::Request)});
}

bool StillConnected(GameServer& server, uint16_t player) {
    PlayerPool* pool = server.GetPlayerPool();
    return pool != nullptr && pool->IsConnected(player);
}

}  // namespace velt
