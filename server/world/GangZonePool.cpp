#include "server/world/GangZonePool.h"

#include "net/BitStream.h"
#include "server/game/GameServer.h"
#include "server/world/TextDrawAttributes.h"

namespace velt {

uint16_t GangZonePool::Create(const GangZoneRect& rect) {
    for (uint16_t id = 0; id < kMaxGangZones; ++id) {
        if (used_[id]) continue;
        rects_[id] = rect;
        used_[id] = true;
        return id;
    }
    return kNoGangZone;
}

void GangZonePool::Destroy(uint16_t id) {
    if (!Exists(id)) return;
    used_[id] = false;
    HideForAll(id);
}

void GangZonePool::Show(uint16_t player, uint16_t id, uint32_t colour) {
    if (!Exists(id)) return;
    const GangZoneRect& rect = rects_[id];
    BitStream bs;
    bs.Write(id);
    bs.Write(rect.minX);
    bs.Write(rect.minY);
    bs.Write(rect.maxX);
    bs.Write(rect.maxY);
    bs.Write(ReverseColourBytes(colour));
    Send(RPC_GangZoneShow, bs, player);
}

void GangZonePool::Flash(uint16_t player, uint16_t id, uint32_t colour) {
    if (!Exists(id)) return;
    BitStream bs;
    bs.Write(id);
    bs.Write(ReverseColourBytes(colour));
    Send(RPC_GangZoneFlash, bs, player);
}

void GangZonePool::SendId(uint8_t rpcId, uint16_t player, uint16_t id) {
    BitStream bs;
    bs.Write(id);
    Send(rpcId, bs, player);
}

void GangZonePool::Send(uint8_t rpcId, const BitStream& bs, uint16_t player) {
    if (player == kEveryone)
        server_.SendRpcToAll(rpcId, &bs, kEveryone, RpcChannel::World);
    else
        server_.SendRpcToPlayer(rpcId, &bs, player, RpcChannel::World);
}

}  // namespace velt
