#include "server/game/ObjectPoolEvents.h"

#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"

namespace velt {

static_assert(kObjectOwners == kMaxPlayers, "every player may own objects");

bool ObjectPoolEvents::IsPlayerConnected(uint16_t player) {
    PlayerPool* pool = server_.GetPlayerPool();
    return pool != nullptr && pool->IsConnected(player);
}

bool ObjectPoolEvents::DefaultNoCameraCollision() { return server_.world.objectsDefaultCameraCollision != 0; }

void ObjectPoolEvents::SendRpcToPlayer(uint8_t rpcId, const BitStream& bs, uint16_t player) {
    server_.SendRpcToPlayer(rpcId, &bs, player, RpcChannel::World);
}

void ObjectPoolEvents::ObjectMoved(uint16_t object) {
    RaiseCallback(server_, {}, NoPlayerToLose, [&](auto& side) { return side.OnObjectMoved(object); });
}

void ObjectPoolEvents::PlayerObjectMoved(uint16_t player, uint16_t object) {
    RaiseCallback(
        server_, {}, [&] { return IsPlayerConnected(player); },
        [&](auto& side) { return side.OnPlayerObjectMoved(player, object); });
}

}  // namespace velt
